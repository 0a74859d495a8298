import QtQuick 2.12
import QtQuick.Controls 2.12

// A one-line text that loses its middle when it does not fit, and then shows
// in full as a tool tip.
Label {
    id: label

    readonly property string toolTipText: truncated ? text : ""

    elide: Text.ElideMiddle
    ToolTip.text: toolTipText
    ToolTip.visible: hover.hovered && toolTipText !== ""
    ToolTip.delay: 500

    HoverHandler {
        id: hover
    }
}
