#pragma once

#include <QString>
#include <QStringList>

// Import set-ups that can only go wrong, found before anything is copied: a
// destination on a card (a later run would import its own copies), a card
// inside another and one card given twice (its media imported as two
// cameras). A card folder kept below the destination is fine: the card is
// listed before anything is copied, and its copies land beside it. Paths are compared as the file
// system resolves them, links followed, so one folder under two names is one folder.
class ImportPaths
{
public:
    // The reason, or empty when the paths are fine. `cards` holds the card
    // folders in camera order; empty or missing ones are left to each card's
    // own check. The destination need not exist yet.
    static QString problem(const QStringList& cards, const QString& targetDir);

    // The path with links resolved, as far as it exists; the part that does
    // not exist yet is appended as written.
    static QString resolved(const QString& path);

    // `path` is `folder` or lies below it, both resolved.
    static bool within(const QString& path, const QString& folder);
};
