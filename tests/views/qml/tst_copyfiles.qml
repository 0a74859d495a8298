import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "CopyFiles"

    readonly property var threeCards: volumes(["/media/u/A QVK_01", "/media/u/B QVK_02", "/media/u/C QVK_03"])
    readonly property string cardPaths: "/media/u/A|/media/u/B|/media/u/C"

    function selections() { return [1, 2, 3].map(function (n) { return child("card" + n + "List").currentIndex }) }

    // Drives from "path label" texts.
    function volumes(texts) { return texts.map(function (t) { return drive(t.split(" ")[0], t.split(" ")[1]) }) }

    function test_startupCalls() {
        appController.devices = [device("ttyUSB3", "PELORIN-7", "FTDI")]
        createWindow()
        compare(appController.calls, "getDrives getDevices getTemplates getMoviesLocation getSettings setPort:ttyUSB3".split(" "))
    }

    // ready: "1" where the function and its button are ready, in the order below.
    function test_readyFunctions_data() {
        return [
            { tag: "idle with cards and unit", ready: "11111111" },
            { tag: "no destination", destination: "", ready: "01011111" },
            { tag: "import running", flag: "cardTwoCopying", ready: "00111111" },
            { tag: "controller busy", flag: "dataCopying", ready: "11000000" },
            { tag: "two cards: no erase", drives: threeCards.slice(0, 2), ready: "00111111" },
            { tag: "nothing attached", drives: [], devices: [], ready: "00000000" }
        ]
    }

    function test_readyFunctions(data) {
        startWith(data.drives || threeCards, data.devices || oneUnit)
        if (data.flag)
            window[data.flag] = true
        if (data.destination !== undefined)
            child("filesDestinationField").text = child("dataDestinationField").text = data.destination
        var ready = data.ready.split("").map(function (c) { return c === "1" })
        compare(["CopyFiles", "EraseCards", "CopyData", "EraseMemory", "ReadSettings", "SaveCameraSettings",
                 "ResetCameraSettings", "UpdateFirmware"].map(function (f) { return window["readyTo" + f]() }), ready)
        compare(["copyFiles", "eraseCards", "copyData", "eraseMemory", "connect", "saveSettings", "resetSettings",
                 "updateFirmware"].map(function (b) { return child(b + "Button").enabled }), ready)
    }

    // The skip box starts from the settings file (off if it holds nothing) and keeps each change there; the
    // import follows it, takes the chosen template and project, and starts once. Bad paths are refused; an
    // unusable template only asks whether to copy without stitching projects, and the summaries say so.
    function test_copyFiles_data() {
        var sent = "copyFiles:" + cardPaths + "|/home/user/Videos|", unreadable = "cannot be read: Permission denied"
        return [
            { tag: "skip box off by default", sent: sent + "/t/two.kava|Reef|true" },
            { tag: "skip box kept on", stored: "1", sent: sent + "/t/two.kava|Reef|false" },
            { tag: "backup folder chosen, kept over a restart", backup: "/media/u/Backup 2",
              sent: sent + "/t/two.kava|Reef|true" },
            { tag: "card twice, bad template", refusal: "Cards 1 and 2 are the same folder (/media/u/A)", problem: unreadable },
            { tag: "bad template, copied without", problem: "not a stitching template: it holds <pano>, not <kava>",
              answer: "noTemplateBoxConfirmButton", sent: sent + "|Reef|true" },
            { tag: "bad template, cancelled", problem: unreadable, answer: "noTemplateBoxCancelButton" }
        ]
    }

    function test_copyFiles(data) {
        appController.templates = [drive("/t/one.kava", "one"), drive("/t/two.kava", "two")]
        if (data.stored)
            appController.stored.SkipImported = data.stored
        if (data.backup) { // chosen in one window, shown by the next
            startWith(threeCards)
            window.backupFolderChosen("file://" + encodeURIComponent(data.backup).replace(/%2F/g, "/"))
            window.destroy()
        }
        startWith(threeCards)
        compare(child("backupFolderField").text, data.backup || "")
        child("templateList").currentIndex = 1
        child("projectNameField").text = "Reef"
        compare(child("skipImportedBox").checked, data.stored === "1")
        click("skipImportedBox")
        compare(appController.stored.SkipImported, data.stored === "1" ? "0" : "1")
        appController.importRefusal = data.refusal || ""
        appController.templateProblem = data.problem || ""
        appController.calls = []
        click("copyFilesButton")
        if (data.refusal) {
            tryCompare(child("infoBox"), "visible", true)
            compare([child("infoBox").text, child("noTemplateBox").visible], [data.refusal, false])
        } else if (data.problem) {
            tryCompare(child("noTemplateBox"), "visible", true)
            compare(child("noTemplateBoxQuestion").text, "The template /t/two.kava cannot be used (" + data.problem
                    + "). Copy the files without stitching projects?")
            compare(appController.calls, [])
            click(data.answer)
            tryCompare(child("noTemplateBox"), "visible", false)
            compare(child("infoBox").visible, false)
        }
        if (data.sent)
            window.copyFilesClicked() // busy: starts nothing more
        compare(appController.calls, data.sent ? [data.sent] : [])
        compare(copyingFlags(), [!!data.sent, !!data.sent, !!data.sent])
        if (!data.sent || !data.problem)
            return
        window.updateCardProgress(2, 0, 1, 1, "Copied 1/1 videos and 0/0 photos.")
        compare(child("card2Progress").text,
                "Copied 1/1 videos and 0/0 photos. No stitching projects: the template could not be used.")
        window.updateCardProgress(2, 0, 2, 2, "Prepared.") // a later preparation of the card
        compare(child("card2Progress").text, "Prepared.")
    }

    // Progress (card, from, to, value, text) moves a card's bar, ending the card at its end. Bytes (card, bytes,
    // total, ms) show throughput and time left after half a second, as qvkctl does, and nothing once done; the
    // fill follows them, not the count of files. A card's outcome (a status, or a map with its counts) gives
    // its summary, which wraps rather than lose words; one that ended without success ("run failed" too)
    // fills its bar in the error colour. "again": a new import, measured afresh. Checked: the last bar reported.
    function test_cardBars_data() {
        var files = [1, 0, 3, 1, "Copying /media/u/A/V1.MOV"], done = [1, 0, 1, 1, "Copied 1/1 videos and 0/0 photos."]
        var half = [[1, 0, 1e9, 0], [1, 5e8, 1e9, 5000]], summary = [2, 0, 1, 1, "Copied 1/1 videos and 2/2 photos."]
        var copied = { status: "succeeded", videos: 1, videosCopied: 1, photos: 2, photosCopied: 2 }
        return [
            { tag: "copying", steps: [[2, 0, 4, 1, "Copying /media/u/B/V1.MOV"]], flags: [true, true, true], fill: 0.25 },
            { tag: "card 2 at its end", steps: [[2, 0, 10, 10, "Card 2 done"]], flags: [true, false, true], fill: 1 },
            { tag: "card 3 past its end", steps: [[3, 0, 1, 2, "Prepared."]], flags: [true, true, false], fill: 1 },
            { tag: "unknown card", steps: [[4, 0, 10, 10, "?"]], flags: [true, true, true] },
            { tag: "file not copied", steps: [summary, { status: "incomplete", videos: 5, videosCopied: 4, photos: 2,
                                                         photosCopied: 2 }],
              failed: true, text: "Copied 4/5 videos and 2/2 photos. Not copied: 1 video." },
            { tag: "card unreadable", steps: [summary, { status: "incomplete", unreadable: 1 }], failed: true,
              text: "Copied 0/0 videos and 0/0 photos. 1 folder or file on the card could not be read." },
            { tag: "all already imported", steps: [summary, { status: "succeeded", videos: 4, videosCopied: 4, photos: 2,
                                                              photosCopied: 2, alreadyImported: 6 }],
              text: "Copied 4/4 videos and 2/2 photos. 6 already imported." },
            { tag: "two destinations, the backup short", steps: [[1, 0, 1, 1, "Copied 1/1 videos to /a; 0/1 videos to /b."],
                                                             { status: "incomplete", videos: 1, destinations: [{ path: "/a" }, { path: "/b" }] }],
              failed: true, text: "Copied 1/1 videos to /a; 0/1 videos to /b." },
            { tag: "no source", steps: [[2, 0, 0, 0, "Error: Please choose source"], "refused"], failed: true },
            { tag: "summary", steps: [summary, copied], fill: 1 },
            { tag: "hash list not written", steps: [summary, copied, "run failed"], failed: true },
            { tag: "too early to tell", steps: [[1, 0, 1e9, 0], [1, 2e7, 1e9, 400]] },
            { tag: "seconds", steps: [[1, 0, 1e9, 0], [1, 1e8, 1e9, 4000]], detail: "25.0 MB/s, 36 s left" },
            { tag: "first report", steps: [[1, 5e8, 1e10, 1000], [1, 1.5e9, 1e10, 11000]], detail: "100 MB/s, 1 min 25 s left" },
            { tag: "hours", steps: [[1, 0, 1e12, 0], [1, 1e9, 1e12, 10000]], detail: "100 MB/s, 2 h 46 min left" },
            { tag: "slow", steps: [[1, 0, 1e8, 0], [1, 4e6, 1e8, 8000]], detail: "500 kB/s, 3 min 12 s left" },
            { tag: "card done", steps: half.concat([[1, 1e9, 1e9, 9000]]) },
            { tag: "another card's bytes", steps: [[2, 0, 1e9, 0], [2, 5e8, 1e9, 5000]] },
            { tag: "bytes after the card's summary", steps: [done].concat(half) },
            { tag: "fill by bytes", steps: [files].concat(half), detail: "100 MB/s, 5 s left", fill: 0.5 },
            { tag: "the summary fills and clears", steps: [files].concat(half, [done]), fill: 1 },
            { tag: "a new import measures afresh", detail: "50.0 MB/s, 16 s left",
              steps: half.concat(["again", [1, 0, 1e9, 100000], [1, 2e8, 1e9, 104000]]) }
        ]
    }

    function test_cardBars(data) {
        startWith(threeCards)
        window.copyFilesClicked()
        var last = null
        data.steps.forEach(function (s) {
            if (s === "again") {
                [1, 2, 3].forEach(function (card) { window.updateCardProgress(card, 0, 1, 1, "Copied.") })
                window.copyFilesClicked()
            } else if (s === "run failed") {
                window.importOutcome({ status: "failed" })
            } else if (typeof s === "string" || s.status) {
                window.cardOutcome(last[0], s.status ? s : { status: s })
            } else if (s.length === 5) {
                last = s
                window.updateCardProgress(s[0], s[1], s[2], s[3], s[4])
            } else {
                window.cardBytesAt(s[0], s[1], s[2], s[3])
            }
        })
        if (data.flags)
            compare(copyingFlags(), data.flags)
        var bar = findChild(window, "card" + (last ? last[0] : 1) + "Progress")
        if (!bar)
            return
        var fill = findChild(bar, "fill"), failed = data.failed === true
        waitForRendering(bar)
        compare([bar.detail, findChild(bar, "detailText").text, bar.failed, String(fill.color)],
                [data.detail || "", data.detail || "", failed, failed ? "#b3261e" : "#00796b"])
        if (last)
            compare([bar.to, bar.value, bar.text], [last[2], Math.min(last[2], last[3]), data.text || last[4]])
        verify(!bar.ended || !findChild(bar, "statusLine").truncated, bar.text)
        if (failed || data.fill !== undefined)
            compare(fill.width, (failed ? 1 : data.fill) * fill.parent.width)
    }

    // Cards are preselected by their labels. A chosen folder's URL is decoded and shown with the label of
    // the volume it lies on; the lists without a selection take it too, the others keep their entries. A
    // closed list too narrow for its entry keeps both ends of it and shows the whole entry as a tool tip.
    function test_cardLists_data() {
        var url = "file:///home/u/My%20Cards/day%231", labelled = ["/media/u/QVK_01 QVK_01", "/media/u/OTHER /media/u/OTHER"]
        var other = " Please choose another folder for one of them.", twice = "Cards 1 and 3 both read /media/u/A." + other
        var deep = "/media/user/a-volume-with-a-long-name/DCIM/2024-05-01 dive at the outer reef/QVK_01"
        return [
            { tag: "two labelled cards and DATA", drives: ["E:/ QVK_01", "F:/ QVK_02", "G:/ DATA"], selected: [0, 1, -1],
              shown: "QVK_01 (E:/)" },
            { tag: "three cards in any order", drives: ["G:/ QVK_03", "E:/ QVK_01", "F:/ QVK_02"], selected: [1, 2, 0],
              shown: "QVK_01 (E:/)" },
            { tag: "mount path carries the label", drives: ["/media/u/QVK_02 /media/u/QVK_02", "/mnt/x QVK_01"],
              selected: [1, 0, -1], shown: "QVK_01 (/mnt/x)" },
            { tag: "digit without QVK", drives: ["E:/ CARD1", "F:/ CARD2", "G:/ CARD3"], selected: [-1, -1, -1], shown: "" },
            { tag: "unlabelled volume", drives: ["/media/u/A /media/u/A/", "/media/u/QVK_01 QVK_01"], pick: 0,
              shown: "/media/u/A" },
            { tag: "card 1, empty lists take it too", drives: ["E:/ DATA"], url: url, selected: [0, 0, 0],
              shown: "/home/u/My Cards/day#1" },
            { tag: "card 2, others keep their entries", drives: ["E:/ QVK_01", "F:/ QVK_03"], card: 2, url: url,
              selected: [1, 0, 2], shown: "/home/u/My Cards/day#1" },
            { tag: "on a labelled volume", drives: labelled, card: 2, url: "file:///media/u/QVK_01/DCIM/100QVK",
              shown: "QVK_01 (/media/u/QVK_01/DCIM/100QVK)" },
            { tag: "a name that only begins alike", drives: labelled, card: 2, url: "file:///media/u/QVK_011/DCIM",
              shown: "/media/u/QVK_011/DCIM" },
            { tag: "percent and non-ASCII", url: "file:///tmp/50%25/%C3%BCber", shown: "/tmp/50%/\u00fcber" },
            { tag: "not escaped after all", url: "file:///tmp/100%", shown: "/tmp/100%" },
            { tag: "long folder", url: "file://" + deep, shown: deep, cut: true },
            // Cards may move to a folder another card reads (to swap two), but meanwhile nothing starts.
            { tag: "chooser: the folder card 1 reads", card: 3, url: "file:///media/u/A", selected: [0, 1, 0], hint: twice },
            { tag: "list: card 3 picks what card 1 shows", card: 3, pick: 0, selected: [0, 1, 0], hint: twice },
            { tag: "chooser: a listed folder no card reads", card: 2, unselect: 3, url: "file:///media/u/C",
              selected: [0, 2, -1], hint: "" },
            { tag: "chooser: a new folder fills an empty list", card: 2, unselect: 3, url: "file:///home/u/x",
              selected: [1, 0, 0], hint: "Cards 2 and 3 both read /home/u/x." + other }
        ]
    }

    function test_cardLists(data) {
        startWith(data.drives ? volumes(data.drives) : threeCards)
        var list = child("card" + (data.card || 1) + "List")
        if (data.unselect)
            child("card" + data.unselect + "List").currentIndex = -1
        if (data.url)
            window.sourceFolderChosen(data.card || 1, data.url)
        if (data.pick !== undefined) {
            list.currentIndex = data.pick
            list.activated(data.pick)
        }
        if (data.selected)
            compare(selections(), data.selected)
        waitForRendering(list)
        if (data.shown !== undefined)
            compare([list.currentText, list.contentItem.truncated, list.toolTipText],
                    [data.shown, data.cut === true, data.cut ? data.shown : ""])
        if (data.cut)
            compare(list.contentItem.elide, Text.ElideMiddle)
        if (data.hint === undefined)
            return
        compare(child("cardsHintText").text, data.hint)
        var usable = !data.hint && !data.unselect
        compare([child("infoBox").visible, child("copyFilesButton").enabled, child("eraseCardsButton").enabled],
                [false, usable, usable])
        if (!data.hint)
            return
        list.currentIndex = 2 // moving the card away makes the cards usable again
        compare([child("cardsHintText").text, child("copyFilesButton").enabled], ["", true])
    }

    // The box names each card and its verified copies; a wipe that would lose files needs "Erase anyway" in a
    // second box that names their number. checks: all copied and verified but for the row's change; say: a
    // card's text where not "N of N files copied and verified"; answers: buttons pressed after "Erase"; sent:
    // what reaches the controller after eraseCheck, cards left out.
    function test_eraseCardsBoxCounts_data() {
        function checks(change) {
            var all = {}
            threeCards.forEach(function (d, i) {
                var files = i < 2 ? 214 : 5
                all[d.key] = Object.assign({ "label": d.value, "size": 64e9, "files": files, "verified": files }, change[i + 1])
            })
            return all
        }
        var lacking = checks({ 2: { "verified": 213 } })
        var folder = checks({ 3: { "label": "", "wipeProblem": "a folder, not the root of its volume (/media)",
                                   "files": -1, "verified": -1, "unreadable": -1, "folder": true } })
        var folderSays = { 3: "Card 3 /media/u/C: a folder, not a card: cannot be erased" }
        var readOnly = { "problem": "the volume is read-only", "wipeProblem": "the volume is read-only" }
        return [
            { tag: "all verified", checks: checks({ 2: { "copies": 2, "destinations": [{ "path": "/v", "verified": 214 },
                                                                                   { "path": "/b", "verified": 214 }] } }),
              place: "/media/u/C, 64.0 GB", copies: "Verified copies, 2 needed per file: 214 in /v, 214 in /b",
              sent: "eraseCards:|true|true" },
            { tag: "card 2 lacks copies, erased anyway", checks: lacking, answers: ["eraseCardsAnywayButton"],
              loss: "1 media file has no verified copy and will be lost for good (Card 2 QVK_02: 1 file).",
              sent: "eraseCardsForced:|true|true" },
            { tag: "card 2 lacks copies, second box cancelled", checks: lacking, loss: "1 media file",
              answers: ["eraseCardsLossCancelButton", "eraseCardsCancelButton"] },
            { tag: "card 2 lacks copies, not erased, no config", checks: lacking, keepFiles: true, noConfig: true,
              sent: "eraseCards:|false|false" },
            { tag: "not imported, read again, erased anyway", checks: checks({ 1: { "notImported": ["DCIM/x.MP4"] } }),
              reverify: true, answers: ["eraseCardsAnywayButton"], sent: "prepareCards:|true|true|true|true",
              say: { 1: "Card 1 QVK_01: 214 of 214 files copied and verified, 1 file not imported" },
              loss: "1 file that is not imported will be wiped: DCIM/x.MP4 (card 1). Erase anyway?" },
            { tag: "card 3 is a folder", checks: folder, answers: ["eraseCardsCancelButton"], say: folderSays },
            // Markers and the sync configuration may go to a folder.
            { tag: "card 3 is a folder, not erased", checks: folder, keepFiles: true, say: folderSays,
              sent: "eraseCards:|false|true" },
            { tag: "card 3 no card volume", checks: { "/media/u/C": readOnly }, answers: ["eraseCardsCancelButton"],
              keepFiles: true, say: { 3: "Card 3 /media/u/C: cannot be prepared: the volume is read-only" } }
        ]
    }

    function test_eraseCardsBoxCounts(data) {
        appController.cardChecks = data.checks
        startWith(threeCards)
        click("eraseCardsButton")
        tryCompare(child("eraseCardsBox"), "visible", true)
        compare(shownTexts(["eraseCardText1", "eraseCardText2", "eraseCardText3"]), threeCards.map(function (d, i) {
            var c = Object.assign({ "label": "", "files": 0, "verified": 0 }, data.checks[d.key])
            return (data.say || {})[i + 1] || "Card " + (i + 1) + " " + (c.label || d.key) + ": " + c.verified + " of "
                    + c.files + " files copied and verified"
        }))
        if (data.place)
            compare(shownTexts(["eraseCardPlace3", "eraseCardCopies2"]), [data.place, data.copies])
        child("eraseCardsCheck").checked = !data.keepFiles
        child("syncConfigCheck").checked = !data.noConfig
        child("reverifyCheck").checked = data.reverify === true
        compare(child("eraseCardsConfirmButton").text, data.keepFiles ? "Prepare" : "Erase")
        click("eraseCardsConfirmButton") // does nothing while it is disabled
        if (data.loss) {
            tryCompare(child("eraseCardsLossBox"), "visible", true)
            verify(child("eraseCardsLossText").text.indexOf(data.loss) === 0, child("eraseCardsLossText").text)
        }
        ;(data.answers || []).forEach(function (button) {
            click(button)
            tryCompare(child("eraseCardsLossBox"), "visible", false)
        })
        tryCompare(child("eraseCardsBox"), "visible", false)
        compare(appController.calls, ["eraseCheck:" + cardPaths].concat(data.sent ? [data.sent.replace(":", ":" + cardPaths)] : []))
        // What a preparation did, as asked.
        window.prepareOutcome(1, { status: "succeeded" })
        if (data.sent)
            compare(child("card1Progress").text, (data.keepFiles ? "" : "Erased. ")
                    + (data.noConfig ? "Markers written." : "Sync configuration and markers written."))
        verify(!window.cardOneCopying) // preparing the cards is not an import
    }

    // The refusal follows what still runs and goes when nothing does, leaving other messages; then it closes.
    function test_closeRefusalFollowsOperations() {
        startWith(threeCards)
        var copied = function (card) { window.updateCardProgress(card, 0, 1, 1, "Copied.") }
        window.copyFilesClicked()
        window.close()
        var box = child("infoBox")
        tryCompare(box, "visible", true)
        compare(box.text, "Please wait until the copy from cards 1, 2 and 3 has finished.")
        copied(2)
        compare(box.text, "Please wait until the copy from cards 1 and 3 has finished.")
        window.updateDataProgress(0, 2, 1, "Counting datasets ...")
        copied(1)
        compare(box.text, "Please wait until the copy from card 3 and an operation on the controller unit has finished.")
        copied(3)
        window.updateDataProgress(0, 2, 2, "Success.")
        tryCompare(box, "visible", false)
        verify(window.visible)

        window.copyFilesClicked()
        window.close()
        tryCompare(box, "visible", true)
        window.showInfo("Something else.")
        ;[1, 2, 3].forEach(copied)
        compare([box.visible, box.text], [true, "Something else."])
        window.close() // nothing runs now
        verify(!window.visible)
    }
}
