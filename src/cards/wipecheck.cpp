#include "cards/wipecheck.h"

#include "cards/cardpreparation.h"
#include "cards/cardwalk.h"
#include "cards/importledger.h"
#include "cards/medianaming.h"
#include "cards/volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QVariantMap>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// The folder the import wrote the copy to: the copy's folder less the card
// file's folders, which every import keeps below its destination.
QString destinationOf(const LedgerEntry& row)
{
    const QString copyFolder = QFileInfo(row.copyPath).path();
    const QString below = QFileInfo(row.relativePath).path();
    if (below == QLatin1String(".") || !copyFolder.endsWith(QLatin1Char('/') + below))
        return copyFolder;
    return copyFolder.left(copyFolder.size() - below.size() - 1);
}

// One folder under two names (a link, a bind mount, another letter case) is
// one destination: known by the file system's identity where it gives one.
QString destinationKey(const QString& folder)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) == 0)
        return QStringLiteral("%1:%2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
#endif
    return QDir::cleanPath(folder);
}

} // namespace

WipeCheck::WipeCheck(const QString& ledgerPath) : ledgerPath(ledgerPath) {}

void WipeCheck::setReverify(bool on)
{
    reverify = on;
}

void WipeCheck::setCopiesRequired(int copies)
{
    copiesRequired = qMax(1, copies);
}

CardCopies WipeCheck::check(const QString& cardRoot) const
{
    CardCopies result;
    result.copiesRequired = copiesRequired;
    const QString root = QDir(cardRoot).absolutePath();
    const CardWalk::Result walk = CardWalk::walk(root, CardWalk::Scope::Wipe);
    const QDir card(root);

    const ImportLedger ledger(ledgerPath.isEmpty() ? ImportLedger::defaultPath() : ledgerPath);
    QHash<QString, QList<LedgerEntry>> copies;
    for (const LedgerEntry& entry : ledger.copiesOfCard(CardIdentity::of(cardRoot)))
        copies[entry.relativePath].prepend(entry); // newest first

    const CopyProof::Depth depth =
        reverify ? CopyProof::Depth::FullRead : CopyProof::Depth::Fingerprint;
    QHash<QString, QString> destinations; // a destination as recorded: as first met by identity
    const auto destinationFor = [&](const LedgerEntry& row) {
        const QString recorded = destinationOf(row);
        if (!destinations.contains(recorded)) {
            const QString key = destinationKey(recorded);
            const auto same =
                std::find_if(destinations.cbegin(), destinations.cend(),
                             [&](const QString& met) { return destinationKey(met) == key; });
            destinations.insert(recorded, same == destinations.cend() ? recorded : *same);
        }
        return destinations.value(recorded);
    };
    for (const CardWalk::File& file : walk.files) {
        const QString relative = card.relativeFilePath(file.path);
        if (!MediaNaming::isMediaFile(file.path)) {
            if (!isPreparationFile(relative))
                result.notImported << relative;
            continue;
        }
        ++result.mediaFiles;
        const QList<LedgerEntry> rows = copies.value(relative);
        if (!file.regular) {
            result.unverified.append({relative, QStringLiteral("not a regular file")});
            continue;
        }
        // The newest row's reason is the one the user can act on.
        QString reason = rows.isEmpty() ? QStringLiteral("no copy recorded") : QString();
        CopyProof proof(file.path, depth);
        QStringList proven; // destinations
        for (const LedgerEntry& row : rows) {
            const QString destination = destinationFor(row);
            if (proven.contains(destination))
                continue;
            const QString why = proof.whyNot(row);
            if (why.isEmpty()) {
                proven << destination;
                ++result.verifiedIn[destination];
            } else if (reason.isEmpty()) {
                reason = QStringLiteral("%1; copy %2").arg(why, row.copyPath);
            }
        }
        if (proven.size() >= copiesRequired)
            continue;
        if (!proven.isEmpty()) {
            proven.sort();
            reason = QStringLiteral("verified in %1 of the %2 destinations required: %3")
                         .arg(proven.size())
                         .arg(copiesRequired)
                         .arg(proven.join(QStringLiteral(", "))) +
                     (reason.isEmpty() ? QString() : QStringLiteral("; ") + reason);
        }
        result.unverified.append({relative, reason});
    }
    for (const CardWalk::Problem& problem : walk.problems) {
        const QString relative = card.relativeFilePath(problem.path);
        result.unreadable.append(
            {relative.isEmpty() ? QStringLiteral(".") : relative, problem.reason});
    }
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
        const QString problem = cardScopeProblem(path, false);
        const QString wipeProblem = problem.isEmpty() ? cardScopeProblem(path, true) : problem;
        entry.insert(QStringLiteral("problem"), problem);
        entry.insert(QStringLiteral("wipeProblem"), wipeProblem);
        int files = -1;
        int verified = -1;
        int unreadable = -1;
        QStringList notImported;
        QVariantList destinations;
        if (wipeProblem.isEmpty()) {
            const CardCopies copies = check(path);
            for (auto it = copies.verifiedIn.cbegin(); it != copies.verifiedIn.cend(); ++it)
                destinations.append(QVariantMap{{QStringLiteral("path"), it.key()},
                                                {QStringLiteral("verified"), it.value()}});
            files = copies.mediaFiles;
            verified = copies.verifiedFiles();
            unreadable = copies.unreadable.size();
            notImported = copies.notImported;
        }
        entry.insert(QStringLiteral("files"), files);
        entry.insert(QStringLiteral("verified"), verified);
        entry.insert(QStringLiteral("copies"), copiesRequired);
        entry.insert(QStringLiteral("destinations"), destinations);
        entry.insert(QStringLiteral("unreadable"), unreadable);
        entry.insert(QStringLiteral("notImported"), notImported);
        result.append(entry);
    }
    return result;
}
