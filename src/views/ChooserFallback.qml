import QtQuick 2.7
import QtQuick.Dialogs 1.2 as Dialogs

// Qt Quick's built-in file dialog, for where neither the desktop's dialogs
// nor Qt's widget dialog can be had: one choice, places at the side, and room
// to read the names.
Dialogs.FileDialog {
    modality: Qt.WindowModal
    selectFolder: false
    selectExisting: true
    selectMultiple: false
    sidebarVisible: true
    width: Math.min(720, __maximumDimension)
    height: Math.min(520, __maximumDimension)
}
