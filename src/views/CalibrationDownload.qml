import QtQuick 2.7

// Fetches the calibration of one rig by its serial number from the calibration
// service. Says what came back, or why nothing did, within a bounded time.
QtObject {
    id: download

    // Used when the settings file names no service; the same as the settings
    // store's default, where a local stand-in may listen.
    readonly property string defaultServiceUrl: "http://localhost:8765"
    readonly property string requestPath: "/api/v1/vazizidadu/calibration/"
    // A service that takes the connection and never answers must not keep the
    // user waiting for ever.
    property int timeout: 20000
    // Requests sent and not yet answered.
    property int pending: 0
    // How to abandon each of them.
    property var abandonments: []

    // A calibration arrived: the members of the answer's "data".
    signal received(var data)
    // What the user is told: the service's message, or why there is none.
    signal message(string text)

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    // The service named in the settings, or the default, without a final "/".
    function serviceAddress(configured) {
        var base = textOf(configured).trim()
        if (base === "")
            base = defaultServiceUrl
        while (base.endsWith("/"))
            base = base.substring(0, base.length - 1)
        return base
    }

    // The serial is one path segment: escaped so it can neither leave the
    // path nor add a query.
    function requestUrl(configured, serial) {
        return serviceAddress(configured) + requestPath + encodeURIComponent(serial)
    }

    function start(configured, serial) {
        // "." and ".." would be taken as path steps however they are escaped.
        if (serial === "." || serial === "..") {
            message("The serial number is not valid.")
            return
        }
        console.debug("Downloading settings for " + serial)
        var address = serviceAddress(configured)
        var request = new XMLHttpRequest()
        var deadline = Qt.createQmlObject("import QtQuick 2.7; Timer {}", download)
        var done = false
        var end = function () {
            if (done)
                return false
            done = true
            deadline.stop()
            deadline.destroy()
            abandonments = abandonments.filter(function (f) { return f !== abandon })
            pending = pending - 1
            return true
        }
        // The answer, should it still come, is dropped unread.
        var abandon = function () {
            if (end())
                request.abort()
        }
        var finish = function (timedOut) {
            if (!end())
                return
            if (timedOut) {
                request.abort()
                console.warn("Calibration download: no answer from " + address)
                message("The calibration service at " + address + " did not answer.")
            } else if (request.status === 0) {
                console.warn("Calibration download: cannot reach " + address)
                message("The calibration service at " + address + " cannot be reached.")
            } else {
                answered(request.responseText)
            }
        }
        request.onreadystatechange = function () {
            if (request.readyState === XMLHttpRequest.DONE)
                finish(false)
        }
        deadline.interval = timeout
        deadline.triggered.connect(function () { finish(true) })
        pending = pending + 1
        abandonments = abandonments.concat([abandon])
        request.open("GET", requestUrl(configured, serial))
        request.send()
        deadline.start()
    }

    // Abandons every request still waiting: nothing it brings is shown or stored.
    function cancel() {
        var list = abandonments
        for (var i = 0; i < list.length; ++i)
            list[i]()
    }

    function answered(body) {
        console.log("Response: " + body)
        var response
        try {
            response = JSON.parse(body)
        } catch (error) {
            console.warn("Calibration download: " + error)
            return
        }
        if (response === null || typeof response !== "object" || Array.isArray(response)) {
            console.warn("Calibration download: the answer is not an object")
            return
        }
        var data = response["data"]
        if (response["success"] === true && data !== null && typeof data === "object")
            received(data)
        message(textOf(response["message"]))
    }
}
