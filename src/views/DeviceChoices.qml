import QtQuick 2.7

// The serial ports the two device lists offer, and which of them is most
// likely the controller unit.
QtObject {
    // The device lists of the Copy Data and Settings tabs.
    property var lists: []
    // The entries behind the lists, index for index with the model.
    property var devices: []
    property ListModel model: ListModel {}

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    // Serial and maker identify the unit; a port without a serial (one named
    // in the settings file, say) is shown by its name rather than as " ()".
    function deviceText(device) {
        var serial = textOf(device.serial)
        return serial === "" ? textOf(device.name) : serial + " (" + textOf(device.manufacturer) + ")"
    }

    function firstWithSerial(word) {
        for (var i = 0; i < devices.length; ++i) {
            if (textOf(devices[i].serial).indexOf(word) >= 0)
                return i
        }
        return -1
    }

    // The ports found; the unit ("PELORIN" in its serial, else an "FTDI"
    // adapter) is selected in both lists.
    function show(found) {
        devices = found
        model.clear()
        for (var i = 0; i < devices.length; ++i)
            model.append({ "key": textOf(devices[i].name), "value": deviceText(devices[i]) })
        var preselect = firstWithSerial("PELORIN")
        if (preselect < 0)
            preselect = firstWithSerial("FTDI")
        if (preselect >= 0)
            lists.forEach(function (list) { list.currentIndex = preselect })
    }
}
