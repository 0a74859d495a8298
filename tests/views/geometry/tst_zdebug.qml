import QtQuick 2.7
import QtTest 1.2
import "../qml"
ViewTestCase {
    name: "Debug"
    function test_dump() {
        createWindow()
        click("changeAnglesButton")
        var d = child("calibrationDialog")
        tryCompare(d, "opened", true)
        var g = d.contentItem.children[0]
        console.log("grid w=" + g.width + " labelWidth=" + g.labelWidth + " col=" + g.columnWidth)
        for (var i = 0; i < g.children.length; ++i) {
            var c = g.children[i]
            console.log((c.objectName || c.text || String(c)).substring(0,25) + " x=" + c.x.toFixed(1) + " w=" + c.width.toFixed(1) + " iw=" + c.implicitWidth.toFixed(1))
        }
    }
}
