import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// The window's foot: the version at the left, "Exit" at the right.
Item {
    id: bar

    property string version: ""
    property bool exitReady: false

    signal exitRequested

    height: 50

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10

        Label {
            objectName: "versionText"
            text: "Version " + bar.version
            color: "#CCCCCC"
        }
        Item {
            Layout.fillWidth: true
        }
        Button {
            objectName: "exitButton"
            text: "Exit"
            enabled: bar.exitReady
            onClicked: bar.exitRequested()
        }
    }
}
