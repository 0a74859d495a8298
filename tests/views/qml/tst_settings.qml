import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "SettingsTab"

    SignalSpy {
        id: readSpy
        signalName: "readCameraSettings"
    }

    SignalSpy {
        id: saveSpy
        signalName: "saveCameraSettings"
    }

    SignalSpy {
        id: resetSpy
        signalName: "resetCameraSettings"
    }

    function startWithUnit() {
        appController.devices = [device("/dev/ttyACM0", "PELORIN7", "Pelorin")]
        createWindow()
        for (var spy of [readSpy, saveSpy, resetSpy]) {
            spy.clear()
            spy.target = window
        }
        appController.calls = []
    }

    function readyStates() {
        return [window.readyToReadSettings(), window.readyToSaveCameraSettings(),
                window.readyToResetCameraSettings(), window.readyToUpdateFirmware()]
    }

    function test_readyFunctions_data() {
        return [
            { tag: "idle with a device", devices: 1, busy: false, ready: true },
            { tag: "export running", devices: 1, busy: true, ready: false },
            { tag: "no device", devices: 0, busy: false, ready: false }
        ]
    }

    function test_readyFunctions(data) {
        appController.devices = data.devices > 0 ? [device("/dev/ttyACM0", "PELORIN7", "P")] : []
        createWindow()
        window.dataCopying = data.busy
        compare(readyStates(), [data.ready, data.ready, data.ready, data.ready])
        compare(child("connectButton").enabled, data.ready)
        compare(child("saveSettingsButton").enabled, data.ready)
        compare(child("resetSettingsButton").enabled, data.ready)
        compare(child("updateFirmwareButton").enabled, data.ready)
        compare(child("settingsHintText").text, data.ready ? ""
                : "Please connect the camera with a Micro-USB cable and tap the record button twice.")
    }

    function test_connectAndReset_data() {
        return [
            { tag: "connect", button: "connectButton", spy: "read" },
            { tag: "reset", button: "resetSettingsButton", spy: "reset" }
        ]
    }

    function test_connectAndReset(data) {
        startWithUnit()
        window.waitText = "left over"
        click(data.button)
        var spy = data.spy === "read" ? readSpy : resetSpy
        compare(spy.count, 1)
        compare(argumentsOf(spy, 0), ["/dev/ttyACM0"])
        compare(appController.calls, ["setPort:/dev/ttyACM0"])
        verify(window.dataCopying)
        verify(child("waitBox").visible)
        compare(window.waitText, "")
        // Nothing more starts while the first runs.
        window.connectButtonClicked()
        window.resetCameraSettingsClicked()
        window.saveCameraSettingsClicked()
        compare(readSpy.count + resetSpy.count + saveSpy.count, 1)
    }

    function test_saveSendsValuesUnrounded_data() {
        return [
            { tag: "fractional interval", video: 2.35, photo: 17, timeout: 92.5, led: true,
              e1: 1, date: "2024-02-29 23:59:58", text: "2.4 seconds",
              sent: ["/dev/ttyACM0", "2024-02-29 23:59:58", 1, 2.35, 17, 92.5, 29] },
            { tag: "LED off, beta E1", video: 0.2, photo: 120, timeout: 360, led: false,
              e1: 2, date: "not a date", text: "0.2 seconds",
              sent: ["/dev/ttyACM0", "not a date", 0, 0.2, 120, 360, 30] }
        ]
    }

    function test_saveSendsValuesUnrounded(data) {
        startWithUnit()
        child("videoIntervalSlider").value = data.video
        child("photoIntervalSlider").value = data.photo
        child("photoTimeoutSlider").value = data.timeout
        child("recordLedBox").checked = data.led
        child("e1FirmwareList").currentIndex = data.e1
        child("dateTimeField").text = data.date
        compare(child("videoIntervalText").text, data.text)
        click("saveSettingsButton")
        compare(saveSpy.count, 1)
        compare(argumentsOf(saveSpy, 0), data.sent)
        verify(window.dataCopying)
        verify(child("waitBox").visible)
    }

    function test_updateCameraSettings_data() {
        return [
            { tag: "typical read", args: ["2.4.1", "80 %", "2024-05-01 10:00:00", 1, 1.5, 5, 60, 26],
              led: true, video: 1.5, photo: 5, timeout: 60, e1: 0,
              texts: ["1.5 seconds", "5 seconds", "60 minutes"] },
            { tag: "LED off, E1 unknown", args: ["2.4.1", "-", "2024-05-01 10:00:00", 0, 1, 10, 90, 27],
              led: false, video: 1, photo: 10, timeout: 90, e1: 1,
              texts: ["1.0 seconds", "10 seconds", "90 minutes"] },
            { tag: "values beyond the sliders", args: ["3.0", "100 %", "2030-01-01 00:00:00", 1, 20, 2, 400, 30],
              led: true, video: 10, photo: 5, timeout: 360, e1: 2,
              texts: ["10.0 seconds", "5 seconds", "360 minutes"] }
        ]
    }

    function test_updateCameraSettings(data) {
        startWithUnit()
        child("e1FirmwareList").currentIndex = 1
        window.connectButtonClicked()
        var a = data.args
        window.updateCameraSettings(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7])
        verify(!window.dataCopying)
        verify(!child("waitBox").visible)
        compare(child("firmwareText").text, a[0])
        compare(child("batteryText").text, a[1])
        compare(child("dateTimeField").text, a[2])
        compare(child("recordLedBox").checked, data.led)
        compare(child("videoIntervalSlider").value, data.video)
        compare(child("photoIntervalSlider").value, data.photo)
        compare(child("photoTimeoutSlider").value, data.timeout)
        compare(child("e1FirmwareList").currentIndex, data.e1)
        compare([child("videoIntervalText").text, child("photoIntervalText").text,
                 child("photoTimeoutText").text], data.texts)
    }

    function test_e1Firmware_data() {
        return [
            { tag: "26", version: 26, index: 0, selected: 26 },
            { tag: "29", version: 29, index: 1, selected: 29 },
            { tag: "30", version: 30, index: 2, selected: 30 },
            { tag: "27 changes nothing", version: 27, index: 2, selected: 30 },
            { tag: "0 changes nothing", version: 0, index: 2, selected: 30 }
        ]
    }

    function test_e1Firmware(data) {
        createWindow()
        var list = child("e1FirmwareList")
        compare(list.currentIndex, 0)
        list.currentIndex = 2
        window.setE1Firmware(data.version)
        compare(list.currentIndex, data.index)
        compare(window.getSelectedE1Firmware(), data.selected)
        list.currentIndex = -1
        compare(window.getSelectedE1Firmware(), 29)
    }

    function test_firmwareUpdate() {
        startWithUnit()
        window.dataCopying = true
        window.updateFirmwareClicked() // busy: no dialog, nothing changes
        verify(window.firmwareDialog === null)
        window.dataCopying = false

        window.updateFirmwareClicked()
        verify(window.dataCopying)
        verify(window.firmwareDialog !== null)
        window.firmwareDialog.close()
        window.firmwareFileRejected()
        verify(!window.dataCopying)
        verify(child("connectButton").enabled)
        verify(child("updateFirmwareButton").enabled)
        compare(appController.calls, [])

        window.updateFirmwareClicked()
        window.firmwareDialog.close()
        window.firmwareFileChosen("file:///home/u/fw%20new/qvk-2.5.hex")
        compare(appController.calls, ["setPort:/dev/ttyACM0",
                                      "updateFirmware:/dev/ttyACM0|/home/u/fw new/qvk-2.5.hex"])
        // Busy until the update reports its end.
        verify(window.dataCopying)
        window.updateFirmwareProgress(0, 2, 1, "Flashing ...")
        verify(child("waitBox").visible)
        window.updateFirmwareProgress(0, 2, 2, "Success. Firmware updated.")
        verify(!window.dataCopying)
        verify(!child("waitBox").visible)
    }
}
