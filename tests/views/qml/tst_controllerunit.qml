import QtQuick 2.7
import QtTest 1.2

// The Copy Data and Settings tabs: everything that talks to the controller unit.
ViewTestCase {
    name: "ControllerUnit"

    function startWithUnit() {
        appController.devices = [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]
        createWindow()
        appController.calls = []
    }

    function test_devicePreselection_data() {
        var plain = device("/dev/ttyS0", "A1B2", "Acme")
        var ftdi = device("/dev/ttyUSB2", "FTDI", "FTDI")
        return [
            { tag: "PELORIN before an earlier FTDI", selected: 2,
              devices: [ftdi, plain, device("/dev/ttyUSB1", "QVK-PELORIN-0042", "Pelorin")],
              shown: ["FTDI (FTDI)", "A1B2 (Acme)", "QVK-PELORIN-0042 (Pelorin)"] },
            { tag: "FTDI when no PELORIN, a port without serial", selected: 1,
              devices: [device("/dev/pts/4", "", ""), ftdi], shown: ["/dev/pts/4", "FTDI (FTDI)"] },
            { tag: "no device", devices: [], selected: -1, shown: [] }
        ]
    }

    function test_devicePreselection(data) {
        appController.devices = data.devices
        createWindow()
        compare([child("dataDeviceList").currentIndex, child("settingsDeviceList").currentIndex],
                [data.selected, data.selected])
        var list = child("dataDeviceList")
        for (var i = 0; i < data.shown.length; ++i) {
            list.currentIndex = i
            compare(list.currentText, data.shown[i])
        }
    }

    // The port reaches the controller before the operation starts; values go
    // out as they are, not cut to what the texts show. Reports below their end
    // keep the wait box up and the buttons locked; the final one closes the box at once.
    // The Settings tab's operations open the wait box at once and report on its bar.
    function test_operation_data() {
        return [
            { tag: "copy data", button: "copyDataButton", dataTab: true,
              call: "copyData:/dev/ttyUSB0|/home/user/Videos|Dive 3" },
            { tag: "connect", button: "connectButton", call: "readCameraSettings:/dev/ttyUSB0" },
            { tag: "reset, confirmed", button: "resetSettingsButton",
              confirm: "resetSettingsBoxConfirmButton", call: "resetCameraSettings:/dev/ttyUSB0" },
            { tag: "save unrounded", button: "saveSettingsButton",
              call: "saveCameraSettings:/dev/ttyUSB0|2024-02-29 23:59:58|1|2.35|17|92.5|29" }
        ]
    }

    function test_operation(data) {
        startWithUnit()
        child("dataProjectNameField").text = "Dive 3"
        child("videoIntervalSlider").value = 2.35
        child("photoIntervalSlider").value = 17
        child("photoTimeoutSlider").value = 92.5
        child("recordLedBox").checked = true
        child("e1FirmwareList").currentIndex = 1
        child("dateTimeField").text = "2024-02-29 23:59:58"
        click(data.button)
        if (data.confirm) {
            tryCompare(child(data.confirm), "visible", true)
            click(data.confirm)
        }
        compare(child("waitBox").visible, !data.dataTab)
        // Nothing more starts while the first runs.
        window.copyDataClicked()
        window.connectButtonClicked()
        window.resetCameraSettingsClicked()
        window.saveCameraSettingsClicked()
        compare(appController.calls, ["setPort:/dev/ttyUSB0", data.call])
        var bar = child(data.dataTab ? "dataProgress" : "settingsProgress")
        var report = data.dataTab ? "updateDataProgress" : "updateCameraSettingsProgress"
        window[report](0, 2, 1, "Step 1 ...")
        verify(window.dataCopying && child("waitBox").visible && !child("exitButton").enabled)
        compare([window.waitText, bar.value, bar.text], ["Step 1 ...", 1, "Step 1 ..."])
        window[report](0, 2, 2, "Success.")
        window[data.dataTab ? "dataOutcome" : "cameraSettingsOutcome"]({ status: "succeeded" })
        verify(!window.dataCopying && !child("waitBox").visible && child("exitButton").enabled)
        compare([bar.value, bar.text], [2, "Success."])
    }

    // An erase the check refuses asks again, saying what would be lost; "Erase
    // anyway" forces it. A refused count is named as such; a failure asks nothing.
    // outcome: how the erase ended; asks: how the second box begins; forced:
    // its answer.
    function test_eraseMemoryBox_data() {
        var erase = ["setPort:/dev/ttyUSB0", "eraseMemory:/dev/ttyUSB0"]
        var unsaved = { status: "refused", records: 8, reason: "no complete export of the unit U1 is recorded" }
        var uncounted = { status: "refused", records: 0,
                          reason: "Counting records: the unit's record count could not be read; it answered \"many\"." }
        return [
            { tag: "confirmed", checked: true, calls: erase, outcome: { status: "succeeded", records: 8 } },
            { tag: "box unticked", checked: false, calls: [] },
            { tag: "unsaved, erased anyway", checked: true, calls: erase, outcome: unsaved, forced: true,
              asks: "The unit holds 8 records that no complete export recorded here has saved (no complete export "
                    + "of the unit U1 is recorded). Erase anyway?" },
            { tag: "unsaved, kept", checked: true, calls: erase, outcome: unsaved, forced: false,
              asks: "The unit holds 8 records" },
            { tag: "count unreadable, erased anyway", checked: true, calls: erase, outcome: uncounted, forced: true,
              asks: "The unit's record count could not be read (Counting records: " },
            { tag: "unit silent", checked: true, calls: erase, outcome: { status: "failed", records: 0 } }
        ]
    }

    function test_eraseMemoryBox(data) {
        startWithUnit()
        click("eraseMemoryButton")
        tryCompare(child("eraseMemoryBox"), "visible", true)
        child("eraseMemoryCheck").checked = data.checked
        click("eraseMemoryConfirmButton")
        tryCompare(child("eraseMemoryBox"), "visible", false)
        compare(appController.calls, data.calls)
        compare(window.dataCopying, data.calls.length > 0)
        if (!data.outcome)
            return
        var box = child("eraseMemoryAnywayBox")
        window.updateDataProgress(0, 2, 2, "Error: The unit holds 8 records that no complete export has saved.")
        window.dataOutcome(data.outcome)
        if (!data.asks) {
            wait(50)
            compare(box.visible, false)
            compare(appController.calls, data.calls)
            return
        }
        tryCompare(box, "visible", true)
        var question = child("eraseMemoryAnywayBoxQuestion").text
        verify(question.indexOf(data.asks) === 0, question)
        compare(appController.calls, data.calls) // nothing more before the answer
        click(data.forced ? "eraseMemoryAnywayBoxConfirmButton" : "eraseMemoryAnywayBoxCancelButton")
        tryCompare(box, "visible", false)
        compare(appController.calls, data.calls.concat(data.forced ? ["eraseMemoryForced:/dev/ttyUSB0"] : []))
        compare(window.dataCopying, data.forced)
        // However the forced erase ends, it is not asked again.
        window.updateDataProgress(0, 2, 2, "Error erasing memory: x")
        window.dataOutcome(data.outcome)
        wait(50)
        compare(box.visible, false)
    }

    // A read as the controller reports it; E1 firmware 27 is not offered and
    // leaves the choice as it was (29). state: LED, the three sliders, E1.
    function test_updateCameraSettings_data() {
        return [
            { tag: "LED off, E1 27", args: ["2.4.1", "-", "2024-05-01 10:00:00", 0, 1, 10, 90, 27],
              state: [false, 1, 10, 90, 29], texts: ["1.0 seconds", "10 seconds", "90 minutes"] },
            { tag: "beyond the sliders", args: ["3.0", "100 %", "2030-01-01 00:00:00", 1, 20, 2, 400, 30],
              state: [true, 10, 5, 360, 30], texts: ["10.0 seconds", "5 seconds", "360 minutes"] }
        ]
    }

    function test_updateCameraSettings(data) {
        startWithUnit()
        child("e1FirmwareList").currentIndex = 1
        window.connectButtonClicked()
        var a = data.args
        window.updateCameraSettings(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7])
        verify(!window.dataCopying && !child("waitBox").visible)
        var texts = ["firmwareText", "batteryText", "dateTimeField", "videoIntervalText",
                     "photoIntervalText", "photoTimeoutText"].map(function (n) { return child(n).text })
        compare(texts, a.slice(0, 3).concat(data.texts))
        compare([child("recordLedBox").checked, child("videoIntervalSlider").value,
                 child("photoIntervalSlider").value, child("photoTimeoutSlider").value,
                 window.getSelectedE1Firmware()], data.state)
    }

    // A reset, done or not, reads nothing back: the values in the tab, the
    // user's unsaved edits among them, stay as they are.
    function test_resetKeepsValues_data() {
        return [
            { tag: "reset done", end: "Success. Controller reset.", status: "succeeded" },
            { tag: "reset failed", end: "Error resetting controller: no answer", status: "failed" }
        ]
    }

    function test_resetKeepsValues(data) {
        startWithUnit()
        child("videoIntervalSlider").value = 2.35
        child("dateTimeField").text = "2024-02-29 23:59:58"
        window.resetCameraSettingsClicked()
        window.updateCameraSettingsProgress(0, 2, 1, "Resetting controller ...")
        window.updateCameraSettingsProgress(0, 2, 2, data.end)
        window.cameraSettingsOutcome({ status: data.status })
        compare(appController.calls, ["setPort:/dev/ttyUSB0", "resetCameraSettings:/dev/ttyUSB0"])
        compare([window.dataCopying, child("waitBox").visible], [false, false])
        compare([child("videoIntervalSlider").value, child("dateTimeField").text], [2.35, "2024-02-29 23:59:58"])
    }

    // Firmware and battery describe the unit last read; a failed read of
    // another port must not leave them standing for it.
    function test_failedConnect_data() {
        return [
            { tag: "another port fails", port: 1, end: "Error getting settings: no answer", shown: ["-", "-"] },
            { tag: "the same port fails", port: 0, end: "Error getting settings: no answer",
              shown: ["2.4.1", "60 %"] },
            { tag: "another port cannot be opened", port: 1, end: "Error: Could not open port /dev/ttyUSB1",
              shown: ["-", "-"] },
            { tag: "another port answers", port: 1, end: "Success. Settings read.", read: ["3.0", "20 %"],
              shown: ["3.0", "20 %"] }
        ]
    }

    function test_failedConnect(data) {
        appController.devices = [device("/dev/ttyUSB0", "PELORIN42", "FTDI"), device("/dev/ttyUSB1", "A1", "Acme")]
        createWindow()
        window.connectButtonClicked()
        window.updateCameraSettingsProgress(0, 2, 2, "Success. Settings read.")
        window.updateCameraSettings("2.4.1", "60 %", "2024-01-01 00:00:00", 1, 1, 5, 90, 29)
        window.cameraSettingsOutcome({ status: "succeeded" })
        child("settingsDeviceList").currentIndex = data.port
        window.connectButtonClicked()
        window.updateCameraSettingsProgress(0, 2, 1, "Reading settings ...")
        window.updateCameraSettingsProgress(0, 2, 2, data.end)
        if (data.read)
            window.updateCameraSettings(data.read[0], data.read[1], "2024-01-01 00:00:00", 1, 1, 5, 90, 29)
        window.cameraSettingsOutcome({ status: data.read ? "succeeded" : "failed" })
        compare([child("firmwareText").text, child("batteryText").text], data.shown)
        verify(!window.dataCopying)
    }

    // Reports that count records (received of those announced, one more step
    // for the files) move the bar; relayed messages (0, 2, 1) change only its text.
    function test_dataBarFollowsRecords() {
        startWithUnit()
        window.copyDataClicked()
        var bar = child("dataProgress")
        var shown = function () { return [bar.from, bar.to, bar.value, bar.text] }
        window.updateDataProgress(0, 2, 1, "Counting datasets ...")
        compare(shown(), [0, 2, 1, "Counting datasets ..."])
        window.updateDataProgress(0, 5001, 1250, "Reading dataset 1250 of 5000")
        compare(shown(), [0, 5001, 1250, "Reading dataset 1250 of 5000"])
        window.updateDataProgress(0, 2, 1, "Unit: dataset 2")
        compare(shown(), [0, 5001, 1250, "Unit: dataset 2"])
        window.updateDataProgress(0, 5001, 4000, "Reading dataset 4000 of 5000")
        compare(bar.value, 4000)
        window.updateDataProgress(0, 2, 1, "Reading 5000 datasets ...")
        compare(shown(), [0, 5001, 4000, "Reading 5000 datasets ..."])
        window.updateDataProgress(0, 2, 2, "Wrote 5000 records to 2 files in /home/user/Videos")
        compare(shown(), [0, 2, 2, "Wrote 5000 records to 2 files in /home/user/Videos"])
        verify(!window.dataCopying)
        // The next run's steps show as steps again.
        window.copyDataClicked()
        window.updateDataProgress(0, 2, 1, "Counting datasets ...")
        compare(shown(), [0, 2, 1, "Counting datasets ..."])
    }

    function test_firmwareUpdate() {
        startWithUnit()
        window.dataCopying = true
        window.updateFirmwareClicked() // busy: no dialog
        verify(window.firmwareDialog === null)
        window.dataCopying = false
        window.updateFirmwareClicked()
        window.firmwareDialog.close()
        window.firmwareFileRejected()
        verify(!window.dataCopying)
        window.updateFirmwareClicked()
        window.firmwareDialog.close()
        window.firmwareFileChosen("file:///home/u/fw%20new/qvk-2.5.hex")
        compare(appController.calls, ["setPort:/dev/ttyUSB0",
                                      "updateFirmware:/dev/ttyUSB0|/home/u/fw new/qvk-2.5.hex"])
        verify(window.dataCopying) // until the update reports its end
        window.updateFirmwareProgress(0, 2, 2, "Success. Firmware updated.")
        verify(!window.dataCopying)
    }
}
