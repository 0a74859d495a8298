import QtQuick 2.7
import QtQuick.Controls 2.2
import QtQuick.Layouts 1.0

// Asks what preparing the cards shall do before anything is touched. It names
// each card and how many of its media files have a verified copy; wiping a
// card whose files have none, or that holds files no import copies, takes a
// second confirmation that says what would be lost.
ModalBox {
    id: box

    // The cards as the controller's eraseCheck describes them: card, label,
    // path, size, problem, wipeProblem, files, verified, copies,
    // destinations, unreadable, notImported.
    property var cards: []

    // What a wipe would lose: media files without a verified copy, and places
    // the check could not look into.
    readonly property int filesWithoutCopy: countOf(function (card) {
        return Math.max(0, card.files - card.verified)
    })
    readonly property int placesUnread: countOf(function (card) {
        return Math.max(0, card.unreadable)
    })
    // Files that are not media: no import copies them, a wipe deletes them.
    readonly property int filesNotImported: countOf(function (card) {
        return card.notImported ? card.notImported.length : 0
    })
    // A card that is no card volume is refused whatever is ticked; one that
    // is no whole card volume (a folder, say) only for the wipe.
    readonly property bool cardsUsable: cards.length === 3 && countOf(function (card) {
        return card.problem || (eraseCardsCheck.checked && card.wipeProblem) ? 1 : 0
    }) === 0

    // "Erase" (or "Erase anyway" after the second box): the choices as
    // ticked; `force` when the user accepted losing files without a copy.
    signal confirmed(bool erase, bool writeSyncConfig, bool force, bool reverify)

    objectName: "eraseCardsBox"
    height: Math.max(200, content.implicitHeight + topPadding + bottomPadding)
    defaultButton: cancelButton

    // One card: what it is, where, and what of it has a verified copy.
    component CardLine: ColumnLayout {
        property int number: 1
        readonly property var card: number <= box.cards.length ? box.cards[number - 1] : null

        Layout.fillWidth: true
        spacing: 0
        visible: card !== null
        Label {
            objectName: "eraseCardText" + number
            text: card ? box.cardText(card) : ""
            color: card && (card.problem || card.wipeProblem || card.verified < card.files || card.unreadable > 0
                            || (card.notImported && card.notImported.length > 0))
                   ? "#ff8a80" : "#ffffff"
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
        Label {
            objectName: "eraseCardCopies" + number
            text: card ? box.copiesText(card) : ""
            visible: text !== ""
            color: "#999999"
            font.pixelSize: 12
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
        ElidedLabel {
            objectName: "eraseCardPlace" + number
            text: card ? card.path + ", " + box.sizeText(card.size) : ""
            color: "#B0B0B0"
            Layout.fillWidth: true
        }
    }

    function countOf(perCard) {
        var sum = 0
        for (var i = 0; i < cards.length; ++i)
            sum += perCard(cards[i])
        return sum
    }

    function sizeText(bytes) {
        var units = ["bytes", "KB", "MB", "GB", "TB"]
        var value = Number(bytes)
        var unit = 0
        while (value >= 1000 && unit < units.length - 1) {
            value /= 1000
            ++unit
        }
        return (unit === 0 ? value : value.toFixed(1)) + " " + units[unit]
    }

    function cardName(card) {
        return "Card " + card.card + " " + (card.label ? card.label : card.path)
    }

    // A folder is named as such, whatever its volume is.
    function cardText(card) {
        var refusal = card.problem ? "cannot be prepared" : card.wipeProblem ? "cannot be erased" : ""
        if (refusal && card.folder)
            return cardName(card) + ": a folder, not a card: " + refusal
        if (refusal)
            return cardName(card) + ": " + refusal + ": " + (card.problem || card.wipeProblem)
        var text = cardName(card) + ": " + card.verified + " of " + card.files
                + " files copied and verified"
        if (card.unreadable > 0)
            text += ", " + card.unreadable + (card.unreadable === 1 ? " place" : " places")
                    + " could not be read"
        var others = card.notImported ? card.notImported.length : 0
        if (others > 0)
            text += ", " + others + (others === 1 ? " file" : " files") + " not imported"
        return text
    }

    // The verified copies in each destination, and how many a file needs.
    function copiesText(card) {
        var places = card.destinations ? card.destinations : []
        if (places.length === 0)
            return ""
        return "Verified copies" + (card.copies > 1 ? ", " + card.copies + " needed per file" : "") + ": "
                + places.map(function (place) { return place.verified + " in " + place.path }).join(", ")
    }

    // "3 files that are not imported will be wiped: ...", the first ten named.
    function notImportedText() {
        var names = []
        for (var i = 0; i < cards.length; ++i) {
            var paths = cards[i].notImported ? cards[i].notImported : []
            for (var k = 0; k < paths.length; ++k)
                names.push(paths[k] + " (card " + cards[i].card + ")")
        }
        if (names.length === 0)
            return ""
        var shown = 10
        return names.length + (names.length === 1 ? " file that is not imported"
                                                  : " files that are not imported")
                + " will be wiped: " + names.slice(0, shown).join(", ")
                + (names.length > shown ? " and " + (names.length - shown) + " more" : "") + "."
    }

    function lossText() {
        var lost = []
        for (var i = 0; i < cards.length; ++i) {
            var missing = Math.max(0, cards[i].files - cards[i].verified)
            if (missing > 0 || cards[i].unreadable > 0)
                lost.push(cardName(cards[i]) + ": " + missing
                          + (missing === 1 ? " file" : " files")
                          + (cards[i].unreadable > 0 ? " and " + cards[i].unreadable
                                                       + (cards[i].unreadable === 1 ? " unreadable place"
                                                                                    : " unreadable places")
                                                     : ""))
        }
        var text = lost.length === 0 ? ""
                 : filesWithoutCopy + (filesWithoutCopy === 1 ? " media file has" : " media files have")
                   + " no verified copy and will be lost for good (" + lost.join("; ") + "). "
        var others = notImportedText()
        return text + (others ? others + " " : "") + "Erase anyway?"
    }

    function erase() {
        if (eraseCardsCheck.checked && (filesWithoutCopy > 0 || placesUnread > 0 || filesNotImported > 0)) {
            lossBox.open()
            return
        }
        box.confirmed(eraseCardsCheck.checked, syncConfigCheck.checked, false,
                      eraseCardsCheck.checked && reverifyCheck.checked)
        box.close()
    }

    ColumnLayout {
        id: content
        anchors.fill: parent

        Label {
            text: "Please check all that apply:"
        }
        CardLine {
            number: 1
        }
        CardLine {
            number: 2
        }
        CardLine {
            number: 3
        }
        CheckBox {
            id: eraseCardsCheck
            objectName: "eraseCardsCheck"
            text: "Erase cards. This can't be undone."
            checked: true
        }
        CheckBox {
            id: reverifyCheck
            objectName: "reverifyCheck"
            text: "Re-verify copies"
            checked: false
            enabled: eraseCardsCheck.checked
        }
        CheckBox {
            id: syncConfigCheck
            objectName: "syncConfigCheck"
            text: "Write sync configuration files"
            checked: true
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter

            // Without the wipe the cards only get their files written.
            ActionButton {
                objectName: "eraseCardsConfirmButton"
                text: eraseCardsCheck.checked ? "Erase" : "Prepare"
                destructive: true
                enabled: box.cardsUsable
                Layout.preferredWidth: 150
                onClicked: box.erase()
            }
            Button {
                id: cancelButton
                objectName: "eraseCardsCancelButton"
                text: "Cancel"
                Layout.preferredWidth: 150
                onClicked: box.close()
            }
        }
    }

    // The second confirmation: only for a wipe that would lose files.
    ModalBox {
        id: lossBox

        objectName: "eraseCardsLossBox"
        y: 150
        height: Math.max(200, lossContent.implicitHeight + topPadding + bottomPadding)
        defaultButton: lossCancelButton

        ColumnLayout {
            id: lossContent
            anchors.fill: parent

            Label {
                text: "Files would be lost"
                font.bold: true
            }
            Label {
                objectName: "eraseCardsLossText"
                text: box.lossText()
                wrapMode: Text.WordWrap
                Layout.fillWidth: true
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter

                ActionButton {
                    objectName: "eraseCardsAnywayButton"
                    text: "Erase anyway"
                    destructive: true
                    Layout.preferredWidth: 150
                    onClicked: {
                        box.confirmed(eraseCardsCheck.checked, syncConfigCheck.checked, true,
                                      reverifyCheck.checked)
                        lossBox.close()
                        box.close()
                    }
                }
                Button {
                    id: lossCancelButton
                    objectName: "eraseCardsLossCancelButton"
                    text: "Cancel"
                    Layout.preferredWidth: 150
                    onClicked: lossBox.close()
                }
            }
        }
    }
}
