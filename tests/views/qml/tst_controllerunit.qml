import QtQuick 2.7
import QtTest 1.2

// The Copy Data and Settings tabs: everything that talks to the controller unit.
ViewTestCase {
    name: "ControllerUnit"

    readonly property var portCalls: ["setPort:/dev/ttyUSB0"]

    // The port reaches the controller first, and nothing more starts while one runs; values go out as they
    // are. Reports below their end keep the wait box up and the buttons locked; the final one closes it. A
    // reset, done or not, reads nothing back. An erase the check refuses asks again, saying what would be
    // lost (a refused count named as such), and "Erase anyway" forces it; a failure asks nothing. Values
    // not read from the port are saved only when the user says so.
    function test_operation_data() {
        var reset = "resetSettingsButton", failed = { status: "failed" }
        var unsaved = { status: "refused", records: 8, reason: "no complete export of the unit U1 is recorded" }
        function erasing(row) {
            return Object.assign(row, { button: "eraseMemoryButton", dataTab: true, call: "eraseMemory:/dev/ttyUSB0" })
        }
        return [
            { tag: "copy data", button: "copyDataButton", dataTab: true, call: "copyData:/dev/ttyUSB0|/home/user/Videos|Dive 3" },
            { tag: "connect", button: "connectButton", call: "readCameraSettings:/dev/ttyUSB0" },
            { tag: "reset, confirmed", button: reset, call: "resetCameraSettings:/dev/ttyUSB0" },
            { tag: "reset fails", button: reset, call: "resetCameraSettings:/dev/ttyUSB0", outcome: failed },
            { tag: "save unrounded, not read", button: "saveSettingsButton",
              call: "saveCameraSettings:/dev/ttyUSB0|2024-02-29 23:59:58|1|2.35|17|92.5|29" },
            { tag: "save not read, declined", button: "saveSettingsButton", declined: true },
            { tag: "save after a read asks nothing", button: "saveSettingsButton", read: true,
              call: "saveCameraSettings:/dev/ttyUSB0|2024-02-29 23:59:58|1|2.35|17|92.5|29" },
            erasing({ tag: "erase memory, box unticked", unticked: true }),
            erasing({ tag: "erase memory, unit silent", outcome: failed }),
            erasing({ tag: "unsaved, erased anyway", outcome: unsaved, forced: true,
                      asks: "The unit holds 8 records that no complete export recorded here has saved (no complete export "
                            + "of the unit U1 is recorded). Erase anyway?" }),
            erasing({ tag: "unsaved, kept", outcome: unsaved, forced: false, asks: "The unit holds 8 records" }),
            erasing({ tag: "count unreadable, erased anyway", forced: true,
                      outcome: { status: "refused", records: 0, reason: "Counting records: the unit's record count could "
                                 + "not be read; it answered \"many\"." },
                      asks: "The unit's record count could not be read (Counting records: " })
        ]
    }

    function test_operation(data) {
        startWith([], oneUnit)
        if (data.read) {
            window.connectButtonClicked()
            window.updateCameraSettings("2.4.1", "60 %", "2024-02-29 23:59:58", 0, 1, 5, 90, 26)
            appController.calls = []
        }
        ;[["dataProjectNameField", "text", "Dive 3"], ["videoIntervalSlider", "value", 2.35], ["photoIntervalSlider", "value", 17],
          ["photoTimeoutSlider", "value", 92.5], ["recordLedBox", "checked", true], ["e1FirmwareList", "currentIndex", 1],
          ["dateTimeField", "text", "2024-02-29 23:59:58"]].forEach(function (c) { child(c[0])[c[1]] = c[2] })
        click(data.button)
        var confirm = { "resetSettingsButton": "resetSettingsBoxConfirmButton", "eraseMemoryButton": "eraseMemoryConfirmButton",
                        "saveSettingsButton": "unreadSaveBoxConfirmButton" }[data.button]
        if (confirm && !data.read) {
            tryCompare(child(confirm), "visible", true)
            child("eraseMemoryCheck").checked = !data.unticked
            click(data.declined ? confirm.replace("Confirm", "Cancel") : confirm)
        }
        if (data.unticked || data.declined)
            return compare([appController.calls, window.dataCopying], [[], false])
        compare(child("waitBox").visible, !data.dataTab)
        ;["copyDataClicked", "connectButtonClicked", "resetCameraSettingsClicked", "saveCameraSettingsClicked"].forEach(
            function (f) { window[f]() })
        var bar = child(data.dataTab ? "dataProgress" : "settingsProgress")
        var report = window[data.dataTab ? "updateDataProgress" : "updateCameraSettingsProgress"]
        var outcome = window[data.dataTab ? "dataOutcome" : "cameraSettingsOutcome"]
        report(0, 2, 1, "Step 1 ...")
        verify(window.dataCopying && child("waitBox").visible && !child("exitButton").enabled)
        compare([window.waitText, bar.value, bar.text], ["Step 1 ...", 1, "Step 1 ..."])
        var end = data.outcome ? "Error: no answer" : "Success."
        report(0, 2, 2, end)
        outcome(data.outcome || { status: "succeeded" })
        compare([bar.value, bar.text, child("videoIntervalSlider").value, child("dateTimeField").text],
                [2, end, 2.35, "2024-02-29 23:59:58"])
        var calls = portCalls.concat([data.call]), box = child("eraseMemoryAnywayBox")
        if (data.asks) {
            tryCompare(box, "visible", true)
            var question = child("eraseMemoryAnywayBoxQuestion").text
            verify(question.indexOf(data.asks) === 0, question)
            click(data.forced ? "eraseMemoryAnywayBoxConfirmButton" : "eraseMemoryAnywayBoxCancelButton")
            tryCompare(box, "visible", false)
            calls = calls.concat(data.forced ? ["eraseMemoryForced:/dev/ttyUSB0"] : [])
            compare([appController.calls, window.dataCopying], [calls, data.forced])
            // However the forced erase ends, it is not asked again.
            report(0, 2, 2, end)
            outcome(data.outcome)
        }
        wait(50)
        verify(!window.dataCopying && !child("waitBox").visible && child("exitButton").enabled && !box.visible)
        compare(appController.calls, calls)
    }

    // A unit's port is preselected, listed by serial and maker. A read is shown as the controller reports it;
    // E1 firmware 27 is not offered and leaves the choice as it was (29). Firmware and battery describe the
    // unit last read: a failed read of another port must not leave them standing for it. state: LED, the
    // three sliders, E1; port: the one read next, ending in end.
    function test_ports_data() {
        var plain = device("/dev/ttyS0", "A1B2", "Acme"), ftdi = device("/dev/ttyUSB2", "FTDI", "FTDI")
        return [
            { tag: "PELORIN before an earlier FTDI", devices: [ftdi, plain, device("/dev/ttyUSB1", "QVK-PELORIN-0042", "Pelorin")],
              selected: 2, listed: ["FTDI (FTDI)", "A1B2 (Acme)", "QVK-PELORIN-0042 (Pelorin)"] },
            { tag: "FTDI when no PELORIN, a port without serial", devices: [device("/dev/pts/4", "", ""), ftdi],
              selected: 1, listed: ["/dev/pts/4", "FTDI (FTDI)"] },
            { tag: "no device", devices: [], selected: -1, listed: [] },
            { tag: "LED off, E1 27", args: ["2.4.1", "-", "2024-05-01 10:00:00", 0, 1, 10, 90, 27],
              state: [false, 1, 10, 90, 29], texts: ["1.0 seconds", "10 seconds", "90 minutes"] },
            { tag: "beyond the sliders", args: ["3.0", "100 %", "2030-01-01 00:00:00", 1, 20, 2, 400, 30],
              state: [true, 10, 5, 360, 30], texts: ["10.0 seconds", "5 seconds", "360 minutes"] },
            { tag: "another port cannot be opened", port: 1, end: "Error: Could not open port /dev/ttyUSB1", shown: ["-", "-"] },
            { tag: "the same port fails", port: 0, end: "Error getting settings: no answer", shown: ["2.4.1", "60 %"] },
            { tag: "another port answers", port: 1, end: "Success. Settings read.", shown: ["3.0", "20 %"], read: true }
        ]
    }

    function test_ports(data) {
        startWith([], data.devices || oneUnit.concat([device("/dev/ttyUSB1", "A1", "Acme")]))
        var list = child("dataDeviceList")
        if (data.devices) {
            compare([list.currentIndex, child("settingsDeviceList").currentIndex], [data.selected, data.selected])
            return compare(data.listed.map(function (s, i) { list.currentIndex = i; return list.currentText }), data.listed)
        }
        child("e1FirmwareList").currentIndex = 1
        window.connectButtonClicked()
        var a = data.args || ["2.4.1", "60 %", "2024-01-01 00:00:00", 1, 1, 5, 90, 29]
        window.updateCameraSettings.apply(window, a)
        verify(!window.dataCopying && !child("waitBox").visible)
        if (data.port === undefined) {
            compare(shownTexts(["firmwareText", "batteryText", "dateTimeField", "videoIntervalText", "photoIntervalText",
                                "photoTimeoutText"]), a.slice(0, 3).concat(data.texts))
            return compare([child("recordLedBox").checked, child("videoIntervalSlider").value,
                            child("photoIntervalSlider").value, child("photoTimeoutSlider").value,
                            window.getSelectedE1Firmware()], data.state)
        }
        window.cameraSettingsOutcome({ status: "succeeded" })
        child("settingsDeviceList").currentIndex = data.port
        window.connectButtonClicked()
        window.updateCameraSettingsProgress(0, 2, 1, "Reading settings ...")
        window.updateCameraSettingsProgress(0, 2, 2, data.end)
        if (data.read)
            window.updateCameraSettings("3.0", "20 %", "2024-01-01 00:00:00", 1, 1, 5, 90, 29)
        window.cameraSettingsOutcome({ status: data.read ? "succeeded" : "failed" })
        compare(shownTexts(["firmwareText", "batteryText"]), data.shown)
    }

    // Reports that count records (received of those announced, one more step for the files) move the bar;
    // relayed messages (0, 2, 1) change only its text; the next run's steps show as steps again.
    function test_dataBarFollowsRecords() {
        startWith([], oneUnit)
        var bar = child("dataProgress")
        window.copyDataClicked()
        ;[[2, 1, "Counting datasets ...", 2, 1], [5001, 1250, "Reading dataset 1250 of 5000", 5001, 1250],
          [2, 1, "Reading 5000 datasets ...", 5001, 1250], [5001, 4000, "Reading dataset 4000 of 5000", 5001, 4000],
          [2, 2, "Wrote 5000 records", 2, 2], "again", [2, 1, "Counting datasets ...", 2, 1]].forEach(function (step) {
            if (step === "again") {
                verify(!window.dataCopying)
                return window.copyDataClicked()
            }
            window.updateDataProgress(0, step[0], step[1], step[2])
            compare([bar.from, bar.to, bar.value, bar.text], [0, step[3], step[4], step[2]])
        })
    }

    function test_firmwareUpdate() {
        startWith([], oneUnit)
        window.dataCopying = true
        window.updateFirmwareClicked() // busy: no dialog
        verify(window.firmwareDialog === null)
        window.dataCopying = false
        ;["firmwareFileRejected", "firmwareFileChosen"].forEach(function (answer) {
            window.updateFirmwareClicked()
            window.firmwareDialog.close()
            window[answer]("file:///home/u/fw%20new/qvk-2.5.hex")
            compare(window.dataCopying, answer === "firmwareFileChosen")
        })
        compare(appController.calls, portCalls.concat(["updateFirmware:/dev/ttyUSB0|/home/u/fw new/qvk-2.5.hex"]))
        window.updateFirmwareProgress(0, 2, 2, "Success. Firmware updated.")
        verify(!window.dataCopying)
    }

    // A read sets the Date/Time field's clock running; an edit stops it.
    function test_dateRunsWithTheClock() {
        startWith([], oneUnit)
        var field = child("dateTimeField")
        window.updateCameraSettings("2.4.1", "60 %", "2024-02-29 23:59:59", 1, 1, 5, 90, 29)
        tryCompare(field, "text", "2024-03-01 00:00:00", 2000)
        field.forceActiveFocus()
        keyClick(Qt.Key_Backspace)
        wait(1100)
        compare(field.text, "2024-03-01 00:00:0")
    }
}
