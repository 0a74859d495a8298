import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Shown while the controller unit is busy; only the window closes it.
ModalBox {
    id: box

    // The latest report of the running task.
    property string text: ""
    // The running task can be stopped (a data export): the box shows "Stop".
    property bool stoppable: false

    signal stopRequested

    objectName: "waitBox"
    height: 200
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
            running: box.visible
        }
        Label {
            objectName: "waitText"
            text: box.text
            Layout.fillWidth: true
            Layout.fillHeight: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }
        // The download ends at the next record; nothing of it is written.
        Button {
            objectName: "stopExportButton"
            text: "Stop"
            visible: box.stoppable
            Layout.alignment: Qt.AlignHCenter
            onClicked: box.stopRequested()
        }
    }
}
