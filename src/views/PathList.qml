import QtQuick 2.7
import QtQuick.Controls 2.2

// A list of folders or files: a long entry loses its middle rather than its
// end, where the names that tell entries apart are, and shows in full as a
// tool tip.
ComboBox {
    id: list

    // The whole entry, while the closed list cannot show all of it.
    readonly property string toolTipText: shownText.truncated ? displayText : ""
    // The entry shown before the latest change, to go back to when a choice
    // is refused.
    property int previousIndex: -1
    property int latestIndex: -1

    textRole: "value"
    currentIndex: -1
    hoverEnabled: true
    ToolTip.text: toolTipText
    ToolTip.visible: hovered && !down && toolTipText !== ""
    ToolTip.delay: 500

    onCurrentIndexChanged: {
        previousIndex = latestIndex
        latestIndex = currentIndex
    }

    contentItem: Label {
        id: shownText
        leftPadding: 12
        text: list.displayText
        font: list.font
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideMiddle
    }

    delegate: MenuItem {
        width: ListView.view.width
        highlighted: list.highlightedIndex === index
        hoverEnabled: list.hoverEnabled
        contentItem: Label {
            text: model[list.textRole]
            font.pixelSize: list.font.pixelSize
            font.bold: list.currentIndex === index
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideMiddle
        }
    }
}
