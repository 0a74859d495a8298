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

    signal copyFiles(string dir1, string dir2, string dir3, string targetDir, string templatePath, string projectName)
    signal copyData(string port, string targetDir, string projectName)
    signal eraseCards(string dir1, string dir2, string dir3, bool eraseCards, bool createSyncConfig)
    signal readCameraSettings(string port)
    signal saveCameraSettings(string port, string date, int recLedOn, double loggingInterval, double timelapseInterval, double timelapseTimeout, int e1FirmwareVersion)
    signal resetCameraSettings(string port)
    signal eraseMemory(string port)
    signal exitApp()

    function updateCardProgress(cardNumber, from, to, value, text) {}
    function updateDataProgress(from, to, value, text) {}
    function updateCameraSettingsProgress(from, to, value, text) {}
    function updateCameraSettings(firmware, battery, date, recLedOn, loggingInterval, timelapseInterval, timelapseTimeout, e1FirmwareVersion) {}
    function updateFirmwareProgress(from, to, value, text) {}

    header: TabBar {
        id: tabBar
        TabButton { text: "Copy Files" }
        TabButton { text: "Copy Data" }
        TabButton { text: "Settings" }
    }

    footer: RowLayout {
        height: 50
        Label { Layout.leftMargin: 10; text: "Version " + appController.getVersion(); color: "#CCCCCC" }
        Item { Layout.fillWidth: true }
        Button { Layout.rightMargin: 10; text: "Exit"; onClicked: window.close() }
    }
}
