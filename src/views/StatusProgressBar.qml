import QtQuick 2.7
import QtQuick.Controls 2.2

// A determinate bar with its status line written inside it and, at its right
// end, a detail such as the throughput and time left. A failure fills the bar
// in the error colour, so it never reads as a success.
ProgressBar {
    id: bar

    property string text: ""
    property string detail: ""
    // Set by the window from the outcome its task ended with, never read from
    // the text; a new report of a task takes it back.
    property bool failed: false
    // A running task counts items (records, say) rather than steps.
    property bool counting: false
    // The share of the bytes done, when the task reports bytes; the fill
    // follows it rather than the count of steps. Negative: no bytes known.
    property real byteShare: -1
    // The whole status line, for a line too long for the bar.
    readonly property string toolTipText: statusLine.truncated ? text : ""
    // A running task's line (a path, mostly) loses its middle; a summary
    // wraps, and the bar grows, so that none of its words is lost.
    readonly property bool ended: value >= to

    implicitHeight: Math.max(35, statusLine.contentHeight + 10)

    // Shows a report. A plain step (0, 2, 1), as relayed unit messages are,
    // does not take back a count the bar shows while its task runs.
    function show(first, last, reached, report) {
        var step = Number(first) === 0 && Number(last) === 2 && Number(reached) === 1
        if (!(step && counting)) {
            from = Number(first)
            to = Number(last)
            value = Number(reached)
        }
        text = report === undefined || report === null ? "" : String(report)
        failed = false
        counting = Number(reached) < Number(last) && to - from > 2
    }

    from: 0
    to: 3
    value: 0
    hoverEnabled: true
    ToolTip.text: toolTipText
    ToolTip.visible: hovered && toolTipText !== ""
    ToolTip.delay: 500

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 35
        radius: 3
        color: "#3a3a3a"
    }

    contentItem: Item {
        implicitWidth: 200
        implicitHeight: bar.implicitHeight

        Rectangle {
            objectName: "fill"
            // A failure fills the whole bar: how far it got is in the text.
            width: (bar.failed ? 1 : bar.byteShare >= 0 ? bar.byteShare : bar.visualPosition) * parent.width
            height: parent.height
            radius: 3
            color: bar.failed ? "#B3261E" : "#00796B" // both dark enough for white text
        }

        Label {
            id: statusLine
            objectName: "statusLine"
            anchors.left: parent.left
            anchors.right: detailText.left
            anchors.leftMargin: 8
            anchors.rightMargin: detailText.width > 0 ? 12 : 0
            height: parent.height
            text: bar.text
            color: "#FFFFFF"
            verticalAlignment: Text.AlignVCenter
            wrapMode: bar.ended ? Text.Wrap : Text.NoWrap
            elide: bar.ended ? Text.ElideNone : Text.ElideMiddle
        }

        Label {
            id: detailText
            objectName: "detailText"
            anchors.right: parent.right
            anchors.rightMargin: 8
            height: parent.height
            width: bar.detail === "" ? 0 : implicitWidth
            text: bar.detail
            color: "#FFFFFF"
            verticalAlignment: Text.AlignVCenter
        }
    }
}
