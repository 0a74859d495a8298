import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Asks before an operation that changes the controller unit for good.
Popup {
    id: box

    property string question: ""
    property string confirmText: "Ok"
    // The confirming button is red unless the operation loses nothing.
    property bool destructive: true

    // Sent after the box has closed; "Cancel" sends nothing.
    signal confirmed

    parent: ApplicationWindow.overlay
    x: 100
    y: 100
    width: 500
    height: Math.max(200, content.implicitHeight + topPadding + bottomPadding)
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose

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
                objectName: box.objectName + "CancelButton"
                text: "Cancel"
                Layout.preferredWidth: 150
                onClicked: box.close()
            }
        }
    }
}
