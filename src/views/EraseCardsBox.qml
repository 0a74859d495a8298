import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Asks what preparing the cards shall do before anything is touched.
Popup {
    id: box

    // "Erase": the two choices as ticked; "Cancel" sends nothing.
    signal confirmed(bool erase, bool writeSyncConfig)

    objectName: "eraseCardsBox"
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
            id: eraseCardsCheck
            objectName: "eraseCardsCheck"
            text: "Erase cards. This can't be undone."
            checked: true
        }
        CheckBox {
            id: syncConfigCheck
            objectName: "syncConfigCheck"
            text: "Write sync configuration files"
            checked: true
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter

            ActionButton {
                objectName: "eraseCardsConfirmButton"
                text: "Erase"
                destructive: true
                Layout.preferredWidth: 150
                onClicked: {
                    box.confirmed(eraseCardsCheck.checked, syncConfigCheck.checked)
                    box.close()
                }
            }
            Button {
                objectName: "eraseCardsCancelButton"
                text: "Cancel"
                Layout.preferredWidth: 150
                onClicked: box.close()
            }
        }
    }
}
