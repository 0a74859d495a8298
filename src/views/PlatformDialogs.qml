import QtQuick 2.7
import Qt.labs.platform 1.1 as Platform

// The desktop's own folder and file dialogs, or Qt's widget dialog where the
// desktop has none (the app is a widgets application). Without either they
// stay closed.
Item {
    property alias folderDialog: folderDialog
    property alias fileDialog: fileDialog

    function location(name) {
        var places = { "desktop": Platform.StandardPaths.DesktopLocation,
                       "movies": Platform.StandardPaths.MoviesLocation,
                       "documents": Platform.StandardPaths.DocumentsLocation }
        return Platform.StandardPaths.writableLocation(places[name])
    }

    Platform.FolderDialog {
        id: folderDialog
        objectName: "platformFolderDialog"
        modality: Qt.WindowModal
    }

    Platform.FileDialog {
        id: fileDialog
        objectName: "platformFileDialog"
        modality: Qt.WindowModal
        fileMode: Platform.FileDialog.OpenFile
    }
}
