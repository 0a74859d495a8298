import QtQuick 2.7
import QtTest 1.2
import "../qml"

// Every page and box of the window, filled with long paths and texts, at the
// scale this run was started with: no visible control ends outside its page
// or overlaps another, no text is cut without its whole text as a tool tip,
// every text is readable and every text field keeps a visible outline.
ViewTestCase {
    name: "Geometry"

    readonly property string longFolder: "/media/user/a-volume-with-a-rather-long-name/DCIM/2024-05-01 dive at the outer reef/QVK_0"
    readonly property var pages: ["copyFilesPage", "copyDataPage", "settingsPage"]

    // ---- measuring ------------------------------------------------------------

    function describe(item) {
        if (item.objectName)
            return item.objectName
        if (item.text)
            return "\"" + item.text + "\""
        return String(item)
    }

    function rectOf(item, root) {
        var p = item.mapToItem(root, 0, 0)
        return { "x": p.x, "y": p.y, "w": item.width, "h": item.height }
    }

    function isText(item) {
        return item.truncated !== undefined && item.contentWidth !== undefined
    }

    // What an item paints: a text may reach past its own box.
    function paintedRect(item, root) {
        var r = rectOf(item, root)
        if (!isText(item))
            return r
        var w = item.contentWidth + item.leftPadding + item.rightPadding
        var h = item.contentHeight + item.topPadding + item.bottomPadding
        if (w > r.w) {
            if (item.horizontalAlignment === Text.AlignRight)
                r.x += r.w - w
            else if (item.horizontalAlignment === Text.AlignHCenter)
                r.x += (r.w - w) / 2
            r.w = w
        }
        if (h > r.h) {
            if (item.verticalAlignment === Text.AlignBottom)
                r.y += r.h - h
            else if (item.verticalAlignment === Text.AlignVCenter)
                r.y += (r.h - h) / 2
            r.h = h
        }
        return r
    }

    function shown(item) {
        return item.visible && item.opacity > 0 && item.width > 0 && item.height > 0
    }

    // The controls and texts of a page, each taken whole (not its parts).
    function leavesOf(item, list) {
        for (var i = 0; i < item.children.length; ++i) {
            var c = item.children[i]
            if (!shown(c))
                continue
            if (c.background !== undefined && c.padding !== undefined)
                list.push(c) // a control, a label or a text field
            else if (isText(c))
                c.text !== "" && list.push(c)
            else
                leavesOf(c, list)
        }
        return list
    }

    function textsOf(item, list) {
        for (var i = 0; i < item.children.length; ++i) {
            var c = item.children[i]
            if (!c.visible)
                continue
            if (isText(c))
                list.push(c)
            textsOf(c, list)
        }
        return list
    }

    // A cut text is fine when it, or a control holding it, shows the whole
    // text as a tool tip.
    function hasToolTip(item, root) {
        for (var p = item; p && p !== root; p = p.parent) {
            if (p.toolTipText !== undefined && p.toolTipText !== "")
                return true
        }
        return false
    }

    // area: the page's content rectangle, in root's coordinates.
    function checkArea(what, root, area) {
        var leaves = leavesOf(root, [])
        verify(leaves.length > 0, what + ": nothing shown")
        var problems = []
        var rects = leaves.map(function (leaf) { return paintedRect(leaf, root) })
        for (var i = 0; i < leaves.length; ++i) {
            var r = rects[i]
            if (r.x < area.x - 0.5 || r.y < area.y - 0.5 || r.x + r.w > area.x + area.w + 0.5
                    || r.y + r.h > area.y + area.h + 0.5)
                problems.push(describe(leaves[i]) + " ends outside the page: "
                              + JSON.stringify(r) + " not in " + JSON.stringify(area))
            for (var j = i + 1; j < leaves.length; ++j) {
                var s = rects[j]
                var w = Math.min(r.x + r.w, s.x + s.w) - Math.max(r.x, s.x)
                var h = Math.min(r.y + r.h, s.y + s.h) - Math.max(r.y, s.y)
                if (w > 0.5 && h > 0.5)
                    problems.push(describe(leaves[i]) + " overlaps " + describe(leaves[j]))
            }
            var c = leaves[i]
            if (c.implicitContentWidth !== undefined && c.availableWidth !== undefined
                    && c.implicitContentWidth > c.availableWidth + 0.5 && !hasToolTip(c, root))
                problems.push(describe(c) + " does not fit: needs " + c.implicitContentWidth
                              + ", has " + c.availableWidth)
        }
        var scale = window.screen.devicePixelRatio
        textsOf(root, []).forEach(function (t) {
            if (t.truncated && !hasToolTip(t, root))
                problems.push("\"" + t.text + "\" is cut without a tool tip")
            if (t.text !== "" && t.font.pixelSize * scale < 10.99)
                problems.push("\"" + t.text + "\" is " + t.font.pixelSize * scale + " px high")
        })
        leaves.forEach(function (c) {
            // A text field's outline: a border at least one screen pixel wide.
            if (c.echoMode !== undefined && !(c.background && c.background.objectName === "outline"
                                              && c.background.border.width * scale >= 1))
                problems.push(describe(c) + " has no visible outline")
        })
        compare(problems, [], what)
    }

    // The part of a page or box its controls may use: inside its layout's
    // margins and inside the page or box itself.
    function contentArea(root) {
        var r = rectOf(root.children[0], root)
        var bottom = Math.min(r.y + r.h, root.height - r.y)
        return { "x": r.x, "y": r.y, "w": r.w, "h": bottom - r.y }
    }

    function checkPage(index) {
        child("tabBar").currentIndex = index
        var page = child(pages[index])
        waitForRendering(page)
        checkArea(pages[index], page, contentArea(page))
        // The page itself lies between the tab bar and the footer.
        var r = rectOf(page, window.contentItem)
        verify(r.y >= 0 && r.y + r.h <= window.contentItem.height + 0.5, pages[index])
    }

    function checkBox(name) {
        var box = child(name)
        tryCompare(box, "opened", true)
        checkArea(name, box.contentItem, contentArea(box.contentItem))
        verify(box.x >= 0 && box.y >= 0 && box.x + box.width <= window.width
               && box.y + box.height <= window.height, name + " lies outside the window")
    }

    // ---- filling the window -----------------------------------------------------

    function createFilledWindow(withUnit) {
        appController.drives = [drive("/media/user/QVK_01", "QVK_01")]
        appController.templates = [drive("/usr/share/pelorin/templates/Rig.kava", "Rig")]
        appController.devices = withUnit ? [device("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                                   "PELORIN-QVK-000042-A50285BI-REV-C", "FTDI")] : []
        createWindow()
        verify(Math.abs(window.screen.devicePixelRatio - expectedScale) < 0.001,
               "scale " + window.screen.devicePixelRatio)
        // The window lies on the screen, as large as its design where there is room.
        var screen = window.screen
        verify(window.width * expectedScale <= screen.width * screen.devicePixelRatio
               && window.height <= screen.desktopAvailableHeight && window.width >= 700
               && window.height >= Math.min(920, screen.desktopAvailableHeight - 40),
               window.width + " x " + window.height)
        for (var card = 1; card <= 3; ++card)
            window.sourceFolderChosen(card, "file://" + longFolder + card)
        window.templateFileChosen("file://" + longFolder + "1/templates/outer reef stitching.kava")
        child("filesDestinationField").text = longFolder + "/imports"
        child("projectNameField").text = "Outer reef, second dive of the day"
        window.copyFilesClicked()
        window.updateCardProgress(1, 0, 12, 4, "Copying " + longFolder + "1/DCIM/100QVK/V0004.MOV")
        window.cardBytesAt(1, 0, 64e9, 0)
        window.cardBytesAt(1, 12e9, 64e9, 240000)
        window.updateCardProgress(2, 0, 12, 4, "Error: Could not copy " + longFolder + "2/DCIM/100QVK/V0004.MOV.")
        window.updateCardProgress(3, 0, 1, 1, "Copied 12/12 videos and 240/240 photos.")
        if (withUnit) {
            window.updateDataProgress(0, 50001, 12345, "Reading dataset 12345 of 50000")
            window.updateCameraSettings("2.4.1-rc3 (build 2024-04-30, boot loader 1.2, E1 bridge 0.30)", "60 %",
                                        "2024-05-01 10:00:00", 1, 2.5, 15, 45, 30)
            window.updateCameraSettingsProgress(0, 2, 2, "Error getting settings: no answer from the unit on "
                                                + appController.devices[0].name)
        }
    }

    // ---- tests ------------------------------------------------------------------

    function test_pages_data() {
        return [
            { tag: "Copy Files", page: 0 },
            { tag: "Copy Data with a unit", page: 1, unit: true },
            { tag: "Copy Data without a unit", page: 1, unit: false },
            { tag: "Settings with a unit", page: 2, unit: true },
            { tag: "Settings without a unit", page: 2, unit: false }
        ]
    }

    function test_pages(data) {
        createFilledWindow(data.unit !== false)
        checkPage(data.page)
    }

    function test_boxes_data() {
        return [
            { tag: "calibration", box: "calibrationDialog", open: function () { click("changeAnglesButton") } },
            { tag: "information", box: "infoBox",
              open: function () { window.showInfo("The calibration service at http://calibration.example.com:8765 cannot be reached.") } },
            { tag: "wait", box: "waitBox",
              open: function () { window.updateDataProgress(0, 2, 1, "Reading 12 datasets from " + longFolder + " ...") } },
            { tag: "erase cards", box: "eraseCardsBox", open: function () { click("eraseCardsButton") } },
            { tag: "erase cards, files would be lost", box: "eraseCardsLossBox", open: function () {
                click("eraseCardsButton")
                tryCompare(child("eraseCardsBox"), "opened", true)
                click("eraseCardsConfirmButton")
            } },
            { tag: "erase memory", box: "eraseMemoryBox", open: function () { click("eraseMemoryButton") } },
            { tag: "erase memory anyway", box: "eraseMemoryAnywayBox", open: function () {
                window.eraseMemoryClicked(true)
                window.dataOutcome({ status: "refused", records: 123456, reason: "the export of 2024-05-01 10:00 "
                                     + "saved 123000 records; the unit holds 123456 now" })
            } },
            { tag: "copy without template", box: "noTemplateBox", open: function () {
                window.templateFileChosen("file:///home/someone/Documents/stitching templates/outer reef.kava")
                appController.templateProblem = "not a stitching template: Opening and ending tag mismatch. at line 12, column 8"
                click("copyFilesButton")
            } },
            { tag: "reset settings", box: "resetSettingsBox", open: function () { click("resetSettingsButton") } },
            { tag: "update firmware", box: "updateFirmwareBox", open: function () { click("updateFirmwareButton") } }
        ]
    }

    function test_boxes(data) {
        var volume = "/run/media/someone/a-card-reader-volume-with-a-rather-long-name-"
        appController.drives = [drive(volume + "1", "QVK_01"), drive(volume + "2", "QVK_02"),
                                drive(volume + "3", "QVK_03")]
        appController.cardChecks = {}
        appController.cardChecks[volume + "1"] = { "label": "QVK_01", "size": 127865454592, "files": 1214,
                                                   "verified": 1214 }
        appController.cardChecks[volume + "2"] = { "label": "QVK_02", "size": 127865454592, "files": 1214,
                                                   "verified": 1187, "unreadable": 2 }
        appController.cardChecks[volume + "3"] = { "label": "QVK_03", "size": 63831015424, "files": 12,
                                                   "verified": 0 }
        appController.devices = [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]
        createWindow()
        data.open()
        checkBox(data.box)
    }

    // The hint line comes and goes without moving anything else.
    function test_hintKeepsItsRoom_data() {
        return [{ tag: "Copy Data", page: 1 }, { tag: "Settings", page: 2 }]
    }

    function test_hintKeepsItsRoom(data) {
        appController.devices = [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]
        createWindow()
        child("tabBar").currentIndex = data.page
        var page = child(pages[data.page])
        var places = function () {
            waitForRendering(page)
            return leavesOf(page, []).filter(function (leaf) {
                return !/HintText/.test(leaf.parent.objectName)
            }).map(function (leaf) {
                return describe(leaf) + "@" + JSON.stringify(rectOf(leaf, page))
            })
        }
        var hintHidden = places()
        window.dataCopying = true
        var hintShown = places()
        verify(child(pages[data.page] === "copyDataPage" ? "dataHintText" : "settingsHintText").text !== "")
        compare(hintShown, hintHidden)
    }
}
