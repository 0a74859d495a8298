import QtQuick 2.7
import QtQuick.Dialogs 1.2 as Dialogs

// The file and folder choosers; each tells what was chosen by a signal.
Item {
    id: choosers

    // The window the dialogs belong to, so that they stay in front of it.
    property QtObject dialogParent: null

    // Made on first use: most runs never need them, and the built-in fallback
    // dialogs are costly to create.
    property QtObject sourceFolderDialog: null
    property QtObject destinationFolderDialog: null
    property QtObject templateDialog: null
    property QtObject firmwareDialog: null

    signal sourceFolderAccepted(int card, var fileUrl)
    signal destinationFolderAccepted(bool forCopyFiles, var fileUrl)
    signal templateFileAccepted(var fileUrl)
    signal firmwareFileAccepted(var fileUrl)
    signal firmwareFileRejected

    function openSourceFolderDialog(card) {
        if (sourceFolderDialog === null)
            sourceFolderDialog = sourceFolderDialogComponent.createObject(dialogParent)
        sourceFolderDialog.targetCard = card
        sourceFolderDialog.open()
    }

    function openDestinationFolderDialog(forCopyFiles) {
        if (destinationFolderDialog === null)
            destinationFolderDialog = destinationFolderDialogComponent.createObject(dialogParent)
        destinationFolderDialog.forCopyFiles = forCopyFiles
        destinationFolderDialog.open()
    }

    function openTemplateDialog() {
        if (templateDialog === null)
            templateDialog = templateDialogComponent.createObject(dialogParent)
        templateDialog.open()
    }

    function openFirmwareDialog() {
        if (firmwareDialog === null)
            firmwareDialog = firmwareDialogComponent.createObject(dialogParent)
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
            onAccepted: choosers.sourceFolderAccepted(targetCard, fileUrl)
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
            onAccepted: choosers.destinationFolderAccepted(forCopyFiles, fileUrl)
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
            onAccepted: choosers.templateFileAccepted(fileUrl)
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
            onAccepted: choosers.firmwareFileAccepted(fileUrl)
            onRejected: choosers.firmwareFileRejected()
        }
    }
}
