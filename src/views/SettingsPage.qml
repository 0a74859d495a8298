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
    // Default, range, step and choices of each unit setting, by name.
    property var schema
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

    // The E1 firmware version chosen in the list; the default when none is.
    function selectedE1Firmware() {
        var e1 = schema.e1FirmwareVersion
        var index = e1FirmwareList.currentIndex
        return index >= 0 && index < e1.choices.length ? e1.choices[index] : e1.defaultValue
    }

    // A version the list does not offer leaves the choice as it is.
    function showE1Firmware(version) {
        var index = schema.e1FirmwareVersion.choices.indexOf(Number(version))
        if (index >= 0)
            e1FirmwareList.currentIndex = index
    }

    // The Date/Time field, once a read or "Now" filled it, runs on with the
    // clock until the user edits it: a save never sets the unit's clock back.
    readonly property string dateFormat: "yyyy-MM-dd hh:mm:ss"
    property bool clockRunning: false
    property real clockOffset: 0 // ms from this computer's clock to the time shown

    function runClock(text, now) {
        var m = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(text)
        dateTimeField.text = text
        clockRunning = m !== null
        if (clockRunning)
            clockOffset = new Date(m[1], m[2] - 1, m[3], m[4], m[5], m[6]).getTime() - now
    }

    function tick(now) {
        if (clockRunning)
            dateTimeField.text = Qt.formatDateTime(new Date(now + clockOffset), dateFormat)
    }

    Timer {
        interval: 1000
        repeat: true
        running: page.clockRunning
        onTriggered: page.tick(Date.now())
    }

    // The settings a read delivered; each slider keeps the value within its range.
    function showSettings(date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1FirmwareVersion) {
        runClock(date === undefined || date === null ? "" : String(date), Date.now())
        recordLedBox.checked = recLedOn === 1
        videoIntervalSlider.value = Number(loggingInterval)
        photoIntervalSlider.value = Number(timelapseInterval)
        photoTimeoutSlider.value = Number(timelapseTimeout)
        showE1Firmware(e1FirmwareVersion)
    }

    objectName: "settingsPage"
    implicitHeight: settingsGrid.height + 20

    GridLayout {
        id: settingsGrid

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
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Camera Device:"
            font.bold: true
            Layout.topMargin: 10
        }
        Item {
            Layout.columnSpan: 5
            Layout.preferredWidth: settingsGrid.span(5)
        }

        Label {
            text: "Port"
            Layout.preferredWidth: settingsGrid.span(1)
        }
        PathList {
            id: settingsDeviceList
            objectName: "settingsDeviceList"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.deviceChoices
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
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            onClicked: page.refreshDevicesRequested()
        }
        Button {
            objectName: "connectButton"
            text: "Connect"
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
        HintLine {
            objectName: "settingsHintText"
            Layout.columnSpan: 5
            Layout.fillWidth: true
            shown: !page.connectReady
            hint: "Please connect the camera with a Micro-USB cable and tap the record button twice."
        }


        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Camera Settings:"
            font.bold: true
            Layout.topMargin: 10
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
        ElidedLabel {
            id: firmwareText
            objectName: "firmwareText"
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            text: "-"
        }
        // Beside the version it replaces.
        Button {
            objectName: "updateFirmwareButton"
            text: "Update Firmware"
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.updateFirmwareReady
            onClicked: page.updateFirmwareRequested()
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
        ElidedLabel {
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
            onTextEdited: page.clockRunning = false
        }
        Button {
            objectName: "nowButton"
            text: "Now"
            Layout.preferredWidth: settingsGrid.span(1)
            onClicked: page.runClock(Qt.formatDateTime(new Date(), page.dateFormat), Date.now())
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
            Layout.preferredHeight: 40
            text: "LED is on while recording"
            checked: page.schema.recLedOn.defaultValue === 1
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
            Layout.preferredHeight: 40
            readonly property var meta: page.schema.videoLoggingInterval
            from: meta.minimum
            to: meta.maximum
            value: meta.defaultValue
            stepSize: meta.step
            snapMode: Slider.NoSnap
        }
        Label {
            objectName: "videoIntervalText"
            Layout.preferredWidth: settingsGrid.span(1)
            horizontalAlignment: Text.AlignRight
            text: videoIntervalSlider.value.toFixed(1) + " " + videoIntervalSlider.meta.unit
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
            Layout.preferredHeight: 40
            readonly property var meta: page.schema.timelapseInterval
            from: meta.minimum
            to: meta.maximum
            value: meta.defaultValue
            stepSize: meta.step
            snapMode: Slider.SnapAlways
        }
        Label {
            objectName: "photoIntervalText"
            Layout.preferredWidth: settingsGrid.span(1)
            horizontalAlignment: Text.AlignRight
            text: photoIntervalSlider.value.toFixed(0) + " " + photoIntervalSlider.meta.unit
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
            Layout.preferredHeight: 40
            readonly property var meta: page.schema.timelapseTimeout
            from: meta.minimum
            to: meta.maximum
            value: meta.defaultValue
            stepSize: meta.step
            snapMode: Slider.NoSnap
        }
        Label {
            objectName: "photoTimeoutText"
            Layout.preferredWidth: settingsGrid.span(1)
            horizontalAlignment: Text.AlignRight
            text: photoTimeoutSlider.value.toFixed(0) + " " + photoTimeoutSlider.meta.unit
        }

        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "E1 Firmware"
        }
        ComboBox {
            id: e1FirmwareList
            objectName: "e1FirmwareList"
            Layout.columnSpan: 4
            Layout.fillWidth: true
            model: page.schema.e1FirmwareVersion.choiceTexts
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
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.saveReady
            onClicked: page.saveRequested()
        }
        ActionButton {
            objectName: "resetSettingsButton"
            text: "Reset Settings"
            destructive: true
            Layout.columnSpan: 2
            Layout.preferredWidth: settingsGrid.span(2)
            enabled: page.resetReady
            onClicked: page.resetRequested()
        }
        Item {
            Layout.preferredWidth: settingsGrid.span(1)
        }



        Label {
            Layout.preferredWidth: settingsGrid.span(1)
            text: "Progress:"
            font.bold: true
            Layout.topMargin: 10
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
            Layout.minimumHeight: 35
        }
    }
}
