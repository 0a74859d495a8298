import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// The "Copy Files" tab: the three cards, where their files go, the stitching
// template and one progress bar per card. It starts nothing itself: each
// button asks the window by a signal.
Item {
    id: page

    // The drives and templates offered in the lists.
    property ListModel cardChoices
    property ListModel templateChoices
    property bool copyFilesReady: false
    property bool eraseCardsReady: false
    // The stitching settings replace the template's camera angles.
    property bool overwriteAngles: false
    property bool calibrationSaved: true
    // The stored choice the "Skip files already imported" box starts from.
    property bool skipImported: false
    // Why the cards cannot be used as chosen (two read one folder), or empty.
    property string cardsHint: ""
    // An import runs: it may be stopped.
    property bool importRunning: false

    // The controls whose values the window reads and sets.
    property alias card1List: card1List
    property alias card2List: card2List
    property alias card3List: card3List
    property alias filesDestinationField: filesDestinationField
    property alias backupFolderField: backupFolderField
    property alias projectNameField: projectNameField
    property alias templateList: templateList
    property alias skipImportedBox: skipImportedBox
    property alias card1Bar: card1Bar
    property alias card2Bar: card2Bar
    property alias card3Bar: card3Bar

    signal sourceFolderRequested(int card)
    // The user picked an entry of a card list.
    signal refreshCardsRequested
    signal eraseCardsRequested
    signal destinationFolderRequested
    // Typed text, key by key, for the "Copy Data" tab to follow.
    signal destinationEdited(string folder)
    // The second folder every import also copies to: typed, or to be chosen.
    signal backupFolderEdited(string folder)
    signal backupFolderRequested
    signal projectNameEdited(string name)
    signal skipImportedEdited(bool skip)
    signal changeAnglesRequested
    signal templateFileRequested
    signal refreshTemplatesRequested
    signal copyFilesRequested
    signal stopImportRequested

    // The progress bar of card 1, 2 or 3; null for any other number.
    function cardBar(card) {
        return card === 1 ? card1Bar : card === 2 ? card2Bar : card === 3 ? card3Bar : null
    }

    objectName: "copyFilesPage"
    implicitHeight: filesGrid.height + 20

    GridLayout {
        id: filesGrid

        // Whole pixels, as the layout places its cells.
        readonly property real columnWidth: Math.floor(width / 6 - columnSpacing)
        function span(n) {
            return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
        }

        // Rows keep their own heights, from the top down.
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 10
        columns: 6
        columnSpacing: 10
        rowSpacing: 8

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Source:"
            font.bold: true
            Layout.topMargin: 10
        }
        // In the heading's row; it wraps rather than lose words.
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: filesGrid.span(5)
            Layout.preferredHeight: cardsHintText.text !== "" ? cardsHintText.implicitHeight : 0
            Layout.topMargin: 10
            Label {
                id: cardsHintText
                objectName: "cardsHintText"
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                visible: text !== ""
                wrapMode: Text.WordWrap
                color: "#EF9A9A" // readable on the dark page
                text: page.cardsHint
            }
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Card 1"
        }
        PathList {
            id: card1List
            objectName: "card1List"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.cardChoices
        }
        Button {
            objectName: "card1BrowseButton"
            text: "..."
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.sourceFolderRequested(1)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Card 2"
        }
        PathList {
            id: card2List
            objectName: "card2List"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.cardChoices
        }
        Button {
            objectName: "card2BrowseButton"
            text: "..."
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.sourceFolderRequested(2)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Card 3"
        }
        PathList {
            id: card3List
            objectName: "card3List"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.cardChoices
        }
        Button {
            objectName: "card3BrowseButton"
            text: "..."
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.sourceFolderRequested(3)
        }

        Item {
            Layout.preferredWidth: filesGrid.span(1)
        }
        Button {
            objectName: "refreshCardsButton"
            text: "Refresh Cards"
            Layout.columnSpan: 2
            Layout.preferredWidth: filesGrid.span(2)
            onClicked: page.refreshCardsRequested()
        }
        ActionButton {
            objectName: "eraseCardsButton"
            text: "Erase Cards"
            destructive: true
            Layout.columnSpan: 2
            Layout.preferredWidth: filesGrid.span(2)
            enabled: page.eraseCardsReady
            onClicked: page.eraseCardsRequested()
        }
        Item {
            Layout.preferredWidth: filesGrid.span(1)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Destination:"
            font.bold: true
        }
        // In the heading's row, kept low, so the tab keeps its height.
        CheckBox {
            id: skipImportedBox
            objectName: "skipImportedBox"
            text: "Skip files already imported"
            Layout.columnSpan: 5
            Layout.preferredWidth: filesGrid.span(5)
            Layout.preferredHeight: 22
            topPadding: 0
            bottomPadding: 0
            leftPadding: 0
            checked: page.skipImported
            onToggled: page.skipImportedEdited(checked)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Folder"
        }
        InputField {
            id: filesDestinationField
            objectName: "filesDestinationField"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Keys.onReleased: page.destinationEdited(text)
        }
        Button {
            objectName: "filesDestinationBrowseButton"
            text: "..."
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.destinationFolderRequested()
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Backup folder"
        }
        InputField {
            id: backupFolderField
            objectName: "backupFolderField"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Keys.onReleased: page.backupFolderEdited(text)
        }
        Button {
            objectName: "backupFolderBrowseButton"
            text: "..."
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.backupFolderRequested()
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Project Name"
        }
        InputField {
            id: projectNameField
            objectName: "projectNameField"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Keys.onReleased: page.projectNameEdited(text)
        }
        Item {
            Layout.preferredWidth: filesGrid.span(1)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Stitching:"
            font.bold: true
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: filesGrid.span(5)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Camera Angles"
        }
        Label {
            objectName: "angleModeText"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            text: !page.calibrationSaved ? "Camera angles: from the template (no calibration saved)"
                  : page.overwriteAngles ? "Overwrite camera angles in template."
                  : "Use camera angles from template."
        }
        Button {
            objectName: "changeAnglesButton"
            text: "Change"
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.changeAnglesRequested()
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Template"
        }
        PathList {
            id: templateList
            objectName: "templateList"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.templateChoices
        }
        Button {
            objectName: "templateBrowseButton"
            text: "..."
            Layout.preferredWidth: filesGrid.span(1)
            onClicked: page.templateFileRequested()
        }

        Item {
            Layout.preferredWidth: filesGrid.span(1)
        }
        Button {
            objectName: "refreshTemplatesButton"
            text: "Refresh Templates"
            Layout.columnSpan: 2
            Layout.preferredWidth: filesGrid.span(2)
            onClicked: page.refreshTemplatesRequested()
        }
        ActionButton {
            objectName: "copyFilesButton"
            text: "Copy Files"
            Layout.columnSpan: 2
            Layout.preferredWidth: filesGrid.span(2)
            enabled: page.copyFilesReady
            onClicked: page.copyFilesRequested()
        }
        // Gives up the copies under way; nothing half-written is kept.
        Button {
            objectName: "stopImportButton"
            text: "Stop"
            Layout.preferredWidth: filesGrid.span(1)
            enabled: page.importRunning
            onClicked: page.stopImportRequested()
        }

        Repeater {
            model: 6
            Item {
                Layout.preferredWidth: filesGrid.span(1)
                Layout.preferredHeight: 2
            }
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Progress:"
            font.bold: true
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: filesGrid.span(5)
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Card 1"
            Layout.preferredHeight: 35
            verticalAlignment: Text.AlignVCenter
        }
        StatusProgressBar {
            id: card1Bar
            objectName: "card1Progress"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            Layout.minimumHeight: 35
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Card 2"
            Layout.preferredHeight: 35
            verticalAlignment: Text.AlignVCenter
        }
        StatusProgressBar {
            id: card2Bar
            objectName: "card2Progress"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            Layout.minimumHeight: 35
        }

        Label {
            Layout.preferredWidth: filesGrid.span(1)
            text: "Card 3"
            Layout.preferredHeight: 35
            verticalAlignment: Text.AlignVCenter
        }
        StatusProgressBar {
            id: card3Bar
            objectName: "card3Progress"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            Layout.minimumHeight: 35
        }
    }
}
