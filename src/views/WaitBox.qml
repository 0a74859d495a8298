import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Shown while the controller unit is busy; only the window closes it.
ModalBox {
    id: box

    // The latest report of the running task.
    property string text: ""

    objectName: "waitBox"
    height: 200
    closePolicy: Popup.NoAutoClose
    // Opens and closes at once, so a quick final report always closes it.
    enter: Transition {}
    exit: Transition {}

    ColumnLayout {
        anchors.fill: parent

        Label {
            text: "Please wait ..."
            font.bold: true
        }
        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            running: box.visible
        }
        Label {
            objectName: "waitText"
            text: box.text
            Layout.fillWidth: true
            Layout.fillHeight: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }
    }
}
