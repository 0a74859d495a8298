import QtQuick 2.7

// The stitching templates the template list offers: those of the templates
// folder and files the user chose, the first one selected.
QtObject {
    property Item list: null
    // The entries behind the list, index for index with the model.
    property var templates: []
    property ListModel model: ListModel {}

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value)
    }

    function show(found) {
        templates = found
        model.clear()
        for (var i = 0; i < templates.length; ++i)
            model.append({ "key": textOf(templates[i].key), "value": textOf(templates[i].value) })
        if (model.count > 0)
            list.currentIndex = 0
    }

    // A chosen file goes first, shown as its path, and is selected.
    function addFile(path) {
        templates = [{ "key": path, "value": path }].concat(templates)
        model.insert(0, { "key": path, "value": path })
        list.currentIndex = 0
    }
}
