import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// A message for the user, closed with "Ok", Escape or a click outside.
ModalBox {
    id: box

    property string text: ""
    // A text the box can follow while it shows it, such as what still runs;
    // the box closes once it is empty.
    property string followed: ""
    property bool following: false

    function show(message) {
        following = false
        text = message
        open()
    }

    function follow(message) {
        show(message)
        following = true
    }

    onFollowedChanged: {
        if (!following)
            return
        if (followed !== "") {
            text = followed
        } else {
            following = false
            close()
        }
    }
    onClosed: following = false

    objectName: "infoBox"
    height: 200
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    defaultButton: okButton

    ColumnLayout {
        anchors.fill: parent

        Label {
            text: "Info"
            font.bold: true
            Layout.alignment: Qt.AlignLeft
        }
        Label {
            objectName: "infoText"
            text: box.text
            Layout.fillWidth: true
            Layout.fillHeight: true
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            wrapMode: Text.WordWrap
        }
        Button {
            id: okButton
            objectName: "infoOkButton"
            text: "Ok"
            Layout.preferredWidth: 150
            Layout.alignment: Qt.AlignHCenter
            onClicked: box.close()
        }
    }
}
