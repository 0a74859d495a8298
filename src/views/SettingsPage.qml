import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// The "Settings" tab: the controller unit's port, the camera settings read
// from and written to the unit, and its firmware. Each button asks the window
// by a signal.
Item {
    id: page

    // The serial ports offered in the list.
    property ListModel deviceChoices
    // False: "Connect" is locked and the page says how to connect a unit.
    property bool connectReady: false
    property bool saveReady: false
    property bool resetReady: false
    property bool updateFirmwareReady: false

    // The controls whose values the window reads and sets.
    property alias settingsDeviceList: settingsDeviceList
    property alias firmwareText: firmwareText
    property alias batteryText: batteryText
    property alias dateTimeField: dateTimeField
    property alias recordLedBox: recordLedBox
    property alias videoIntervalSlider: videoIntervalSlider
    property alias photoIntervalSlider: photoIntervalSlider
    property alias photoTimeoutSlider: photoTimeoutSlider
    property alias settingsBar: settingsBar

    signal refreshDevicesRequested
    signal connectRequested
    signal saveRequested
    signal resetRequested
    signal updateFirmwareRequested

    // The E1 firmware version chosen in the list; 29 when none is.
    function selectedE1Firmware() {
        switch (e1FirmwareList.currentIndex) {
        case 0:
            return 26
        case 1:
            return 29
        case 2:
            return 30
        default:
            return 29
        }
    }

    // A version the list does not offer leaves the choice as it is.
    function showE1Firmware(version) {
        switch (Number(version)) {
        case 26:
            e1FirmwareList.currentIndex = 0
            break
        case 29:
            e1FirmwareList.currentIndex = 1
            break
        case 30:
            e1FirmwareList.currentIndex = 2
            break
        default:
            break
        }
    }

    objectName: "settingsPage"

    GridLayout {
        id: settingsGrid

        readonly property real columnWidth: width / 6 - columnSpacing
        readonly property real rowUnit: height / 14 - rowSpacing
        // Compact rows, so that every row of the tab fits the window.
        readonly property real controlHeight: Math.min(rowUnit, 40)
        function span(n) {
            return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
        }

        anchors.fill: parent
        anchors.margins: 10
        columns: 6
        columnSpacing: 10
        rowSpacing: 10

        Item {
            Layout.columnSpan: 6
            Layout.preferredHeight: 10
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Camera Device:"
            font.bold: true
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: settingsGrid.span(5)
        }

        Label {
            text: "Port"
            Layout.preferredWidth: settingsGrid.span(1)
        }
        ComboBox {
            id: settingsDeviceList
            objectName: "settingsDeviceList"
            Layout.preferredHeight: 44
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.deviceChoices
            textRole: "value"
            currentIndex: -1
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }
        Button {
            objectName: "settingsRefreshDevicesButton"
            text: "Refresh Devices"
            Layout.preferredHeight: 44
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            onClicked: page.refreshDevicesRequested()
        }
        Button {
            objectName: "connectButton"
            text: "Connect"
            Layout.preferredHeight: 44
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.connectReady
            onClicked: page.connectRequested()
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Item {
            Layout.preferredWidth: settingsGrid.span(1)
            Layout.preferredHeight: 10
        }
        Label {
            objectName: "settingsHintText"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            text: page.connectReady ? "" : "Please connect the camera with a Micro-USB cable and tap the record button twice."
        }

        Item {
            Layout.columnSpan: 6
            Layout.preferredHeight: 10
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Camera Settings:"
            font.bold: true
            Layout.preferredHeight: 30
            verticalAlignment: Text.AlignVCenter
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: settingsGrid.span(5)
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Firmware:"
            Layout.preferredHeight: 26
            verticalAlignment: Text.AlignVCenter
        }
        Label {
            id: firmwareText
            objectName: "firmwareText"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            text: "-"
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Battery:"
            Layout.preferredHeight: 26
            verticalAlignment: Text.AlignVCenter
        }
        Label {
            id: batteryText
            objectName: "batteryText"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            text: "-"
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Date/Time"
        }
        InputField {
            id: dateTimeField
            objectName: "dateTimeField"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Layout.preferredHeight: settingsGrid.controlHeight
        }
        Button {
            objectName: "nowButton"
            text: "Now"
            Layout.preferredHeight: 44
            Layout.preferredWidth: settingsGrid.span(1)
            onClicked: dateTimeField.text = Qt.formatDateTime(new Date(), "yyyy-MM-dd hh:mm:ss")
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Record LED"
        }
        CheckBox {
            id: recordLedBox
            objectName: "recordLedBox"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Layout.preferredHeight: settingsGrid.controlHeight
            text: "LED is on while recording"
            checked: true
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Video interval"
        }
        Slider {
            id: videoIntervalSlider
            objectName: "videoIntervalSlider"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Layout.preferredHeight: settingsGrid.controlHeight
            from: 0.2
            to: 10
            value: 1
            stepSize: 0.1
            snapMode: Slider.NoSnap
        }
        Label {
            objectName: "videoIntervalText"
            Layout.preferredWidth: settingsGrid.span(1)
            horizontalAlignment: Text.AlignRight
            text: videoIntervalSlider.value.toFixed(1) + " seconds"
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Photo interval"
        }
        Slider {
            id: photoIntervalSlider
            objectName: "photoIntervalSlider"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Layout.preferredHeight: settingsGrid.controlHeight
            from: 5
            to: 120
            value: 5
            stepSize: 1
            snapMode: Slider.SnapAlways
        }
        Label {
            objectName: "photoIntervalText"
            Layout.preferredWidth: settingsGrid.span(1)
            horizontalAlignment: Text.AlignRight
            text: photoIntervalSlider.value.toFixed(0) + " seconds"
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Photo timeout"
        }
        Slider {
            id: photoTimeoutSlider
            objectName: "photoTimeoutSlider"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            Layout.preferredHeight: settingsGrid.controlHeight
            from: 5
            to: 360
            value: 90
            stepSize: 5
            snapMode: Slider.NoSnap
        }
        Label {
            objectName: "photoTimeoutText"
            Layout.preferredWidth: settingsGrid.span(1)
            horizontalAlignment: Text.AlignRight
            text: photoTimeoutSlider.value.toFixed(0) + " minutes"
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "E1 Firmware"
        }
        ComboBox {
            id: e1FirmwareList
            objectName: "e1FirmwareList"
            Layout.preferredHeight: 44
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: ["0.26", "0.29", "0.30 (in beta, not officially supported)"]
            currentIndex: 0
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }
        Button {
            objectName: "saveSettingsButton"
            text: "Save Settings"
            Layout.preferredHeight: 44
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.saveReady
            onClicked: page.saveRequested()
        }
        ActionButton {
            objectName: "resetSettingsButton"
            text: "Reset Settings"
            destructive: true
            Layout.preferredHeight: 44
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.resetReady
            onClicked: page.resetRequested()
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }

        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }
        Button {
            objectName: "updateFirmwareButton"
            text: "Update Firmware"
            Layout.preferredHeight: 44
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.updateFirmwareReady
            onClicked: page.updateFirmwareRequested()
        }
        Item {
            Layout.columnSpan: 3
            Layout.preferredWidth: settingsGrid.span(3)
        }

        Item {
            Layout.columnSpan: 6
            Layout.preferredHeight: 10
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Progress:"
            font.bold: true
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: settingsGrid.span(5)
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Settings"
            Layout.preferredHeight: 35
            verticalAlignment: Text.AlignVCenter
        }
        StatusProgressBar {
            id: settingsBar
            objectName: "settingsProgress"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            Layout.preferredHeight: 35
        }

        Item {
            Layout.columnSpan: 6
            Layout.fillHeight: true
        }
    }
}
