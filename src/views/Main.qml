import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0
import QtQuick.Window 2.2

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 700
    height: 920
    minimumWidth: 700
    maximumWidth: 700
    minimumHeight: 920
    maximumHeight: 920
    visible: true
    title: "Pelorin QVK"

    // Busy flags: they keep operations on the same cards or the same serial
    // port apart, and keep the window open while something runs.
    property bool cardOneCopying: false
    property bool cardTwoCopying: false
    property bool cardThreeCopying: false
    property bool dataCopying: false

    // The entries behind the list controls, index for index.
    property var drives: []
    property var devices: []
    property var templates: []
    // The settings map as last read.
    property var settings: ({})

    // Status line of the wait box.
    property string waitText: ""
    // Calibration downloads sent and not yet answered.
    property int calibrationRequestsPending: 0

    // Used when the settings file names no calibration service; the same as
    // the settings store's default, where a local stand-in may listen.
    readonly property string defaultCalibrationServiceUrl: "http://localhost:8765"
    readonly property string calibrationRequestPath: "/api/v1/vazizidadu/calibration/"

    signal copyFiles(string dir1, string dir2, string dir3, string targetDir, string templatePath, string projectName,
                     bool skipImported)
    signal copyData(string port, string targetDir, string projectName)
    signal eraseCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    // The same once the user confirmed that media without a verified copy may be lost.
    signal eraseCardsForced(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    signal readCameraSettings(string port)
    signal saveCameraSettings(string port, string date, int recLedOn, double loggingInterval, double timelapseInterval, double timelapseTimeout, int e1FirmwareVersion)
    signal resetCameraSettings(string port)
    signal eraseMemory(string port)
    signal exitApp()

    Component.onCompleted: {
        refreshDrives()
        refreshDevices()
        loadTemplates()
        refreshDestination()
        loadStitchSettings()
        // Hands the port to the controller so the unit is powered off at exit.
        getSelectedSettingsDeviceName()
    }

    onClosing: {
        if (readyToExit())
            return
        close.accepted = false
        showInfo(runningOperationsText())
    }

    // ---- helpers ------------------------------------------------------------

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function hasSelection(list) {
        return list.currentIndex >= 0 && list.currentIndex < list.count
    }

    function selectedKey(list) {
        return hasSelection(list) ? list.model.get(list.currentIndex).key : ""
    }

    function showInfo(message) {
        infoBox.text = textOf(message)
        infoBox.open()
    }

    function runningOperationsText() {
        var cards = []
        if (cardOneCopying)
            cards.push("1")
        if (cardTwoCopying)
            cards.push("2")
        if (cardThreeCopying)
            cards.push("3")
        var running = []
        if (cards.length === 1)
            running.push("the copy from card " + cards[0])
        else if (cards.length > 1)
            running.push("the copy from cards " + cards.slice(0, -1).join(", ") + " and " + cards[cards.length - 1])
        if (dataCopying)
            running.push("an operation on the controller unit")
        return "Please wait until " + running.join(" and ") + " has finished."
    }

    // Shows a report on a bar and in the wait box; true while the task runs.
    function showControllerProgress(bar, from, to, value, text) {
        bar.from = Number(from)
        bar.to = Number(to)
        bar.value = Number(value)
        bar.text = textOf(text)
        dataCopying = Number(value) < Number(to)
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
        return !cardOneCopying && !cardTwoCopying && !cardThreeCopying && !dataCopying
    }

    // The path of a file URL from a file dialog. Percent escapes are decoded,
    // so a folder named "a#b" or "50%" is not mistaken for another one.
    function urlToPath(url) {
        var path = textOf(url)
        if (Qt.platform.os === "windows") {
            if (path.indexOf("file:///") === 0)
                path = path.substring(8)
            else if (path.indexOf("file://") === 0)
                path = "//" + path.substring(7) // a share: file://server/share
        } else if (path.indexOf("file://") === 0) {
            path = path.substring(7)
        }
        try {
            path = decodeURIComponent(path)
        } catch (error) {
            // Not escaped after all: keep the text as it is.
        }
        return path
    }

    // ---- Copy Files -------------------------------------------------------

    function refreshDrives() {
        driveModel.clear()
        drives = appController.getDrives()
        for (var i = 0; i < drives.length; ++i) {
            var key = textOf(drives[i].key)
            driveModel.append({ "key": key, "value": textOf(drives[i].value) + " (" + key + ")" })
        }
        // Prepared cards carry the label "QVK_0" and their camera number.
        for (var j = 0; j < drives.length; ++j) {
            var k = textOf(drives[j].key)
            var v = textOf(drives[j].value)
            if (k.indexOf("QVK") < 0 && v.indexOf("QVK") < 0)
                continue
            if (k.endsWith("1") || v.endsWith("1"))
                copyFilesPage.card1List.currentIndex = j
            else if (k.endsWith("2") || v.endsWith("2"))
                copyFilesPage.card2List.currentIndex = j
            else if (k.endsWith("3") || v.endsWith("3"))
                copyFilesPage.card3List.currentIndex = j
        }
    }

    function loadTemplates() {
        templates = appController.getTemplates()
        templateModel.clear()
        for (var i = 0; i < templates.length; ++i)
            templateModel.append({ "key": textOf(templates[i].key), "value": textOf(templates[i].value) })
        if (templateModel.count > 0)
            copyFilesPage.templateList.currentIndex = 0
    }

    function refreshDestination() {
        var location = textOf(appController.getMoviesLocation())
        copyFilesPage.filesDestinationField.text = location
        copyDataPage.dataDestinationField.text = location
    }

    function readyToCopyFiles() {
        if (cardOneCopying || cardTwoCopying || cardThreeCopying)
            return false
        var page = copyFilesPage
        return hasSelection(page.card1List) && hasSelection(page.card2List)
                && hasSelection(page.card3List) && page.filesDestinationField.text !== ""
    }

    // The three cards are prepared together or not at all.
    function readyToEraseCards() {
        if (cardOneCopying || cardTwoCopying || cardThreeCopying)
            return false
        var page = copyFilesPage
        return hasSelection(page.card1List) && hasSelection(page.card2List) && hasSelection(page.card3List)
    }

    // The box names each card and what of it has a verified copy.
    function openEraseCardsBox() {
        if (!readyToEraseCards())
            return
        var page = copyFilesPage
        eraseCardsBox.cards = appController.eraseCheck(selectedKey(page.card1List), selectedKey(page.card2List),
                                                       selectedKey(page.card3List))
        eraseCardsBox.open()
    }

    function copyFilesClicked() {
        if (!readyToCopyFiles())
            return
        var page = copyFilesPage
        // Set-ups that can only go wrong are refused before anything is copied.
        var refused = appController.checkImportPaths(selectedKey(page.card1List), selectedKey(page.card2List),
                                                     selectedKey(page.card3List), page.filesDestinationField.text,
                                                     selectedKey(page.templateList))
        if (refused) {
            showInfo(refused)
            return
        }
        cardOneCopying = true
        cardTwoCopying = true
        cardThreeCopying = true
        copyFiles(selectedKey(page.card1List), selectedKey(page.card2List), selectedKey(page.card3List),
                  page.filesDestinationField.text, selectedKey(page.templateList), page.projectNameField.text,
                  page.skipImportedBox.checked)
    }

    function eraseCardsClicked(eraseCardsChecked, createSyncConfigChecked, force) {
        if (!readyToEraseCards())
            return
        var page = copyFilesPage
        var cards = [selectedKey(page.card1List), selectedKey(page.card2List), selectedKey(page.card3List)]
        if (eraseCardsChecked === true && force === true)
            eraseCardsForced(cards[0], cards[1], cards[2], true, createSyncConfigChecked === true)
        else
            eraseCards(cards[0], cards[1], cards[2], eraseCardsChecked === true, createSyncConfigChecked === true)
    }

    function updateCardProgress(cardNumber, from, to, value, text) {
        var card = Number(cardNumber)
        var page = copyFilesPage
        var bar = card === 1 ? page.card1Bar : card === 2 ? page.card2Bar : card === 3 ? page.card3Bar : null
        if (bar === null)
            return
        bar.from = Number(from)
        bar.to = Number(to)
        bar.value = Number(value)
        bar.text = textOf(text)
        var running = Number(value) < Number(to)
        if (card === 1)
            cardOneCopying = running
        else if (card === 2)
            cardTwoCopying = running
        else
            cardThreeCopying = running
    }

    // The chosen folder goes first in every card list; the other lists keep
    // showing what they showed.
    function sourceFolderChosen(card, url) {
        var path = urlToPath(url)
        var lists = [copyFilesPage.card1List, copyFilesPage.card2List, copyFilesPage.card3List]
        var before = lists.map(function (list) { return list.currentIndex })
        var list = drives.slice()
        list.unshift({ "key": path, "value": path })
        drives = list
        driveModel.insert(0, { "key": path, "value": path })
        for (var i = 0; i < 3; ++i)
            lists[i].currentIndex = (i === card - 1) ? 0 : before[i] + 1
    }

    function destinationFolderChosen(forCopyFiles, url) {
        var path = urlToPath(url)
        if (forCopyFiles)
            copyFilesPage.filesDestinationField.text = path
        copyDataPage.dataDestinationField.text = path
    }

    function templateFileChosen(url) {
        var path = urlToPath(url)
        var list = templates.slice()
        list.unshift({ "key": path, "value": path })
        templates = list
        templateModel.insert(0, { "key": path, "value": path })
        copyFilesPage.templateList.currentIndex = 0
    }

    // ---- Copy Data -----------------------------------------------------------

    // Serial and maker identify the unit; a port without a serial (one named
    // in the settings file, say) is shown by its name rather than as " ()".
    function deviceText(device) {
        var serial = textOf(device.serial)
        if (serial === "")
            return textOf(device.name)
        return serial + " (" + textOf(device.manufacturer) + ")"
    }

    function refreshDevices() {
        devices = appController.getDevices()
        deviceModel.clear()
        for (var i = 0; i < devices.length; ++i) {
            var device = devices[i]
            deviceModel.append({ "key": textOf(device.name), "value": deviceText(device) })
        }
        var preselect = -1
        for (var j = 0; j < devices.length && preselect < 0; ++j) {
            if (textOf(devices[j].serial).indexOf("PELORIN") >= 0)
                preselect = j
        }
        for (var k = 0; k < devices.length && preselect < 0; ++k) {
            if (textOf(devices[k].serial).indexOf("FTDI") >= 0)
                preselect = k
        }
        if (preselect >= 0) {
            copyDataPage.dataDeviceList.currentIndex = preselect
            settingsPage.settingsDeviceList.currentIndex = preselect
        }
    }

    function getSelectedDataDeviceName() {
        if (!hasSelection(copyDataPage.dataDeviceList))
            return ""
        var name = selectedKey(copyDataPage.dataDeviceList)
        appController.setPort(name)
        return name
    }

    function readyToCopyData() {
        if (dataCopying)
            return false
        return hasSelection(copyDataPage.dataDeviceList) && copyDataPage.dataDestinationField.text !== ""
    }

    function readyToEraseMemory() {
        if (dataCopying)
            return false
        return hasSelection(copyDataPage.dataDeviceList)
    }

    function copyDataClicked() {
        if (!readyToCopyData())
            return
        dataCopying = true
        copyData(getSelectedDataDeviceName(), copyDataPage.dataDestinationField.text,
                 copyDataPage.dataProjectNameField.text)
    }

    function eraseMemoryClicked(eraseMemoryChecked) {
        if (!readyToEraseMemory())
            return
        if (eraseMemoryChecked !== true)
            return
        dataCopying = true
        eraseMemory(getSelectedDataDeviceName())
    }

    function updateDataProgress(from, to, value, text) {
        showControllerProgress(copyDataPage.dataBar, from, to, value, text)
    }

    // ---- Settings ----------------------------------------------------------

    function getSelectedSettingsDeviceName() {
        if (!hasSelection(settingsPage.settingsDeviceList))
            return ""
        var name = selectedKey(settingsPage.settingsDeviceList)
        appController.setPort(name)
        return name
    }

    function readyToReadSettings() {
        return !dataCopying && hasSelection(settingsPage.settingsDeviceList)
    }

    function readyToSaveCameraSettings() {
        return !dataCopying && hasSelection(settingsPage.settingsDeviceList)
    }

    function readyToResetCameraSettings() {
        return !dataCopying && hasSelection(settingsPage.settingsDeviceList)
    }

    function readyToUpdateFirmware() {
        return !dataCopying && hasSelection(settingsPage.settingsDeviceList)
    }

    function getSelectedE1Firmware() {
        return settingsPage.selectedE1Firmware()
    }

    function connectButtonClicked() {
        if (dataCopying)
            return
        dataCopying = true
        waitText = ""
        waitBox.open()
        readCameraSettings(getSelectedSettingsDeviceName())
    }

    function saveCameraSettingsClicked() {
        if (dataCopying)
            return
        dataCopying = true
        waitText = ""
        waitBox.open()
        // The slider values go out as they are, not cut to what the texts show.
        var page = settingsPage
        saveCameraSettings(getSelectedSettingsDeviceName(), page.dateTimeField.text,
                           page.recordLedBox.checked ? 1 : 0, page.videoIntervalSlider.value,
                           page.photoIntervalSlider.value, page.photoTimeoutSlider.value,
                           getSelectedE1Firmware())
    }

    function resetCameraSettingsClicked() {
        if (dataCopying)
            return
        dataCopying = true
        waitText = ""
        waitBox.open()
        resetCameraSettings(getSelectedSettingsDeviceName())
    }

    function updateCameraSettings(firmware, battery, date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1FirmwareVersion) {
        dataCopying = false
        var page = settingsPage
        page.firmwareText.text = textOf(firmware)
        page.batteryText.text = textOf(battery)
        page.dateTimeField.text = textOf(date)
        page.recordLedBox.checked = recLedOn === 1
        page.videoIntervalSlider.value = Number(loggingInterval)
        page.photoIntervalSlider.value = Number(timelapseInterval)
        page.photoTimeoutSlider.value = Number(timelapseTimeout)
        page.showE1Firmware(e1FirmwareVersion)
        if (waitBox.visible)
            waitBox.close()
    }

    function updateCameraSettingsProgress(from, to, value, text) {
        showControllerProgress(settingsPage.settingsBar, from, to, value, text)
    }

    function updateFirmwareProgress(from, to, value, text) {
        showControllerProgress(settingsPage.settingsBar, from, to, value, text)
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

    function calibrationServiceUrl() {
        var base = textOf(settings["CalibrationServiceUrl"]).trim()
        if (base === "")
            base = defaultCalibrationServiceUrl
        while (base.endsWith("/"))
            base = base.substring(0, base.length - 1)
        return base
    }

    // The serial is one path segment: escaped so it can neither leave the
    // path nor add a query.
    function calibrationRequestUrl(serial) {
        return calibrationServiceUrl() + calibrationRequestPath + encodeURIComponent(serial)
    }

    function downloadCalibration() {
        var serial = calibrationDialog.serial
        settings["Serialnumber"] = serial
        if (serial === "")
            return
        // "." and ".." would be taken as path steps however they are escaped.
        if (serial === "." || serial === "..") {
            showInfo("The serial number is not valid.")
            return
        }
        console.debug("Downloading settings for " + serial)
        var request = new XMLHttpRequest()
        request.onreadystatechange = function () {
            if (request.readyState !== XMLHttpRequest.DONE)
                return
            calibrationRequestsPending = calibrationRequestsPending - 1
            calibrationResponseReceived(request.responseText)
        }
        calibrationRequestsPending = calibrationRequestsPending + 1
        request.open("GET", calibrationRequestUrl(serial))
        request.send()
    }

    function calibrationResponseReceived(body) {
        console.log("Response: " + body)
        var response
        try {
            response = JSON.parse(body)
        } catch (error) {
            console.warn("Calibration download: " + error)
            return
        }
        if (response === null || typeof response !== "object" || Array.isArray(response)) {
            console.warn("Calibration download: the answer is not an object")
            return
        }
        var data = response["data"]
        if (response["success"] === true && data !== null && typeof data === "object") {
            calibrationDialog.showDownloaded(data)
            saveStitchSettings()
        }
        showInfo(response["message"])
    }

    // ---- Models --------------------------------------------------------------

    ListModel {
        id: driveModel
    }

    ListModel {
        id: deviceModel
    }

    ListModel {
        id: templateModel
    }

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

    footer: Item {
        height: 50

        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 10
            anchors.rightMargin: 10

            Label {
                objectName: "versionText"
                text: "Version " + appController.getVersion()
                color: "#CCCCCC"
            }
            Item {
                Layout.fillWidth: true
            }
            Button {
                id: exitButton
                objectName: "exitButton"
                text: "Exit"
                enabled: readyToExit()
                onClicked: window.close()
            }
        }
    }

    // ---- Tab "Copy Files" ----------------------------------------------------

    CopyFilesPage {
        id: copyFilesPage
        anchors.fill: parent
        visible: tabBar.currentIndex === 0
        cardChoices: driveModel
        templateChoices: templateModel
        copyFilesReady: readyToCopyFiles()
        eraseCardsReady: readyToEraseCards()
        overwriteAngles: textOf(settings["OverwriteAngles"]) === "1"
        skipImported: textOf(settings["SkipImported"]) === "1"
        onSkipImportedEdited: appController.updateSettings({ "SkipImported": skip ? "1" : "0" })
        onSourceFolderRequested: fileChoosers.openSourceFolderDialog(card)
        onRefreshCardsRequested: refreshDrives()
        onEraseCardsRequested: openEraseCardsBox()
        onDestinationFolderRequested: fileChoosers.openDestinationFolderDialog(true)
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
    }

    // ---- Tab "Copy Data" -------------------------------------------------------

    CopyDataPage {
        id: copyDataPage
        anchors.fill: parent
        visible: tabBar.currentIndex === 1
        deviceChoices: deviceModel
        copyDataReady: readyToCopyData()
        eraseMemoryReady: readyToEraseMemory()
        unitReady: readyToReadSettings()
        onRefreshDevicesRequested: refreshDevices()
        onDestinationFolderRequested: fileChoosers.openDestinationFolderDialog(false)
        onCopyDataRequested: copyDataClicked()
        onEraseMemoryRequested: eraseMemoryBox.open()
    }

    // ---- Tab "Settings" --------------------------------------------------------

    SettingsPage {
        id: settingsPage
        anchors.fill: parent
        visible: tabBar.currentIndex === 2
        deviceChoices: deviceModel
        connectReady: readyToReadSettings()
        saveReady: readyToSaveCameraSettings()
        resetReady: readyToResetCameraSettings()
        updateFirmwareReady: readyToUpdateFirmware()
        onRefreshDevicesRequested: refreshDevices()
        onConnectRequested: connectButtonClicked()
        onSaveRequested: saveCameraSettingsClicked()
        onResetRequested: resetCameraSettingsClicked()
        onUpdateFirmwareRequested: updateFirmwareClicked()
    }

    // ---- Boxes -----------------------------------------------------------------

    InfoBox {
        id: infoBox
    }

    WaitBox {
        id: waitBox
        text: waitText
    }

    EraseCardsBox {
        id: eraseCardsBox
        onConfirmed: eraseCardsClicked(erase, writeSyncConfig, force)
    }

    EraseMemoryBox {
        id: eraseMemoryBox
        onAnswered: eraseMemoryClicked(erase)
    }

    // ---- Calibration dialog ------------------------------------------------------

    CalibrationDialog {
        id: calibrationDialog
        onDownloadRequested: downloadCalibration()
        onResetRequested: loadStitchSettings()
        onSaveRequested: saveStitchSettings()
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
        onTemplateFileAccepted: window.templateFileChosen(fileUrl)
        onFirmwareFileAccepted: window.firmwareFileChosen(fileUrl)
        onFirmwareFileRejected: window.firmwareFileRejected()
    }
}
