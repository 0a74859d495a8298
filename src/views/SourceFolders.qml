import QtQuick 2.7

// What the three card lists offer and which folder each card reads: the
// mounted volumes, the folders the user chose, and no folder for two cards.
QtObject {
    id: sources

    // The card lists of cards 1, 2 and 3.
    property var lists: []
    // The entries behind the lists, index for index with the model.
    property var drives: []
    property ListModel model: ListModel {}

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function stripped(path) {
        path = textOf(path).replace(/[\\/]+$/, "")
        return Qt.platform.os === "windows" ? path.toLowerCase() : path
    }

    // Paths of one folder compare equal whatever their final separator.
    function samePath(a, b) {
        return stripped(a) === stripped(b)
    }

    function selectedKey(card) {
        var list = lists[card - 1]
        return list.currentIndex >= 0 && list.currentIndex < list.count ? model.get(list.currentIndex).key : ""
    }

    // The folders of cards 1, 2 and 3 ("" for a list without a selection).
    function selectedKeys() {
        return [1, 2, 3].map(selectedKey)
    }

    // Each card has a folder of its own.
    function threeFolders() {
        var keys = selectedKeys()
        return keys.every(function (key) { return key !== "" }) && cardUsing(keys[0], 1) === 0
                && cardUsing(keys[1], 2) === 0
    }

    // The other card whose list shows this folder; 0 when none does.
    function cardUsing(key, card) {
        for (var other = 1; other <= 3; ++other) {
            if (other !== card && selectedKey(other) !== "" && samePath(selectedKey(other), key))
                return other
        }
        return 0
    }

    // Why the chosen folders cannot be used, or empty: two cards that read
    // one folder would import it as two cameras, or prepare it twice.
    function sharedFolderHint() {
        for (var card = 1; card <= 3; ++card) {
            var key = selectedKey(card)
            var other = key === "" ? 0 : cardUsing(key, card)
            if (other > card)
                return "Cards " + card + " and " + other + " both read " + key
                        + ". Please choose another folder for one of them."
        }
        return ""
    }

    // The mounted volumes; prepared cards, labelled "QVK_0" and their camera
    // number, are selected in their lists.
    function show(volumes) {
        model.clear()
        drives = volumes
        for (var i = 0; i < drives.length; ++i) {
            var key = textOf(drives[i].key)
            var name = textOf(drives[i].value)
            // A volume without a label is named by its path, once.
            model.append({ "key": key, "value": name === "" || samePath(name, key) ? key : name + " (" + key + ")" })
        }
        for (var j = 0; j < drives.length; ++j) {
            var k = textOf(drives[j].key)
            var v = textOf(drives[j].value)
            if (k.indexOf("QVK") < 0 && v.indexOf("QVK") < 0)
                continue
            var card = (k.endsWith("1") || v.endsWith("1")) ? 1 : (k.endsWith("2") || v.endsWith("2")) ? 2
                     : (k.endsWith("3") || v.endsWith("3")) ? 3 : 0
            if (card > 0)
                lists[card - 1].currentIndex = j
        }
    }

    // What a chosen folder shows: the label of the volume it lies on, if any.
    function folderText(path) {
        var label = ""
        var longest = 0
        for (var i = 0; i < drives.length; ++i) {
            var root = textOf(drives[i].key).replace(/[\\/]+$/, "")
            var name = textOf(drives[i].value)
            if (name !== textOf(drives[i].key) && root.length > longest
                    && (samePath(path, root) || path.indexOf(root + "/") === 0)) {
                label = name
                longest = root.length
            }
        }
        return label === "" ? path : label + " (" + path + ")"
    }

    // The chosen folder goes first in every card list; the other lists keep
    // showing what they showed, and a list without a selection takes it too.
    // One listed already is selected.
    function addFolder(card, path) {
        for (var k = 0; k < model.count; ++k) {
            if (samePath(model.get(k).key, path)) {
                lists[card - 1].currentIndex = k
                return
            }
        }
        var before = lists.map(function (list) { return list.currentIndex })
        drives = [{ "key": path, "value": path }].concat(drives)
        model.insert(0, { "key": path, "value": folderText(path) })
        for (var i = 0; i < 3; ++i)
            lists[i].currentIndex = (i === card - 1) ? 0 : before[i] + 1
    }
}
