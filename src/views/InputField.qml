import QtQuick 2.7
import QtQuick.Controls 2.2

// A text field of one height on every page: white text, mouse selection.
TextField {
    color: "#FFFFFF"
    selectByMouse: true
    implicitHeight: 40
    topPadding: 8
    bottomPadding: 10
    verticalAlignment: TextInput.AlignVCenter
}
