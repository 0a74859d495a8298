import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Asks before an operation that changes the controller unit for good.
ModalBox {
    id: box

    property string question: ""
    property string confirmText: "Ok"
    // The confirming button is red unless the operation loses nothing.
    property bool destructive: true

    // Sent after the box has closed; "Cancel" sends nothing.
    signal confirmed

    height: Math.max(200, content.implicitHeight + topPadding + bottomPadding)
    defaultButton: destructive ? cancelButton : confirmButton

    ColumnLayout {
        id: content
        anchors.fill: parent

        Label {
            objectName: box.objectName + "Question"
            text: box.question
            Layout.fillWidth: true
            Layout.fillHeight: true
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter

            ActionButton {
                id: confirmButton
                objectName: box.objectName + "ConfirmButton"
                text: box.confirmText
                destructive: box.destructive
                Layout.preferredWidth: 150
                onClicked: {
                    box.close()
                    box.confirmed()
                }
            }
            Button {
                id: cancelButton
                objectName: box.objectName + "CancelButton"
                text: "Cancel"
                Layout.preferredWidth: 150
                onClicked: box.close()
            }
        }
    }
}
