import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// The stitching angles and offsets of the three cameras, typed in, reset to
// the rig's defaults or downloaded for the rig's serial number.
Popup {
    id: dialog

    // The serial number to download the values for.
    property alias serial: serialField.text
    // A download is on its way; closing the dialog abandons it.
    property bool downloading: false

    // What "Defaults" fills in.
    readonly property var defaults: ({
            "Camera1Yaw": "0",
            "Camera2Yaw": "120",
            "Camera3Yaw": "-120",
            "Camera1Pitch": "0",
            "Camera2Pitch": "0",
            "Camera3Pitch": "0",
            "Camera1Roll": "-90",
            "Camera2Roll": "-90",
            "Camera3Roll": "-90",
            "Camera1OffsetX": "-20",
            "Camera2OffsetX": "-20",
            "Camera3OffsetX": "-20",
            "Camera1OffsetY": "0",
            "Camera2OffsetY": "0",
            "Camera3OffsetY": "0"
        })

    signal downloadRequested
    signal resetRequested
    // Sent before the dialog closes itself.
    signal saveRequested

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    // The value fields, each tied to its settings key.
    function fields() {
        return [camera1YawField, camera2YawField, camera3YawField,
                camera1PitchField, camera2PitchField, camera3PitchField,
                camera1RollField, camera2RollField, camera3RollField,
                camera1OffsetXField, camera2OffsetXField, camera3OffsetXField,
                camera1OffsetYField, camera2OffsetYField, camera3OffsetYField]
    }

    // Shows the values of a settings map. Without a saved calibration the
    // rig's defaults are offered, to be used once saved.
    function showSettings(settings) {
        var saved = settings["OverwriteAngles"] !== undefined
        radiansBox.checked = textOf(settings["RadiansAngles"]) === "1"
        overwriteBox.checked = !saved || textOf(settings["OverwriteAngles"]) === "1"
        var list = fields()
        for (var i = 0; i < list.length; ++i) {
            var value = settings[list[i].key]
            list[i].text = value === undefined ? defaults[list[i].key] : textOf(value)
        }
        serialField.text = textOf(settings["Serialnumber"])
    }

    // Puts what the dialog shows into a settings map.
    function writeSettings(settings) {
        settings["Serialnumber"] = serialField.text
        settings["RadiansAngles"] = radiansBox.checked ? "1" : "0"
        settings["OverwriteAngles"] = overwriteBox.checked ? "1" : "0"
        var list = fields()
        for (var i = 0; i < list.length; ++i)
            settings[list[i].key] = list[i].text
    }

    function showDefaults() {
        var list = fields()
        for (var i = 0; i < list.length; ++i)
            list[i].text = defaults[list[i].key]
    }

    // A service may send the flag as a boolean, a number or a text.
    function truthValue(value) {
        if (typeof value === "string") {
            var text = value.trim().toLowerCase()
            return text !== "" && text !== "0" && text !== "false"
        }
        return !!value
    }

    // Shows the values of a successful download.
    function showDownloaded(data) {
        // A member the answer lacks leaves its field as it was rather than
        // storing "undefined".
        if (data["RadiansAngles"] !== undefined && data["RadiansAngles"] !== null)
            radiansBox.checked = truthValue(data["RadiansAngles"])
        // Only a number or a text is a value: an object, a list or a flag
        // would be stored as junk such as "[object Object]".
        var list = fields()
        for (var i = 0; i < list.length; ++i) {
            var value = data[list[i].key]
            if (typeof value === "number" || typeof value === "string")
                list[i].text = String(value)
        }
    }

    objectName: "calibrationDialog"
    parent: ApplicationWindow.overlay
    x: 100
    y: 100
    width: 500
    height: calibrationGrid.implicitHeight + 2 * calibrationGrid.anchors.margins
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.NoAutoClose

    GridLayout {
        id: calibrationGrid

        // The row labels' column is as wide as its longest label; the six
        // value columns share the rest.
        // Whole pixels, as the layout places its cells.
        readonly property real labelWidth: Math.ceil(Math.max(cameraLabel.implicitWidth, yawLabel.implicitWidth,
                                                              pitchLabel.implicitWidth, rollLabel.implicitWidth,
                                                              offsetXLabel.implicitWidth, offsetYLabel.implicitWidth))
        readonly property real columnWidth: Math.floor((width - labelWidth - 6 * columnSpacing) / 6)
        readonly property real rowUnit: 40
        // n columns from the labels' column.
        function span(n) {
            return Math.max(0, labelWidth + cells(n - 1) + columnSpacing)
        }
        // n value columns.
        function cells(n) {
            return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
        }

        // The dialog is as high as its rows.
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 10
        columns: 7
        columnSpacing: 10
        rowSpacing: 5

        Label {
            text: "Custom camera calibration settings"
            font.bold: true
            Layout.columnSpan: 7
            Layout.preferredHeight: calibrationGrid.rowUnit
            verticalAlignment: Text.AlignVCenter
        }

        Label {
            text: "Your Pelorin QVK serial: "
            Layout.columnSpan: 3
            Layout.preferredWidth: calibrationGrid.span(3)
            Layout.preferredHeight: calibrationGrid.rowUnit
            verticalAlignment: Text.AlignVCenter
        }
        InputField {
            id: serialField
            objectName: "serialField"
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: TextInput.AlignHCenter
        }
        Button {
            objectName: "downloadButton"
            text: dialog.downloading ? "Downloading ..." : "Download"
            enabled: !dialog.downloading
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
            onClicked: dialog.downloadRequested()
        }

        Button {
            objectName: "defaultsButton"
            text: "Defaults"
            Layout.columnSpan: 3
            Layout.preferredWidth: calibrationGrid.span(3)
            Layout.preferredHeight: calibrationGrid.rowUnit
            onClicked: dialog.showDefaults()
        }
        Item {
            Layout.preferredWidth: calibrationGrid.cells(1)
        }
        Button {
            objectName: "resetCalibrationButton"
            text: "Reset"
            Layout.columnSpan: 3
            Layout.preferredWidth: calibrationGrid.cells(3)
            Layout.preferredHeight: calibrationGrid.rowUnit
            onClicked: dialog.resetRequested()
        }

        Label {
            id: cameraLabel
            text: "Camera:"
            Layout.preferredWidth: calibrationGrid.labelWidth
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        Repeater {
            model: ["1", "2", "3"]
            Label {
                text: modelData
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.cells(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }

        Label {
            id: yawLabel
            text: "Yaw: "
            Layout.preferredWidth: calibrationGrid.labelWidth
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        CalibrationField {
            id: camera1YawField
            key: "Camera1Yaw"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera2YawField
            key: "Camera2Yaw"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera3YawField
            key: "Camera3Yaw"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }

        Label {
            id: pitchLabel
            text: "Pitch: "
            Layout.preferredWidth: calibrationGrid.labelWidth
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        CalibrationField {
            id: camera1PitchField
            key: "Camera1Pitch"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera2PitchField
            key: "Camera2Pitch"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera3PitchField
            key: "Camera3Pitch"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }

        Label {
            id: rollLabel
            text: "Roll: "
            Layout.preferredWidth: calibrationGrid.labelWidth
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        CalibrationField {
            id: camera1RollField
            key: "Camera1Roll"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera2RollField
            key: "Camera2Roll"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera3RollField
            key: "Camera3Roll"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }

        Label {
            id: offsetXLabel
            text: "Offset X: "
            Layout.preferredWidth: calibrationGrid.labelWidth
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        CalibrationField {
            id: camera1OffsetXField
            key: "Camera1OffsetX"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera2OffsetXField
            key: "Camera2OffsetX"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera3OffsetXField
            key: "Camera3OffsetX"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }

        Label {
            id: offsetYLabel
            text: "Offset Y: "
            Layout.preferredWidth: calibrationGrid.labelWidth
            Layout.preferredHeight: calibrationGrid.rowUnit
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
        }
        CalibrationField {
            id: camera1OffsetYField
            key: "Camera1OffsetY"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera2OffsetYField
            key: "Camera2OffsetY"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }
        CalibrationField {
            id: camera3OffsetYField
            key: "Camera3OffsetY"
            enabled: overwriteBox.checked
            Layout.columnSpan: 2
            Layout.preferredWidth: calibrationGrid.cells(2)
            Layout.preferredHeight: calibrationGrid.rowUnit
        }

        CheckBox {
            id: radiansBox
            objectName: "radiansBox"
            text: "Angles are in Radians"
            enabled: overwriteBox.checked
            Layout.columnSpan: 7
            Layout.preferredHeight: calibrationGrid.rowUnit
            contentItem: Text {
                text: radiansBox.text
                font: radiansBox.font
                color: radiansBox.enabled ? "#FFFFFF" : "#999999"
                leftPadding: radiansBox.indicator.width + radiansBox.spacing
                verticalAlignment: Text.AlignVCenter
            }
        }
        CheckBox {
            id: overwriteBox
            objectName: "overwriteBox"
            text: "Overwrite camera angles in template"
            Layout.columnSpan: 7
            Layout.preferredHeight: calibrationGrid.rowUnit
            contentItem: Text {
                text: overwriteBox.text
                font: overwriteBox.font
                color: "#FFFFFF"
                leftPadding: overwriteBox.indicator.width + overwriteBox.spacing
                verticalAlignment: Text.AlignVCenter
            }
        }

        ActionButton {
            objectName: "saveCalibrationButton"
            text: "Save"
            Layout.columnSpan: 3
            Layout.preferredWidth: calibrationGrid.span(3)
            Layout.preferredHeight: calibrationGrid.rowUnit
            onClicked: {
                dialog.saveRequested()
                dialog.close()
            }
        }
        Item {
            Layout.preferredWidth: calibrationGrid.cells(1)
        }
        Button {
            objectName: "cancelCalibrationButton"
            text: "Cancel"
            Layout.columnSpan: 3
            Layout.preferredWidth: calibrationGrid.cells(3)
            Layout.preferredHeight: calibrationGrid.rowUnit
            onClicked: dialog.close()
        }

        Repeater {
            model: 7
            Item {
                Layout.preferredWidth: index === 0 ? calibrationGrid.labelWidth : calibrationGrid.cells(1)
                Layout.preferredHeight: 2
            }
        }
    }
}
