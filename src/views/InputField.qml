import QtQuick 2.7
import QtQuick.Controls 2.2

// A text field that fits a compact grid row: white text, mouse selection.
TextField {
    color: "#FFFFFF"
    selectByMouse: true
    topPadding: 4
    bottomPadding: 6
    verticalAlignment: TextInput.AlignVCenter
}
