import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// A message for the user, closed with "Ok", Escape or a click outside.
Popup {
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
    // Boxes are placed relative to the whole window, tab bar included.
    parent: ApplicationWindow.overlay
    x: 100
    y: 100
    width: 500
    height: 200
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

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
            objectName: "infoOkButton"
            text: "Ok"
            Layout.preferredWidth: 150
            Layout.alignment: Qt.AlignHCenter
            onClicked: box.close()
        }
    }
}
