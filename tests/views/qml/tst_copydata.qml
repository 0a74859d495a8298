import QtQuick 2.7
import QtTest 1.2

ViewTestCase {
    name: "CopyData"

    SignalSpy {
        id: copyDataSpy
        signalName: "copyData"
    }

    SignalSpy {
        id: eraseMemorySpy
        signalName: "eraseMemory"
    }

    function startWithUnit() {
        appController.devices = [device("/dev/ttyUSB0", "PELORIN42", "FTDI")]
        createWindow()
        copyDataSpy.clear()
        copyDataSpy.target = window
        eraseMemorySpy.clear()
        eraseMemorySpy.target = window
    }

    function test_devicePreselection_data() {
        var plain = device("/dev/ttyS0", "A1B2", "Acme")
        var pelorin = device("/dev/ttyUSB1", "QVK-PELORIN-0042", "Pelorin")
        var ftdi = device("/dev/ttyUSB2", "FTDI", "FTDI")
        return [
            { tag: "PELORIN in the middle", devices: [plain, pelorin, ftdi], selected: 1 },
            { tag: "PELORIN before an earlier FTDI", devices: [ftdi, plain, pelorin], selected: 2 },
            { tag: "FTDI when no PELORIN", devices: [plain, ftdi], selected: 1 },
            { tag: "case matters", devices: [device("/dev/ttyUSB3", "pelorin", "x"), plain],
              selected: -1 },
            { tag: "no device", devices: [], selected: -1 }
        ]
    }

    function test_devicePreselection(data) {
        appController.devices = data.devices
        createWindow()
        compare(child("dataDeviceList").currentIndex, data.selected)
        compare(child("settingsDeviceList").currentIndex, data.selected)
        compare(child("dataDeviceList").count, data.devices.length)
        var ready = data.selected >= 0
        compare(child("copyDataButton").enabled, ready)
        compare(child("eraseMemoryButton").enabled, ready)
        compare(child("connectButton").enabled, ready)
        compare(child("dataHintText").text === "", ready)
        compare(child("settingsHintText").text === "", ready)
        if (ready) {
            compare(child("dataDeviceList").currentText,
                    data.devices[data.selected].serial + " ("
                    + data.devices[data.selected].manufacturer + ")")
        }
    }

    function test_deviceText_data() {
        return [
            { tag: "serial and maker", device: device("/dev/ttyUSB0", "PELORIN42", "FTDI"),
              text: "PELORIN42 (FTDI)" },
            { tag: "no maker", device: device("/dev/ttyUSB0", "A7", ""), text: "A7 ()" },
            { tag: "no serial", device: device("/dev/pts/4", "", ""), text: "/dev/pts/4" }
        ]
    }

    function test_deviceText(data) {
        appController.devices = [data.device]
        createWindow()
        var list = child("dataDeviceList")
        list.currentIndex = 0
        compare(list.currentText, data.text)
        compare(window.getSelectedDataDeviceName(), data.device.name)
    }

    function test_refreshKeepsBothListsInStep() {
        startWithUnit()
        appController.devices = [device("/dev/ttyS0", "X", "Y"), device("/dev/ttyUSB5", "FTDI9", "FTDI")]
        click("dataRefreshDevicesButton")
        compare(child("dataDeviceList").currentIndex, 1)
        compare(child("settingsDeviceList").currentIndex, 1)
        compare(window.devices.length, 2)
        compare(child("settingsDeviceList").count, 2)
    }

    function test_copyDataClicked() {
        startWithUnit()
        window.copyData.connect(function () { appController.note("signal:copyData") })
        child("dataProjectNameField").text = "Dive 3"
        appController.calls = []
        click("copyDataButton")
        compare(copyDataSpy.count, 1)
        compare(argumentsOf(copyDataSpy, 0), ["/dev/ttyUSB0", "/home/user/Videos", "Dive 3"])
        // The port reaches the controller before the operation starts.
        compare(appController.calls, ["setPort:/dev/ttyUSB0", "signal:copyData"])
        verify(window.dataCopying)
        verify(!child("copyDataButton").enabled)
        verify(!child("eraseMemoryButton").enabled)
        verify(!child("connectButton").enabled)
        verify(!child("exitButton").enabled)
    }

    function test_readyWithoutDestination() {
        startWithUnit()
        child("dataDestinationField").text = ""
        verify(!window.readyToCopyData())
        verify(window.readyToEraseMemory())
        window.copyDataClicked()
        compare(copyDataSpy.count, 0)
        verify(!window.dataCopying)
    }

    function test_eraseMemoryBox_data() {
        return [
            { tag: "confirmed", checked: true, button: "eraseMemoryConfirmButton", sent: 1 },
            { tag: "box unticked", checked: false, button: "eraseMemoryConfirmButton", sent: 0 },
            { tag: "cancelled", checked: true, button: "eraseMemoryCancelButton", sent: 0 }
        ]
    }

    function test_eraseMemoryBox(data) {
        startWithUnit()
        click("eraseMemoryButton")
        var box = child("eraseMemoryBox")
        tryCompare(box, "visible", true)
        child("eraseMemoryCheck").checked = data.checked
        appController.calls = []
        click(data.button)
        tryCompare(box, "visible", false)
        compare(eraseMemorySpy.count, data.sent)
        compare(window.dataCopying, data.sent === 1)
        if (data.sent === 1) {
            compare(argumentsOf(eraseMemorySpy, 0), ["/dev/ttyUSB0"])
        } else {
            compare(appController.calls, [])
        }
    }
}
