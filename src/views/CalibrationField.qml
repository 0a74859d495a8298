import QtQuick 2.7

// One calibration value, tied to the settings key it is stored under.
InputField {
    property string key: ""

    objectName: key + "Field"
    horizontalAlignment: TextInput.AlignHCenter
    color: enabled ? "#FFFFFF" : "#999999"
}
