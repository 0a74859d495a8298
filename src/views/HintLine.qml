import QtQuick 2.7
import QtQuick.Controls 2.2

// A note that comes and goes without moving what lies below it: its room is
// kept while it is hidden.
Item {
    id: line

    property bool shown: false
    property string hint: ""
    // What the line says now: the hint, or nothing.
    readonly property alias text: shownText.text

    implicitHeight: room.implicitHeight

    // Measures the hint at the line's width.
    Label {
        id: room
        width: line.width
        visible: false
        wrapMode: Text.WordWrap
        text: line.hint
    }

    Label {
        id: shownText
        anchors.fill: parent
        wrapMode: Text.WordWrap
        text: line.shown ? line.hint : ""
    }
}
