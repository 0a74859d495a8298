#include "cards/mediaimport.h"

#include "base/apppaths.h"
#include "cards/cardwalk.h"
#include "cards/importledger.h"
#include "cards/importpaths.h"
#include "cards/medianaming.h"
#include "cards/mhlhistory.h"
#include "cards/stitchtemplate.h"
#include "cards/templatediscovery.h"
#include "cards/templatewriter.h"
#include "cards/verifiedcopy.h"
#include "cards/verifiedcopyqueue.h"
#include "settings/settingsstore.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QUuid>

#include <algorithm>
#include <deque>
#include <exception>

namespace {

const QString VideoExtension = QStringLiteral(".MOV");

// The byte reports of a card come at most this often, and once at its end.
constexpr qint64 BytesReportIntervalMs = 100;

// A card that its own worker refuses ("Please choose source", "Invalid
// source") takes no part in the run's checks: the other cards still run.
bool refusedCard(const QString& sourceDir)
{
    return sourceDir.isEmpty() || !QDir(sourceDir).exists() || sourceDir == QLatin1String("/") ||
           sourceDir == QDir::rootPath();
}

QStringList runnableCards(QStringList cards)
{
    for (QString& card : cards) {
        if (refusedCard(card))
            card.clear();
    }
    return cards;
}

} // namespace

struct MediaImport::CardState
{
    bool identified = false;
    CardIdentity identity;
    std::unique_ptr<ImportLedger> ledger;
    QHash<QString, QList<LedgerEntry>> imported; // by relative path, with skipImported
    qint64 bytesTotal = 0;
    qint64 bytesDone = 0;        // of the files dealt with
    qint64 inFile = 0;           // of the file being copied
    std::vector<int> unrecorded; // per destination: verified copies the ledger could not record
    QElapsedTimer sinceReport;
};

struct MediaImport::MediaCopy
{
    int result = 0;    // 1 when copied and verified
    QString copyPath;  // where the copy went (or would have gone)
    QString basePath;  // the recording's base path for the stitching writers
    int collision = 0; // the collision number the names carry
    int target = 0;    // into which destination
};

MediaImport::MediaImport(const QString& targetDir, const QString& templatePath,
                         const QString& projectName, CardReport report, CardBytesReport bytes)
    : MediaImport(QStringList{targetDir}, templatePath, projectName, std::move(report),
                  std::move(bytes))
{
}

MediaImport::MediaImport(const QStringList& targetDirs, const QString& templatePath,
                         const QString& projectName, CardReport report, CardBytesReport bytes)
    : templatePath(templatePath), projectName(projectName), report(std::move(report)),
      bytes(std::move(bytes)), runId(QUuid::createUuid().toString(QUuid::WithoutBraces)),
      runStart(QDateTime::currentDateTimeUtc())
{
    for (const QString& dir : targetDirs) {
        targets.emplace_back(new Target);
        targets.back()->dir = dir;
        targets.back()->directory = QDir(dir);
    }
    if (targets.empty())
        targets.emplace_back(new Target);
    for (auto& card : cards) {
        card.reset(new CardState);
        card->unrecorded.assign(targets.size(), 0);
    }
}

QString MediaImport::inTarget(int target) const
{
    return targets.size() > 1 ? QStringLiteral(" to ") + targets[size_t(target)]->dir : QString();
}

MediaImport::~MediaImport() = default;

MediaImport::CardState& MediaImport::cardState(int cardIndex)
{
    return *cards[cardIndex >= 1 && cardIndex <= 3 ? cardIndex : 0];
}

void MediaImport::reportBytes(int cardIndex, bool always)
{
    CardState& card = cardState(cardIndex);
    if (!bytes || (!always && card.sinceReport.isValid() &&
                   card.sinceReport.elapsed() < BytesReportIntervalMs))
        return;
    card.sinceReport.start();
    bytes(cardIndex, std::min(card.bytesDone + card.inFile, card.bytesTotal), card.bytesTotal);
}

void MediaImport::noteWritten(Target& target, const QString& path, quint64 xxh64, bool hashed,
                              bool logCopy)
{
    QMutexLocker lock(&target.writtenMutex);
    target.written.append(
        {QDir::cleanPath(QFileInfo(path).absoluteFilePath()), xxh64, hashed, logCopy});
}

void MediaImport::noteWritten(Target& target, const QStringList& paths)
{
    for (const QString& path : paths)
        noteWritten(target, path, 0, false);
}

// The card's identity is looked up once, on the card's first verified copy;
// the ledger is opened then too, on the worker's thread, and closed by it.
ImportLedger* MediaImport::ledger(int cardIndex, const QDir& sourceDirectory)
{
    CardState& card = cardState(cardIndex);
    if (ledgerGivenUp)
        return nullptr;
    if (!card.identified) {
        card.identity = CardIdentity::of(sourceDirectory.absolutePath());
        card.identified = true;
    }
    if (!card.ledger)
        card.ledger.reset(new ImportLedger(ImportLedger::defaultPath()));
    return card.ledger.get();
}

LedgerEntry MediaImport::ledgerEntry(int cardIndex, const QString& sourcePath,
                                     const QDir& sourceDirectory,
                                     const VerifiedCopy::Result& copied)
{
    LedgerEntry entry;
    entry.card = cardState(cardIndex).identity;
    entry.relativePath = sourceDirectory.relativeFilePath(sourcePath);
    entry.size = copied.copySize;
    entry.modified = QFileInfo(sourcePath).lastModified().toUTC();
    entry.xxh64 = copied.sourceHash;
    entry.copyPath = QDir::cleanPath(QFileInfo(copied.path).absoluteFilePath());
    entry.copiedAt = QDateTime::currentDateTimeUtc();
    entry.runId = runId;
    entry.fingerprint = copied.sourceFingerprint;
    entry.hasFingerprint = copied.fingerprinted;
    return entry;
}

void MediaImport::recordPending(int cardIndex, const QString& sourcePath,
                                const QDir& sourceDirectory, const VerifiedCopy::Result& copied,
                                qint64* row)
{
    // A row that cannot be written here is written, or counted unrecorded,
    // once the copy has its name.
    if (ImportLedger* rows = ledger(cardIndex, sourceDirectory))
        rows->recordPending(ledgerEntry(cardIndex, sourcePath, sourceDirectory, copied), row);
}

bool MediaImport::recordInLedger(int cardIndex, int target, const QString& sourcePath,
                                 const QDir& sourceDirectory, const VerifiedCopy::Result& copied,
                                 qint64 pendingRow)
{
    CardState& card = cardState(cardIndex);
    ImportLedger* rows = ledger(cardIndex, sourceDirectory);
    if (!rows) {
        ++card.unrecorded[size_t(target)];
        return false;
    }
    LedgerEntry entry = ledgerEntry(cardIndex, sourcePath, sourceDirectory, copied);
    entry.copyModified = QFileInfo(entry.copyPath).lastModified().toUTC();
    // A pending row that a clean-up took meanwhile is written anew.
    if ((pendingRow >= 0 && rows->confirm(pendingRow, entry)) || rows->record(entry))
        return true;
    ++card.unrecorded[size_t(target)];
    // The ledger has had its wait (the reason is logged already); copies
    // need not each wait as long again.
    if (!ledgerGivenUp.exchange(true)) {
        const QString text = QStringLiteral("The import ledger %1 could not record a copy (held "
                                            "by another program?); this run goes on without it.")
                                 .arg(rows->databasePath());
        qWarning().noquote() << QStringLiteral("Card %1: %2").arg(cardIndex).arg(text);
        report(cardIndex, 0, 1, 0, QStringLiteral("Error: ") + text);
    }
    return false;
}

QString MediaImport::refusal(const QStringList& cards, const QString& targetDir,
                             const QString& templatePath)
{
    return refusal(cards, QStringList{targetDir}, templatePath);
}

QString MediaImport::refusal(const QStringList& cards, const QStringList& targetDirs,
                             const QString& templatePath)
{
    for (int i = 0; i < targetDirs.size(); ++i) {
        const QString paths = ImportPaths::problem(runnableCards(cards), targetDirs[i]);
        if (!paths.isEmpty())
            return paths;
        // Two copies in one folder would be one copy under two names.
        for (int j = 0; j < i; ++j) {
            if (ImportPaths::within(targetDirs[i], targetDirs[j]) ||
                ImportPaths::within(targetDirs[j], targetDirs[i]))
                return QStringLiteral("The destinations %1 and %2 overlap")
                    .arg(targetDirs[j], targetDirs[i]);
        }
    }
    return templatePath.isEmpty() ? QString() : StitchTemplate::check(templatePath);
}

void MediaImport::setCards(const QStringList& cards)
{
    runCards = cards;
}

void MediaImport::setSkipImported(bool skip)
{
    skipImported = skip;
}

QString MediaImport::importedCopy(int cardIndex, const QDir& sourceDirectory,
                                  const QString& sourcePath, const Target& target, QString* whyNot)
{
    const CardState& card = cardState(cardIndex);
    const auto rows = card.imported.constFind(sourceDirectory.relativeFilePath(sourcePath));
    if (rows == card.imported.constEnd())
        return QString();
    // The card file as it was copied: a reused name on a card not wiped is
    // another recording, and a copy changed since holds other bytes.
    CopyProof proof(sourcePath, CopyProof::Depth::Fingerprint);
    proof.allowZoneShift();
    for (auto row = rows->crbegin(); row != rows->crend(); ++row) {
        if (!ImportPaths::within(row->copyPath, target.dir))
            continue;
        const QString why = proof.whyNot(*row);
        if (why.isEmpty())
            return row->copyPath;
        if (whyNot->isEmpty())
            *whyNot = why;
    }
    return QString();
}

QString MediaImport::checkRun()
{
    QMutexLocker lock(&runCheckMutex);
    if (!runChecked) {
        runChecked = true;
        QStringList dirs;
        for (const auto& target : targets)
            dirs << target->dir;
        runRefusal = refusal(runCards, dirs, QString());
        // A killed run's copies whose rows it had no time to confirm: known
        // before anything is skipped or recorded.
        for (const QString& dir : qAsConst(dirs)) {
            const QString destination = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
            if (runRefusal.isEmpty() && QFileInfo(destination).isDir())
                ImportLedger().settlePending(destination);
        }
        // Read once for the whole run: every recording's project is made from it.
        if (runRefusal.isEmpty() && !templatePath.isEmpty())
            stitchTemplate = StitchTemplate::load(templatePath, &runRefusal);
    }
    return runRefusal;
}

void MediaImport::removeStaleTemporaries(int cardIndex, const QDir& sourceDirectory,
                                         const QVector<CardWalk::File>& files)
{
    QSet<QString> folders;
    for (const auto& target : targets) {
        folders << target->directory.absolutePath();
        for (const CardWalk::File& file : files) {
            const QString extension = MediaNaming::mediaExtension(file.path);
            if (!extension.isEmpty())
                folders << QFileInfo(
                               target->directory.absoluteFilePath(MediaNaming::relativeTargetPath(
                                   sourceDirectory, file.path, extension)))
                               .path();
        }
    }
    // Only temporaries whose program has ended: never one of a copy at work.
    for (const QString& folder : qAsConst(folders)) {
        for (const QString& removed : VerifiedCopy::removeStaleTemporaries(folder))
            qInfo() << QStringLiteral("Card %1: removed %2, left by an earlier run.")
                           .arg(QString::number(cardIndex), removed);
    }
}

struct MediaImport::StagedMedia
{
    QString sourcePath;
    int cardIndex = 0;
    int fileIndex = 0;
    int totalFiles = 0;
    QString extension;
    QString relative; // the target path below the destination
    std::unique_ptr<VerifiedCopy> copier;
    VerifiedCopy::StagedCopy staged;
    // Per leg of the copy: its destination, its pending row and the name
    // that row holds.
    QVector<int> targets;
    QVector<qint64> pendingRows;
    QStringList pendingPaths;
};

// In a card's order: a report to give, or a copy to name once verified.
struct MediaImport::CardEntry
{
    std::function<void()> step;
    StagedMedia media;
    bool video = false;
};

// The card file read once into a temporary beside its first free name in
// each of the destinations.
MediaImport::StagedMedia MediaImport::stageMedia(const QString& sourcePath, int cardIndex,
                                                 int fileIndex, int totalFiles,
                                                 const QDir& sourceDirectory, bool video,
                                                 const QVector<int>& into)
{
    StagedMedia media;
    media.sourcePath = sourcePath;
    media.cardIndex = cardIndex;
    media.fileIndex = fileIndex;
    media.totalFiles = totalFiles;
    media.extension = video ? VideoExtension : MediaNaming::photoExtension(sourcePath);
    // Names are formed below the destination only: a destination folder whose
    // name holds the extension stays the folder the user chose.
    media.relative = MediaNaming::relativeTargetPath(sourceDirectory, sourcePath, media.extension);
    QVector<VerifiedCopy::NameFor> names;
    for (int target : into) {
        names << [target = targets[size_t(target)]->directory, relative = media.relative,
                  extension = media.extension, cardIndex, project = projectName](int collision) {
            return target.filePath(
                MediaNaming::cameraCopyName(relative, extension, cardIndex, project, collision));
        };
        media.targets << target;
        media.pendingRows << -1;
        media.pendingPaths << QString();
    }

    CardState& card = cardState(cardIndex);
    const qint64 fileSize = QFileInfo(sourcePath).size();
    media.copier.reset(new VerifiedCopy(sourcePath));
    media.copier->setProgress([&](qint64 bytesWritten) {
        card.inFile = std::min(bytesWritten, fileSize);
        reportBytes(cardIndex, false);
    });
    media.staged = media.copier->write(names);
    media.copier->setProgress(nullptr);
    card.bytesDone += fileSize;
    card.inFile = 0;
    reportBytes(cardIndex, false);
    return media;
}

// The verified copies' pending rows, before they take their names. A row
// that cannot be written here is written, or counted unrecorded, once the
// copy has its name.
void MediaImport::recordStaged(StagedMedia& media, const QDir& sourceDirectory)
{
    VerifiedCopy::verify(*media.staged);
    for (int leg = 0; leg < media.targets.size(); ++leg) {
        if (!VerifiedCopy::verified(*media.staged, leg))
            continue;
        const VerifiedCopy::Result& copied = VerifiedCopy::result(*media.staged, leg);
        media.pendingPaths[leg] = copied.path;
        recordPending(media.cardIndex, media.sourcePath, sourceDirectory, copied,
                      &media.pendingRows[leg]);
    }
}

// The verified copies take their names; the log and the reports say how it
// went. Their confirmed rows are left to `rows`, for the caller to commit.
QVector<MediaImport::MediaCopy> MediaImport::nameMedia(StagedMedia& staged,
                                                       const QDir& sourceDirectory,
                                                       std::vector<std::function<void()>>* rows)
{
    const int cardIndex = staged.cardIndex;
    const QString& sourcePath = staged.sourcePath;
    // The bar's bound for the report after a copy: the card stays busy until
    // its summary, even after its last files (a bound of totalFiles would show
    // the card idle while its last file is still being copied).
    const int bound = staged.totalFiles + 2;
    const int fileIndex = staged.fileIndex;
    const QString number = QString::number(cardIndex);
    QVector<MediaCopy> copies;
    for (int leg = 0; leg < staged.targets.size(); ++leg) {
        const int target = staged.targets[leg];
        qint64& pendingRow = staged.pendingRows[leg];
        // A name taken meanwhile moves the copy, and its pending row, to the next.
        staged.copier->setBeforeName([&](const VerifiedCopy::Result& named) {
            if (pendingRow >= 0 && named.path != staged.pendingPaths[leg]) {
                recordPending(cardIndex, sourcePath, sourceDirectory, named, &pendingRow);
                staged.pendingPaths[leg] = named.path;
            }
        });
        const VerifiedCopy::Result copied = staged.copier->takeName(*staged.staged, leg);
        if (copied.outcome != VerifiedCopy::Outcome::Copied && pendingRow >= 0) {
            if (ImportLedger* ledgerRows = ledger(cardIndex, sourceDirectory))
                ledgerRows->dropPending(pendingRow);
        }

        MediaCopy media;
        media.target = target;
        media.copyPath = copied.path;
        media.collision = copied.number;
        media.basePath = targets[size_t(target)]->directory.filePath(
            MediaNaming::basePath(staged.relative, staged.extension, copied.number));
        const QString where = inTarget(target);
        switch (copied.outcome) {
        case VerifiedCopy::Outcome::Copied:
            media.result = 1;
            noteWritten(*targets[size_t(target)], copied.path, copied.sourceHash, true);
            rows->push_back(
                [this, cardIndex, target, sourcePath, sourceDirectory, copied, row = pendingRow] {
                    recordInLedger(cardIndex, target, sourcePath, sourceDirectory, copied, row);
                });
            qInfo() << QStringLiteral("Card %1: copied file %2%3.").arg(number, sourcePath, where);
            break;
        case VerifiedCopy::Outcome::HashMismatch:
            qWarning() << QStringLiteral("Card %1: the copy of %2%3 differs from the card file: "
                                         "xxh64 %4 read from the card, %5 read back from the "
                                         "copy; nothing kept.")
                              .arg(number, sourcePath, where,
                                   VerifiedCopy::hashText(copied.sourceHash),
                                   VerifiedCopy::hashText(copied.copyHash));
            report(cardIndex, 0, bound, fileIndex,
                   QStringLiteral("Error: Could not copy %1%2.").arg(sourcePath, where));
            break;
        case VerifiedCopy::Outcome::SizeMismatch:
            qWarning() << QStringLiteral(
                              "Card %1: file size for %2%3 doesn't match after copy (%4).")
                              .arg(number, sourcePath, where, copied.error);
            report(cardIndex, 0, bound, fileIndex,
                   QStringLiteral("Warning: File size for %1%2 doesn't match after copy.")
                       .arg(sourcePath, where));
            break;
        default:
            qWarning() << QStringLiteral("Card %1: could not copy file %2 to %3: %4")
                              .arg(number, sourcePath, copied.path, copied.error);
            report(cardIndex, 0, bound, fileIndex,
                   QStringLiteral("Error: Could not copy %1%2.").arg(sourcePath, where));
            break;
        }
        copies << media;
    }
    // One report for a file copied everywhere.
    if (!copies.isEmpty() && std::all_of(copies.cbegin(), copies.cend(),
                                         [](const MediaCopy& media) { return media.result; }))
        report(cardIndex, 0, bound, fileIndex,
               QStringLiteral("Copied %1 correctly.").arg(sourcePath));
    return copies;
}

// The steps of one copy in turn, on this thread, into every destination; 1
// when every copy was made and verified.
int MediaImport::copyMedia(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                           const QDir& sourceDirectory, bool video)
{
    QVector<int> all;
    for (int target = 0; target < int(targets.size()); ++target)
        all << target;
    StagedMedia staged =
        stageMedia(sourcePath, cardIndex, fileIndex, totalFiles, sourceDirectory, video, all);
    recordStaged(staged, sourceDirectory);
    std::vector<std::function<void()>> rows;
    int copied = 1;
    for (const MediaCopy& media : nameMedia(staged, sourceDirectory, &rows))
        copied &= besideCopy(media, cardIndex, video);
    for (const auto& row : rows)
        row();
    return copied;
}

Outcome MediaImport::copyCard(int cardIndex, const QString& sourceDir)
{
    const QString card = QString::number(cardIndex);
    const auto refuse = [&](const QString& reason) {
        qWarning() << QStringLiteral("Card %1: %2").arg(card, reason);
        report(cardIndex, 0, 0, 0, QStringLiteral("Error: ") + reason);
        return Outcome(Outcome::Status::Refused);
    };
    if (sourceDir.isEmpty()) // as refusedCard()
        return refuse(QStringLiteral("Please choose source"));
    if (!QDir(sourceDir).exists()) {
        // A card taken out after it was chosen: the choice was made.
        const QString gone = QStringLiteral("Card %1: the folder %2 is gone").arg(card, sourceDir);
        qWarning() << gone;
        report(cardIndex, 0, 0, 0, QStringLiteral("Error: ") + gone);
        return Outcome(Outcome::Status::Refused);
    }
    if (sourceDir == QLatin1String("/") || sourceDir == QDir::rootPath())
        return refuse(QStringLiteral("Invalid source"));
    if (std::any_of(targets.cbegin(), targets.cend(),
                    [](const std::unique_ptr<Target>& target) { return target->dir.isEmpty(); }))
        return refuse(QStringLiteral("Please choose destination"));
    // The project name becomes part of every copy's name.
    if (!MediaNaming::isValidProjectName(projectName))
        return refuse(QStringLiteral("Invalid project name"));
    const QString refused = checkRun();
    if (!refused.isEmpty())
        return refuse(refused);

    // The three cards are read in parallel even on a pool with fewer threads:
    // a card worker mostly waits for its disks, so it gives its pool slot back
    // while it runs (and takes it again when it ends).
    struct PoolSlot
    {
        PoolSlot() { QThreadPool::globalInstance()->releaseThread(); }
        ~PoolSlot() { QThreadPool::globalInstance()->reserveThread(); }
    } poolSlot;

    // The whole list first: copies made into a destination on the card itself
    // are not walked again.
    const CardWalk::Result walk = CardWalk::walk(QDir(sourceDir).absolutePath());
    for (const CardWalk::Problem& problem : walk.problems) {
        const QString text = QStringLiteral("%1 %2").arg(problem.path, problem.reason);
        qWarning() << QStringLiteral("Card %1: %2").arg(card, text);
        report(cardIndex, 0, 1, 0, QStringLiteral("Error: ") + text);
    }

    removeStaleTemporaries(cardIndex, QDir(sourceDir), walk.files);

    const QDir sourceDirectory(sourceDir);
    CardState& state = cardState(cardIndex);
    if (skipImported) {
        state.identity = CardIdentity::of(sourceDirectory.absolutePath());
        state.identified = true;
        if (!state.ledger)
            state.ledger.reset(new ImportLedger(ImportLedger::defaultPath()));
        for (const LedgerEntry& row : state.ledger->copiesOfCard(state.identity))
            state.imported[row.relativePath] << row;
    }

    // Counted before any copy, so that a stopped card still says how much it holds.
    const int total = walk.files.size();
    int videosFound = 0;
    int photosFound = 0;
    for (const CardWalk::File& file : walk.files) {
        const QString extension = MediaNaming::mediaExtension(file.path);
        videosFound += extension == VideoExtension;
        photosFound += !extension.isEmpty() && extension != VideoExtension;
    }

    for (const CardWalk::File& file : walk.files) {
        if (file.regular && !MediaNaming::mediaExtension(file.path).isEmpty())
            state.bytesTotal += QFileInfo(file.path).size();
    }
    // Per destination.
    const int targetCount = int(targets.size());
    std::vector<int> videosCopied(size_t(targetCount), 0);
    std::vector<int> photosCopied(size_t(targetCount), 0);
    int alreadyImported = 0;
    bool stopped = false;

    // This thread reads the card, file after file, and the queue's thread
    // flushes and reads back each copy meanwhile; the copies take their
    // names here, in the card's order, and the reports keep that order too.
    std::deque<CardEntry> entries; // what waits for a copy still being verified
    QStringList folders;
    for (const auto& target : targets)
        folders << target->dir;
    VerifiedCopyQueue queue(folders);
    const auto step = [&](std::function<void()> then) {
        if (entries.empty())
            then();
        else
            entries.push_back({std::move(then), {}, false});
    };
    // Names the verified copies at the front, with their pending rows
    // committed together before the names and their confirmed rows after;
    // with `all`, waits for every copy.
    const auto nameVerified = [&](bool all) {
        for (;;) {
            size_t ready = 0;
            int copies = 0;
            for (; ready < entries.size(); ++ready) {
                const VerifiedCopy::Staged* staged = entries[ready].media.staged.get();
                if (staged && !queue.verified(staged))
                    break;
                copies += staged != nullptr;
            }
            if (ready == 0) {
                if (!all || entries.empty())
                    return;
                queue.wait(entries.front().media.staged.get());
                continue;
            }
            ImportLedger* rows = copies ? ledger(cardIndex, sourceDirectory) : nullptr;
            // A ledger that another program holds is waited for once here;
            // these copies then take their names without pending rows.
            bool batched = rows && rows->beginBatch();
            if (batched) {
                for (size_t i = 0; i < ready; ++i) {
                    if (entries[i].media.staged)
                        recordStaged(entries[i].media, sourceDirectory);
                }
                // Rows rolled back: each copy's row is written when it is named.
                rows->commitBatch();
            }
            // The names, reports and what goes beside the copies first: the
            // other cards' rows need not wait for them.
            std::vector<std::function<void()>> confirmed;
            std::vector<int> named(size_t(targetCount), 0);
            for (; ready > 0; --ready) {
                CardEntry entry = std::move(entries.front());
                entries.pop_front();
                if (entry.step) {
                    entry.step();
                    continue;
                }
                for (const MediaCopy& media : nameMedia(entry.media, sourceDirectory, &confirmed)) {
                    const int copied = besideCopy(media, cardIndex, entry.video);
                    (entry.video ? videosCopied : photosCopied)[size_t(media.target)] += copied;
                    named[size_t(media.target)] += copied;
                }
            }
            batched = batched && !confirmed.empty() && rows->beginBatch();
            for (const auto& row : confirmed)
                row();
            // Rows rolled back stay pending, for the next run to settle.
            if (batched && !rows->commitBatch()) {
                for (int t = 0; t < targetCount; ++t)
                    state.unrecorded[size_t(t)] += named[size_t(t)];
            }
        }
    };
    for (int k = 1; k <= total; ++k) {
        if (VerifiedCopy::stopRequested()) {
            stopped = true;
            break;
        }
        const CardWalk::File& file = walk.files.at(k - 1);
        const QString& path = file.path;
        step([=] { report(cardIndex, 0, total + 1, k, QStringLiteral("Copying ") + path); });
        const QString extension = MediaNaming::mediaExtension(path);
        if (extension.isEmpty())
            continue;
        const bool video = extension == VideoExtension;
        // The destinations that lack a proven copy of the file.
        QVector<int> lacking;
        QString whyNot;
        QString imported;
        for (int t = 0; t < targetCount; ++t) {
            QString why;
            const QString copy =
                skipImported && file.regular
                    ? importedCopy(cardIndex, sourceDirectory, path, *targets[size_t(t)], &why)
                    : QString();
            if (copy.isEmpty())
                lacking << t;
            else
                imported = copy;
            if (copy.isEmpty() && whyNot.isEmpty())
                whyNot = why;
        }
        if (!lacking.isEmpty() && !whyNot.isEmpty()) {
            step([=] {
                qInfo() << QStringLiteral("Card %1: copying %2 again: %3.").arg(card, path, whyNot);
                report(cardIndex, 0, total + 1, k,
                       QStringLiteral("Copying again %1: %2.").arg(path, whyNot));
            });
        }
        if (!file.regular) {
            // A FIFO would never end and a device never stop: not read at all.
            step([=] {
                qWarning() << QStringLiteral("Card %1: not a regular file, not copied: %2")
                                  .arg(card, path);
                report(cardIndex, 0, total + 2, k + 1,
                       QStringLiteral("Error: Not a regular file: %1").arg(path));
            });
            continue;
        }
        if (lacking.size() < targetCount) {
            QVector<int> proven;
            for (int t = 0; t < targetCount; ++t) {
                if (!lacking.contains(t))
                    proven << t;
            }
            step([=, &videosCopied, &photosCopied, &alreadyImported] {
                for (int t : proven)
                    (video ? videosCopied : photosCopied)[size_t(t)] += 1;
                if (!lacking.isEmpty())
                    return;
                qInfo() << QStringLiteral(
                               "Card %1: %2 was imported before as %3; not copied again.")
                               .arg(card, path, imported);
                report(cardIndex, 0, total + 2, k + 1,
                       QStringLiteral("Already imported %1.").arg(path));
                ++alreadyImported;
            });
        }
        if (lacking.isEmpty()) {
            state.bytesDone += QFileInfo(path).size();
            reportBytes(cardIndex, false);
        } else {
            StagedMedia media =
                stageMedia(path, cardIndex, k + 1, total, sourceDirectory, video, lacking);
            queue.add(media.staged.get(), QFileInfo(path).size());
            entries.push_back({nullptr, std::move(media), video});
        }
        nameVerified(false);
    }
    nameVerified(true);

    // A stop that cut the last file short ends the loop as if complete.
    const auto complete = [&](int t) {
        return videosCopied[size_t(t)] == videosFound && photosCopied[size_t(t)] == photosFound;
    };
    bool allComplete = true;
    for (int t = 0; t < targetCount; ++t)
        allComplete = allComplete && complete(t);
    stopped = stopped || (VerifiedCopy::stopRequested() && !allComplete);
    if (videosFound + photosFound > 0) {
        for (const QString& folder : qAsConst(folders))
            VerifiedCopy::syncNames(folder);
    }
    state.ledger.reset(); // its connection belongs to this thread

    // The counts, then what else keeps the card from being complete.
    const auto counts = [&](int t, const QString& form) {
        return form.arg(QString::number(videosCopied[size_t(t)]), QString::number(videosFound),
                        QString::number(photosCopied[size_t(t)]), QString::number(photosFound));
    };
    QString summary = QStringLiteral("Copied ");
    for (int t = 0; t < targetCount; ++t)
        summary += (t ? QStringLiteral("; ") : QString()) +
                   counts(t, QStringLiteral("%1/%2 videos and %3/%4 photos")) + inTarget(t);
    summary += QLatin1Char('.');
    if (!walk.problems.isEmpty()) {
        const int unread = walk.problems.size();
        summary += unread == 1 ? QStringLiteral(" 1 folder or file on the card could not be read.")
                               : QStringLiteral(" %1 folders or files on the card could not be "
                                                "read.")
                                     .arg(unread);
    }
    if (stopped) {
        qWarning() << QStringLiteral("Card %1: import stopped.").arg(card);
        summary += QStringLiteral(" Import stopped.");
    }
    // A copy the ledger does not know cannot be skipped later nor allow a wipe.
    int unrecorded = 0;
    for (int count : state.unrecorded)
        unrecorded += count;
    if (unrecorded > 0)
        summary += unrecorded == 1
                       ? QStringLiteral(" 1 copy could not be recorded.")
                       : QStringLiteral(" %1 copies could not be recorded.").arg(unrecorded);
    if (videosFound + photosFound == 0 && walk.problems.isEmpty()) {
        // An empty card is more likely a wrong card than a finished one.
        const QString none = QStringLiteral("No media found on card %1").arg(card);
        qWarning() << none;
        summary += QLatin1Char(' ') + none + QLatin1Char('.');
    }
    qInfo() << QStringLiteral("Card %1: c%2").arg(card, summary.mid(1));
    reportBytes(cardIndex, true);
    report(cardIndex, 0, 1, 1, summary);

    // Complete: every media file copied into every destination, the whole
    // card read, and media found at all (an empty card is more likely the
    // wrong one). The counts are those every destination holds.
    Outcome outcome;
    outcome.videos = videosFound;
    outcome.videosCopied = *std::min_element(videosCopied.cbegin(), videosCopied.cend());
    outcome.photos = photosFound;
    outcome.photosCopied = *std::min_element(photosCopied.cbegin(), photosCopied.cend());
    outcome.alreadyImported = alreadyImported;
    outcome.unreadable = walk.problems.size();
    outcome.unrecorded = unrecorded;
    if (targetCount > 1) {
        for (int t = 0; t < targetCount; ++t)
            outcome.destinations.append({targets[size_t(t)]->dir, videosCopied[size_t(t)],
                                         photosCopied[size_t(t)], state.unrecorded[size_t(t)]});
    }
    if (stopped)
        outcome.status = Outcome::Status::Stopped;
    else if (allComplete && outcome.unreadable == 0 && outcome.unrecorded == 0 &&
             videosFound + photosFound > 0)
        outcome.status = Outcome::Status::Succeeded;
    else
        outcome.status = Outcome::Status::Incomplete;
    return outcome;
}

void MediaImport::setOutcomeReports(CardOutcomeReport card, RunOutcomeReport run)
{
    cardOutcome = std::move(card);
    runOutcome = std::move(run);
}

void MediaImport::runCard(int cardIndex, const QString& sourceDir)
{
    const Outcome outcome = copyCard(cardIndex, sourceDir);
    if (cardOutcome)
        cardOutcome(cardIndex, outcome);
    std::array<Outcome, 3> ended;
    {
        QMutexLocker lock(&endMutex);
        if (cardIndex >= 1 && cardIndex <= 3)
            cardOutcomes[cardIndex - 1] = outcome;
        if (++endedCardWorkers < 3)
            return;
        ended = cardOutcomes;
    }
    const Outcome run = finishRun(ended, cardIndex);
    if (runOutcome)
        runOutcome(run);
}

Outcome MediaImport::finishRun(const std::array<Outcome, 3>& cards, int lastCard)
{
    const auto any = [&](Outcome::Status status) {
        return std::any_of(cards.cbegin(), cards.cend(),
                           [status](const Outcome& card) { return card.status == status; });
    };
    // A refused or stopped card keeps the run from being complete, but what
    // the other cards copied still goes into the destination's history.
    const bool complete = !any(Outcome::Status::Refused) && !any(Outcome::Status::Stopped);
    if (complete)
        qInfo() << QStringLiteral("Done.");
    bool historyFailed = false;
    for (const auto& target : targets) {
        if (complete) {
            try {
                // An existing copy is kept; the log grows while it is copied, so
                // its size is not compared.
                VerifiedCopy log(logFilePath());
                log.setVerifySize(false);
                const VerifiedCopy::Result copied =
                    log.copyTo(QDir(target->dir).filePath(QStringLiteral("VazizidADU.log")));
                if (copied.outcome == VerifiedCopy::Outcome::Copied)
                    noteWritten(*target, copied.path, copied.sourceHash, true, true);
                // A killed run's log copy that its history missed goes into this one.
                else if (copied.outcome == VerifiedCopy::Outcome::NameTaken)
                    noteWritten(*target, copied.path, 0, false, true);
            } catch (const std::exception& e) {
                qWarning() << "Error copying log file:" << QString::fromLocal8Bit(e.what());
            }
        }
        // The copies stay verified, but no other tool could check them: the run
        // must not read as a success.
        QStringList damaged;
        const QString historyError = writeHistory(*target, &damaged);
        for (const QString& path : qAsConst(damaged))
            report(lastCard, 0, 1, 0,
                   QStringLiteral("Error: The copy %1 no longer holds the bytes it was copied "
                                  "with.")
                       .arg(path));
        const QString where = targets.size() > 1 ? QStringLiteral(" of ") + target->dir : QString();
        if (!historyError.isEmpty())
            report(lastCard, 0, 1, 1,
                   QStringLiteral("Error: Could not write the hash list%1: %2")
                       .arg(where, historyError));
        else if (!damaged.isEmpty())
            report(lastCard, 0, 1, 1,
                   QStringLiteral("Error: Could not complete the hash list%1: %2 of the copies "
                                  "in the destination changed since they were made; they are "
                                  "not in it.")
                       .arg(where)
                       .arg(damaged.size()));
        historyFailed = historyFailed || !historyError.isEmpty() || !damaged.isEmpty();
    }

    Outcome run;
    for (const Outcome& card : cards) {
        run.videos += card.videos;
        run.videosCopied += card.videosCopied;
        run.photos += card.photos;
        run.photosCopied += card.photosCopied;
        run.alreadyImported += card.alreadyImported;
        run.unreadable += card.unreadable;
        run.unrecorded += card.unrecorded;
    }
    if (historyFailed || any(Outcome::Status::Failed))
        run.status = Outcome::Status::Failed;
    else if (std::all_of(cards.cbegin(), cards.cend(),
                         [](const Outcome& card) { return card.succeeded(); }))
        run.status = Outcome::Status::Succeeded;
    else if (any(Outcome::Status::Stopped))
        run.status = Outcome::Status::Stopped;
    else if (std::all_of(cards.cbegin(), cards.cend(), [](const Outcome& card) {
                 return card.status == Outcome::Status::Refused;
             }))
        run.status = Outcome::Status::Refused;
    else
        run.status = Outcome::Status::Incomplete;
    return run;
}

bool MediaImport::unlistedCopies(const QDir& destination, const QSet<QString>& own,
                                 QVector<MhlHistory::File>* unlisted, QStringList* damaged,
                                 QString* error)
{
    bool read = false;
    const QList<LedgerEntry> rows = ImportLedger().copiesIn(destination.path(), &read);
    if (!read) {
        *error = QStringLiteral("cannot read the import ledger");
        return false;
    }
    QSet<QString> listed;
    MhlHistory history(destination.path());
    if (!history.listedPaths(&listed)) {
        *error = history.errorString();
        return false;
    }
    // The newest row of each copy: a name freed by hand may have been taken again.
    QHash<QString, LedgerEntry> newest;
    for (const LedgerEntry& row : rows)
        newest.insert(destination.relativeFilePath(row.copyPath), row);
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        const QString& relative = it.key();
        const LedgerEntry& row = it.value();
        const QFileInfo info(row.copyPath);
        // A copy deleted since is no file the history must account for; one
        // made since this run began belongs to a run that records it itself.
        if (listed.contains(relative) || own.contains(row.copyPath) || row.copiedAt >= runStart ||
            !info.isFile() || info.isSymLink())
            continue;
        MhlHistory::File file;
        file.path = relative;
        file.size = info.size();
        file.modified = info.lastModified();
        QString reason;
        if (file.size != row.size || !VerifiedCopy::hashFile(row.copyPath, &file.xxh64, &reason) ||
            file.xxh64 != row.xxh64) {
            qWarning().noquote()
                << QStringLiteral("Hash list: %1 is not the copy the import ledger recorded "
                                  "(%2 bytes, XXH64 %3; recorded %4 bytes, XXH64 %5%6); it is "
                                  "not recorded.")
                       .arg(row.copyPath, QString::number(file.size),
                            VerifiedCopy::hashText(file.xxh64), QString::number(row.size),
                            VerifiedCopy::hashText(row.xxh64),
                            reason.isEmpty() ? QString() : QStringLiteral("; ") + reason);
            *damaged << row.copyPath;
            continue;
        }
        qInfo().noquote() << QStringLiteral("Hash list: %1, copied by an earlier run that did not "
                                            "record it, is recorded now.")
                                 .arg(row.copyPath);
        unlisted->append(file);
    }
    damaged->sort();
    return true;
}

// What this run wrote below the destination, and the ledger's copies there
// that no generation lists yet: files that were there before, and template
// copies kept elsewhere, are not claimed.
QString MediaImport::writeHistory(Target& target, QStringList* damaged)
{
    QVector<Written> files;
    {
        QMutexLocker lock(&target.writtenMutex);
        files = target.written;
    }
    const QDir destination(QDir::cleanPath(QFileInfo(target.dir).absoluteFilePath()));
    if (!destination.exists())
        return {};
    QVector<MhlHistory::File> recorded;
    QSet<QString> seen;
    for (const Written& file : files) {
        const QString relative = destination.relativeFilePath(file.path);
        if (relative.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(relative) ||
            seen.contains(file.path))
            continue;
        seen.insert(file.path);
        const QFileInfo info(file.path);
        MhlHistory::File entry;
        entry.path = relative;
        entry.size = info.size();
        entry.modified = info.lastModified();
        entry.xxh64 = file.xxh64;
        QString error;
        if (!info.isFile() ||
            (!file.hashed && !VerifiedCopy::hashFile(file.path, &entry.xxh64, &error))) {
            qWarning().noquote() << QStringLiteral("Hash list: cannot read %1, which this import "
                                                   "wrote: %2")
                                        .arg(file.path,
                                             info.isFile() ? error : QStringLiteral("gone"));
            continue;
        }
        recorded.append(entry);
    }
    MhlHistory history(destination.path());
    QString error;
    QVector<MhlHistory::File> unlisted;
    const auto notAdded = [&](const QString& reason) {
        qWarning().noquote() << QStringLiteral("Hash list: could not add this import to %1: %2")
                                    .arg(history.historyPath(), reason);
        return reason;
    };
    if (!unlistedCopies(destination, seen, &unlisted, damaged, &error))
        return notAdded(error);
    // A run that wrote nothing but the log copy adds no generation, unless
    // the history lacks copies.
    const bool onlyLog =
        std::all_of(files.cbegin(), files.cend(), [](const Written& file) { return file.logCopy; });
    if (unlisted.isEmpty() && (onlyLog || recorded.isEmpty()))
        return {};
    // The run's own files too are recorded only where no other run's
    // generation has taken them meanwhile (one that completed its history
    // while this run was still copying).
    if (!history.addGeneration({}, QDateTime::currentDateTime(), recorded + unlisted))
        return notAdded(history.errorString());
    VerifiedCopy::syncNames(history.historyPath());
    qInfo().noquote() << QStringLiteral("Hash list: recorded %1 files in %2.")
                             .arg(recorded.size() + unlisted.size())
                             .arg(history.historyPath());
    return {};
}

int MediaImport::copyVideoFile(const QString& sourcePath, int cardIndex, int fileIndex,
                               int totalFiles, const QDir& sourceDirectory)
{
    return copyMedia(sourcePath, cardIndex, fileIndex, totalFiles, sourceDirectory, true);
}

int MediaImport::copyPhotoFile(const QString& sourcePath, int cardIndex, int fileIndex,
                               int totalFiles, const QDir& sourceDirectory)
{
    return copyMedia(sourcePath, cardIndex, fileIndex, totalFiles, sourceDirectory, false);
}

int MediaImport::besideCopy(const MediaCopy& media, int cardIndex, bool video)
{
    // A failed copy gets nothing beside it: no thumbnail, no project naming it.
    if (!stitchTemplate || !media.result)
        return media.result;
    Target& target = *targets[size_t(media.target)];
    if (!video) {
        noteWritten(target, writePhotoProject(cardIndex, *stitchTemplate, media.basePath,
                                              projectName, getSettings(), media.collision));
        return media.result;
    }

    // The template's preview image beside the copy, never replacing one.
    QString image = templateSiblingPath(templatePath, QStringLiteral(".jpg"));
    if (!QFileInfo::exists(image))
        image = templateJpg();
    if (!image.isEmpty()) {
        const VerifiedCopy::Result thumbnail = VerifiedCopy(image).copyTo(
            target.directory.absoluteFilePath(media.copyPath) + QStringLiteral(".jpg"));
        if (thumbnail.outcome == VerifiedCopy::Outcome::Copied)
            noteWritten(target, thumbnail.path, thumbnail.sourceHash, true);
    }
    noteWritten(target, writeVideoTemplate(cardIndex, *stitchTemplate, media.basePath, projectName,
                                           getSettings(), media.collision));
    return media.result;
}
