import QtQuick 2.7
import QtQuick.Controls 2.2

// A button that says what it does by its colour: green starts a copy, red
// destroys data.
Button {
    id: control

    property bool destructive: false
    readonly property color baseColor: destructive ? "#aa3333" : "#33aa33"
    readonly property color pressedColor: destructive ? "#cc6666" : "#66cc66"

    background: Rectangle {
        implicitWidth: 100
        implicitHeight: 36 // as high as the other buttons
        radius: 4
        border.width: 1
        border.color: Qt.darker(control.baseColor, 1.6)
        color: control.pressed ? control.pressedColor : control.baseColor
        opacity: control.enabled ? 1.0 : 0.35
    }
}
