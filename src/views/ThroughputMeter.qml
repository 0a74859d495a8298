import QtQuick 2.7

// How fast each card of an import is copied and how long it has left, from
// the bytes copied so far against the card's total.
QtObject {
    // Until then a rate tells more about the start (walking the card, opening
    // the first file) than about the copy.
    property int settleTime: 3000
    // Per card number: the first report of the run, {bytes, time}.
    property var starts: ({})

    function reset() {
        starts = {}
    }

    // The throughput and time left for a report at msec, or "" while it is
    // too early to tell and once the card is done.
    function describe(card, copied, total, msec) {
        copied = Number(copied)
        total = Number(total)
        if (!(total > 0) || !(copied >= 0) || copied >= total)
            return ""
        var start = starts[card]
        if (start === undefined || copied < start.bytes) {
            starts[card] = { "bytes": copied, "time": msec }
            return ""
        }
        var elapsed = (msec - start.time) / 1000
        if (elapsed * 1000 < settleTime || copied <= start.bytes)
            return ""
        var rate = (copied - start.bytes) / elapsed
        return rateText(rate) + ", " + durationText((total - copied) / rate) + " left"
    }

    // Decimal units, as file managers show sizes.
    function rateText(bytesPerSecond) {
        var units = ["B/s", "kB/s", "MB/s", "GB/s"]
        var value = bytesPerSecond
        var unit = 0
        while (value >= 1000 && unit < units.length - 1) {
            value /= 1000
            ++unit
        }
        return (value < 100 && unit > 0 ? value.toFixed(1) : value.toFixed(0)) + " " + units[unit]
    }

    function durationText(seconds) {
        var s = Math.ceil(seconds)
        if (s < 60)
            return s + " s"
        var minutes = Math.floor(s / 60)
        if (minutes < 60)
            return minutes + " min " + (s % 60) + " s"
        var m = minutes % 60
        return Math.floor(minutes / 60) + " h " + (m < 10 ? "0" : "") + m + " min"
    }
}
