import QtQuick 2.7
import QtQuick.Controls 2.2

// A determinate bar with its status line written inside it.
ProgressBar {
    id: bar

    property string text: ""

    from: 0
    to: 3
    value: 0

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 35
        radius: 3
        color: "#3a3a3a"
    }

    contentItem: Item {
        implicitWidth: 200
        implicitHeight: 35

        Rectangle {
            width: bar.visualPosition * parent.width
            height: parent.height
            radius: 3
            color: "#00796B" // teal, dark enough for white text
        }

        Label {
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            text: bar.text
            color: "#FFFFFF"
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideMiddle
        }
    }
}
