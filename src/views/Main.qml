import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0
import QtQuick.Window 2.2
import QtQuick.Dialogs 1.2 as Dialogs

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

    readonly property var calibrationDefaults: ({
            "Camera1Yaw": "0",
            "Camera2Yaw": "120",
            "Camera3Yaw": "-120",
            "Camera1Pitch": "0",
            "Camera2Pitch": "0",
            "Camera3Pitch": "0",
            "Camera1Roll": "-90",
            "Camera2Roll": "-90",
            "Camera3Roll": "-90",
            "Camera1OffsetX": "-20",
            "Camera2OffsetX": "-20",
            "Camera3OffsetX": "-20",
            "Camera1OffsetY": "0",
            "Camera2OffsetY": "0",
            "Camera3OffsetY": "0"
        })

    signal copyFiles(string dir1, string dir2, string dir3, string targetDir, string templatePath, string projectName)
    signal copyData(string port, string targetDir, string projectName)
    signal eraseCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
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
                card1List.currentIndex = j
            else if (k.endsWith("2") || v.endsWith("2"))
                card2List.currentIndex = j
            else if (k.endsWith("3") || v.endsWith("3"))
                card3List.currentIndex = j
        }
    }

    function loadTemplates() {
        templates = appController.getTemplates()
        templateModel.clear()
        for (var i = 0; i < templates.length; ++i)
            templateModel.append({ "key": textOf(templates[i].key), "value": textOf(templates[i].value) })
        if (templateModel.count > 0)
            templateList.currentIndex = 0
    }

    function refreshDestination() {
        var location = textOf(appController.getMoviesLocation())
        filesDestinationField.text = location
        dataDestinationField.text = location
    }

    function readyToCopyFiles() {
        if (cardOneCopying || cardTwoCopying || cardThreeCopying)
            return false
        return hasSelection(card1List) && hasSelection(card2List) && hasSelection(card3List)
                && filesDestinationField.text !== ""
    }

    function readyToEraseCards() {
        if (cardOneCopying || cardTwoCopying || cardThreeCopying)
            return false
        return hasSelection(card1List) || hasSelection(card2List) || hasSelection(card3List)
    }

    function copyFilesClicked() {
        if (!readyToCopyFiles())
            return
        // Set-ups that can only go wrong are refused before anything is copied.
        var refused = appController.checkImportPaths(selectedKey(card1List), selectedKey(card2List),
                                                     selectedKey(card3List), filesDestinationField.text,
                                                     selectedKey(templateList))
        if (refused) {
            showInfo(refused)
            return
        }
        cardOneCopying = true
        cardTwoCopying = true
        cardThreeCopying = true
        copyFiles(selectedKey(card1List), selectedKey(card2List), selectedKey(card3List),
                  filesDestinationField.text, selectedKey(templateList), projectNameField.text)
    }

    function eraseCardsClicked(eraseCardsChecked, createSyncConfigChecked) {
        if (!readyToEraseCards())
            return
        eraseCards(selectedKey(card1List), selectedKey(card2List), selectedKey(card3List),
                   eraseCardsChecked === true, createSyncConfigChecked === true)
    }

    function updateCardProgress(cardNumber, from, to, value, text) {
        var card = Number(cardNumber)
        var bar = card === 1 ? card1Bar : card === 2 ? card2Bar : card === 3 ? card3Bar : null
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
        var lists = [card1List, card2List, card3List]
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
            filesDestinationField.text = path
        dataDestinationField.text = path
    }

    function templateFileChosen(url) {
        var path = urlToPath(url)
        var list = templates.slice()
        list.unshift({ "key": path, "value": path })
        templates = list
        templateModel.insert(0, { "key": path, "value": path })
        templateList.currentIndex = 0
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
            dataDeviceList.currentIndex = preselect
            settingsDeviceList.currentIndex = preselect
        }
    }

    function getSelectedDataDeviceName() {
        if (!hasSelection(dataDeviceList))
            return ""
        var name = selectedKey(dataDeviceList)
        appController.setPort(name)
        return name
    }

    function readyToCopyData() {
        if (dataCopying)
            return false
        return hasSelection(dataDeviceList) && dataDestinationField.text !== ""
    }

    function readyToEraseMemory() {
        if (dataCopying)
            return false
        return hasSelection(dataDeviceList)
    }

    function copyDataClicked() {
        if (!readyToCopyData())
            return
        dataCopying = true
        copyData(getSelectedDataDeviceName(), dataDestinationField.text, dataProjectNameField.text)
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
        showControllerProgress(dataBar, from, to, value, text)
    }

    // ---- Settings ----------------------------------------------------------

    function getSelectedSettingsDeviceName() {
        if (!hasSelection(settingsDeviceList))
            return ""
        var name = selectedKey(settingsDeviceList)
        appController.setPort(name)
        return name
    }

    function readyToReadSettings() {
        return !dataCopying && hasSelection(settingsDeviceList)
    }

    function readyToSaveCameraSettings() {
        return !dataCopying && hasSelection(settingsDeviceList)
    }

    function readyToResetCameraSettings() {
        return !dataCopying && hasSelection(settingsDeviceList)
    }

    function readyToUpdateFirmware() {
        return !dataCopying && hasSelection(settingsDeviceList)
    }

    function getSelectedE1Firmware() {
        switch (e1FirmwareList.currentIndex) {
        case 0:
            return 26
        case 1:
            return 29
        case 2:
            return 30
        default:
            return 29
        }
    }

    function setE1Firmware(version) {
        switch (Number(version)) {
        case 26:
            e1FirmwareList.currentIndex = 0
            break
        case 29:
            e1FirmwareList.currentIndex = 1
            break
        case 30:
            e1FirmwareList.currentIndex = 2
            break
        default:
            break
        }
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
        saveCameraSettings(getSelectedSettingsDeviceName(), dateTimeField.text,
                           recordLedBox.checked ? 1 : 0, videoIntervalSlider.value,
                           photoIntervalSlider.value, photoTimeoutSlider.value,
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
        firmwareText.text = textOf(firmware)
        batteryText.text = textOf(battery)
        dateTimeField.text = textOf(date)
        recordLedBox.checked = recLedOn === 1
        videoIntervalSlider.value = Number(loggingInterval)
        photoIntervalSlider.value = Number(timelapseInterval)
        photoTimeoutSlider.value = Number(timelapseTimeout)
        setE1Firmware(e1FirmwareVersion)
        if (waitBox.visible)
            waitBox.close()
    }

    function updateCameraSettingsProgress(from, to, value, text) {
        showControllerProgress(settingsBar, from, to, value, text)
    }

    function updateFirmwareProgress(from, to, value, text) {
        showControllerProgress(settingsBar, from, to, value, text)
    }

    function updateFirmwareClicked() {
        if (dataCopying)
            return
        dataCopying = true
        openFirmwareDialog()
    }

    function firmwareFileChosen(url) {
        appController.updateFirmware(getSelectedSettingsDeviceName(), urlToPath(url))
    }

    function firmwareFileRejected() {
        dataCopying = false
    }

    // ---- Stitching calibration ----------------------------------------------

    function calibrationFields() {
        return [camera1YawField, camera2YawField, camera3YawField,
                camera1PitchField, camera2PitchField, camera3PitchField,
                camera1RollField, camera2RollField, camera3RollField,
                camera1OffsetXField, camera2OffsetXField, camera3OffsetXField,
                camera1OffsetYField, camera2OffsetYField, camera3OffsetYField]
    }

    function loadStitchSettings() {
        settings = appController.getSettings()
        radiansBox.checked = textOf(settings["RadiansAngles"]) === "1"
        overwriteBox.checked = textOf(settings["OverwriteAngles"]) === "1"
        var fields = calibrationFields()
        for (var i = 0; i < fields.length; ++i)
            fields[i].text = textOf(settings[fields[i].key])
        serialField.text = textOf(settings["Serialnumber"])
    }

    function saveStitchSettings() {
        var updated = settings
        updated["Serialnumber"] = serialField.text
        updated["RadiansAngles"] = radiansBox.checked ? "1" : "0"
        updated["OverwriteAngles"] = overwriteBox.checked ? "1" : "0"
        var fields = calibrationFields()
        for (var i = 0; i < fields.length; ++i)
            updated[fields[i].key] = fields[i].text
        appController.updateSettings(updated)
        loadStitchSettings()
    }

    function setCalibrationDefaults() {
        var fields = calibrationFields()
        for (var i = 0; i < fields.length; ++i)
            fields[i].text = calibrationDefaults[fields[i].key]
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

    // A service may send the flag as a boolean, a number or a text.
    function truthValue(value) {
        if (typeof value === "string") {
            var text = value.trim().toLowerCase()
            return text !== "" && text !== "0" && text !== "false"
        }
        return !!value
    }

    function downloadCalibration() {
        var serial = serialField.text
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
            // A member the answer lacks leaves its field as it was rather than
            // storing "undefined".
            if (data["RadiansAngles"] !== undefined && data["RadiansAngles"] !== null)
                radiansBox.checked = truthValue(data["RadiansAngles"])
            // Only a number or a text is a value: an object, a list or a flag
            // would be stored as junk such as "[object Object]".
            var fields = calibrationFields()
            for (var i = 0; i < fields.length; ++i) {
                var value = data[fields[i].key]
                if (typeof value === "number" || typeof value === "string")
                    fields[i].text = String(value)
            }
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

    Item {
        id: copyFilesPage
        objectName: "copyFilesPage"
        anchors.fill: parent
        visible: tabBar.currentIndex === 0

        GridLayout {
            id: filesGrid

            readonly property real columnWidth: width / 6 - columnSpacing
            readonly property real rowUnit: height / 20 - rowSpacing
            function span(n) {
                return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
            }

            anchors.fill: parent
            anchors.margins: 10
            columns: 6
            columnSpacing: 10
            rowSpacing: 8

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Source:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: filesGrid.span(5)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Card 1"
            }
            ComboBox {
                id: card1List
                objectName: "card1List"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: driveModel
                textRole: "value"
                currentIndex: -1
            }
            Button {
                objectName: "card1BrowseButton"
                text: "..."
                Layout.preferredWidth: filesGrid.span(1)
                onClicked: openSourceFolderDialog(1)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Card 2"
            }
            ComboBox {
                id: card2List
                objectName: "card2List"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: driveModel
                textRole: "value"
                currentIndex: -1
            }
            Button {
                objectName: "card2BrowseButton"
                text: "..."
                Layout.preferredWidth: filesGrid.span(1)
                onClicked: openSourceFolderDialog(2)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Card 3"
            }
            ComboBox {
                id: card3List
                objectName: "card3List"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: driveModel
                textRole: "value"
                currentIndex: -1
            }
            Button {
                objectName: "card3BrowseButton"
                text: "..."
                Layout.preferredWidth: filesGrid.span(1)
                onClicked: openSourceFolderDialog(3)
            }

            Item {
                Layout.preferredWidth: filesGrid.span(1)
            }
            Button {
                objectName: "refreshCardsButton"
                text: "Refresh Cards"
                Layout.columnSpan: 2
                Layout.preferredWidth: filesGrid.span(2)
                onClicked: refreshDrives()
            }
            ActionButton {
                objectName: "eraseCardsButton"
                text: "Erase Cards"
                destructive: true
                Layout.columnSpan: 2
                Layout.preferredWidth: filesGrid.span(2)
                enabled: readyToEraseCards()
                onClicked: eraseCardsBox.open()
            }
            Item {
                Layout.preferredWidth: filesGrid.span(1)
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Destination:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: filesGrid.span(5)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Folder"
            }
            InputField {
                id: filesDestinationField
                objectName: "filesDestinationField"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: filesGrid.rowUnit
                // The Copy Data tab follows; edits there do not come back.
                Keys.onReleased: dataDestinationField.text = text
            }
            Button {
                objectName: "filesDestinationBrowseButton"
                text: "..."
                Layout.preferredWidth: filesGrid.span(1)
                onClicked: openDestinationFolderDialog(true)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Project Name"
            }
            InputField {
                id: projectNameField
                objectName: "projectNameField"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: filesGrid.rowUnit
                Keys.onReleased: dataProjectNameField.text = text
            }
            Item {
                Layout.preferredWidth: filesGrid.span(1)
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Stitching:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: filesGrid.span(5)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Camera Angles"
            }
            Label {
                objectName: "angleModeText"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                text: textOf(settings["OverwriteAngles"]) === "1"
                      ? "Overwrite camera angles in template."
                      : "Use camera angles from template."
            }
            Button {
                objectName: "changeAnglesButton"
                text: "Change"
                Layout.preferredWidth: filesGrid.span(1)
                onClicked: {
                    loadStitchSettings()
                    calibrationDialog.open()
                }
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Template"
            }
            ComboBox {
                id: templateList
                objectName: "templateList"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: templateModel
                textRole: "value"
                currentIndex: -1
            }
            Button {
                objectName: "templateBrowseButton"
                text: "..."
                Layout.preferredWidth: filesGrid.span(1)
                onClicked: openTemplateDialog()
            }

            Item {
                Layout.preferredWidth: filesGrid.span(1)
            }
            Button {
                objectName: "refreshTemplatesButton"
                text: "Refresh Templates"
                Layout.columnSpan: 2
                Layout.preferredWidth: filesGrid.span(2)
                onClicked: loadTemplates()
            }
            ActionButton {
                objectName: "copyFilesButton"
                text: "Copy Files"
                Layout.columnSpan: 2
                Layout.preferredWidth: filesGrid.span(2)
                enabled: readyToCopyFiles()
                onClicked: copyFilesClicked()
            }
            Item {
                Layout.preferredWidth: filesGrid.span(1)
            }

            Repeater {
                model: 6
                Item {
                    Layout.preferredWidth: filesGrid.span(1)
                    Layout.preferredHeight: 2
                }
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Progress:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: filesGrid.span(5)
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Card 1"
                Layout.preferredHeight: 35
                verticalAlignment: Text.AlignVCenter
            }
            StatusProgressBar {
                id: card1Bar
                objectName: "card1Progress"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                Layout.preferredHeight: 35
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Card 2"
                Layout.preferredHeight: 35
                verticalAlignment: Text.AlignVCenter
            }
            StatusProgressBar {
                id: card2Bar
                objectName: "card2Progress"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                Layout.preferredHeight: 35
            }

            Label {
                Layout.preferredWidth: filesGrid.span(1)
                text: "Card 3"
                Layout.preferredHeight: 35
                verticalAlignment: Text.AlignVCenter
            }
            StatusProgressBar {
                id: card3Bar
                objectName: "card3Progress"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                Layout.preferredHeight: 35
            }

            Item {
                Layout.columnSpan: 6
                Layout.fillHeight: true
            }
        }
    }

    // ---- Tab "Copy Data" -------------------------------------------------------

    Item {
        id: copyDataPage
        objectName: "copyDataPage"
        anchors.fill: parent
        visible: tabBar.currentIndex === 1

        GridLayout {
            id: dataGrid

            readonly property real columnWidth: width / 6 - columnSpacing
            readonly property real rowUnit: height / 14 - rowSpacing
            function span(n) {
                return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
            }

            anchors.fill: parent
            anchors.margins: 10
            columns: 6
            columnSpacing: 10
            rowSpacing: 10

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: dataGrid.span(1)
                text: "Connection:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: dataGrid.span(5)
            }

            Label {
                text: "Device"
                Layout.preferredWidth: dataGrid.span(1)
            }
            ComboBox {
                id: dataDeviceList
                objectName: "dataDeviceList"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: deviceModel
                textRole: "value"
                currentIndex: -1
            }
            Item {
                Layout.preferredWidth: dataGrid.span(1)
            }

            Item {
                Layout.preferredWidth: dataGrid.span(1)
            }
            Button {
                objectName: "dataRefreshDevicesButton"
                text: "Refresh Devices"
                Layout.columnSpan: 2
                Layout.preferredWidth: dataGrid.span(2)
                onClicked: refreshDevices()
            }
            Item {
                Layout.columnSpan: 3
                Layout.preferredWidth: dataGrid.span(3)
            }

            Item {
                Layout.preferredWidth: dataGrid.span(1)
                Layout.preferredHeight: 10
            }
            Label {
                objectName: "dataHintText"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                text: readyToReadSettings() ? "" : "Please connect the camera with a Micro-USB cable and tap the record button twice."
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: dataGrid.span(1)
                text: "Destination:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: dataGrid.span(5)
            }

            Label {
                Layout.preferredWidth: dataGrid.span(1)
                text: "Folder"
            }
            InputField {
                id: dataDestinationField
                objectName: "dataDestinationField"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: dataGrid.rowUnit
            }
            Button {
                objectName: "dataDestinationBrowseButton"
                text: "..."
                Layout.preferredWidth: dataGrid.span(1)
                onClicked: openDestinationFolderDialog(false)
            }

            Label {
                Layout.preferredWidth: dataGrid.span(1)
                text: "Project Name"
            }
            InputField {
                id: dataProjectNameField
                objectName: "dataProjectNameField"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: dataGrid.rowUnit
            }
            Item {
                Layout.preferredWidth: dataGrid.span(1)
            }

            Item {
                Layout.preferredWidth: dataGrid.span(1)
            }
            ActionButton {
                objectName: "copyDataButton"
                text: "Copy Data"
                Layout.columnSpan: 2
                Layout.preferredWidth: dataGrid.span(2)
                enabled: readyToCopyData()
                onClicked: copyDataClicked()
            }
            ActionButton {
                objectName: "eraseMemoryButton"
                text: "Erase Memory"
                destructive: true
                Layout.columnSpan: 2
                Layout.preferredWidth: dataGrid.span(2)
                enabled: readyToEraseMemory()
                onClicked: eraseMemoryBox.open()
            }
            Item {
                Layout.preferredWidth: dataGrid.span(1)
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: dataGrid.span(1)
                text: "Progress:"
                font.bold: true
                Layout.preferredHeight: dataGrid.rowUnit
                verticalAlignment: Text.AlignBottom
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: dataGrid.span(5)
            }

            Label {
                Layout.preferredWidth: dataGrid.span(1)
                text: "Data"
                Layout.preferredHeight: 35
                verticalAlignment: Text.AlignVCenter
            }
            StatusProgressBar {
                id: dataBar
                objectName: "dataProgress"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                Layout.preferredHeight: 35
            }

            Item {
                Layout.columnSpan: 6
                Layout.fillHeight: true
            }
        }
    }

    // ---- Tab "Settings" --------------------------------------------------------

    Item {
        id: settingsPage
        objectName: "settingsPage"
        anchors.fill: parent
        visible: tabBar.currentIndex === 2

        GridLayout {
            id: settingsGrid

            readonly property real columnWidth: width / 6 - columnSpacing
            readonly property real rowUnit: height / 14 - rowSpacing
            // Compact rows, so that every row of the tab fits the window.
            readonly property real controlHeight: Math.min(rowUnit, 40)
            function span(n) {
                return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
            }

            anchors.fill: parent
            anchors.margins: 10
            columns: 6
            columnSpacing: 10
            rowSpacing: 10

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Camera Device:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: settingsGrid.span(5)
            }

            Label {
                text: "Port"
                Layout.preferredWidth: settingsGrid.span(1)
            }
            ComboBox {
                id: settingsDeviceList
                objectName: "settingsDeviceList"
                Layout.preferredHeight: 44
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: deviceModel
                textRole: "value"
                currentIndex: -1
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }
            Button {
                objectName: "settingsRefreshDevicesButton"
                text: "Refresh Devices"
                Layout.preferredHeight: 44
                Layout.columnSpan: 2
                Layout.preferredWidth: settingsGrid.span(2)
                onClicked: refreshDevices()
            }
            Button {
                objectName: "connectButton"
                text: "Connect"
                Layout.preferredHeight: 44
                Layout.columnSpan: 2
                Layout.preferredWidth: settingsGrid.span(2)
                enabled: readyToReadSettings()
                onClicked: connectButtonClicked()
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Item {
                Layout.preferredWidth: settingsGrid.span(1)
                Layout.preferredHeight: 10
            }
            Label {
                objectName: "settingsHintText"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                text: readyToReadSettings() ? "" : "Please connect the camera with a Micro-USB cable and tap the record button twice."
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Camera Settings:"
                font.bold: true
                Layout.preferredHeight: 30
                verticalAlignment: Text.AlignVCenter
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: settingsGrid.span(5)
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Firmware:"
                Layout.preferredHeight: 26
                verticalAlignment: Text.AlignVCenter
            }
            Label {
                id: firmwareText
                objectName: "firmwareText"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                text: "-"
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Battery:"
                Layout.preferredHeight: 26
                verticalAlignment: Text.AlignVCenter
            }
            Label {
                id: batteryText
                objectName: "batteryText"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                text: "-"
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Date/Time"
            }
            InputField {
                id: dateTimeField
                objectName: "dateTimeField"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: settingsGrid.controlHeight
            }
            Button {
                objectName: "nowButton"
                text: "Now"
                Layout.preferredHeight: 44
                Layout.preferredWidth: settingsGrid.span(1)
                onClicked: dateTimeField.text = Qt.formatDateTime(new Date(), "yyyy-MM-dd hh:mm:ss")
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Record LED"
            }
            CheckBox {
                id: recordLedBox
                objectName: "recordLedBox"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: settingsGrid.controlHeight
                text: "LED is on while recording"
                checked: true
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Video interval"
            }
            Slider {
                id: videoIntervalSlider
                objectName: "videoIntervalSlider"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: settingsGrid.controlHeight
                from: 0.2
                to: 10
                value: 1
                stepSize: 0.1
                snapMode: Slider.NoSnap
            }
            Label {
                objectName: "videoIntervalText"
                Layout.preferredWidth: settingsGrid.span(1)
                horizontalAlignment: Text.AlignRight
                text: videoIntervalSlider.value.toFixed(1) + " seconds"
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Photo interval"
            }
            Slider {
                id: photoIntervalSlider
                objectName: "photoIntervalSlider"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: settingsGrid.controlHeight
                from: 5
                to: 120
                value: 5
                stepSize: 1
                snapMode: Slider.SnapAlways
            }
            Label {
                objectName: "photoIntervalText"
                Layout.preferredWidth: settingsGrid.span(1)
                horizontalAlignment: Text.AlignRight
                text: photoIntervalSlider.value.toFixed(0) + " seconds"
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Photo timeout"
            }
            Slider {
                id: photoTimeoutSlider
                objectName: "photoTimeoutSlider"
                Layout.columnSpan: 4
                Layout.fillWidth: true
                Layout.preferredHeight: settingsGrid.controlHeight
                from: 5
                to: 360
                value: 90
                stepSize: 5
                snapMode: Slider.NoSnap
            }
            Label {
                objectName: "photoTimeoutText"
                Layout.preferredWidth: settingsGrid.span(1)
                horizontalAlignment: Text.AlignRight
                text: photoTimeoutSlider.value.toFixed(0) + " minutes"
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "E1 Firmware"
            }
            ComboBox {
                id: e1FirmwareList
                objectName: "e1FirmwareList"
                Layout.preferredHeight: 44
                Layout.columnSpan: 4
                Layout.fillWidth: true
                model: ["0.26", "0.29", "0.30 (in beta, not officially supported)"]
                currentIndex: 0
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }
            Button {
                objectName: "saveSettingsButton"
                text: "Save Settings"
                Layout.preferredHeight: 44
                Layout.columnSpan: 2
                Layout.preferredWidth: settingsGrid.span(2)
                enabled: readyToSaveCameraSettings()
                onClicked: saveCameraSettingsClicked()
            }
            ActionButton {
                objectName: "resetSettingsButton"
                text: "Reset Settings"
                destructive: true
                Layout.preferredHeight: 44
                Layout.columnSpan: 2
                Layout.preferredWidth: settingsGrid.span(2)
                enabled: readyToResetCameraSettings()
                onClicked: resetCameraSettingsClicked()
            }
            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }

            Item {
                Layout.preferredWidth: settingsGrid.span(1)
            }
            Button {
                objectName: "updateFirmwareButton"
                text: "Update Firmware"
                Layout.preferredHeight: 44
                Layout.columnSpan: 2
                Layout.preferredWidth: settingsGrid.span(2)
                enabled: readyToUpdateFirmware()
                onClicked: updateFirmwareClicked()
            }
            Item {
                Layout.columnSpan: 3
                Layout.preferredWidth: settingsGrid.span(3)
            }

            Item {
                Layout.columnSpan: 6
                Layout.preferredHeight: 10
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Progress:"
                font.bold: true
            }
            Item {
                Layout.columnSpan: 5
                Layout.preferredWidth: settingsGrid.span(5)
            }

            Label {
                Layout.preferredWidth: settingsGrid.span(1)
                text: "Settings"
                Layout.preferredHeight: 35
                verticalAlignment: Text.AlignVCenter
            }
            StatusProgressBar {
                id: settingsBar
                objectName: "settingsProgress"
                Layout.columnSpan: 5
                Layout.fillWidth: true
                Layout.preferredHeight: 35
            }

            Item {
                Layout.columnSpan: 6
                Layout.fillHeight: true
            }
        }
    }

    // ---- Boxes -----------------------------------------------------------------

    Popup {
        id: infoBox
        objectName: "infoBox"
        // Boxes are placed relative to the whole window, tab bar included.
        parent: ApplicationWindow.overlay

        property string text: ""

        x: 100
        y: 100
        width: 500
        height: 200
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: "Info"
                font.bold: true
                Layout.alignment: Qt.AlignLeft
            }
            Label {
                objectName: "infoText"
                text: infoBox.text
                Layout.fillWidth: true
                Layout.fillHeight: true
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.WordWrap
            }
            Button {
                objectName: "infoOkButton"
                text: "Ok"
                Layout.preferredWidth: 150
                Layout.alignment: Qt.AlignHCenter
                onClicked: infoBox.close()
            }
        }
    }

    Popup {
        id: waitBox
        objectName: "waitBox"
        parent: ApplicationWindow.overlay
        x: 100
        y: 100
        width: 500
        height: 200
        modal: true
        focus: true
        closePolicy: Popup.NoAutoClose
        // Opens and closes at once, so a quick final report always closes it.
        enter: Transition {}
        exit: Transition {}

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: "Please wait ..."
                font.bold: true
            }
            BusyIndicator {
                Layout.alignment: Qt.AlignHCenter
                running: waitBox.visible
            }
            Label {
                objectName: "waitText"
                text: waitText
                Layout.fillWidth: true
                Layout.fillHeight: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
            }
        }
    }

    Popup {
        id: eraseCardsBox
        objectName: "eraseCardsBox"
        parent: ApplicationWindow.overlay
        x: 100
        y: 100
        width: 500
        height: 200
        modal: true
        focus: true
        closePolicy: Popup.NoAutoClose

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: "Please check all that apply:"
            }
            CheckBox {
                id: eraseCardsCheck
                objectName: "eraseCardsCheck"
                text: "Erase cards. This can't be undone."
                checked: true
            }
            CheckBox {
                id: syncConfigCheck
                objectName: "syncConfigCheck"
                text: "Write sync configuration files"
                checked: true
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter

                ActionButton {
                    objectName: "eraseCardsConfirmButton"
                    text: "Erase"
                    destructive: true
                    Layout.preferredWidth: 150
                    onClicked: {
                        eraseCardsClicked(eraseCardsCheck.checked, syncConfigCheck.checked)
                        eraseCardsBox.close()
                    }
                }
                Button {
                    objectName: "eraseCardsCancelButton"
                    text: "Cancel"
                    Layout.preferredWidth: 150
                    onClicked: eraseCardsBox.close()
                }
            }
        }
    }

    Popup {
        id: eraseMemoryBox
        objectName: "eraseMemoryBox"
        parent: ApplicationWindow.overlay
        x: 100
        y: 100
        width: 500
        height: 200
        modal: true
        focus: true
        closePolicy: Popup.NoAutoClose

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: "Please check all that apply:"
            }
            CheckBox {
                id: eraseMemoryCheck
                objectName: "eraseMemoryCheck"
                text: "Erase memory. This can't be undone."
                checked: true
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter

                ActionButton {
                    objectName: "eraseMemoryConfirmButton"
                    text: "Erase"
                    destructive: true
                    Layout.preferredWidth: 150
                    onClicked: {
                        eraseMemoryClicked(eraseMemoryCheck.checked)
                        eraseMemoryBox.close()
                    }
                }
                Button {
                    objectName: "eraseMemoryCancelButton"
                    text: "Cancel"
                    Layout.preferredWidth: 150
                    onClicked: {
                        eraseMemoryClicked(false)
                        eraseMemoryBox.close()
                    }
                }
            }
        }
    }

    // ---- Calibration dialog ------------------------------------------------------

    Popup {
        id: calibrationDialog
        objectName: "calibrationDialog"
        parent: ApplicationWindow.overlay
        x: 100
        y: 100
        width: 500
        height: 700
        modal: true
        focus: true
        padding: 0
        closePolicy: Popup.NoAutoClose

        GridLayout {
            id: calibrationGrid

            readonly property real columnWidth: width / 7 - columnSpacing
            readonly property real rowUnit: height / 14 - rowSpacing
            function span(n) {
                return Math.max(0, n * columnWidth + (n - 1) * columnSpacing)
            }

            anchors.fill: parent
            anchors.margins: 10
            columns: 7
            columnSpacing: 10
            rowSpacing: 5

            Label {
                text: "Custom camera calibration settings"
                font.bold: true
                Layout.columnSpan: 7
                Layout.preferredHeight: calibrationGrid.rowUnit
                verticalAlignment: Text.AlignVCenter
            }

            Label {
                text: "Your Pelorin QVK serial: "
                Layout.columnSpan: 3
                Layout.preferredWidth: calibrationGrid.span(3)
                Layout.preferredHeight: calibrationGrid.rowUnit
                verticalAlignment: Text.AlignVCenter
            }
            InputField {
                id: serialField
                objectName: "serialField"
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: TextInput.AlignHCenter
            }
            Button {
                objectName: "downloadButton"
                text: "Download"
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
                onClicked: downloadCalibration()
            }

            Button {
                objectName: "defaultsButton"
                text: "Defaults"
                Layout.columnSpan: 3
                Layout.preferredWidth: calibrationGrid.span(3)
                Layout.preferredHeight: calibrationGrid.rowUnit
                onClicked: setCalibrationDefaults()
            }
            Item {
                Layout.preferredWidth: calibrationGrid.span(1)
            }
            Button {
                objectName: "resetCalibrationButton"
                text: "Reset"
                Layout.columnSpan: 3
                Layout.preferredWidth: calibrationGrid.span(3)
                Layout.preferredHeight: calibrationGrid.rowUnit
                onClicked: loadStitchSettings()
            }

            Label {
                text: "Camera:"
                Layout.preferredWidth: calibrationGrid.span(1)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignRight
                verticalAlignment: Text.AlignVCenter
            }
            Repeater {
                model: ["1", "2", "3"]
                Label {
                    text: modelData
                    Layout.columnSpan: 2
                    Layout.preferredWidth: calibrationGrid.span(2)
                    Layout.preferredHeight: calibrationGrid.rowUnit
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }

            Label {
                text: "Yaw: "
                Layout.preferredWidth: calibrationGrid.span(1)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignRight
                verticalAlignment: Text.AlignVCenter
            }
            CalibrationField {
                id: camera1YawField
                key: "Camera1Yaw"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera2YawField
                key: "Camera2Yaw"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera3YawField
                key: "Camera3Yaw"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }

            Label {
                text: "Pitch: "
                Layout.preferredWidth: calibrationGrid.span(1)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignRight
                verticalAlignment: Text.AlignVCenter
            }
            CalibrationField {
                id: camera1PitchField
                key: "Camera1Pitch"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera2PitchField
                key: "Camera2Pitch"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera3PitchField
                key: "Camera3Pitch"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }

            Label {
                text: "Roll: "
                Layout.preferredWidth: calibrationGrid.span(1)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignRight
                verticalAlignment: Text.AlignVCenter
            }
            CalibrationField {
                id: camera1RollField
                key: "Camera1Roll"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera2RollField
                key: "Camera2Roll"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera3RollField
                key: "Camera3Roll"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }

            Label {
                text: "Offset X: "
                Layout.preferredWidth: calibrationGrid.span(1)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignRight
                verticalAlignment: Text.AlignVCenter
            }
            CalibrationField {
                id: camera1OffsetXField
                key: "Camera1OffsetX"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera2OffsetXField
                key: "Camera2OffsetX"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera3OffsetXField
                key: "Camera3OffsetX"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }

            Label {
                text: "Offset Y: "
                Layout.preferredWidth: calibrationGrid.span(1)
                Layout.preferredHeight: calibrationGrid.rowUnit
                horizontalAlignment: Text.AlignRight
                verticalAlignment: Text.AlignVCenter
            }
            CalibrationField {
                id: camera1OffsetYField
                key: "Camera1OffsetY"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera2OffsetYField
                key: "Camera2OffsetY"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }
            CalibrationField {
                id: camera3OffsetYField
                key: "Camera3OffsetY"
                enabled: overwriteBox.checked
                Layout.columnSpan: 2
                Layout.preferredWidth: calibrationGrid.span(2)
                Layout.preferredHeight: calibrationGrid.rowUnit
            }

            CheckBox {
                id: radiansBox
                objectName: "radiansBox"
                text: "Angles are in Radians"
                enabled: overwriteBox.checked
                Layout.columnSpan: 7
                Layout.preferredHeight: calibrationGrid.rowUnit
                contentItem: Text {
                    text: radiansBox.text
                    font: radiansBox.font
                    color: radiansBox.enabled ? "#FFFFFF" : "#999999"
                    leftPadding: radiansBox.indicator.width + radiansBox.spacing
                    verticalAlignment: Text.AlignVCenter
                }
            }
            CheckBox {
                id: overwriteBox
                objectName: "overwriteBox"
                text: "Overwrite camera angles in template"
                Layout.columnSpan: 7
                Layout.preferredHeight: calibrationGrid.rowUnit
                contentItem: Text {
                    text: overwriteBox.text
                    font: overwriteBox.font
                    color: "#FFFFFF"
                    leftPadding: overwriteBox.indicator.width + overwriteBox.spacing
                    verticalAlignment: Text.AlignVCenter
                }
            }

            ActionButton {
                objectName: "saveCalibrationButton"
                text: "Save"
                Layout.columnSpan: 3
                Layout.preferredWidth: calibrationGrid.span(3)
                Layout.preferredHeight: calibrationGrid.rowUnit
                onClicked: {
                    saveStitchSettings()
                    calibrationDialog.close()
                }
            }
            Item {
                Layout.preferredWidth: calibrationGrid.span(1)
            }
            Button {
                objectName: "cancelCalibrationButton"
                text: "Cancel"
                Layout.columnSpan: 3
                Layout.preferredWidth: calibrationGrid.span(3)
                Layout.preferredHeight: calibrationGrid.rowUnit
                onClicked: calibrationDialog.close()
            }

            Repeater {
                model: 7
                Item {
                    Layout.preferredWidth: calibrationGrid.span(1)
                    Layout.preferredHeight: 2
                }
            }

            Item {
                Layout.columnSpan: 7
                Layout.preferredWidth: calibrationGrid.span(7)
                Layout.fillHeight: true
            }
        }
    }

    // ---- File choosers -----------------------------------------------------------

    // Made on first use: most runs never need them, and the built-in fallback
    // dialogs are costly to create.
    property QtObject sourceFolderDialog: null
    property QtObject destinationFolderDialog: null
    property QtObject templateDialog: null
    property QtObject firmwareDialog: null

    function openSourceFolderDialog(card) {
        if (sourceFolderDialog === null)
            sourceFolderDialog = sourceFolderDialogComponent.createObject(window)
        sourceFolderDialog.targetCard = card
        sourceFolderDialog.open()
    }

    function openDestinationFolderDialog(forCopyFiles) {
        if (destinationFolderDialog === null)
            destinationFolderDialog = destinationFolderDialogComponent.createObject(window)
        destinationFolderDialog.forCopyFiles = forCopyFiles
        destinationFolderDialog.open()
    }

    function openTemplateDialog() {
        if (templateDialog === null)
            templateDialog = templateDialogComponent.createObject(window)
        templateDialog.open()
    }

    function openFirmwareDialog() {
        if (firmwareDialog === null)
            firmwareDialog = firmwareDialogComponent.createObject(window)
        firmwareDialog.open()
    }

    Component {
        id: sourceFolderDialogComponent

        Dialogs.FileDialog {
            property int targetCard: 1

            objectName: "sourceFolderDialog"
            title: "Choose a directory"
            modality: Qt.WindowModal
            selectFolder: true
            selectExisting: false
            selectMultiple: false
            sidebarVisible: true
            folder: shortcuts.desktop
            onAccepted: sourceFolderChosen(targetCard, fileUrl)
        }
    }

    Component {
        id: destinationFolderDialogComponent

        Dialogs.FileDialog {
            property bool forCopyFiles: true

            objectName: "destinationFolderDialog"
            title: "Choose the target directory"
            modality: Qt.WindowModal
            selectFolder: true
            selectExisting: false
            selectMultiple: false
            sidebarVisible: true
            folder: shortcuts.movies
            onAccepted: destinationFolderChosen(forCopyFiles, fileUrl)
        }
    }

    Component {
        id: templateDialogComponent

        Dialogs.FileDialog {
            objectName: "templateDialog"
            title: "Select a stitching template"
            modality: Qt.WindowModal
            selectFolder: false
            selectExisting: true
            selectMultiple: false
            sidebarVisible: true
            folder: shortcuts.movies
            nameFilters: ["Autopano Project Template (*.kava)"]
            onAccepted: templateFileChosen(fileUrl)
        }
    }

    Component {
        id: firmwareDialogComponent

        Dialogs.FileDialog {
            objectName: "firmwareDialog"
            title: "Please select the new firmware file"
            modality: Qt.WindowModal
            selectFolder: false
            selectExisting: true
            selectMultiple: false
            sidebarVisible: true
            folder: shortcuts.documents
            nameFilters: ["Pelorin Firmware (*.hex)"]
            onAccepted: firmwareFileChosen(fileUrl)
            onRejected: firmwareFileRejected()
        }
    }
}
