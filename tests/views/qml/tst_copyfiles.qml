import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "CopyFiles"

    readonly property var threeCards: [drive("/media/u/A", "QVK_01"), drive("/media/u/B", "QVK_02"),
                                       drive("/media/u/C", "QVK_03")]

    function selections() {
        return [1, 2, 3].map(function (n) { return child("card" + n + "List").currentIndex })
    }

    function test_startupCalls() {
        appController.devices = [device("ttyUSB3", "PELORIN-7", "FTDI")]
        createWindow()
        compare(appController.calls, ["getDrives", "getDevices", "getTemplates",
                                      "getMoviesLocation", "getSettings", "setPort:ttyUSB3"])
        compare([child("filesDestinationField").text, child("dataDestinationField").text],
                ["/home/user/Videos", "/home/user/Videos"])
    }

    function test_cardPreselection_data() {
        return [
            { tag: "two labelled cards and DATA", selected: [0, 1, -1], copy: false,
              drives: [drive("E:/", "QVK_01"), drive("F:/", "QVK_02"), drive("G:/", "DATA")] },
            { tag: "three cards in any order", selected: [1, 2, 0], copy: true,
              drives: [drive("G:/", "QVK_03"), drive("E:/", "QVK_01"), drive("F:/", "QVK_02")] },
            { tag: "mount path carries the label", selected: [1, 0, -1], copy: false,
              drives: [drive("/media/u/QVK_02", "/media/u/QVK_02"), drive("/mnt/x", "QVK_01")] },
            { tag: "digit without QVK", selected: [-1, -1, -1], copy: false,
              drives: [drive("E:/", "CARD1"), drive("F:/", "CARD2"), drive("G:/", "CARD3")] }
        ]
    }

    function test_cardPreselection(data) {
        appController.drives = data.drives
        createWindow()
        compare(selections(), data.selected)
        compare(child("copyFilesButton").enabled, data.copy)
        if (data.selected[0] >= 0)
            compare(child("card1List").currentText, "QVK_01 (" + data.drives[data.selected[0]].key + ")")
    }

    // Every ready function and the button it enables, in the order
    // Copy Files, Erase Cards, Copy Data, Erase Memory, Connect, Save, Reset, Update Firmware.
    function test_readyFunctions_data() {
        var all = [true, true, true, true, true, true, true, true]
        return [
            { tag: "idle with cards and unit", ready: all },
            { tag: "no destination", destination: "",
              ready: [false, true, false, true, true, true, true, true] },
            { tag: "import running", flag: "cardTwoCopying",
              ready: [false, false, true, true, true, true, true, true] },
            { tag: "controller busy", flag: "dataCopying",
              ready: [true, true, false, false, false, false, false, false] },
            { tag: "two cards: no erase", drives: threeCards.slice(0, 2),
              ready: [false, false, true, true, true, true, true, true] },
            { tag: "nothing attached", drives: [], devices: [], ready: all.map(function () { return false }) }
        ]
    }

    function test_readyFunctions(data) {
        appController.drives = data.drives || threeCards
        appController.devices = data.devices || [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]
        createWindow()
        if (data.flag)
            window[data.flag] = true
        if (data.destination !== undefined)
            child("filesDestinationField").text = child("dataDestinationField").text = data.destination
        var names = ["CopyFiles", "EraseCards", "CopyData", "EraseMemory", "ReadSettings",
                     "SaveCameraSettings", "ResetCameraSettings", "UpdateFirmware"]
        compare(names.map(function (f) { return window["readyTo" + f]() }), data.ready)
        var buttons = ["copyFiles", "eraseCards", "copyData", "eraseMemory", "connect",
                       "saveSettings", "resetSettings", "updateFirmware"]
        compare(buttons.map(function (b) { return child(b + "Button").enabled }), data.ready)
    }

    function test_copyFilesClicked() {
        appController.drives = threeCards
        appController.templates = [drive("/t/one.kava", "one"), drive("/t/two.kava", "two")]
        createWindow()
        child("templateList").currentIndex = 1
        child("projectNameField").text = "Reef"
        appController.calls = []
        click("copyFilesButton")
        window.copyFilesClicked() // busy: starts nothing more
        compare(appController.calls,
                ["copyFiles:/media/u/A|/media/u/B|/media/u/C|/home/user/Videos|/t/two.kava|Reef|false"])
        verify(window.cardOneCopying && window.cardTwoCopying && window.cardThreeCopying)
    }

    // The box starts from the settings file (off when it holds nothing), keeps
    // each change there, and the import follows it.
    function test_skipImported_data() {
        return [
            { tag: "off by default", stored: undefined, checked: false, stores: "1" },
            { tag: "kept on", stored: "1", checked: true, stores: "0" }
        ]
    }

    function test_skipImported(data) {
        appController.drives = threeCards
        if (data.stored !== undefined)
            appController.stored.SkipImported = data.stored
        createWindow()
        compare(child("skipImportedBox").checked, data.checked)
        click("skipImportedBox")
        compare(appController.stored.SkipImported, data.stores)
        appController.calls = []
        click("copyFilesButton")
        compare(appController.calls,
                ["copyFiles:/media/u/A|/media/u/B|/media/u/C|/home/user/Videos|||" + !data.checked])
    }

    // A set-up that can only go wrong is refused in the information box; nothing starts.
    function test_copyFilesRefused() {
        appController.drives = threeCards
        createWindow()
        appController.importRefusal = "The destination /media/u/A/out lies on card 1 (/media/u/A)"
        appController.calls = []
        click("copyFilesButton")
        tryCompare(child("infoBox"), "visible", true)
        compare(child("infoBox").text, appController.importRefusal)
        compare(appController.calls, [])
        verify(!window.cardOneCopying && !window.cardTwoCopying && !window.cardThreeCopying)
    }

    function test_cardProgress_data() {
        return [
            { tag: "card 2 finished", report: [2, 0, 10, 10, "Card 2 done"],
              flags: [true, false, true], bar: "card2Progress" },
            { tag: "card 3 past its end", report: [3, 0, 1, 2, "Prepared."],
              flags: [true, true, false], bar: "card3Progress" },
            { tag: "unknown card", report: [4, 0, 10, 10, "?"], flags: [true, true, true] }
        ]
    }

    function test_cardProgress(data) {
        appController.drives = threeCards
        createWindow()
        window.copyFilesClicked()
        var r = data.report
        window.updateCardProgress(r[0], r[1], r[2], r[3], r[4])
        compare([window.cardOneCopying, window.cardTwoCopying, window.cardThreeCopying], data.flags)
        if (data.bar)
            compare([child(data.bar).to, child(data.bar).value, child(data.bar).text],
                    [r[2], Math.min(r[2], r[3]), r[4]])
    }

    function test_sourceFolderChosen_data() {
        return [
            { tag: "card 1, others unselected", drives: [drive("E:/", "DATA")], card: 1,
              before: [-1, -1, -1], after: [0, 0, 0] },
            { tag: "card 2, others keep their entries", card: 2,
              drives: [drive("E:/", "QVK_01"), drive("F:/", "QVK_03")],
              before: [0, -1, 1], after: [1, 0, 2] }
        ]
    }

    function test_sourceFolderChosen(data) {
        appController.drives = data.drives
        createWindow()
        compare(selections(), data.before)
        window.sourceFolderChosen(data.card, "file:///home/u/My%20Cards/day%231")
        compare(selections(), data.after)
        compare(child("card" + data.card + "List").currentText, "/home/u/My Cards/day#1")
    }

    function test_eraseCardsBox() {
        appController.drives = threeCards
        createWindow()
        appController.calls = []
        click("eraseCardsButton")
        tryCompare(child("eraseCardsBox"), "visible", true)
        child("eraseCardsCheck").checked = false
        child("syncConfigCheck").checked = true
        click("eraseCardsConfirmButton")
        tryCompare(child("eraseCardsBox"), "visible", false)
        compare(appController.calls, ["eraseCheck:/media/u/A|/media/u/B|/media/u/C",
                                      "eraseCards:/media/u/A|/media/u/B|/media/u/C|false|true"])
        // Preparing the cards is not an import: the card flags stay down.
        verify(!window.cardOneCopying)
    }

    // The box names each card and its verified copies; a wipe that would lose
    // files needs "Erase anyway" in a second box that names their number.
    // answers: the buttons pressed after "Erase"; sent: what reaches the
    // controller after eraseCheck.
    function test_eraseCardsBoxCounts_data() {
        var copied = { "/media/u/A": { "label": "QVK_01", "size": 31914983424, "files": 214, "verified": 214 },
                       "/media/u/B": { "label": "QVK_02", "size": 31914983424, "files": 214, "verified": 214 },
                       "/media/u/C": { "label": "QVK_03", "size": 63831015424, "files": 5, "verified": 5 } }
        var lacking = JSON.parse(JSON.stringify(copied))
        lacking["/media/u/B"].verified = 211
        var notVolume = JSON.parse(JSON.stringify(copied))
        notVolume["/media/u/C"] = { "label": "", "problem": "a folder, not the root of its volume (/media)",
                                    "files": -1, "verified": -1, "unreadable": -1 }
        var cards = "/media/u/A|/media/u/B|/media/u/C"
        return [
            { tag: "all copied and verified", checks: copied, answers: [],
              texts: ["Card 1 QVK_01: 214 of 214 files copied and verified",
                      "Card 2 QVK_02: 214 of 214 files copied and verified",
                      "Card 3 QVK_03: 5 of 5 files copied and verified"],
              place: "/media/u/C, 63.8 GB", sent: ["eraseCards:" + cards + "|true|true"] },
            { tag: "card 2 lacks copies, erased anyway", checks: lacking,
              answers: ["eraseCardsAnywayButton"],
              texts: ["Card 1 QVK_01: 214 of 214 files copied and verified",
                      "Card 2 QVK_02: 211 of 214 files copied and verified",
                      "Card 3 QVK_03: 5 of 5 files copied and verified"],
              loss: "3 media files have no verified copy and will be lost for good (Card 2 QVK_02: 3 files).",
              sent: ["eraseCardsForced:" + cards + "|true|true"] },
            { tag: "card 2 lacks copies, second box cancelled", checks: lacking,
              answers: ["eraseCardsLossCancelButton", "eraseCardsCancelButton"],
              loss: "3 media files have no verified copy", sent: [] },
            { tag: "card 2 lacks copies, not erased", checks: lacking, keepFiles: true, answers: [],
              sent: ["eraseCards:" + cards + "|false|true"] },
            { tag: "card 3 is a folder", checks: notVolume, answers: ["eraseCardsCancelButton"],
              texts: ["Card 1 QVK_01: 214 of 214 files copied and verified",
                      "Card 2 QVK_02: 214 of 214 files copied and verified",
                      "Card 3 /media/u/C: cannot be prepared: a folder, not the root of its volume (/media)"],
              eraseDisabled: true, sent: [] }
        ]
    }

    function test_eraseCardsBoxCounts(data) {
        appController.drives = threeCards
        appController.cardChecks = data.checks
        createWindow()
        appController.calls = []
        click("eraseCardsButton")
        tryCompare(child("eraseCardsBox"), "visible", true)
        if (data.texts)
            compare([1, 2, 3].map(function (n) { return child("eraseCardText" + n).text }), data.texts)
        if (data.place)
            compare(child("eraseCardPlace3").text, data.place)
        child("eraseCardsCheck").checked = !data.keepFiles
        compare(child("eraseCardsConfirmButton").enabled, !data.eraseDisabled)
        if (!data.eraseDisabled)
            click("eraseCardsConfirmButton")
        if (data.loss) {
            tryCompare(child("eraseCardsLossBox"), "visible", true)
            verify(child("eraseCardsLossText").text.indexOf(data.loss) === 0, child("eraseCardsLossText").text)
            compare(appController.calls.length, 1) // nothing sent before the second answer
        }
        data.answers.forEach(function (button) {
            click(button)
            tryCompare(child("eraseCardsLossBox"), "visible", false)
        })
        tryCompare(child("eraseCardsBox"), "visible", false)
        compare(child("eraseCardsLossBox").visible, false)
        compare(appController.calls, ["eraseCheck:" + "/media/u/A|/media/u/B|/media/u/C"].concat(data.sent))
    }

    function test_urlToPath_data() {
        return [
            { tag: "hash and percent", url: "file:///tmp/a%23b/50%25", path: "/tmp/a#b/50%" },
            { tag: "non-ASCII", url: "file:///tmp/%C3%BCber", path: "/tmp/\u00fcber" },
            { tag: "not escaped after all", url: "file:///tmp/100%", path: "/tmp/100%" }
        ]
    }

    function test_urlToPath(data) {
        createWindow()
        compare(window.urlToPath(data.url), data.path)
    }

    function test_closingRefusedWhileBusy_data() {
        return [
            { tag: "import on card 2", flag: "cardTwoCopying", says: "card 2" },
            { tag: "controller operation", flag: "dataCopying", says: "controller unit" }
        ]
    }

    function test_closingRefusedWhileBusy(data) {
        createWindow()
        window[data.flag] = true
        window.close()
        verify(window.visible)
        tryCompare(child("infoBox"), "visible", true)
        verify(child("infoBox").text.indexOf(data.says) >= 0, child("infoBox").text)
        window[data.flag] = false
        window.close()
        verify(!window.visible)
    }
}
