import QtQuick 2.15

// The file and folder choosers; each tells what was chosen by a signal. The
// desktop's own dialogs are used where Qt finds them (a platform theme), Qt's
// widget dialog elsewhere; Qt Quick's built-in ones only without either. Where
// the window's scale would shrink Qt's widget dialog below its drawing size,
// the chooser process shows them at the desktop's scale instead.
Item {
    id: choosers
    objectName: "fileChoosers"

    // The window the dialogs belong to, so that they stay in front of it.
    property QtObject dialogParent: null

    // Qt's built-in dialogs, made on first use: most runs never need them,
    // and they are costly to create.
    property QtObject sourceFolderDialog: null
    property QtObject destinationFolderDialog: null
    property QtObject templateDialog: null
    property QtObject firmwareDialog: null
    // The platform's dialogs, also made on first use; false once they proved
    // missing (no such dialogs on this platform, or no module for them).
    property QtObject platformDialogs: null
    property bool platformDialogsUsable: true
    // What the open platform dialog was opened for.
    property var request: null
    // The chooser process where it is needed, else null.
    readonly property QtObject helper: typeof chooserProcess !== "undefined"
                                       && chooserProcess.needed ? chooserProcess : null

    signal sourceFolderAccepted(int card, var fileUrl)
    signal destinationFolderAccepted(bool forCopyFiles, var fileUrl)
    signal backupFolderAccepted(var fileUrl)
    signal templateFileAccepted(var fileUrl)
    signal firmwareFileAccepted(var fileUrl)
    signal firmwareFileRejected

    // The path of a file URL from a dialog. Percent escapes are decoded, so
    // a folder named "a#b" or "50%" is not mistaken for another one.
    function pathOf(url) {
        var path = url === undefined || url === null ? "" : String(url)
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

    function openSourceFolderDialog(card) {
        if (openPlatformDialog({ "kind": "source", "card": card }, "Choose a directory", "desktop"))
            return
        if (sourceFolderDialog === null)
            sourceFolderDialog = sourceFolderDialogComponent.createObject(dialogParent)
        sourceFolderDialog.targetCard = card
        sourceFolderDialog.open()
    }

    function openDestinationFolderDialog(forCopyFiles) {
        if (openPlatformDialog({ "kind": "destination", "forCopyFiles": forCopyFiles },
                               "Choose the target directory", "movies"))
            return
        if (destinationFolderDialog === null)
            destinationFolderDialog = destinationFolderDialogComponent.createObject(dialogParent)
        destinationFolderDialog.forCopyFiles = forCopyFiles
        destinationFolderDialog.forBackup = false
        destinationFolderDialog.open()
    }

    function openBackupFolderDialog() {
        if (openPlatformDialog({ "kind": "backup" }, "Choose the backup directory", "movies"))
            return
        if (destinationFolderDialog === null)
            destinationFolderDialog = destinationFolderDialogComponent.createObject(dialogParent)
        destinationFolderDialog.forBackup = true
        destinationFolderDialog.open()
    }

    function openTemplateDialog() {
        if (openPlatformDialog({ "kind": "template" }, "Select a stitching template", "movies",
                               ["Autopano Project Template (*.kava)"]))
            return
        if (templateDialog === null)
            templateDialog = templateDialogComponent.createObject(dialogParent)
        templateDialog.open()
    }

    function openFirmwareDialog() {
        if (openPlatformDialog({ "kind": "firmware" }, "Please select the new firmware file",
                               "documents", ["Pelorin Firmware (*.hex)"]))
            return
        if (firmwareDialog === null)
            firmwareDialog = firmwareDialogComponent.createObject(dialogParent)
        firmwareDialog.open()
    }

    // True when the platform's dialog is open; a folder dialog without filters.
    function openPlatformDialog(what, title, place, filters) {
        if (helper !== null) {
            request = what
            helper.choose(title, place, filters ? filters : [], dialogParent)
            return true
        }
        if (!platformDialogsUsable)
            return false
        if (platformDialogs === null && !makePlatformDialogs())
            return false
        var dialog = filters ? platformDialogs.fileDialog : platformDialogs.folderDialog
        dialog.title = title
        if (filters) {
            dialog.nameFilters = filters
            dialog.folder = platformDialogs.location(place)
        } else {
            dialog.currentFolder = platformDialogs.location(place)
        }
        request = what
        dialog.open()
        if (dialog.visible)
            return true
        request = null
        platformDialogsUsable = false
        return false
    }

    function makePlatformDialogs() {
        var component = Qt.createComponent("PlatformDialogs.qml")
        if (component.status !== Component.Ready) {
            console.info("File choosers: Qt's own dialogs: " + component.errorString())
            platformDialogsUsable = false
            return false
        }
        platformDialogs = component.createObject(choosers)
        platformDialogs.folderDialog.accepted.connect(function () {
            platformChosen(platformDialogs.folderDialog.folder)
        })
        platformDialogs.fileDialog.accepted.connect(function () {
            platformChosen(platformDialogs.fileDialog.file)
        })
        platformDialogs.folderDialog.rejected.connect(platformCancelled)
        platformDialogs.fileDialog.rejected.connect(platformCancelled)
        return true
    }

    function platformChosen(url) {
        var what = request
        request = null
        if (what === null)
            return
        if (what.kind === "source")
            sourceFolderAccepted(what.card, url)
        else if (what.kind === "destination")
            destinationFolderAccepted(what.forCopyFiles, url)
        else if (what.kind === "backup")
            backupFolderAccepted(url)
        else if (what.kind === "template")
            templateFileAccepted(url)
        else if (what.kind === "firmware")
            firmwareFileAccepted(url)
    }

    function platformCancelled() {
        var what = request
        request = null
        if (what !== null && what.kind === "firmware")
            firmwareFileRejected()
    }

    Connections {
        target: choosers.helper
        function onChosen(url) {
            choosers.platformChosen(url)
        }
        function onCancelled() {
            choosers.platformCancelled()
        }
    }

    ChooserWaitBox {
        chooser: choosers.helper
    }

    Component {
        id: sourceFolderDialogComponent

        ChooserFallback {
            property int targetCard: 1

            objectName: "sourceFolderDialog"
            title: "Choose a directory"
            selectFolder: true
            selectExisting: false
            folder: shortcuts.desktop
            onAccepted: choosers.sourceFolderAccepted(targetCard, fileUrl)
        }
    }

    Component {
        id: destinationFolderDialogComponent

        ChooserFallback {
            property bool forCopyFiles: true
            property bool forBackup: false

            objectName: "destinationFolderDialog"
            title: forBackup ? "Choose the backup directory" : "Choose the target directory"
            selectFolder: true
            selectExisting: false
            folder: shortcuts.movies
            onAccepted: forBackup ? choosers.backupFolderAccepted(fileUrl)
                                  : choosers.destinationFolderAccepted(forCopyFiles, fileUrl)
        }
    }

    Component {
        id: templateDialogComponent

        ChooserFallback {
            objectName: "templateDialog"
            title: "Select a stitching template"
            folder: shortcuts.movies
            nameFilters: ["Autopano Project Template (*.kava)"]
            onAccepted: choosers.templateFileAccepted(fileUrl)
        }
    }

    Component {
        id: firmwareDialogComponent

        ChooserFallback {
            objectName: "firmwareDialog"
            title: "Please select the new firmware file"
            folder: shortcuts.documents
            nameFilters: ["Pelorin Firmware (*.hex)"]
            onAccepted: choosers.firmwareFileAccepted(fileUrl)
            onRejected: choosers.firmwareFileRejected()
        }
    }
}
