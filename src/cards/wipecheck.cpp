#include "cards/wipecheck.h"

#include "cards/cardpreparation.h"
#include "cards/cardwalk.h"
#include "cards/importledger.h"
#include "cards/medianaming.h"
#include "cards/volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QVariantMap>

WipeCheck::WipeCheck(const QString& ledgerPath) : ledgerPath(ledgerPath) {}

void WipeCheck::setReverify(bool on)
{
    reverify = on;
}

CardCopies WipeCheck::check(const QString& cardRoot) const
{
    CardCopies result;
    const QString root = QDir(cardRoot).absolutePath();
    const CardWalk::Result walk = CardWalk::walk(root, CardWalk::Scope::Wipe);
    const QDir card(root);

    const ImportLedger ledger(ledgerPath.isEmpty() ? ImportLedger::defaultPath() : ledgerPath);
    QHash<QString, QList<LedgerEntry>> copies;
    for (const LedgerEntry& entry : ledger.copiesOfCard(CardIdentity::of(cardRoot)))
        copies[entry.relativePath].prepend(entry); // newest first

    const CopyProof::Depth depth =
        reverify ? CopyProof::Depth::FullRead : CopyProof::Depth::Fingerprint;
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
        bool proven = false;
        for (const LedgerEntry& row : rows) {
            const QString why = proof.whyNot(row);
            if (why.isEmpty()) {
                proven = true;
                break;
            }
            if (reason.isEmpty())
                reason = QStringLiteral("%1; copy %2").arg(why, row.copyPath);
        }
        if (!proven)
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
        if (wipeProblem.isEmpty()) {
            const CardCopies copies = check(path);
            files = copies.mediaFiles;
            verified = copies.verifiedFiles();
            unreadable = copies.unreadable.size();
            notImported = copies.notImported;
        }
        entry.insert(QStringLiteral("files"), files);
        entry.insert(QStringLiteral("verified"), verified);
        entry.insert(QStringLiteral("unreadable"), unreadable);
        entry.insert(QStringLiteral("notImported"), notImported);
        result.append(entry);
    }
    return result;
}
