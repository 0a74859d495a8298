import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Asks before the unit's memory is erased.
Popup {
    id: box

    // True only for "Erase" with the box ticked; "Cancel" answers false.
    signal answered(bool erase)

    objectName: "eraseMemoryBox"
    parent: ApplicationWindow.overlay
    x: 100
    y: 100
    width: 500
    height: 200
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose

    ColumnLayout {
        anchors.fill: parent

        Label {
            text: "Please check all that apply:"
        }
        CheckBox {
            id: eraseMemoryCheck
            objectName: "eraseMemoryCheck"
            text: "Erase memory. This can't be undone."
            checked: true
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter

            ActionButton {
                objectName: "eraseMemoryConfirmButton"
                text: "Erase"
                destructive: true
                Layout.preferredWidth: 150
                onClicked: {
                    box.answered(eraseMemoryCheck.checked)
                    box.close()
                }
            }
            Button {
                objectName: "eraseMemoryCancelButton"
                text: "Cancel"
                Layout.preferredWidth: 150
                onClicked: {
                    box.answered(false)
                    box.close()
                }
            }
        }
    }
}
