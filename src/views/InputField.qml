import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Window 2.2

// A text field of one height on every page: white text, mouse selection, and
// an outline that stays at least one screen pixel wide at any scale.
TextField {
    id: field

    // In the window's units: one device pixel or more whatever the scale.
    readonly property real outlineWidth: Math.max(1, Math.ceil(1 / Math.max(0.1, Screen.devicePixelRatio)))

    color: "#FFFFFF"
    selectByMouse: true
    implicitHeight: 40
    topPadding: 8
    bottomPadding: 8
    leftPadding: 8
    rightPadding: 8
    verticalAlignment: TextInput.AlignVCenter

    background: Rectangle {
        objectName: "outline"
        implicitWidth: 120
        implicitHeight: 40
        radius: 2
        color: "transparent"
        border.width: field.activeFocus ? field.outlineWidth * 2 : field.outlineWidth
        border.color: field.activeFocus ? "#80CBC4" : field.enabled ? "#9E9E9E" : "#616161"
    }
}
