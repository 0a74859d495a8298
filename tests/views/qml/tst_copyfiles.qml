import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "CopyFiles"

    SignalSpy {
        id: copyFilesSpy
        signalName: "copyFiles"
    }

    SignalSpy {
        id: eraseCardsSpy
        signalName: "eraseCards"
    }

    function selections() {
        return [child("card1List").currentIndex, child("card2List").currentIndex,
                child("card3List").currentIndex]
    }

    function startWithThreeCards() {
        appController.drives = [drive("/media/u/A", "QVK_01"), drive("/media/u/B", "QVK_02"),
                                drive("/media/u/C", "QVK_03")]
        appController.templates = [{ "key": "/t/one.kava", "value": "one" },
                                   { "key": "/t/two.kava", "value": "two" }]
        createWindow()
        copyFilesSpy.clear()
        copyFilesSpy.target = window
        eraseCardsSpy.clear()
        eraseCardsSpy.target = window
    }

    function test_startupCalls() {
        appController.devices = [device("ttyUSB3", "PELORIN-7", "FTDI")]
        createWindow()
        compare(appController.calls, ["getDrives", "getDevices", "getTemplates",
                                      "getMoviesLocation", "getSettings", "setPort:ttyUSB3"])
        compare(child("versionText").text, "Version 1.8.3")
        compare(child("filesDestinationField").text, "/home/user/Videos")
        compare(child("dataDestinationField").text, "/home/user/Videos")
        compare(child("templateList").currentIndex, -1)
    }

    function test_cardPreselection_data() {
        return [
            { tag: "two labelled cards and DATA",
              drives: [drive("E:/", "QVK_01"), drive("F:/", "QVK_02"), drive("G:/", "DATA")],
              selected: [0, 1, -1], copyEnabled: false, eraseEnabled: true },
            { tag: "three cards in any order",
              drives: [drive("G:/", "QVK_03"), drive("E:/", "QVK_01"), drive("F:/", "QVK_02")],
              selected: [1, 2, 0], copyEnabled: true, eraseEnabled: true },
            { tag: "mount path carries the label",
              drives: [drive("/media/u/QVK_02", "/media/u/QVK_02"), drive("/mnt/x", "QVK_01")],
              selected: [1, 0, -1], copyEnabled: false, eraseEnabled: true },
            { tag: "a later card wins",
              drives: [drive("E:/", "QVK_01"), drive("F:/", "QVK_1")],
              selected: [1, -1, -1], copyEnabled: false, eraseEnabled: true },
            { tag: "digit without QVK",
              drives: [drive("E:/", "CARD1"), drive("F:/", "CARD2"), drive("G:/", "CARD3")],
              selected: [-1, -1, -1], copyEnabled: false, eraseEnabled: false },
            { tag: "no drives", drives: [], selected: [-1, -1, -1],
              copyEnabled: false, eraseEnabled: false }
        ]
    }

    function test_cardPreselection(data) {
        appController.drives = data.drives
        createWindow()
        compare(selections(), data.selected)
        compare(child("copyFilesButton").enabled, data.copyEnabled)
        compare(child("eraseCardsButton").enabled, data.eraseEnabled)
        compare(window.drives.length, data.drives.length)
        for (var i = 0; i < 3; ++i) {
            var list = child("card" + (i + 1) + "List")
            compare(list.count, data.drives.length)
            if (data.selected[i] >= 0) {
                var shown = data.drives[data.selected[i]]
                compare(list.currentText, shown.value + " (" + shown.key + ")")
            }
        }
    }

    function test_emptyDestinationDisablesCopyOnly() {
        startWithThreeCards()
        verify(child("copyFilesButton").enabled)
        child("filesDestinationField").text = ""
        verify(!child("copyFilesButton").enabled)
        verify(child("eraseCardsButton").enabled)
    }

    function test_copyFilesClicked() {
        startWithThreeCards()
        child("templateList").currentIndex = 1
        child("projectNameField").text = "Reef"
        click("copyFilesButton")
        compare(copyFilesSpy.count, 1)
        compare(argumentsOf(copyFilesSpy, 0),
                ["/media/u/A", "/media/u/B", "/media/u/C", "/home/user/Videos",
                 "/t/two.kava", "Reef"])
        verify(window.cardOneCopying && window.cardTwoCopying && window.cardThreeCopying)
        verify(!child("copyFilesButton").enabled)
        verify(!child("eraseCardsButton").enabled)
        verify(!child("exitButton").enabled)
        // A second click while busy starts nothing.
        window.copyFilesClicked()
        compare(copyFilesSpy.count, 1)
    }

    function test_cardProgress_data() {
        return [
            { tag: "card 2 finished", report: [2, 0, 10, 10, "Card 2 done"],
              flags: [true, false, true], bar: "card2Progress", value: 10, to: 10 },
            { tag: "card 1 running", report: [1, 0, 5, 2, "Copying 2 of 5 ..."],
              flags: [true, true, true], bar: "card1Progress", value: 2, to: 5 },
            { tag: "card 3 past its end", report: [3, 0, 1, 2, "Prepared."],
              flags: [true, true, false], bar: "card3Progress", value: 1, to: 1 },
            { tag: "unknown card", report: [4, 0, 10, 10, "?"],
              flags: [true, true, true], bar: "", value: 0, to: 0 }
        ]
    }

    function test_cardProgress(data) {
        startWithThreeCards()
        window.copyFilesClicked()
        var r = data.report
        window.updateCardProgress(r[0], r[1], r[2], r[3], r[4])
        compare([window.cardOneCopying, window.cardTwoCopying, window.cardThreeCopying],
                data.flags)
        if (data.bar !== "") {
            var bar = child(data.bar)
            compare(bar.to, data.to)
            compare(bar.value, data.value)
            compare(bar.text, r[4])
        }
        verify(!child("copyFilesButton").enabled)
        for (var card = 1; card <= 3; ++card)
            window.updateCardProgress(card, 0, 3, 3, "Done")
        verify(child("copyFilesButton").enabled)
        verify(child("exitButton").enabled)
    }

    function test_sourceFolderChosen_data() {
        return [
            { tag: "card 1, others unselected", drives: [drive("E:/", "DATA")], card: 1,
              before: [-1, -1, -1], after: [0, 0, 0] },
            { tag: "card 2, others keep their entries",
              drives: [drive("E:/", "QVK_01"), drive("F:/", "QVK_03")], card: 2,
              before: [0, -1, 1], after: [1, 0, 2] },
            { tag: "card 3 replaces its own pick",
              drives: [drive("E:/", "QVK_01"), drive("F:/", "QVK_02"), drive("G:/", "QVK_03")],
              card: 3, before: [0, 1, 2], after: [1, 2, 0] }
        ]
    }

    function test_sourceFolderChosen(data) {
        appController.drives = data.drives
        createWindow()
        compare(selections(), data.before)
        var shownBefore = [child("card1List").currentText, child("card2List").currentText,
                           child("card3List").currentText]
        window.sourceFolderChosen(data.card, "file:///home/u/My%20Cards/day%231")
        compare(selections(), data.after)
        compare(window.drives.length, data.drives.length + 1)
        compare(window.drives[0].key, "/home/u/My Cards/day#1")
        compare(child("card" + data.card + "List").currentText, "/home/u/My Cards/day#1")
        for (var i = 0; i < 3; ++i) {
            if (i !== data.card - 1 && data.before[i] >= 0)
                compare(child("card" + (i + 1) + "List").currentText, shownBefore[i])
        }
    }

    function test_copyUsesChosenFolder() {
        appController.drives = [drive("E:/", "QVK_01"), drive("F:/", "QVK_02")]
        createWindow()
        copyFilesSpy.clear()
        copyFilesSpy.target = window
        window.sourceFolderChosen(3, "file:///data/card3")
        window.copyFilesClicked()
        compare(copyFilesSpy.count, 1)
        compare(argumentsOf(copyFilesSpy, 0).slice(0, 3), ["E:/", "F:/", "/data/card3"])
    }

    function test_templateFileChosen() {
        appController.templates = [{ "key": "/t/one.kava", "value": "one" }]
        createWindow()
        window.templateFileChosen("file:///home/u/Templates/rig.kava")
        var list = child("templateList")
        compare(list.currentIndex, 0)
        compare(list.currentText, "/home/u/Templates/rig.kava")
        compare(list.count, 2)
        compare(window.templates[0].key, "/home/u/Templates/rig.kava")
        compare(window.templates[1].key, "/t/one.kava")
    }

    function test_destinationFollowsOneWay() {
        createWindow()
        var files = child("filesDestinationField")
        var data = child("dataDestinationField")
        files.text = ""
        typeInto("filesDestinationField", "x")
        compare(data.text, "x")
        typeInto("projectNameField", "p")
        compare(child("dataProjectNameField").text, "p")
        child("tabBar").currentIndex = 1
        typeInto("dataDestinationField", "y")
        compare(data.text, "xy")
        compare(files.text, "x")
    }

    function test_destinationFolderChosen_data() {
        return [
            { tag: "Copy Files destination", forCopyFiles: true,
              files: "/media/out", data: "/media/out" },
            { tag: "Copy Data destination", forCopyFiles: false,
              files: "/home/user/Videos", data: "/media/out" }
        ]
    }

    function test_destinationFolderChosen(data) {
        createWindow()
        window.destinationFolderChosen(data.forCopyFiles, "file:///media/out")
        compare(child("filesDestinationField").text, data.files)
        compare(child("dataDestinationField").text, data.data)
    }

    function test_eraseCardsBox_data() {
        return [
            { tag: "erase and configure", erase: true, sync: true, button: "eraseCardsConfirmButton",
              expected: [["/media/u/A", "/media/u/B", "/media/u/C", true, true]] },
            { tag: "configure only", erase: false, sync: true, button: "eraseCardsConfirmButton",
              expected: [["/media/u/A", "/media/u/B", "/media/u/C", false, true]] },
            { tag: "cancel", erase: true, sync: true, button: "eraseCardsCancelButton",
              expected: [] }
        ]
    }

    function test_eraseCardsBox(data) {
        startWithThreeCards()
        click("eraseCardsButton")
        var box = child("eraseCardsBox")
        tryCompare(box, "visible", true)
        child("eraseCardsCheck").checked = data.erase
        child("syncConfigCheck").checked = data.sync
        click(data.button)
        tryCompare(box, "visible", false)
        compare(eraseCardsSpy.count, data.expected.length)
        if (data.expected.length > 0)
            compare(argumentsOf(eraseCardsSpy, 0), data.expected[0])
        // Preparing the cards is not an import: the card flags stay down.
        verify(!window.cardOneCopying)
        // The boxes keep their state for the next time.
        compare(child("eraseCardsCheck").checked, data.erase)
    }

    function test_angleModeText_data() {
        return [
            { tag: "overwrite", value: "1", text: "Overwrite camera angles in template." },
            { tag: "from template", value: "0", text: "Use camera angles from template." },
            { tag: "absent", value: undefined, text: "Use camera angles from template." }
        ]
    }

    function test_angleModeText(data) {
        var stored = appController.storedSettings
        if (data.value === undefined)
            delete stored["OverwriteAngles"]
        else
            stored["OverwriteAngles"] = data.value
        appController.storedSettings = stored
        createWindow()
        compare(child("angleModeText").text, data.text)
    }

    function test_urlToPath_data() {
        return [
            { tag: "plain", url: "file:///home/u/Movies", path: "/home/u/Movies" },
            { tag: "blank escaped", url: "file:///home/u/My%20Movies", path: "/home/u/My Movies" },
            { tag: "hash and percent", url: "file:///tmp/a%23b/50%25", path: "/tmp/a#b/50%" },
            { tag: "non-ASCII", url: "file:///tmp/%C3%BCber", path: "/tmp/\u00fcber" },
            { tag: "not escaped after all", url: "file:///tmp/100%", path: "/tmp/100%" },
            { tag: "no scheme", url: "/already/a/path", path: "/already/a/path" }
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
        var box = child("infoBox")
        tryCompare(box, "visible", true)
        verify(box.text.indexOf(data.says) >= 0, box.text)
        window[data.flag] = false
        window.close()
        verify(!window.visible)
    }
}
