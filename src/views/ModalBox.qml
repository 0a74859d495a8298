import QtQuick 2.15
import QtQuick.Controls 2.15

// A box that keeps the window until it is answered, placed relative to the
// whole window, tab bar included. Escape cancels it; Enter
// presses the focused button, or else its default one, which takes the focus
// (and shows it) when the box opens. A destructive box defaults to cancelling.
Popup {
    id: box

    property Item defaultButton: null // a button

    function pressFocusedOrDefault() {
        var focused = ApplicationWindow.window ? ApplicationWindow.window.activeFocusItem : null
        var button = focused && focused.clicked !== undefined && focused.checkable === false && focused.enabled
                ? focused : defaultButton
        if (button && button.enabled)
            button.clicked()
    }

    parent: ApplicationWindow.overlay
    // At 100, 100 in a window of the design size; inside a narrower one.
    x: Math.max(0, (parent.width - width) / 2)
    y: 100
    width: Math.min(500, parent.width)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape

    // Once the box holds the focus, which it takes when it has opened.
    onActiveFocusChanged: {
        if (activeFocus && defaultButton)
            defaultButton.forceActiveFocus(Qt.TabFocusReason)
    }

    // Only the box on top answers: the one holding the focus.
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: box.opened && box.activeFocus
        onActivated: box.pressFocusedOrDefault()
    }
}
