#include "cards/wipecheck.h"

#include "cards/cardpreparation.h"
#include "cards/importledger.h"
#include "cards/medianaming.h"
#include "cards/verifiedcopy.h"
#include "cards/volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QVariantMap>

#if defined(Q_OS_UNIX)
#include <dirent.h>
#endif

namespace {

struct CardWalk
{
    QString root;
    quint64 device = 0;
    QStringList mediaFiles; // absolute paths
    QStringList unreadable; // relative to the root
};

// Whether the folder's entries can be read by this process as it acts now
// (permission bits alone do not tell: file access may act as another user).
bool canList(const QString& folder)
{
#if defined(Q_OS_UNIX)
    DIR* listing = ::opendir(QFile::encodeName(folder).constData());
    if (!listing)
        return false;
    ::closedir(listing);
    return true;
#else
    const QFileInfo info(folder);
    return info.isReadable() && info.isExecutable();
#endif
}

// The media files an import would copy that a wipe would delete: the walk
// goes where the import's goes (no hidden entries, no links followed) but
// stays on the card's own file system.
void walk(const QString& folder, CardWalk& card)
{
    if (!canList(folder)) {
        card.unreadable << QDir(card.root).relativeFilePath(folder);
        return;
    }
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue; // the wipe removes the link, never what it points to
        quint64 device = 0;
        if (!Volumes::deviceOf(entry.filePath(), &device)) {
            card.unreadable << QDir(card.root).relativeFilePath(entry.filePath());
            continue;
        }
        if (device != card.device)
            continue; // another volume mounted below the card: the wipe leaves it
        if (entry.isDir()) {
            if (folder != card.root || !Volumes::isVolumeManagedFolder(entry.fileName()))
                walk(entry.filePath(), card);
        } else if (entry.isFile() && MediaNaming::isMediaFile(entry.filePath()))
            card.mediaFiles << entry.filePath();
    }
}

// Times as the ledger holds them may have whole seconds only.
bool sameTime(const QDateTime& recorded, const QDateTime& now)
{
    const qint64 a = recorded.toMSecsSinceEpoch();
    const qint64 b = now.toMSecsSinceEpoch();
    return a == b || (a % 1000 == 0 && a / 1000 == b / 1000);
}

} // namespace

WipeCheck::WipeCheck(const QString& ledgerPath) : ledgerPath(ledgerPath) {}

void WipeCheck::setReverify(bool on)
{
    reverify = on;
}

CardCopies WipeCheck::check(const QString& cardRoot) const
{
    CardCopies result;
    CardWalk card;
    card.root = QDir(cardRoot).absolutePath();
    if (!Volumes::deviceOf(card.root, &card.device)) {
        result.unreadable.append({QStringLiteral("."), QStringLiteral("cannot be read")});
        return result;
    }
    walk(card.root, card);

    const ImportLedger ledger(ledgerPath.isEmpty() ? ImportLedger::defaultPath() : ledgerPath);
    QHash<QString, QList<LedgerEntry>> copies;
    for (const LedgerEntry& entry : ledger.copiesOfCard(CardIdentity::of(cardRoot)))
        copies[entry.relativePath].prepend(entry); // newest first

    const QDir root(card.root);
    result.mediaFiles = card.mediaFiles.size();
    for (const QString& path : qAsConst(card.mediaFiles)) {
        const QString relative = root.relativeFilePath(path);
        const QFileInfo file(path);
        const QList<LedgerEntry> rows = copies.value(relative);
        QString reason = rows.isEmpty() ? QStringLiteral("no copy recorded")
                                        : QStringLiteral("changed since it was copied");
        bool verified = false;
        for (const LedgerEntry& row : rows) {
            if (row.size != file.size() || !sameTime(row.modified, file.lastModified()))
                continue;
            const QFileInfo copy(row.copyPath);
            if (!copy.isFile()) {
                reason = QStringLiteral("its copy is gone (%1)").arg(row.copyPath);
                continue;
            }
            if (copy.size() != row.size) {
                reason = QStringLiteral("its copy has another size (%1)").arg(row.copyPath);
                continue;
            }
            if (reverify) {
                quint64 hash = 0;
                QString error;
                if (!VerifiedCopy::hashFile(row.copyPath, &hash, &error)) {
                    reason =
                        QStringLiteral("its copy cannot be read (%1: %2)").arg(row.copyPath, error);
                    continue;
                }
                if (hash != row.xxh64) {
                    reason = QStringLiteral("its copy's content differs from the card's (%1)")
                                 .arg(row.copyPath);
                    continue;
                }
            }
            verified = true;
            break;
        }
        if (!verified)
            result.unverified.append({relative, reason});
    }
    for (const QString& entry : qAsConst(card.unreadable))
        result.unreadable.append({entry, QStringLiteral("cannot be read")});
    return result;
}

QVariantList WipeCheck::eraseCheck(const QString& card1, const QString& card2,
                                   const QString& card3) const
{
    QVariantList result;
    const QString cards[] = {card1, card2, card3};
    for (int n = 1; n <= 3; ++n) {
        const QString& path = cards[n - 1];
        const VolumeInfo volume = Volumes::volumeForPath(path);
        QVariantMap entry;
        entry.insert(QStringLiteral("card"), n);
        entry.insert(QStringLiteral("path"), path);
        entry.insert(QStringLiteral("label"), volume.name);
        entry.insert(QStringLiteral("size"), volume.bytesTotal);
        const QString problem = cardScopeProblem(path);
        entry.insert(QStringLiteral("problem"), problem);
        int files = -1;
        int verified = -1;
        int unreadable = -1;
        if (problem.isEmpty()) {
            const CardCopies copies = check(path);
            files = copies.mediaFiles;
            verified = copies.verifiedFiles();
            unreadable = copies.unreadable.size();
        }
        entry.insert(QStringLiteral("files"), files);
        entry.insert(QStringLiteral("verified"), verified);
        entry.insert(QStringLiteral("unreadable"), unreadable);
        result.append(entry);
    }
    return result;
}
