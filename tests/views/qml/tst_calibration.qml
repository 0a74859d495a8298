import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "Calibration"

    // Opens the dialog the way the "Change" button does, with the stand-in
    // service named in the settings (a final "/" that must not double the
    // request's) and the template's angles chosen.
    function openDialog(radians) {
        appController.stored.CalibrationServiceUrl = calibrationService.address() + "/"
        appController.stored.OverwriteAngles = "0"
        appController.stored.RadiansAngles = radians || "0"
        createWindow()
        click("changeAnglesButton")
        tryCompare(child("calibrationDialog"), "visible", true)
    }

    function download(serial) {
        child("serialField").text = serial
        click("downloadButton")
        tryCompare(child("calibrationDownload"), "pending", 0, 5000)
    }

    function test_defaultsThenCancelChangesNothing() {
        openDialog()
        click("defaultsButton")
        compare([child("Camera2YawField").text, child("Camera3YawField").text], ["120", "-120"])
        click("cancelCalibrationButton")
        tryCompare(child("calibrationDialog"), "visible", false)
        compare(appController.settingsUpdates, 0)
        click("changeAnglesButton")
        compare(child("Camera2YawField").text, "-0")
    }

    // Until a calibration is saved the projects keep the template's angles;
    // the dialog offers the rig's defaults, stored once saved.
    function test_noCalibrationSaved() {
        appController.stored = { "Serialnumber": "000000" }
        createWindow()
        compare(child("angleModeText").text, "Camera angles: from the template (no calibration saved)")
        click("changeAnglesButton")
        verify(child("overwriteBox").checked)
        click("saveCalibrationButton")
        compare([appController.stored.Camera3Yaw, appController.stored.OverwriteAngles], ["-120", "1"])
        compare(child("angleModeText").text, "Overwrite camera angles in template.")
    }

    // Cancel abandons a download on its way; meanwhile Download is disabled.
    function test_cancelAbandonsDownload() {
        openDialog()
        window.settings.CalibrationServiceUrl = silentServiceAddress
        child("serialField").text = "QVK100002"
        click("downloadButton")
        compare([child("downloadButton").enabled, child("downloadButton").text], [false, "Downloading ..."])
        click("cancelCalibrationButton")
        compare([child("calibrationDownload").pending, child("infoBox").visible, appController.settingsUpdates],
                [0, false, 0])
    }

    // expect: the settings stored afterwards (null: nothing stored);
    // message: the information box's text (null: no box).
    function test_download_data() {
        return [
            { tag: "known serial", serial: "QVK100002",
              message: "Calibration for serial number QVK100002 found.",
              expect: { "Serialnumber": "QVK100002", "Camera1Pitch": "-0.0105",
                        "Camera3OffsetY": "-0.3", "RadiansAngles": "1", "OverwriteAngles": "0" } },
            { tag: "unknown serial", serial: "NOPE", expect: null,
              message: "No calibration is known for the serial number NOPE." },
            { tag: "success without data", serial: "NODATA", expect: null, message: "No data." },
            { tag: "error page", serial: "BROKEN", expect: null, message: null,
              warning: /Calibration download: SyntaxError.*/ },
            { tag: "JSON null", serial: "NULL", expect: null, message: null,
              warning: "Calibration download: the answer is not an object" },
            { tag: "members missing keep their values", serial: "PARTIAL", message: "",
              expect: { "Camera1Yaw": "7.5", "Camera3OffsetY": "-2", "Camera1Roll": "-90" } },
            { tag: "members that are no values keep their fields", serial: "NESTED", message: "",
              expect: { "Camera1Yaw": "0", "Camera2Yaw": "-0", "Camera3Yaw": "-120", "Camera1Pitch": "0.25" } },
            { tag: "flag sent as text", serial: "TEXTFLAG0", stored: "1", message: "",
              expect: { "RadiansAngles": "0" } }
        ]
    }

    function test_download(data) {
        openDialog(data.stored)
        if (data.warning)
            ignoreWarning(data.warning)
        download(data.serial)
        if (data.message === null) {
            verify(!child("infoBox").visible)
        } else {
            tryCompare(child("infoBox"), "visible", true)
            compare(child("infoBox").text, data.message)
        }
        compare(appController.settingsUpdates, data.expect ? 1 : 0)
        for (var key in data.expect)
            compare(appController.stored[key], data.expect[key], key)
    }

    // sent: the request path after the service's (null: nothing sent).
    function test_serialStaysOnePathSegment_data() {
        return [
            { tag: "slash, query, fragment", serial: "1 2/34?x=1#y%", sent: "1%202%2F34%3Fx%3D1%23y%25",
              info: "No calibration is known for the serial number 1 2/34?x=1#y%." },
            { tag: "two dots", serial: "..", sent: null, info: "The serial number is not valid." },
            { tag: "empty", serial: "", sent: null, info: null }
        ]
    }

    function test_serialStaysOnePathSegment(data) {
        openDialog()
        var before = calibrationService.requestTargets()
        download(data.serial)
        if (data.info !== null)
            tryCompare(child("infoBox"), "text", data.info)
        var sent = data.sent === null ? [] : ["/api/v1/vazizidadu/calibration/" + data.sent]
        compare(calibrationService.requestTargets(), before.concat(sent))
        compare(child("infoBox").visible, data.info !== null)
    }

    // No answer: the box names the service that gave none, in bounded time.
    function test_serviceWithoutAnswer_data() {
        return [
            { tag: "nothing listens", address: closedServiceAddress, says: " cannot be reached." },
            { tag: "listens, never answers", address: silentServiceAddress, says: " did not answer." }
        ]
    }

    function test_serviceWithoutAnswer(data) {
        openDialog()
        window.settings.CalibrationServiceUrl = data.address + "/"
        child("calibrationDownload").timeout = 300
        ignoreWarning(/Calibration download: .*/)
        download("QVK100002")
        tryCompare(child("infoBox"), "visible", true)
        compare(child("infoBox").text, "The calibration service at " + data.address + data.says)
        compare(appController.settingsUpdates, 0)
    }
}
