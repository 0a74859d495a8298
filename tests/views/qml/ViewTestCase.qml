import QtQuick 2.7
import QtTest 1.2

// A fresh main window per test, made after the fake controller got its data (the window reads it at start-up).
TestCase {
    property var window: null

    // Serves what a test gives it and records every call the view makes and every signal it sends, in order.
    property QtObject appController: QtObject {
        property var drives: []
        property var devices: []
        property var templates: []
        property var stored: ({})
        property var cardChecks: ({}) // eraseCheck's answer by path; none: a card without media files
        property var calls: []
        property int settingsUpdates: 0
        property string importRefusal: "" // what checkImportPaths answers
        property string templateProblem: "" // what checkTemplate answers for a template

        function reset() {
            drives = devices = templates = calls = []
            cardChecks = {}
            settingsUpdates = 0
            importRefusal = templateProblem = ""
            stored = { "Serialnumber": "000000", "OverwriteAngles": "1", "RadiansAngles": "0", "Camera1Roll": "-90",
                       "Camera2Yaw": "-0" }
        }
        function note(call) { calls = calls.concat([call]) }
        function getDrives() { note("getDrives"); return drives }
        function getDevices() { note("getDevices"); return devices }
        function getTemplates() { note("getTemplates"); return templates }
        function getMoviesLocation() { note("getMoviesLocation"); return "/home/user/Videos" }
        function getVersion() { return "1.8.3" }
        function getUnitSettingsSchema() { return unitSettingsSchema } // the real one
        function setPort(port) { note("setPort:" + port) }
        function checkImportPaths(card1, card2, card3, targetDir, templatePath) { return importRefusal }
        function checkTemplate(templatePath) { return templatePath ? templateProblem : "" }
        function eraseCheck(card1, card2, card3) {
            note("eraseCheck:" + [card1, card2, card3].join("|"))
            return [card1, card2, card3].map(function (path, i) {
                return Object.assign({ "card": i + 1, "path": path, "label": "", "size": 0, "problem": "", "wipeProblem": "",
                                       "files": 0, "verified": 0, "unreadable": 0 }, cardChecks[path])
            })
        }
        function getBackupDir() { return stored.BackupDir || "" }
        function setBackupDir(folder) { updateSettings({ "BackupDir": folder }) }
        function updateFirmware(port, path) { note("updateFirmware:" + port + "|" + path) }
        // Copies both ways, as the real controller's maps are.
        function getSettings() { note("getSettings"); return JSON.parse(JSON.stringify(stored)) }
        function updateSettings(map) {
            note("updateSettings")
            ++settingsUpdates
            stored = Object.assign(JSON.parse(JSON.stringify(stored)), map)
        }
        Component.onCompleted: reset()
    }
    readonly property var oneUnit: [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]

    function createWindow() {
        var component = Qt.createComponent("qrc:/views/Main.qml")
        if (component.status !== Component.Ready)
            fail(component.errorString())
        window = component.createObject(null)
        window.height = 920 // the design size, on any test screen
        waitForRendering(window.contentItem)
        ;["copyFiles", "copyData", "eraseCards", "eraseCardsForced", "prepareCards", "readCameraSettings",
          "saveCameraSettings", "resetCameraSettings", "eraseMemory", "eraseMemoryForced"].forEach(function (name) {
            window[name].connect(function () {
                appController.note(name + ":" + Array.prototype.slice.call(arguments).join("|"))
            })
        })
    }

    // A window over these drives and devices, its start-up calls forgotten.
    function startWith(drives, devices) {
        appController.drives = drives
        appController.devices = devices || []
        createWindow()
        appController.calls = []
    }

    function copyingFlags() { return [window.cardOneCopying, window.cardTwoCopying, window.cardThreeCopying] }

    function shownTexts(names) { return names.map(function (n) { return child(n).text }) }

    function child(name) {
        var item = findChild(window, name)
        return item !== null ? item : fail("no control named " + name)
    }

    // Clicks a control the way a user does: its tab is brought up first.
    function click(name) {
        var item = child(name)
        for (var p = item.parent; p; p = p.parent) {
            var page = ["copyFilesPage", "copyDataPage", "settingsPage"].indexOf(p.objectName)
            if (page >= 0 && child("tabBar").currentIndex !== page) {
                child("tabBar").currentIndex = page
                waitForRendering(p)
            }
        }
        verify(item.visible, name + " is not visible")
        mouseClick(item)
    }

    function drive(key, value) { return { "key": key, "value": value } }

    function device(name, serial, manufacturer) { return { "name": name, "serial": serial, "manufacturer": manufacturer } }

    function cleanup() {
        if (window)
            window.destroy()
        window = null
        appController.reset()
    }
}
