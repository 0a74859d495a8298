#pragma once

#include <QList>
#include <QString>
#include <QVariantList>
#include <QtGlobal>

// What a wipe of one card would lose. A media file (what an import copies)
// counts as safe only when the import ledger holds a verified copy of it for
// this card under the same relative path, size and modification time, and
// that copy is still there with the recorded size (with re-verification: with
// the recorded hash). Links and files of other volumes mounted below the card
// are not counted: the wipe does not delete them.
struct CardCopies
{
    struct Entry
    {
        QString relativePath; // '/' separated
        QString reason;       // why it is not safe, for the log
    };

    int mediaFiles = 0;
    QList<Entry> unverified; // media files without a verified copy, in path order
    QList<Entry> unreadable; // what the check could not look into: it may hold media

    int verifiedFiles() const { return mediaFiles - unverified.size(); }
    bool safeToWipe() const { return unverified.isEmpty() && unreadable.isEmpty(); }
};

class WipeCheck
{
public:
    // `ledgerPath` empty: the ledger every import writes to.
    explicit WipeCheck(const QString& ledgerPath = QString());

    // Also reads every copy again and compares its XXH64 with the ledger's.
    void setReverify(bool reverify);

    // The card whose root folder is `cardRoot`.
    CardCopies check(const QString& cardRoot) const;

    // For the erase box, per card (1 to 3) a map: "card", "path", "label",
    // "size" (bytes), "problem" (why the card may not be prepared; empty when
    // it may), "files" (media files) and "verified" (those with a verified
    // copy), "unreadable" (what could not be looked into); the counts are -1
    // for a card that may not be prepared.
    QVariantList eraseCheck(const QString& card1, const QString& card2, const QString& card3) const;

private:
    QString ledgerPath;
    bool reverify = false;
};
