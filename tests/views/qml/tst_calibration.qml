import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "Calibration"

    readonly property var keys: [
        "Camera1Yaw", "Camera2Yaw", "Camera3Yaw", "Camera1Pitch", "Camera2Pitch", "Camera3Pitch",
        "Camera1Roll", "Camera2Roll", "Camera3Roll", "Camera1OffsetX", "Camera2OffsetX",
        "Camera3OffsetX", "Camera1OffsetY", "Camera2OffsetY", "Camera3OffsetY"]

    function fieldTexts() {
        return keys.map(function (key) { return child(key + "Field").text })
    }

    function storedTexts() {
        var stored = appController.storedSettings
        return keys.map(function (key) { return stored[key] })
    }

    // Opens the dialog the way the "Change" button does, with the stand-in
    // service named in the settings.
    function openDialog(overrides) {
        var stored = appController.storedSettings
        stored["CalibrationServiceUrl"] = calibrationService.address()
        for (var key in overrides)
            stored[key] = overrides[key]
        appController.storedSettings = stored
        createWindow()
        click("changeAnglesButton")
        tryCompare(child("calibrationDialog"), "visible", true)
    }

    function test_openingShowsStoredValues() {
        openDialog({ "Serialnumber": "QVK777", "RadiansAngles": "1", "Camera2Roll": "-89.5" })
        compare(child("serialField").text, "QVK777")
        verify(child("radiansBox").checked)
        verify(child("overwriteBox").checked)
        compare(child("Camera2RollField").text, "-89.5")
        compare(fieldTexts(), storedTexts())
    }

    function test_defaultsThenCancelChangesNothing() {
        openDialog({})
        var before = appController.storedSettings
        click("defaultsButton")
        compare(fieldTexts(), ["0", "120", "-120", "0", "0", "0", "-90", "-90", "-90",
                               "-20", "-20", "-20", "0", "0", "0"])
        compare(child("serialField").text, "000000")
        click("cancelCalibrationButton")
        tryCompare(child("calibrationDialog"), "visible", false)
        compare(appController.settingsUpdates, 0)
        compare(appController.storedSettings, before)
        // Reopening shows the stored values again.
        click("changeAnglesButton")
        compare(child("Camera2YawField").text, "-0")
    }

    function test_saveStoresEveryField() {
        openDialog({ "ScaleFactor": "1.5" })
        child("serialField").text = "QVK123"
        child("Camera3OffsetYField").text = "4.25"
        child("radiansBox").checked = true
        child("overwriteBox").checked = false
        click("saveCalibrationButton")
        tryCompare(child("calibrationDialog"), "visible", false)
        var stored = appController.storedSettings
        compare(appController.settingsUpdates, 1)
        compare(stored["Serialnumber"], "QVK123")
        compare(stored["Camera3OffsetY"], "4.25")
        compare(stored["RadiansAngles"], "1")
        compare(stored["OverwriteAngles"], "0")
        compare(stored["ScaleFactor"], "1.5")
        compare(child("angleModeText").text, "Use camera angles from template.")
    }

    function test_fieldsFollowOverwriteBox() {
        openDialog({ "OverwriteAngles": "0" })
        var field = child("Camera1PitchField")
        verify(!field.enabled)
        verify(!child("radiansBox").enabled)
        compare(String(field.color), "#999999")
        // Defaults still fill the greyed fields.
        click("defaultsButton")
        compare(child("Camera3YawField").text, "-120")
        child("overwriteBox").checked = true
        verify(field.enabled)
        compare(String(field.color), "#ffffff")
    }

    function test_download_data() {
        return [
            { tag: "known serial", serial: "QVK100001", stored: true, radians: true,
              message: "Calibration for serial number QVK100001 found." },
            { tag: "unknown serial", serial: "NOPE", stored: false, radians: false,
              message: "No calibration is known for the serial number NOPE." },
            { tag: "success without data", serial: "NODATA", stored: false, radians: false,
              message: "No data today." },
            { tag: "error page", serial: "BROKEN", stored: false, radians: false, message: null,
              warning: /Calibration download: SyntaxError.*/ },
            { tag: "JSON null", serial: "NULL", stored: false, radians: false, message: null,
              warning: "Calibration download: the answer is not an object" }
        ]
    }

    function test_download(data) {
        openDialog({ "OverwriteAngles": "0" })
        var before = appController.storedSettings
        child("serialField").text = data.serial
        if (data.warning !== undefined)
            ignoreWarning(data.warning)
        click("downloadButton")
        tryCompare(window, "calibrationRequestsPending", 0, 5000)
        var info = child("infoBox")
        if (data.message === null) {
            verify(!info.visible)
        } else {
            tryCompare(info, "visible", true)
            compare(info.text, data.message)
        }
        var stored = appController.storedSettings
        if (data.stored) {
            compare(appController.settingsUpdates, 1)
            compare(stored["Serialnumber"], data.serial)
            compare(stored["Camera1Yaw"], "0.5")
            compare(stored["Camera1Pitch"], "1.75")
            compare(stored["Camera3OffsetY"], String(0.5 + 14 * 1.25))
            compare(stored["RadiansAngles"], "1")
            // The overwrite choice stays the user's.
            compare(stored["OverwriteAngles"], "0")
            compare(child("Camera1PitchField").text, "1.75")
        } else {
            compare(appController.settingsUpdates, 0)
            compare(stored, before)
        }
        compare(child("radiansBox").checked, data.radians)
    }

    function test_downloadKeepsFieldsTheAnswerLacks() {
        openDialog({})
        child("serialField").text = "PARTIAL"
        child("Camera2YawField").text = "118"
        click("downloadButton")
        tryCompare(window, "calibrationRequestsPending", 0, 5000)
        var stored = appController.storedSettings
        compare(stored["Camera1Yaw"], "7.5")
        compare(stored["Camera3OffsetY"], "-2")
        compare(stored["Camera2Yaw"], "118")
        compare(stored["Camera1Roll"], "-90")
        compare(stored["RadiansAngles"], "0")
        verify(storedTexts().indexOf("undefined") < 0)
    }

    function test_radiansFlagSentAsText_data() {
        return [
            { tag: "\"0\"", serial: "TEXTFLAG0", stored: "1", radians: "0" },
            { tag: "\"false\"", serial: "TEXTFLAGFALSE", stored: "1", radians: "0" },
            { tag: "\"1\"", serial: "TEXTFLAG1", stored: "0", radians: "1" }
        ]
    }

    function test_radiansFlagSentAsText(data) {
        openDialog({ "RadiansAngles": data.stored })
        child("serialField").text = data.serial
        click("downloadButton")
        tryCompare(window, "calibrationRequestsPending", 0, 5000)
        compare(appController.storedSettings["RadiansAngles"], data.radians)
    }

    function test_serialStaysOnePathSegment_data() {
        return [
            { tag: "slash and query", serial: "12/34?x=1", target: "12%2F34%3Fx%3D1" },
            { tag: "fragment and blank", serial: "a b#c", target: "a%20b%23c" },
            { tag: "percent", serial: "100%", target: "100%25" },
            { tag: "dots inside", serial: "..a", target: "..a" }
        ]
    }

    function test_serialStaysOnePathSegment(data) {
        openDialog({})
        var sent = calibrationService.requestTargets().length
        child("serialField").text = data.serial
        click("downloadButton")
        tryCompare(window, "calibrationRequestsPending", 0, 5000)
        var targets = calibrationService.requestTargets()
        compare(targets.length, sent + 1)
        compare(targets[sent], "/api/v1/vazizidadu/calibration/" + data.target)
        tryCompare(child("infoBox"), "visible", true)
        compare(child("infoBox").text,
                "No calibration is known for the serial number " + data.serial + ".")
    }

    function test_serialsThatSendNothing_data() {
        return [
            { tag: "empty", serial: "", info: false },
            { tag: "dot", serial: ".", info: true },
            { tag: "two dots", serial: "..", info: true }
        ]
    }

    function test_serialsThatSendNothing(data) {
        openDialog({})
        var sent = calibrationService.requestTargets().length
        child("serialField").text = data.serial
        click("downloadButton")
        compare(window.calibrationRequestsPending, 0)
        wait(50)
        compare(calibrationService.requestTargets().length, sent)
        compare(child("infoBox").visible, data.info)
        compare(appController.settingsUpdates, 0)
    }

    function test_serviceAddress_data() {
        return [
            { tag: "from the settings", base: "http://127.0.0.1:9/",
              url: "http://127.0.0.1:9/api/v1/vazizidadu/calibration/QVK%201" },
            { tag: "built-in default", base: undefined,
              url: "http://localhost:8765/api/v1/vazizidadu/calibration/QVK%201" }
        ]
    }

    function test_serviceAddress(data) {
        var stored = appController.storedSettings
        if (data.base !== undefined)
            stored["CalibrationServiceUrl"] = data.base
        appController.storedSettings = stored
        createWindow()
        compare(window.calibrationRequestUrl("QVK 1"), data.url)
    }
}
