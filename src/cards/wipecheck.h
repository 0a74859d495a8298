#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QtGlobal>

// What a wipe of one card would lose. A media file (what an import copies)
// counts as safe only when the import ledger holds as many copies of it for
// this card as are required, each proving its bytes saved (see CopyProof)
// and each in a destination of its own: the folder an import wrote to,
// found from the copy's path, one folder under two names counting once. Every other file the
// wipe would delete is named as not imported, except the files card
// preparation writes itself. Links and files of other volumes mounted below
// the card are not counted: the wipe does not delete them.
struct CardCopies
{
    struct Entry
    {
        QString relativePath; // '/' separated
        QString reason;       // why it is not safe, for the log
    };

    int mediaFiles = 0;
    QList<Entry> unverified; // media files without a proven copy, in path order
    QList<Entry> unreadable; // what the check could not look into: it may hold media
    QStringList notImported; // other files the wipe deletes, in path order
    int copiesRequired = 1;
    // Per destination folder: how many of the media files have a proven copy there.
    QMap<QString, int> verifiedIn;

    int verifiedFiles() const { return mediaFiles - unverified.size(); }
    // No media file lost; files that are not imported are the caller's to weigh.
    bool safeToWipe() const { return unverified.isEmpty() && unreadable.isEmpty(); }
};

class WipeCheck
{
public:
    // `ledgerPath` empty: the ledger every import writes to.
    explicit WipeCheck(const QString& ledgerPath = QString());

    // Also reads every card file and every copy whole and compares their
    // XXH64 with the ledger's.
    void setReverify(bool reverify);
    // Proven copies in distinct destinations each media file needs; 1 by default.
    void setCopiesRequired(int copies);

    // The card whose root folder is `cardRoot`.
    CardCopies check(const QString& cardRoot) const;

    // For the erase box, per card (1 to 3) a map: "card", "path", "label",
    // "size" (bytes), "problem" (why the card may not be prepared at all;
    // empty when it may), "wipeProblem" (why it may not be wiped), "files"
    // (media files) and "verified" (those with the required proven copies),
    // "copies" (the copies required), "destinations" (per destination a map
    // of its "path" and the media files "verified" there), "unreadable"
    // (what could not be looked into), "notImported" (the other files a wipe
    // deletes, relative paths); the counts are -1 for a card that may not be
    // wiped.
    QVariantList eraseCheck(const QString& card1, const QString& card2, const QString& card3) const;

private:
    QString ledgerPath;
    bool reverify = false;
    int copiesRequired = 1;
};
