import QtQuick 2.7
import QtTest 1.2

// What the tabs, boxes and file choosers ask for reaches the window, and what
// the window shows reaches them: the controls the other tests leave alone.
ViewTestCase {
    name: "PageWiring"

    readonly property var unit: device("/dev/ttyUSB0", "PELORIN42", "FTDI")

    function startWithCardsAndUnit() {
        appController.drives = [drive("/media/u/A", "QVK_01"), drive("/media/u/B", "QVK_02"),
                                drive("/media/u/C", "QVK_03")]
        appController.templates = [drive("/t/one.kava", "one")]
        appController.devices = [unit]
        createWindow()
        appController.calls = []
    }

    // box: opened by the first button and closed by the second, or by a key
    // (after focusing `focus`); a cancelled box sends nothing and locks
    // nothing. A box's default button, and Tab on a page, show the focus;
    // Escape cancels every confirmation, Enter presses the focused button or
    // else the default one (Cancel where the box destroys data).
    function test_buttons_data() {
        return [
            { tag: "Refresh Cards", buttons: ["refreshCardsButton"], calls: ["getDrives"] },
            { tag: "Refresh Templates", buttons: ["refreshTemplatesButton"], calls: ["getTemplates"] },
            { tag: "Refresh Devices on Copy Data", buttons: ["dataRefreshDevicesButton"],
              calls: ["getDevices"] },
            { tag: "Refresh Devices on Settings", buttons: ["settingsRefreshDevicesButton"],
              calls: ["getDevices"] },
            { tag: "erasing memory cancelled", box: "eraseMemoryBox",
              buttons: ["eraseMemoryButton", "eraseMemoryCancelButton"], calls: [] },
            { tag: "resetting settings cancelled", box: "resetSettingsBox",
              buttons: ["resetSettingsButton", "resetSettingsBoxCancelButton"], calls: [] },
            { tag: "firmware update cancelled", box: "updateFirmwareBox",
              buttons: ["updateFirmwareButton", "updateFirmwareBoxCancelButton"], calls: [] },
            { tag: "Escape, erase memory", box: "eraseMemoryBox", buttons: ["eraseMemoryButton", Qt.Key_Escape], calls: [] },
            { tag: "Escape, erase cards", box: "eraseCardsBox", buttons: ["eraseCardsButton", Qt.Key_Escape],
              calls: ["eraseCheck:/media/u/A|/media/u/B|/media/u/C"] },
            { tag: "Enter, reset: Cancel", box: "resetSettingsBox", buttons: ["resetSettingsButton", Qt.Key_Return], calls: [] },
            { tag: "Enter, save not read: Cancel", box: "unreadSaveBox", buttons: ["saveSettingsButton", Qt.Key_Enter],
              calls: [] },
            { tag: "Enter, Reset focused", box: "resetSettingsBox", buttons: ["resetSettingsButton", Qt.Key_Return],
              focus: "resetSettingsBoxConfirmButton", calls: ["setPort:/dev/ttyUSB0", "resetCameraSettings:/dev/ttyUSB0"] }
        ]
    }

    function test_buttons(data) {
        startWithCardsAndUnit()
        click(data.buttons[0])
        if (data.box) {
            tryCompare(child(data.box), "opened", true)
            verify(child("focusRing").visible, "no focus shown in the box")
            if (data.focus)
                child(data.focus).forceActiveFocus(Qt.TabFocusReason)
            typeof data.buttons[1] === "number" ? keyClick(data.buttons[1]) : click(data.buttons[1])
            tryCompare(child(data.box), "visible", false)
        }
        compare(appController.calls, data.calls)
        if (data.focus)
            return verify(window.dataCopying) // the wait box holds the keys
        verify(!window.dataCopying && !window.cardOneCopying && window.firmwareDialog === null)
        if (typeof data.buttons[1] !== "number")
            return
        keyClick(Qt.Key_Tab)
        var ring = child("focusRing"), focused = window.activeFocusItem, p = focused.mapToItem(ring.parent, 0, 0)
        compare([ring.visible, ring.x, ring.width], [true, p.x - 3, focused.width + 6])
    }

    // Each chooser answers with an existing folder or file, as its own "Ok"
    // would (url null: "Cancel"); shown: the controls' texts afterwards.
    function test_choosers_data() {
        var folder = Qt.resolvedUrl(".").toString(), file = Qt.resolvedUrl("tst_pagewiring.qml").toString()
        var folderPath = folder.substring("file://".length), filePath = file.substring("file://".length)
        return [
            { tag: "card 2 folder", button: "card2BrowseButton", dialog: "sourceFolderDialog",
              url: folder, shown: { "card2List": folderPath, "card1List": "QVK_01 (/media/u/A)" } },
            { tag: "Copy Files destination, followed by Copy Data", button: "filesDestinationBrowseButton",
              dialog: "destinationFolderDialog", url: folder,
              shown: { "filesDestinationField": folderPath, "dataDestinationField": folderPath } },
            { tag: "Copy Data destination alone", button: "dataDestinationBrowseButton",
              dialog: "destinationFolderDialog", url: folder,
              shown: { "filesDestinationField": "/home/user/Videos", "dataDestinationField": folderPath } },
            { tag: "template", button: "templateBrowseButton", dialog: "templateDialog", url: file,
              shown: { "templateList": filePath } },
            { tag: "firmware", button: "updateFirmwareButton", confirm: "updateFirmwareBoxConfirmButton",
              dialog: "firmwareDialog", url: file,
              calls: ["setPort:/dev/ttyUSB0", "updateFirmware:/dev/ttyUSB0|" + filePath] },
            { tag: "firmware chooser cancelled", button: "updateFirmwareButton",
              confirm: "updateFirmwareBoxConfirmButton", dialog: "firmwareDialog", url: null, calls: [] }
        ]
    }

    function test_choosers(data) {
        startWithCardsAndUnit()
        click(data.button)
        if (data.confirm) {
            tryCompare(child(data.confirm), "visible", true)
            click(data.confirm)
        }
        var dialog = window[data.dialog]
        verify(dialog !== null, data.dialog + " not made")
        if (typeof dialog.addSelection !== "function")
            skip("the platform's own file dialog is in use")
        if (data.url === null) {
            dialog.reject()
            verify(!window.dataCopying)
        } else {
            dialog.clearSelection()
            verify(dialog.addSelection(data.url), data.url)
            dialog.accept()
        }
        for (var name in data.shown) {
            var control = child(name)
            var text = control.currentText !== undefined ? control.currentText : control.text
            compare(text, data.shown[name], name)
        }
        compare(appController.calls, data.calls || [])
    }

    function test_typedFolderAndNameGoToCopyData() {
        startWithCardsAndUnit()
        window.requestActivate()
        tryCompare(window, "active", true)
        var fields = ["filesDestinationField", "projectNameField"]
        for (var i = 0; i < fields.length; ++i) {
            child(fields[i]).text = ""
            click(fields[i])
            keyClick(Qt.Key_A)
            keyClick(Qt.Key_B)
        }
        compare([child("dataDestinationField").text, child("dataProjectNameField").text], ["ab", "ab"])
        // Edits on Copy Data do not come back.
        child("dataDestinationField").text = "elsewhere"
        compare(child("filesDestinationField").text, "ab")
    }

    function test_calibrationButtons_data() {
        return [
            { tag: "Save stores what is shown", button: "saveCalibrationButton", updates: 1,
              field: "5", mode: "Use camera angles from template." },
            { tag: "Reset shows what is stored", button: "resetCalibrationButton", updates: 0,
              field: "-90", mode: "Overwrite camera angles in template." }
        ]
    }

    function test_calibrationButtons(data) {
        createWindow()
        click("changeAnglesButton")
        tryCompare(child("calibrationDialog"), "visible", true)
        child("Camera1RollField").text = "5"
        child("overwriteBox").checked = false
        click(data.button)
        compare(appController.settingsUpdates, data.updates)
        compare(child("Camera1RollField").text, data.field)
        compare(child("angleModeText").text, data.mode)
        tryCompare(child("calibrationDialog"), "visible", data.updates === 0)
    }

    function test_unitHints() {
        createWindow()
        var hint = "Please connect the camera with a Micro-USB cable and tap the record button twice."
        compare([child("dataHintText").text, child("settingsHintText").text], [hint, hint])
        appController.devices = [unit]
        click("settingsRefreshDevicesButton")
        compare([child("dataHintText").text, child("settingsHintText").text], ["", ""])
        child("dataDeviceList").currentIndex = -1 // each tab follows its own choice
        compare([child("dataHintText").text, child("settingsHintText").text], [hint, ""])
    }
}
