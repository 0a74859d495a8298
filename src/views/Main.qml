import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0
import QtQuick.Window 2.2
import Pelorin 1.0

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    // The design size where the screen has room for it; the window may be
    // resized and maximised, and its pages scroll when it is lower.
    width: 700
    height: Math.max(minimumHeight, Math.min(920, Screen.desktopAvailableHeight - 40))
    minimumWidth: 560
    minimumHeight: 420
    visible: true
    title: "Pelorin QVK"

    // Busy flags: they keep operations on the same cards or the same serial
    // port apart, and keep the window open while something runs.
    property bool cardOneCopying: false
    property bool cardTwoCopying: false
    property bool cardThreeCopying: false
    property bool dataCopying: false
    // The unit task running is a data export, which can be stopped.
    property bool dataExporting: false

    // The entries behind the list controls, index for index.
    property alias drives: sources.drives
    property alias devices: deviceChoices.devices
    property alias templates: templateChoices.templates
    // The settings map as last read.
    property var settings: ({})

    readonly property bool busy: cardOneCopying || cardTwoCopying || cardThreeCopying || dataCopying
    // What still runs, for the box that refuses to close the window.
    readonly property string runningText: runningOperationsText()

    // Status line of the wait box.
    property string waitText: ""

    // The port a running "Connect" reads, and the port whose unit the
    // Settings tab's firmware and battery texts describe.
    property string readingPort: ""
    property string shownUnitPort: ""
    // How each task last ended, by task: "card1" to "card3" (import or
    // preparation), "import", "data", "settings", "firmware".
    property var lastOutcomes: ({})
    property int lastReportedCard: 0
    // The cards of an import that copies without the chosen template, whose
    // summaries say so.
    property var cardsWithoutTemplate: [false, false, false]
    // The port of a running erase that the user may be asked to force.
    property string erasingPort: ""
    // The ports whose settings the Settings tab shows from a read, or whose
    // shown values the user chose to save anyway.
    property var trustedPorts: ({})
    // What the running card preparation was asked to do.
    property var preparing: ({ "erase": false, "syncConfig": false })

    signal copyFiles(string dir1, string dir2, string dir3, string targetDir, string templatePath, string projectName,
                     bool skipImported)
    signal copyData(string port, string targetDir, string projectName)
    signal eraseCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    // The same once the user confirmed that media without a verified copy may be lost.
    signal eraseCardsForced(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    // A wipe that also reads every card file and copy whole first.
    signal prepareCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig, bool force,
                        bool reverify)
    signal readCameraSettings(string port)
    signal saveCameraSettings(string port, string date, int recLedOn, double loggingInterval, double timelapseInterval, double timelapseTimeout, int e1FirmwareVersion)
    signal resetCameraSettings(string port)
    signal eraseMemory(string port)
    // The same once the user confirmed erasing records no export has saved.
    signal eraseMemoryForced(string port)
    signal exitApp()

    Component.onCompleted: {
        refreshDrives()
        refreshDevices()
        loadTemplates()
        refreshDestination()
        copyFilesPage.backupFolderField.text = textOf(appController.getBackupDir())
        loadStitchSettings()
        // Hands the port to the controller so the unit is powered off at exit.
        getSelectedSettingsDeviceName()
    }

    // Set when the system asks the app to end (logout, kill): the window
    // closes as soon as nothing runs any more.
    property bool closeWhenIdle: false
    onBusyChanged: {
        if (closeWhenIdle && !busy)
            close()
    }

    onClosing: {
        if (readyToExit())
            return
        close.accepted = false
        infoBox.follow(runningText)
    }

    // ---- helpers ------------------------------------------------------------

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    // An outcome as the controller delivers it (a map with its "status").
    function outcomeSucceeded(outcome) {
        return outcome !== undefined && outcome !== null && outcome.status === "succeeded"
    }

    // A bar whose task ended without success shows it as a failure.
    function showOutcome(bar, outcome) {
        if (bar !== null)
            bar.failed = !outcomeSucceeded(outcome)
    }

    function withOutcome(task, outcome) {
        var all = {}
        for (var key in lastOutcomes)
            all[key] = lastOutcomes[key]
        all[task] = outcome
        return all
    }

    function hasSelection(list) {
        return list.currentIndex >= 0 && list.currentIndex < list.count
    }

    function selectedKey(list) {
        return hasSelection(list) ? list.model.get(list.currentIndex).key : ""
    }

    function showInfo(message) {
        infoBox.show(textOf(message))
    }

    function runningOperationsText() {
        var cards = [1, 2, 3].filter(cardCopying)
        var running = []
        if (cards.length > 0)
            running.push("the copy from card" + (cards.length === 1 ? " " : "s " + cards.slice(0, -1).join(", ") + " and ")
                         + cards[cards.length - 1])
        if (dataCopying)
            running.push("an operation on the controller unit")
        return running.length === 0 ? "" : "Please wait until " + running.join(" and ") + " has finished."
    }

    function cardCopying(card) {
        return [cardOneCopying, cardTwoCopying, cardThreeCopying][card - 1] === true
    }

    // Shows a report on a bar and in the wait box.
    function showControllerProgress(bar, from, to, value, text) {
        bar.show(from, to, value, text)
        dataCopying = Number(value) < Number(to)
        dataExporting = dataExporting && dataCopying
        waitText = ""
        if (dataCopying) {
            if (!waitBox.visible)
                waitBox.open()
            waitText = textOf(text)
        } else if (waitBox.visible) {
            waitBox.close()
        }
    }

    function readyToExit() {
        return !busy
    }

    function urlToPath(url) {
        return fileChoosers.pathOf(url)
    }

    // ---- Copy Files -------------------------------------------------------

    function refreshDrives() {
        sources.show(appController.getDrives())
    }

    function loadTemplates() {
        templateChoices.show(appController.getTemplates())
    }

    function refreshDestination() {
        var location = textOf(appController.getMoviesLocation())
        copyFilesPage.filesDestinationField.text = location
        copyDataPage.dataDestinationField.text = location
    }

    function readyToCopyFiles() {
        return ![1, 2, 3].some(cardCopying) && sources.threeFolders() && copyFilesPage.filesDestinationField.text !== ""
    }

    // The three cards are prepared together or not at all.
    function readyToEraseCards() {
        return ![1, 2, 3].some(cardCopying) && sources.selectedKeys().indexOf("") < 0
                && sources.sharedFolderHint() === ""
    }

    // The box names each card and what of it has a verified copy.
    function openEraseCardsBox() {
        if (!readyToEraseCards())
            return
        var cards = sources.selectedKeys()
        eraseCardsBox.cards = appController.eraseCheck(cards[0], cards[1], cards[2])
        eraseCardsBox.open()
    }

    function copyFilesClicked() {
        if (!readyToCopyFiles())
            return
        var cards = sources.selectedKeys()
        // Set-ups that can only go wrong are refused before anything is copied.
        var refused = appController.checkImportPaths(cards[0], cards[1], cards[2],
                                                     copyFilesPage.filesDestinationField.text, "")
        if (refused) {
            showInfo(refused)
            return
        }
        // A template is an add-on: one that cannot be used never keeps the media from being copied.
        var templatePath = selectedKey(copyFilesPage.templateList)
        var unusable = appController.checkTemplate(templatePath)
        if (unusable) {
            noTemplateBox.templatePath = templatePath
            noTemplateBox.reason = unusable
            noTemplateBox.open()
            return
        }
        startCopyFiles(templatePath, false)
    }

    function copyFilesWithoutTemplate() {
        console.warn("Copy Files: the template " + noTemplateBox.templatePath + " cannot be used ("
                     + noTemplateBox.reason + "); copying without stitching projects")
        startCopyFiles("", true)
    }

    readonly property string templateDroppedNote: " No stitching projects: the template could not be used."
    // What each card's summary says beyond its outcome.
    property var cardNotes: ["", "", ""]

    function startCopyFiles(templatePath, templateDropped) {
        if (!readyToCopyFiles())
            return
        var page = copyFilesPage
        var cards = sources.selectedKeys()
        cardOneCopying = cardTwoCopying = cardThreeCopying = true
        cardsWithoutTemplate = [templateDropped, templateDropped, templateDropped]
        throughput.reset()
        copyFiles(cards[0], cards[1], cards[2], page.filesDestinationField.text, templatePath,
                  page.projectNameField.text, page.skipImportedBox.checked)
    }

    function eraseCardsClicked(eraseCardsChecked, createSyncConfigChecked, force, reverify) {
        if (!readyToEraseCards())
            return
        var cards = sources.selectedKeys()
        preparing = { "erase": eraseCardsChecked === true, "syncConfig": createSyncConfigChecked === true }
        if (eraseCardsChecked === true && reverify === true)
            prepareCards(cards[0], cards[1], cards[2], true, createSyncConfigChecked === true, force === true, true)
        else if (eraseCardsChecked === true && force === true)
            eraseCardsForced(cards[0], cards[1], cards[2], true, createSyncConfigChecked === true)
        else
            eraseCards(cards[0], cards[1], cards[2], eraseCardsChecked === true, createSyncConfigChecked === true)
    }

    function updateCardProgress(cardNumber, from, to, value, text) {
        var card = Number(cardNumber)
        lastReportedCard = card
        var bar = copyFilesPage.cardBar(card)
        if (bar === null)
            return
        var running = Number(value) < Number(to)
        if (!running) {
            var notes = cardNotes.slice()
            notes[card - 1] = cardsWithoutTemplate[card - 1] ? templateDroppedNote : ""
            cardNotes = notes
            text = textOf(text) + notes[card - 1]
            var without = cardsWithoutTemplate.slice()
            without[card - 1] = false
            cardsWithoutTemplate = without
        }
        bar.show(from, to, value, text)
        if (!running) {
            bar.detail = ""
            bar.byteShare = -1
        }
        window[["cardOneCopying", "cardTwoCopying", "cardThreeCopying"][card - 1]] = running
    }

    function counted(n, one, many) {
        return n + " " + (n === 1 ? one : many)
    }

    // A card's summary, from how its import ended: the counts, what is
    // missing and why. A refused or failed card keeps the report that named
    // the cause.
    function cardSummary(o) {
        var v = Number(o.videos) || 0, vc = Number(o.videosCopied) || 0
        var p = Number(o.photos) || 0, pc = Number(o.photosCopied) || 0
        var parts = ["Copied " + vc + "/" + v + " videos and " + pc + "/" + p + " photos."]
        if (o.alreadyImported > 0)
            parts.push(o.alreadyImported + " already imported.")
        var missing = []
        if (v > vc)
            missing.push(counted(v - vc, "video", "videos"))
        if (p > pc)
            missing.push(counted(p - pc, "photo", "photos"))
        if (missing.length > 0)
            parts.push("Not copied: " + missing.join(" and ") + ".")
        if (o.unreadable > 0)
            parts.push(counted(o.unreadable, "folder or file", "folders or files") + " on the card could not be read.")
        if (o.unrecorded > 0)
            parts.push(counted(o.unrecorded, "copy", "copies") + " could not be recorded.")
        if (v + p === 0 && !(o.unreadable > 0))
            parts.push("No media found on the card.")
        if (o.status === "stopped")
            parts.push("Import stopped.")
        return parts.join(" ")
    }

    // How a card of an import ended, after its last report.
    function cardOutcome(cardNumber, outcome) {
        var card = Number(cardNumber)
        lastOutcomes = withOutcome("card" + card, outcome)
        var bar = copyFilesPage.cardBar(card)
        // With a backup folder the task's own summary names what each destination holds;
        // the counts alone would only say what both hold.
        var several = outcome && outcome.destinations && outcome.destinations.length > 1
        if (bar !== null && outcome && ["succeeded", "incomplete", "stopped"].indexOf(outcome.status) >= 0)
            bar.text = (several ? bar.text : cardSummary(outcome)) + cardNotes[card - 1]
        showOutcome(bar, outcome)
    }

    // A prepared card says what was written; one that failed keeps the report
    // that named the cause.
    function prepareOutcome(cardNumber, outcome) {
        var card = Number(cardNumber)
        lastOutcomes = withOutcome("card" + card, outcome)
        var bar = copyFilesPage.cardBar(card)
        if (bar !== null && outcomeSucceeded(outcome))
            bar.text = (preparing.erase ? "Erased. " : "") + (preparing.syncConfig ? "Sync configuration and markers"
                                                                                  : "Markers") + " written."
        showOutcome(bar, outcome)
    }

    // How an import run ended, once all three cards have.
    // A run that failed on its own (its hash list) said why on the card that
    // reported last.
    function importOutcome(outcome) {
        lastOutcomes = withOutcome("import", outcome)
        if (outcome !== undefined && outcome !== null && outcome.status === "failed")
            showOutcome(copyFilesPage.cardBar(lastReportedCard), outcome)
    }

    function updateCardBytes(cardNumber, bytesCopied, bytesTotal) {
        cardBytesAt(cardNumber, bytesCopied, bytesTotal, Date.now())
    }

    // A byte report at msec: the card's bar shows throughput and time left.
    function cardBytesAt(cardNumber, bytesCopied, bytesTotal, msec) {
        var card = Number(cardNumber)
        var bar = copyFilesPage.cardBar(card)
        if (bar === null || !cardCopying(card))
            return
        bar.detail = throughput.describe(card, bytesCopied, bytesTotal, msec)
        bar.byteShare = Number(bytesTotal) > 0 ? Math.min(1, Number(bytesCopied) / Number(bytesTotal)) : -1
    }

    function sourceFolderChosen(card, url) {
        sources.addFolder(card, urlToPath(url))
    }

    function destinationFolderChosen(forCopyFiles, url) {
        var path = urlToPath(url)
        if (forCopyFiles)
            copyFilesPage.filesDestinationField.text = path
        copyDataPage.dataDestinationField.text = path
    }

    // Kept at once; the settings map follows, as a later save of the
    // calibration writes the whole map back.
    function backupFolderEdited(folder) {
        appController.setBackupDir(folder)
        settings["BackupDir"] = folder
    }

    function backupFolderChosen(url) {
        copyFilesPage.backupFolderField.text = urlToPath(url)
        backupFolderEdited(copyFilesPage.backupFolderField.text)
    }

    function templateFileChosen(url) {
        templateChoices.addFile(urlToPath(url))
    }

    // ---- Copy Data -----------------------------------------------------------

    function refreshDevices() {
        deviceChoices.show(appController.getDevices())
    }

    // The port of a list's selected device, handed to the controller so that
    // it can turn the unit off at exit; "" without a selection.
    function selectedPort(list) {
        if (!hasSelection(list))
            return ""
        var name = selectedKey(list)
        appController.setPort(name)
        return name
    }

    function getSelectedDataDeviceName() {
        return selectedPort(copyDataPage.dataDeviceList)
    }

    function readyToCopyData() {
        return readyToEraseMemory() && copyDataPage.dataDestinationField.text !== ""
    }

    function readyToEraseMemory() {
        return !dataCopying && hasSelection(copyDataPage.dataDeviceList)
    }

    function copyDataClicked() {
        if (!readyToCopyData())
            return
        dataCopying = true
        dataExporting = true
        copyData(getSelectedDataDeviceName(), copyDataPage.dataDestinationField.text,
                 copyDataPage.dataProjectNameField.text)
    }

    function eraseMemoryClicked(eraseMemoryChecked) {
        if (!readyToEraseMemory() || eraseMemoryChecked !== true)
            return
        dataCopying = true
        erasingPort = getSelectedDataDeviceName()
        eraseMemory(erasingPort)
    }

    // An erase the check refused may still be done, once the user knows what is lost.
    function askToEraseAnyway(port, outcome) {
        var reason = textOf(outcome.reason)
        var records = Number(outcome.records)
        // The check refuses with records only when it counted them; without,
        // the count itself could not be read.
        eraseMemoryAnywayBox.port = port
        eraseMemoryAnywayBox.question = records > 0
                ? "The unit holds " + records + " records that no complete export recorded here has saved ("
                  + reason + "). Erase anyway?"
                : "The unit's record count could not be read (" + reason + "): it is not known what the unit "
                  + "holds or whether any export has saved it. Erase anyway? Whatever it holds is lost for good."
        eraseMemoryAnywayBox.open()
    }

    function eraseMemoryAnyway(port) {
        if (!readyToEraseMemory())
            return
        dataCopying = true
        eraseMemoryForced(port)
    }

    // An export counts the records received in its reports: the bar moves with them.
    function updateDataProgress(from, to, value, text) {
        showControllerProgress(copyDataPage.dataBar, from, to, value, text)
    }

    // How a data export, memory erase or power-off ended.
    function dataOutcome(outcome) {
        lastOutcomes = withOutcome("data", outcome)
        showOutcome(copyDataPage.dataBar, outcome)
        var port = erasingPort
        erasingPort = ""
        if (port !== "" && outcome !== undefined && outcome !== null && outcome.status === "refused")
            askToEraseAnyway(port, outcome)
    }

    // ---- Settings ----------------------------------------------------------

    function getSelectedSettingsDeviceName() {
        return selectedPort(settingsPage.settingsDeviceList)
    }

    function readyToReadSettings() {
        return !dataCopying && hasSelection(settingsPage.settingsDeviceList)
    }

    function readyToSaveCameraSettings() { return readyToReadSettings() }
    function readyToResetCameraSettings() { return readyToReadSettings() }
    function readyToUpdateFirmware() { return readyToReadSettings() }

    function getSelectedE1Firmware() {
        return settingsPage.selectedE1Firmware()
    }

    // Locks the unit and opens the wait box; false while the unit is busy.
    function startUnitOperation() {
        if (dataCopying)
            return false
        dataCopying = true
        waitText = ""
        waitBox.open()
        return true
    }

    function connectButtonClicked() {
        if (!startUnitOperation())
            return
        readingPort = getSelectedSettingsDeviceName()
        readCameraSettings(readingPort)
    }

    // Values not read from the selected unit are saved only once the user
    // says so, once per port.
    function saveRequested() {
        if (!readyToSaveCameraSettings())
            return
        if (trustedPorts[selectedKey(settingsPage.settingsDeviceList)] === true)
            saveCameraSettingsClicked()
        else
            unreadSaveBox.open()
    }

    function trustPort(port) {
        var all = {}
        for (var key in trustedPorts)
            all[key] = trustedPorts[key]
        all[port] = true
        trustedPorts = all
    }

    function saveCameraSettingsClicked() {
        if (!startUnitOperation())
            return
        // The slider values go out as they are, not cut to what the texts show.
        var page = settingsPage
        page.tick(Date.now())
        saveCameraSettings(getSelectedSettingsDeviceName(), page.dateTimeField.text,
                           page.recordLedBox.checked ? 1 : 0, page.videoIntervalSlider.value,
                           page.photoIntervalSlider.value, page.photoTimeoutSlider.value,
                           getSelectedE1Firmware())
    }

    function resetCameraSettingsClicked() {
        if (!startUnitOperation())
            return
        // The tab keeps the values shown, unsaved edits too; "Connect" reads the unit's.
        resetCameraSettings(getSelectedSettingsDeviceName())
    }

    function showUnit(firmware, battery) {
        settingsPage.firmwareText.text = textOf(firmware)
        settingsPage.batteryText.text = textOf(battery)
    }

    function updateCameraSettings(firmware, battery, date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1FirmwareVersion) {
        dataCopying = false
        if (readingPort !== "")
            trustPort(readingPort)
        shownUnitPort = readingPort
        readingPort = ""
        showUnit(firmware, battery)
        settingsPage.showSettings(date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1FirmwareVersion)
        if (waitBox.visible)
            waitBox.close()
    }

    function updateCameraSettingsProgress(from, to, value, text) {
        showControllerProgress(settingsPage.settingsBar, from, to, value, text)
    }

    // How a settings read, save or reset ended, after its last report.
    function cameraSettingsOutcome(outcome) {
        lastOutcomes = withOutcome("settings", outcome)
        showOutcome(settingsPage.settingsBar, outcome)
        var succeeded = outcomeSucceeded(outcome)
        // A failed read says nothing about this port's unit: another unit's
        // firmware and battery must not stand for it.
        if (readingPort !== "" && !succeeded) {
            if (readingPort !== shownUnitPort) {
                showUnit("-", "-")
                shownUnitPort = ""
            }
            readingPort = ""
        }
    }

    function updateFirmwareProgress(from, to, value, text) {
        showControllerProgress(settingsPage.settingsBar, from, to, value, text)
    }

    function firmwareOutcome(outcome) {
        lastOutcomes = withOutcome("firmware", outcome)
        showOutcome(settingsPage.settingsBar, outcome)
    }

    function updateFirmwareClicked() {
        if (dataCopying)
            return
        dataCopying = true
        fileChoosers.openFirmwareDialog()
    }

    function firmwareFileChosen(url) {
        appController.updateFirmware(getSelectedSettingsDeviceName(), urlToPath(url))
    }

    function firmwareFileRejected() {
        dataCopying = false
    }

    // ---- Stitching calibration ----------------------------------------------

    function loadStitchSettings() {
        settings = appController.getSettings()
        calibrationDialog.showSettings(settings)
    }

    function saveStitchSettings() {
        var updated = settings
        calibrationDialog.writeSettings(updated)
        appController.updateSettings(updated)
        loadStitchSettings()
    }

    function downloadCalibration() {
        var serial = calibrationDialog.serial
        settings["Serialnumber"] = serial
        if (serial !== "")
            calibrationDownload.start(settings["CalibrationServiceUrl"], serial)
    }

    // ---- Models --------------------------------------------------------------

    // ---- Window layout ---------------------------------------------------------

    header: TabBar {
        id: tabBar
        objectName: "tabBar"

        TabButton {
            objectName: "copyFilesTab"
            text: "Copy Files"
        }
        TabButton {
            objectName: "copyDataTab"
            text: "Copy Data"
        }
        TabButton {
            objectName: "settingsTab"
            text: "Settings"
        }
    }

    footer: VersionBar {
        version: appController.getVersion()
        exitReady: readyToExit()
        onExitRequested: window.close()
    }

    // ---- Tab "Copy Files" ----------------------------------------------------

    // Each page fills the window and scrolls when the window is lower than it.
    component PageView: Flickable {
        property Item page: null

        anchors.fill: parent
        contentWidth: width
        contentHeight: page ? page.height : 0
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            policy: contentHeight > height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }
    }

    PageView {
        id: copyFilesView
        visible: tabBar.currentIndex === 0
        page: copyFilesPage
    }

    CopyFilesPage {
        id: copyFilesPage
        parent: copyFilesView.contentItem
        width: copyFilesView.width
        height: Math.max(copyFilesView.height, implicitHeight)
        cardChoices: sources.model
        templateChoices: templateChoices.model
        copyFilesReady: readyToCopyFiles()
        eraseCardsReady: readyToEraseCards()
        overwriteAngles: textOf(settings["OverwriteAngles"]) === "1"
        calibrationSaved: settings["OverwriteAngles"] !== undefined
        skipImported: textOf(settings["SkipImported"]) === "1"
        onSkipImportedEdited: appController.updateSettings({ "SkipImported": skip ? "1" : "0" })
        onSourceFolderRequested: fileChoosers.openSourceFolderDialog(card)
        cardsHint: sources.sharedFolderHint()
        onRefreshCardsRequested: refreshDrives()
        onEraseCardsRequested: openEraseCardsBox()
        onDestinationFolderRequested: fileChoosers.openDestinationFolderDialog(true)
        onBackupFolderRequested: fileChoosers.openBackupFolderDialog()
        onBackupFolderEdited: window.backupFolderEdited(folder)
        // The "Copy Data" tab follows; edits there do not come back.
        onDestinationEdited: copyDataPage.dataDestinationField.text = folder
        onProjectNameEdited: copyDataPage.dataProjectNameField.text = name
        onChangeAnglesRequested: {
            loadStitchSettings()
            calibrationDialog.open()
        }
        onTemplateFileRequested: fileChoosers.openTemplateDialog()
        onRefreshTemplatesRequested: loadTemplates()
        onCopyFilesRequested: copyFilesClicked()
        importRunning: [1, 2, 3].some(cardCopying)
        onStopImportRequested: appController.stopImport()
    }

    // ---- Tab "Copy Data" -------------------------------------------------------

    PageView {
        id: copyDataView
        visible: tabBar.currentIndex === 1
        page: copyDataPage
    }

    CopyDataPage {
        id: copyDataPage
        parent: copyDataView.contentItem
        width: copyDataView.width
        height: Math.max(copyDataView.height, implicitHeight)
        deviceChoices: deviceChoices.model
        copyDataReady: readyToCopyData()
        eraseMemoryReady: readyToEraseMemory()
        // This tab's own device choice.
        unitReady: readyToEraseMemory()
        onRefreshDevicesRequested: refreshDevices()
        onDestinationFolderRequested: fileChoosers.openDestinationFolderDialog(false)
        onCopyDataRequested: copyDataClicked()
        onEraseMemoryRequested: eraseMemoryBox.open()
    }

    // ---- Tab "Settings" --------------------------------------------------------

    PageView {
        id: settingsView
        visible: tabBar.currentIndex === 2
        page: settingsPage
    }

    SettingsPage {
        id: settingsPage
        parent: settingsView.contentItem
        width: settingsView.width
        height: Math.max(settingsView.height, implicitHeight)
        deviceChoices: deviceChoices.model
        schema: appController.getUnitSettingsSchema()
        connectReady: readyToReadSettings()
        saveReady: readyToSaveCameraSettings()
        resetReady: readyToResetCameraSettings()
        updateFirmwareReady: readyToUpdateFirmware()
        onRefreshDevicesRequested: refreshDevices()
        onConnectRequested: connectButtonClicked()
        onSaveRequested: window.saveRequested()
        onResetRequested: resetSettingsBox.open()
        onUpdateFirmwareRequested: updateFirmwareBox.open()
    }

    // ---- Boxes -----------------------------------------------------------------

    InfoBox {
        id: infoBox
        followed: runningText
    }

    WaitBox {
        id: waitBox
        text: waitText
        stoppable: dataExporting
        onStopRequested: appController.stopExport()
    }

    EraseCardsBox {
        id: eraseCardsBox
        onConfirmed: eraseCardsClicked(erase, writeSyncConfig, force, reverify)
    }

    EraseMemoryBox {
        id: eraseMemoryBox
        onAnswered: eraseMemoryClicked(erase)
    }

    ConfirmBox {
        id: eraseMemoryAnywayBox
        objectName: "eraseMemoryAnywayBox"
        property string port: ""
        confirmText: "Erase anyway"
        onConfirmed: eraseMemoryAnyway(port)
    }

    ConfirmBox {
        id: noTemplateBox
        objectName: "noTemplateBox"
        property string templatePath: ""
        property string reason: ""
        question: "The template " + templatePath + " cannot be used (" + reason
                  + "). Copy the files without stitching projects?"
        confirmText: "Copy Files"
        destructive: false
        onConfirmed: copyFilesWithoutTemplate()
    }

    ConfirmBox {
        id: unreadSaveBox
        objectName: "unreadSaveBox"
        question: "The values shown were not read from this unit. Save them anyway?"
        confirmText: "Save"
        onConfirmed: {
            trustPort(selectedKey(settingsPage.settingsDeviceList))
            saveCameraSettingsClicked()
        }
    }

    ConfirmBox {
        id: resetSettingsBox
        objectName: "resetSettingsBox"
        question: "Reset the controller unit to its factory settings? The settings it holds now are lost."
        confirmText: "Reset"
        onConfirmed: resetCameraSettingsClicked()
    }

    ConfirmBox {
        id: updateFirmwareBox
        objectName: "updateFirmwareBox"
        question: "Update the controller unit's firmware? Choose the firmware file next, and keep the unit connected until the update has finished."
        confirmText: "Update"
        onConfirmed: updateFirmwareClicked()
    }

    // Keyboard focus shows on every control, in the boxes too: a ring around
    // the control that took it from the keyboard.
    Rectangle {
        id: focusRing
        objectName: "focusRing"
        readonly property Item target: window.activeFocusItem
        readonly property bool shown: target !== null && target.visualFocus === true

        // Follows its control as it moves, scrolls or opens in a box.
        function place() {
            if (!shown)
                return
            var p = target.mapToItem(window.overlay, 0, 0)
            x = p.x - 3
            y = p.y - 3
            width = target.width + 6
            height = target.height + 6
        }

        onShownChanged: place()
        onTargetChanged: place()
        Timer {
            interval: 100
            repeat: true
            running: focusRing.shown
            onTriggered: focusRing.place()
        }
        parent: window.overlay
        z: 1000
        visible: shown
        radius: 6
        color: "transparent"
        border.width: 2
        border.color: "#FFFFFF"
    }

    // ---- Calibration dialog ------------------------------------------------------

    CalibrationDialog {
        id: calibrationDialog
        downloading: calibrationDownload.pending > 0
        onDownloadRequested: downloadCalibration()
        onAboutToHide: calibrationDownload.cancel()
        onResetRequested: loadStitchSettings()
        onSaveRequested: saveStitchSettings()
    }

    CalibrationDownload {
        id: calibrationDownload
        objectName: "calibrationDownload"
        onReceived: {
            calibrationDialog.showDownloaded(data)
            saveStitchSettings()
        }
        onMessage: showInfo(text)
    }

    ThroughputMeter {
        id: throughput
        objectName: "throughputMeter"
    }

    TemplateChoices {
        id: templateChoices
        list: copyFilesPage.templateList
    }

    DeviceChoices {
        id: deviceChoices
        lists: [copyDataPage.dataDeviceList, settingsPage.settingsDeviceList]
    }

    SourceFolders {
        id: sources
        lists: [copyFilesPage.card1List, copyFilesPage.card2List, copyFilesPage.card3List]
    }

    // ---- File choosers -----------------------------------------------------------

    // Made on first use by the choosers.
    property alias sourceFolderDialog: fileChoosers.sourceFolderDialog
    property alias destinationFolderDialog: fileChoosers.destinationFolderDialog
    property alias templateDialog: fileChoosers.templateDialog
    property alias firmwareDialog: fileChoosers.firmwareDialog

    FileChoosers {
        id: fileChoosers
        dialogParent: window
        onSourceFolderAccepted: window.sourceFolderChosen(card, fileUrl)
        onDestinationFolderAccepted: window.destinationFolderChosen(forCopyFiles, fileUrl)
        onBackupFolderAccepted: window.backupFolderChosen(fileUrl)
        onTemplateFileAccepted: window.templateFileChosen(fileUrl)
        onFirmwareFileAccepted: window.firmwareFileChosen(fileUrl)
        onFirmwareFileRejected: window.firmwareFileRejected()
    }
}
