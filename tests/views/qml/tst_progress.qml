import QtQuick 2.7
import QtTest 1.2

// The three controller progress functions share one scheme: a report below
// its end shows the wait box and keeps the controller buttons locked, the
// final report closes the box and unlocks them.
ViewTestCase {
    name: "ControllerProgress"

    function init_data() {
        return [
            { tag: "data", report: "updateDataProgress", bar: "dataProgress" },
            { tag: "settings", report: "updateCameraSettingsProgress", bar: "settingsProgress" },
            { tag: "firmware", report: "updateFirmwareProgress", bar: "settingsProgress" }
        ]
    }

    function init() {
        appController.devices = [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]
        createWindow()
    }

    function controllerButtonsEnabled() {
        return ["copyDataButton", "eraseMemoryButton", "connectButton", "saveSettingsButton",
                "resetSettingsButton", "updateFirmwareButton", "exitButton"].map(function (name) {
                    return child(name).enabled
                })
    }

    function test_reportsOpenAndCloseWaitBox(data) {
        var waitBox = child("waitBox")
        var bar = child(data.bar)
        window[data.report](0, 2, 1, "Reading datasets ...")
        verify(window.dataCopying)
        verify(waitBox.visible)
        compare(window.waitText, "Reading datasets ...")
        compare(bar.value, 1)
        compare(bar.text, "Reading datasets ...")
        compare(controllerButtonsEnabled(), [false, false, false, false, false, false, false])
        window[data.report](0, 2, 1, "Dataset 2 of 3")
        verify(waitBox.visible)
        compare(window.waitText, "Dataset 2 of 3")
        window[data.report](0, 10, 10, "Success. 3 datasets saved.")
        verify(!window.dataCopying)
        verify(!waitBox.visible)
        compare(window.waitText, "")
        compare(bar.to, 10)
        compare(bar.value, 10)
        compare(bar.text, "Success. 3 datasets saved.")
        compare(controllerButtonsEnabled(), [true, true, true, true, true, true, true])
    }

    function test_failureToOpenEndsAtOnce(data) {
        window.dataCopying = true
        window[data.report](0, 1, 1, "Error: Could not open port /dev/ttyUSB0.")
        verify(!window.dataCopying)
        verify(!child("waitBox").visible)
        compare(child(data.bar).text, "Error: Could not open port /dev/ttyUSB0.")
    }
}
