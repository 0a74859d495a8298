import QtQuick 2.7
import QtTest 1.2

// Base of the view tests: a fresh main window per test, made after the test
// has given the fake controller its data (the window reads it at start-up).
TestCase {
    id: testCase

    property var window: null

    function createWindow() {
        var component = Qt.createComponent("qrc:/views/Main.qml")
        if (component.status !== Component.Ready)
            fail(component.errorString())
        window = component.createObject(null)
        verify(window !== null, "the main window was not created")
        return window
    }

    function child(name) {
        var item = findChild(window, name)
        verify(item !== null, "no control named " + name)
        return item
    }

    // Clicks a control the way a user does: its tab is brought up first.
    function click(name) {
        var item = child(name)
        var pages = ["copyFilesPage", "copyDataPage", "settingsPage"]
        for (var p = item.parent; p; p = p.parent) {
            var index = pages.indexOf(p.objectName)
            if (index >= 0) {
                child("tabBar").currentIndex = index
                waitForRendering(p)
                break
            }
        }
        verify(item.visible, name + " is not visible")
        mouseClick(item)
    }

    // Keys go to the focused control of the window that has the focus.
    function typeInto(name, text) {
        var item = child(name)
        window.requestActivate()
        tryCompare(window, "active", true)
        item.forceActiveFocus()
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
    }

    // The arguments of one signal a spy caught, as an array.
    function argumentsOf(spy, index) {
        return Array.prototype.slice.call(spy.signalArguments[index])
    }

    function drive(key, value) {
        return { "key": key, "value": value }
    }

    function device(name, serial, manufacturer) {
        return {
            "name": name,
            "description": "USB Serial",
            "location": "",
            "manufacturer": manufacturer,
            "serial": serial
        }
    }

    function cleanup() {
        if (window !== null) {
            window.cardOneCopying = false
            window.cardTwoCopying = false
            window.cardThreeCopying = false
            window.dataCopying = false
            window.close()
            window.destroy()
            window = null
        }
        appController.reset()
    }
}
