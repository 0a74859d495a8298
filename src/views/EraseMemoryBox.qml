import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Asks before the unit's memory is erased.
ModalBox {
    id: box

    // True only for "Erase" with the box ticked; "Cancel" answers false.
    signal answered(bool erase)

    objectName: "eraseMemoryBox"
    height: 200
    defaultButton: cancelButton

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
                id: cancelButton
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
