import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Keeps the window while a file chooser of its own process is open; its
// Cancel closes that chooser.
ModalBox {
    id: box

    property QtObject chooser: null

    objectName: "chooserWaitBox"
    height: 200
    closePolicy: Popup.NoAutoClose
    visible: chooser !== null && chooser.running
    defaultButton: cancelButton

    ColumnLayout {
        anchors.fill: parent

        Label {
            text: "Please wait ..."
            font.bold: true
        }
        Label {
            text: "Choose in the dialog that opened."
            Layout.fillWidth: true
            Layout.fillHeight: true
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
        }
        Button {
            id: cancelButton
            objectName: "chooserCancelButton"
            text: "Cancel"
            Layout.preferredWidth: 150
            Layout.alignment: Qt.AlignHCenter
            onClicked: box.chooser.cancel()
        }
    }
}
