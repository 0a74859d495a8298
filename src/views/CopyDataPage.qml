import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// The "Copy Data" tab: the controller unit's port, where its data goes and
// the progress of the download. Each button asks the window by a signal.
Item {
    id: page

    // The serial ports offered in the list.
    property ListModel deviceChoices
    property bool copyDataReady: false
    property bool eraseMemoryReady: false
    // Without a unit to talk to, the page says how to connect one.
    property bool unitReady: false

    // The controls whose values the window reads and sets.
    property alias dataDeviceList: dataDeviceList
    property alias dataDestinationField: dataDestinationField
    property alias dataProjectNameField: dataProjectNameField
    property alias dataBar: dataBar

    signal refreshDevicesRequested
    signal destinationFolderRequested
    signal copyDataRequested
    signal eraseMemoryRequested

    objectName: "copyDataPage"
    implicitHeight: dataGrid.height + 20

    GridLayout {
        id: dataGrid

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
        rowSpacing: 10


        Label {
            Layout.preferredWidth: dataGrid.span(1)
            text: "Connection:"
            font.bold: true
            Layout.topMargin: 10
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: dataGrid.span(5)
        }

        Label {
            text: "Device"
            Layout.preferredWidth: dataGrid.span(1)
        }
        PathList {
            id: dataDeviceList
            objectName: "dataDeviceList"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.deviceChoices
        }
        Item {
            Layout.preferredWidth: dataGrid.span(1)
        }

        Item {
            Layout.preferredWidth: dataGrid.span(1)
        }
        Button {
            objectName: "dataRefreshDevicesButton"
            text: "Refresh Devices"
            Layout.columnSpan: 2
            Layout.preferredWidth: dataGrid.span(2)
            onClicked: page.refreshDevicesRequested()
        }
        Item {
            Layout.columnSpan: 3
            Layout.preferredWidth: dataGrid.span(3)
        }

        Item {
            Layout.preferredWidth: dataGrid.span(1)
            Layout.preferredHeight: 10
        }
        HintLine {
            objectName: "dataHintText"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            shown: !page.unitReady
            hint: "Please connect the camera with a Micro-USB cable and tap the record button twice."
        }


        Label {
            Layout.preferredWidth: dataGrid.span(1)
            text: "Destination:"
            font.bold: true
            Layout.topMargin: 10
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: dataGrid.span(5)
        }

        Label {
            Layout.preferredWidth: dataGrid.span(1)
            text: "Folder"
        }
        InputField {
            id: dataDestinationField
            objectName: "dataDestinationField"
            Layout.columnSpan: 4
            Layout.fillWidth: true
        }
        Button {
            objectName: "dataDestinationBrowseButton"
            text: "..."
            Layout.preferredWidth: dataGrid.span(1)
            onClicked: page.destinationFolderRequested()
        }

        Label {
            Layout.preferredWidth: dataGrid.span(1)
            text: "Project Name"
        }
        InputField {
            id: dataProjectNameField
            objectName: "dataProjectNameField"
            Layout.columnSpan: 4
            Layout.fillWidth: true
        }
        Item {
            Layout.preferredWidth: dataGrid.span(1)
        }

        Item {
            Layout.preferredWidth: dataGrid.span(1)
        }
        ActionButton {
            objectName: "copyDataButton"
            text: "Copy Data"
            Layout.columnSpan: 2
            Layout.preferredWidth: dataGrid.span(2)
            enabled: page.copyDataReady
            onClicked: page.copyDataRequested()
        }
        ActionButton {
            objectName: "eraseMemoryButton"
            text: "Erase Memory"
            destructive: true
            Layout.columnSpan: 2
            Layout.preferredWidth: dataGrid.span(2)
            enabled: page.eraseMemoryReady
            onClicked: page.eraseMemoryRequested()
        }
        Item {
            Layout.preferredWidth: dataGrid.span(1)
        }


        Label {
            Layout.preferredWidth: dataGrid.span(1)
            text: "Progress:"
            font.bold: true
            Layout.topMargin: 10
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: dataGrid.span(5)
        }

        Label {
            Layout.preferredWidth: dataGrid.span(1)
            text: "Data"
            Layout.preferredHeight: 35
            verticalAlignment: Text.AlignVCenter
        }
        StatusProgressBar {
            id: dataBar
            objectName: "dataProgress"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            Layout.minimumHeight: 35
        }
    }
}
