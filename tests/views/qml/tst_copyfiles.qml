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

    // Paths that can only go wrong are refused in the information box; a
    // template that cannot be used only asks whether to copy without stitching
    // projects, and the cards' summaries then say there are none.
    function test_copyFilesChecked_data() {
        var copied = ["copyFiles:/media/u/A|/media/u/B|/media/u/C|/home/user/Videos|||false"]
        return [
            { tag: "destination on a card", refusal: "The destination /media/u/A/out lies on card 1 (/media/u/A)",
              sent: [] },
            { tag: "a card twice and a bad template", refusal: "Cards 1 and 2 are the same folder (/media/u/A)",
              problem: "cannot be read: Permission denied", sent: [] },
            { tag: "bad template, copied without", problem: "not a stitching template: it holds <pano>, not <kava>",
              answer: "noTemplateBoxConfirmButton", sent: copied },
            { tag: "bad template, cancelled", problem: "cannot be read: Permission denied",
              answer: "noTemplateBoxCancelButton", sent: [] }
        ]
    }

    function test_copyFilesChecked(data) {
        appController.drives = threeCards
        appController.templates = [drive("/t/Rig.kava", "Rig")]
        createWindow()
        appController.importRefusal = data.refusal || ""
        appController.templateProblem = data.problem || ""
        appController.calls = []
        click("copyFilesButton")
        if (data.refusal) {
            tryCompare(child("infoBox"), "visible", true)
            compare(child("infoBox").text, data.refusal)
        } else {
            tryCompare(child("noTemplateBox"), "visible", true)
            compare(child("noTemplateBoxQuestion").text, "The template /t/Rig.kava cannot be used (" + data.problem
                    + "). Copy the files without stitching projects?")
            compare(appController.calls, [])
            click(data.answer)
            tryCompare(child("noTemplateBox"), "visible", false)
        }
        compare(child(data.refusal ? "noTemplateBox" : "infoBox").visible, false)
        compare(appController.calls, data.sent)
        compare([window.cardOneCopying, window.cardTwoCopying, window.cardThreeCopying],
                [1, 2, 3].map(function () { return data.sent.length > 0 }))
        if (data.sent.length === 0)
            return
        var bar = child("card2Progress")
        window.updateCardProgress(2, 0, 4, 2, "Copying /media/u/B/V1.MOV")
        compare(bar.text, "Copying /media/u/B/V1.MOV")
        window.updateCardProgress(2, 0, 1, 1, "Copied 1/1 videos and 0/0 photos.")
        compare(bar.text, "Copied 1/1 videos and 0/0 photos. No stitching projects: the template could not be used.")
        window.updateCardProgress(2, 0, 2, 2, "Prepared.") // a later preparation of the card
        compare(bar.text, "Prepared.")
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
            { tag: "card 1, the lists without a selection take it too", drives: [drive("E:/", "DATA")], card: 1,
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

    // Cards may move to a folder another card reads (to swap two cards), but
    // while two read one folder nothing starts and a hint says which.
    function test_folderForTwoCards_data() {
        return [
            { tag: "chooser: the folder card 1 reads", card: 3, url: "file:///media/u/A",
              selected: [0, 1, 0], says: "Cards 1 and 3 both read /media/u/A." },
            { tag: "list: card 3 picks what card 1 shows", card: 3, pick: 0,
              selected: [0, 1, 0], says: "Cards 1 and 3 both read /media/u/A." },
            { tag: "chooser: a listed folder no card reads", card: 2, unselect: 2, url: "file:///media/u/C",
              selected: [0, 2, -1], says: "" },
            { tag: "list: a free entry", card: 2, unselect: 2, pick: 2, selected: [0, 2, -1], says: "" },
            { tag: "chooser: a new folder fills an empty list", card: 2, unselect: 2, url: "file:///home/u/x",
              selected: [1, 0, 0], says: "Cards 2 and 3 both read /home/u/x." }
        ]
    }

    function test_folderForTwoCards(data) {
        appController.drives = threeCards
        createWindow()
        if (data.unselect !== undefined)
            child("card" + (data.unselect + 1) + "List").currentIndex = -1
        if (data.url) {
            window.sourceFolderChosen(data.card, data.url)
        } else {
            var list = child("card" + data.card + "List")
            list.currentIndex = data.pick
            list.activated(data.pick)
        }
        compare(selections(), data.selected)
        compare(child("infoBox").visible, false)
        var hint = child("cardsHintText").text
        verify(data.says === "" ? hint === "" : hint.indexOf(data.says) === 0, hint)
        compare(child("copyFilesButton").enabled, data.says === "" && data.unselect === undefined)
        compare(child("eraseCardsButton").enabled, data.says === "" && data.unselect === undefined)
        if (data.says === "")
            return
        // Moving the other card away makes the cards usable again.
        child("card" + data.card + "List").currentIndex = 2
        compare(child("cardsHintText").text, "")
        verify(child("copyFilesButton").enabled)
    }

    function test_chosenFolderText_data() {
        var cardRoot = drive("/media/u/QVK_01", "QVK_01")
        return [
            { tag: "on a labelled volume", url: "file:///media/u/QVK_01/DCIM/100QVK",
              shown: "QVK_01 (/media/u/QVK_01/DCIM/100QVK)" },
            { tag: "a name that only begins alike", url: "file:///media/u/QVK_011/DCIM",
              shown: "/media/u/QVK_011/DCIM" },
            { tag: "on no listed volume", url: "file:///home/u/cards", shown: "/home/u/cards" }
        ].map(function (row) { row.drives = [cardRoot, drive("/media/u/OTHER", "/media/u/OTHER")]; return row })
    }

    function test_chosenFolderText(data) {
        appController.drives = data.drives
        createWindow()
        window.sourceFolderChosen(2, data.url)
        compare(child("card2List").currentText, data.shown)
    }

    // A closed list too narrow for its entry keeps both ends of it and shows
    // the whole entry as a tool tip.
    function test_longEntriesKeepTheirEnds_data() {
        var deep = "/media/user/a-volume-with-a-long-name/DCIM/2024-05-01 dive at the outer reef/QVK_0"
        return [
            { tag: "long folder", path: deep + "1", cut: true },
            { tag: "short folder", path: "/media/u/QVK_01", cut: false }
        ]
    }

    function test_longEntriesKeepTheirEnds(data) {
        createWindow()
        window.sourceFolderChosen(1, "file://" + data.path)
        var list = child("card1List")
        waitForRendering(list)
        var shown = list.contentItem
        compare(shown.truncated, data.cut)
        compare(list.toolTipText, data.cut ? data.path : "")
        if (data.cut) {
            verify(shown.width < shown.implicitWidth)
            compare(shown.elide, Text.ElideMiddle)
        }
    }

    // A card that ended without success fills its bar in the error colour; a
    // running or successful one fills it to where it got in the progress colour.
    function test_barColours_data() {
        return [
            { tag: "copying", report: [0, 4, 1, "Copying /media/u/A/V1.MOV"], failed: false },
            { tag: "file not copied", report: [0, 1, 1, "Copied 0/1 videos and 0/0 photos."],
              status: "incomplete", failed: true },
            { tag: "no source", report: [0, 0, 0, "Error: Please choose source"], status: "refused", failed: true },
            { tag: "summary", report: [0, 1, 1, "Copied 1/1 videos and 2/2 photos."], status: "succeeded",
              failed: false },
            { tag: "hash list not written", report: [0, 1, 1, "Copied 1/1 videos and 2/2 photos."],
              status: "succeeded", run: "failed", failed: true }
        ]
    }

    function test_barColours(data) {
        createWindow()
        var r = data.report
        window.updateCardProgress(2, r[0], r[1], r[2], r[3])
        if (data.status)
            window.cardOutcome(2, { status: data.status })
        if (data.run)
            window.importOutcome({ status: data.run })
        var bar = child("card2Progress")
        var fill = findChild(bar, "fill")
        waitForRendering(bar)
        compare(bar.failed, data.failed)
        compare(String(fill.color), data.failed ? "#b3261e" : "#00796b")
        compare(fill.width, data.failed ? fill.parent.width : bar.visualPosition * fill.parent.width)
    }

    // Byte reports at given times (ms): the card's bar shows throughput and
    // time left once half a second has passed, as qvkctl does, and nothing
    // once it is done.
    function test_timeLeft_data() {
        return [
            { tag: "too early to tell", reports: [[1, 0, 1e9, 0], [1, 2e7, 1e9, 400]], detail: "" },
            { tag: "seconds", reports: [[1, 0, 1e9, 0], [1, 1e8, 1e9, 4000]], detail: "25.0 MB/s, 36 s left" },
            { tag: "from the first report on", reports: [[1, 5e8, 1e10, 1000], [1, 1.5e9, 1e10, 11000]],
              detail: "100 MB/s, 1 min 25 s left" },
            { tag: "hours", reports: [[1, 0, 1e12, 0], [1, 1e9, 1e12, 10000]], detail: "100 MB/s, 2 h 46 min left" },
            { tag: "slow", reports: [[1, 0, 1e8, 0], [1, 4e6, 1e8, 8000]], detail: "500 kB/s, 3 min 12 s left" },
            { tag: "card done", reports: [[1, 0, 1e9, 0], [1, 5e8, 1e9, 5000], [1, 1e9, 1e9, 9000]], detail: "" },
            { tag: "another card's reports", reports: [[2, 0, 1e9, 0], [2, 5e8, 1e9, 5000]], detail: "" },
            { tag: "after the card's summary", end: true, reports: [[1, 0, 1e9, 0], [1, 5e8, 1e9, 5000]],
              detail: "" }
        ]
    }

    function test_timeLeft(data) {
        appController.drives = threeCards
        createWindow()
        window.copyFilesClicked()
        if (data.end)
            window.updateCardProgress(1, 0, 1, 1, "Copied 1/1 videos and 0/0 photos.")
        data.reports.forEach(function (r) { window.cardBytesAt(r[0], r[1], r[2], r[3]) })
        compare(child("card1Progress").detail, data.detail)
        compare(findChild(child("card1Progress"), "detailText").text, data.detail)
    }

    // A new import measures afresh, and a card's summary clears its detail.
    function test_timeLeftPerRun() {
        appController.drives = threeCards
        createWindow()
        window.copyFilesClicked()
        window.cardBytesAt(1, 0, 1e9, 0)
        window.updateCardProgress(1, 0, 3, 1, "Copying /media/u/A/V1.MOV")
        window.cardBytesAt(1, 5e8, 1e9, 5000)
        var bar = child("card1Progress")
        var fill = findChild(bar, "fill")
        verify(bar.detail !== "")
        // The fill follows the bytes, not the count of files.
        compare(fill.width, fill.parent.width / 2)
        ;[1, 2, 3].forEach(function (card) { window.updateCardProgress(card, 0, 1, 1, "Copied.") })
        compare([bar.detail, fill.width], ["", fill.parent.width])
        window.copyFilesClicked()
        window.cardBytesAt(1, 0, 1e9, 100000)
        window.cardBytesAt(1, 1e8, 1e9, 100300)
        compare(child("card1Progress").detail, "")
        window.cardBytesAt(1, 2e8, 1e9, 104000)
        compare(child("card1Progress").detail, "50.0 MB/s, 16 s left")
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
        var clip = JSON.parse(JSON.stringify(copied))
        clip["/media/u/A"].notImported = ["DCIM/x.MP4"]
        var notVolume = JSON.parse(JSON.stringify(copied))
        notVolume["/media/u/C"] = { "label": "", "wipeProblem": "a folder, not the root of its volume (/media)",
                                    "files": -1, "verified": -1, "unreadable": -1 }
        var cards = "/media/u/A|/media/u/B|/media/u/C"
        var texts = ["Card 1 QVK_01: 214 of 214 files copied and verified",
                     "Card 2 QVK_02: 214 of 214 files copied and verified",
                     "Card 3 QVK_03: 5 of 5 files copied and verified"]
        return [
            { tag: "all copied and verified", checks: copied, answers: [], texts: texts,
              place: "/media/u/C, 63.8 GB", sent: ["eraseCards:" + cards + "|true|true"] },
            { tag: "card 2 lacks copies, erased anyway", checks: lacking,
              answers: ["eraseCardsAnywayButton"],
              texts: [texts[0], "Card 2 QVK_02: 211 of 214 files copied and verified", texts[2]],
              loss: "3 media files have no verified copy and will be lost for good (Card 2 QVK_02: 3 files).",
              sent: ["eraseCardsForced:" + cards + "|true|true"] },
            { tag: "card 2 lacks copies, second box cancelled", checks: lacking,
              answers: ["eraseCardsLossCancelButton", "eraseCardsCancelButton"],
              loss: "3 media files have no verified copy", sent: [] },
            { tag: "card 2 lacks copies, not erased, no config", checks: lacking, keepFiles: true,
              noConfig: true, answers: [], sent: ["eraseCards:" + cards + "|false|false"] },
            { tag: "a file not imported, read again, erased anyway", checks: clip, reverify: true,
              answers: ["eraseCardsAnywayButton"],
              texts: ["Card 1 QVK_01: 214 of 214 files copied and verified, 1 file not imported",
                      "Card 2 QVK_02: 214 of 214 files copied and verified",
                      "Card 3 QVK_03: 5 of 5 files copied and verified"],
              loss: "1 file that is not imported will be wiped: DCIM/x.MP4 (card 1). Erase anyway?",
              sent: ["prepareCards:" + cards + "|true|true|true|true"] },
            { tag: "card 3 is a folder", checks: notVolume, answers: ["eraseCardsCancelButton"],
              texts: texts.slice(0, 2).concat(
                         ["Card 3 /media/u/C: cannot be erased: a folder, not the root of its volume (/media)"]),
              eraseDisabled: true, sent: [] },
            // Markers and the sync configuration may go to a folder.
            { tag: "card 3 is a folder, not erased", checks: notVolume, keepFiles: true, answers: [],
              sent: ["eraseCards:" + cards + "|false|true"] },
            { tag: "card 3 no card volume", answers: ["eraseCardsCancelButton"], eraseDisabled: true, keepFiles: true,
              checks: { "/media/u/C": { "problem": "the volume is read-only", "wipeProblem": "the volume is read-only" } },
              texts: ["Card 1 /media/u/A: 0 of 0 files copied and verified",
                      "Card 2 /media/u/B: 0 of 0 files copied and verified",
                      "Card 3 /media/u/C: cannot be prepared: the volume is read-only"], sent: [] }
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
        child("syncConfigCheck").checked = !data.noConfig
        child("reverifyCheck").checked = data.reverify === true
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
        verify(!window.cardOneCopying) // preparing the cards is not an import
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

    // The refusal follows what still runs and goes when nothing does; another
    // message in the box is left alone; with nothing running the window closes.
    function test_closeRefusalFollowsOperations() {
        appController.drives = threeCards
        createWindow()
        window.copyFilesClicked()
        window.close()
        var box = child("infoBox")
        tryCompare(box, "visible", true)
        compare(box.text, "Please wait until the copy from cards 1, 2 and 3 has finished.")
        window.updateCardProgress(2, 0, 1, 1, "Copied.")
        compare(box.text, "Please wait until the copy from cards 1 and 3 has finished.")
        window.updateDataProgress(0, 2, 1, "Counting datasets ...")
        window.updateCardProgress(1, 0, 1, 1, "Copied.")
        compare(box.text, "Please wait until the copy from card 3 and an operation on the controller unit has finished.")
        window.updateCardProgress(3, 0, 1, 1, "Copied.")
        window.updateDataProgress(0, 2, 2, "Success.")
        tryCompare(box, "visible", false)
        verify(window.visible)

        window.copyFilesClicked()
        window.close()
        tryCompare(box, "visible", true)
        window.showInfo("Something else.")
        ;[1, 2, 3].forEach(function (card) { window.updateCardProgress(card, 0, 1, 1, "Copied.") })
        compare([box.visible, box.text], [true, "Something else."])
        window.close() // nothing runs now
        verify(!window.visible)
    }
}
