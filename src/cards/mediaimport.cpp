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
    qint64 bytesDone = 0; // of the files dealt with
    qint64 inFile = 0;    // of the file being copied
    int unrecorded = 0;   // verified copies the ledger could not record
    QElapsedTimer sinceReport;
};

struct MediaImport::MediaCopy
{
    int result = 0;    // 1 when copied and verified
    QString copyPath;  // where the copy went (or would have gone)
    QString basePath;  // the recording's base path for the stitching writers
    int collision = 0; // the collision number the names carry
};

MediaImport::MediaImport(const QString& targetDir, const QString& templatePath,
                         const QString& projectName, CardReport report, CardBytesReport bytes)
    : targetDir(targetDir), targetDirectory(targetDir), templatePath(templatePath),
      projectName(projectName), report(std::move(report)), bytes(std::move(bytes)),
      runId(QUuid::createUuid().toString(QUuid::WithoutBraces)),
      runStart(QDateTime::currentDateTimeUtc())
{
    for (auto& card : cards)
        card.reset(new CardState);
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

void MediaImport::noteWritten(const QString& path, quint64 xxh64, bool hashed, bool logCopy)
{
    QMutexLocker lock(&writtenMutex);
    written.append({QDir::cleanPath(QFileInfo(path).absoluteFilePath()), xxh64, hashed, logCopy});
}

void MediaImport::noteWritten(const QStringList& paths)
{
    for (const QString& path : paths)
        noteWritten(path, 0, false);
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

bool MediaImport::recordInLedger(int cardIndex, const QString& sourcePath,
                                 const QDir& sourceDirectory, const VerifiedCopy::Result& copied,
                                 qint64 pendingRow)
{
    CardState& card = cardState(cardIndex);
    ImportLedger* rows = ledger(cardIndex, sourceDirectory);
    if (!rows) {
        ++card.unrecorded;
        return false;
    }
    LedgerEntry entry = ledgerEntry(cardIndex, sourcePath, sourceDirectory, copied);
    entry.copyModified = QFileInfo(entry.copyPath).lastModified().toUTC();
    // A pending row that a clean-up took meanwhile is written anew.
    if ((pendingRow >= 0 && rows->confirm(pendingRow, entry)) || rows->record(entry))
        return true;
    ++card.unrecorded;
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
    const QString paths = ImportPaths::problem(runnableCards(cards), targetDir);
    if (!paths.isEmpty() || templatePath.isEmpty())
        return paths;
    return StitchTemplate::check(templatePath);
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
                                  const QString& sourcePath, QString* whyNot)
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
        if (!ImportPaths::within(row->copyPath, targetDir))
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
        runRefusal = ImportPaths::problem(runnableCards(runCards), targetDir);
        // A killed run's copies whose rows it had no time to confirm: known
        // before anything is skipped or recorded.
        const QString destination = QDir::cleanPath(QFileInfo(targetDir).absoluteFilePath());
        if (runRefusal.isEmpty() && QFileInfo(destination).isDir())
            ImportLedger().settlePending(destination);
        // Read once for the whole run: every recording's project is made from it.
        if (runRefusal.isEmpty() && !templatePath.isEmpty())
            stitchTemplate = StitchTemplate::load(templatePath, &runRefusal);
    }
    return runRefusal;
}

void MediaImport::removeStaleTemporaries(int cardIndex, const QDir& sourceDirectory,
                                         const QVector<CardWalk::File>& files)
{
    QSet<QString> folders{targetDirectory.absolutePath()};
    for (const CardWalk::File& file : files) {
        const QString extension = MediaNaming::mediaExtension(file.path);
        if (!extension.isEmpty())
            folders << QFileInfo(targetDirectory.absoluteFilePath(MediaNaming::relativeTargetPath(
                                     sourceDirectory, file.path, extension)))
                           .path();
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
    qint64 pendingRow = -1;
    QString pendingPath; // the name the pending row holds
};

// In a card's order: a report to give, or a copy to name once verified.
struct MediaImport::CardEntry
{
    std::function<void()> step;
    StagedMedia media;
    bool video = false;
};

// The card file read once into its temporary beside its first free name.
MediaImport::StagedMedia MediaImport::stageMedia(const QString& sourcePath, int cardIndex,
                                                 int fileIndex, int totalFiles,
                                                 const QDir& sourceDirectory, bool video)
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
    const auto copyName = [target = targetDirectory, relative = media.relative,
                           extension = media.extension, cardIndex,
                           project = projectName](int collision) {
        return target.filePath(
            MediaNaming::cameraCopyName(relative, extension, cardIndex, project, collision));
    };

    CardState& card = cardState(cardIndex);
    const qint64 fileSize = QFileInfo(sourcePath).size();
    media.copier.reset(new VerifiedCopy(sourcePath));
    media.copier->setProgress([&](qint64 bytesWritten) {
        card.inFile = std::min(bytesWritten, fileSize);
        reportBytes(cardIndex, false);
    });
    media.staged = media.copier->write(copyName);
    media.copier->setProgress(nullptr);
    card.bytesDone += fileSize;
    card.inFile = 0;
    reportBytes(cardIndex, false);
    return media;
}

// A verified copy's pending row, before it takes its name. A row that cannot
// be written here is written, or counted unrecorded, once the copy has its name.
void MediaImport::recordStaged(StagedMedia& media, const QDir& sourceDirectory)
{
    if (!VerifiedCopy::verify(*media.staged))
        return;
    const VerifiedCopy::Result& copied = VerifiedCopy::result(*media.staged);
    media.pendingPath = copied.path;
    recordPending(media.cardIndex, media.sourcePath, sourceDirectory, copied, &media.pendingRow);
}

// The verified copy takes its name; the log and the report say how it went.
// Its confirmed row is left to `rows`, for the caller to commit.
MediaImport::MediaCopy MediaImport::nameMedia(StagedMedia& staged, const QDir& sourceDirectory,
                                              std::vector<std::function<void()>>* rows)
{
    const int cardIndex = staged.cardIndex;
    const QString& sourcePath = staged.sourcePath;
    // A name taken meanwhile moves the copy, and its pending row, to the next.
    staged.copier->setBeforeName([&](const VerifiedCopy::Result& named) {
        if (staged.pendingRow >= 0 && named.path != staged.pendingPath) {
            recordPending(cardIndex, sourcePath, sourceDirectory, named, &staged.pendingRow);
            staged.pendingPath = named.path;
        }
    });
    const VerifiedCopy::Result copied = staged.copier->takeName(std::move(staged.staged));
    if (copied.outcome != VerifiedCopy::Outcome::Copied && staged.pendingRow >= 0) {
        if (ImportLedger* rows = ledger(cardIndex, sourceDirectory))
            rows->dropPending(staged.pendingRow);
    }

    MediaCopy media;
    media.copyPath = copied.path;
    media.collision = copied.number;
    media.basePath = targetDirectory.filePath(
        MediaNaming::basePath(staged.relative, staged.extension, copied.number));

    // The bar's bound for the report after a copy: the card stays busy until
    // its summary, even after its last files (a bound of totalFiles would show
    // the card idle while its last file is still being copied).
    const int bound = staged.totalFiles + 2;
    const int fileIndex = staged.fileIndex;
    const QString number = QString::number(cardIndex);
    switch (copied.outcome) {
    case VerifiedCopy::Outcome::Copied:
        media.result = 1;
        noteWritten(copied.path, copied.sourceHash, true);
        rows->push_back(
            [this, cardIndex, sourcePath, sourceDirectory, copied, row = staged.pendingRow] {
                recordInLedger(cardIndex, sourcePath, sourceDirectory, copied, row);
            });
        qInfo() << QStringLiteral("Card %1: copied file %2.").arg(number, sourcePath);
        report(cardIndex, 0, bound, fileIndex,
               QStringLiteral("Copied %1 correctly.").arg(sourcePath));
        break;
    case VerifiedCopy::Outcome::HashMismatch:
        qWarning() << QStringLiteral("Card %1: the copy of %2 differs from the card file: xxh64 "
                                     "%3 read from the card, %4 read back from the copy; "
                                     "nothing kept.")
                          .arg(number, sourcePath, VerifiedCopy::hashText(copied.sourceHash),
                               VerifiedCopy::hashText(copied.copyHash));
        report(cardIndex, 0, bound, fileIndex,
               QStringLiteral("Error: Could not copy %1.").arg(sourcePath));
        break;
    case VerifiedCopy::Outcome::SizeMismatch:
        qWarning() << QStringLiteral("Card %1: file size for %2 doesn't match after copy (%3).")
                          .arg(number, sourcePath, copied.error);
        report(
            cardIndex, 0, bound, fileIndex,
            QStringLiteral("Warning: File size for %1 doesn't match after copy.").arg(sourcePath));
        break;
    default:
        qWarning() << QStringLiteral("Card %1: could not copy file %2 to %3: %4")
                          .arg(number, sourcePath, copied.path, copied.error);
        report(cardIndex, 0, bound, fileIndex,
               QStringLiteral("Error: Could not copy %1.").arg(sourcePath));
        break;
    }
    return media;
}

// The steps of one copy in turn, on this thread.
MediaImport::MediaCopy MediaImport::copyMedia(const QString& sourcePath, int cardIndex,
                                              int fileIndex, int totalFiles,
                                              const QDir& sourceDirectory, bool video)
{
    StagedMedia staged =
        stageMedia(sourcePath, cardIndex, fileIndex, totalFiles, sourceDirectory, video);
    recordStaged(staged, sourceDirectory);
    std::vector<std::function<void()>> rows;
    const MediaCopy media = nameMedia(staged, sourceDirectory, &rows);
    for (const auto& row : rows)
        row();
    return media;
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
    if (targetDir.isEmpty())
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
    int videosCopied = 0;
    int photosCopied = 0;
    int alreadyImported = 0;
    bool stopped = false;

    // This thread reads the card, file after file, and the queue's thread
    // flushes and reads back each copy meanwhile; the copies take their
    // names here, in the card's order, and the reports keep that order too.
    std::deque<CardEntry> entries; // what waits for a copy still being verified
    VerifiedCopyQueue queue(targetDir);
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
            for (; ready > 0; --ready) {
                CardEntry entry = std::move(entries.front());
                entries.pop_front();
                if (entry.step)
                    entry.step();
                else
                    (entry.video ? videosCopied : photosCopied) +=
                        besideCopy(nameMedia(entry.media, sourceDirectory, &confirmed), cardIndex,
                                   entry.video);
            }
            batched = batched && !confirmed.empty() && rows->beginBatch();
            for (const auto& row : confirmed)
                row();
            // Rows rolled back stay pending, for the next run to settle.
            if (batched && !rows->commitBatch())
                state.unrecorded += int(confirmed.size());
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
        QString whyNot;
        const QString imported = skipImported && file.regular
                                     ? importedCopy(cardIndex, sourceDirectory, path, &whyNot)
                                     : QString();
        if (imported.isEmpty() && !whyNot.isEmpty()) {
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
        } else if (!imported.isEmpty()) {
            step([=, &videosCopied, &photosCopied, &alreadyImported] {
                qInfo() << QStringLiteral(
                               "Card %1: %2 was imported before as %3; not copied again.")
                               .arg(card, path, imported);
                report(cardIndex, 0, total + 2, k + 1,
                       QStringLiteral("Already imported %1.").arg(path));
                (extension == VideoExtension ? videosCopied : photosCopied) += 1;
                ++alreadyImported;
            });
            state.bytesDone += QFileInfo(path).size();
            reportBytes(cardIndex, false);
        } else {
            const bool video = extension == VideoExtension;
            StagedMedia media = stageMedia(path, cardIndex, k + 1, total, sourceDirectory, video);
            queue.add(media.staged.get(), QFileInfo(path).size());
            entries.push_back({nullptr, std::move(media), video});
        }
        nameVerified(false);
    }
    nameVerified(true);

    // A stop that cut the last file short ends the loop as if complete.
    stopped = stopped || (VerifiedCopy::stopRequested() &&
                          (videosCopied < videosFound || photosCopied < photosFound));
    if (videosFound + photosFound > 0)
        VerifiedCopy::syncNames(targetDir);
    state.ledger.reset(); // its connection belongs to this thread

    // The counts, then what else keeps the card from being complete.
    const QString counts[] = {QString::number(videosCopied), QString::number(videosFound),
                              QString::number(photosCopied), QString::number(photosFound)};
    QString summary = QStringLiteral("Copied %1/%2 videos and %3/%4 photos.")
                          .arg(counts[0], counts[1], counts[2], counts[3]);
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
    if (state.unrecorded > 0)
        summary += state.unrecorded == 1
                       ? QStringLiteral(" 1 copy could not be recorded.")
                       : QStringLiteral(" %1 copies could not be recorded.").arg(state.unrecorded);
    if (videosFound + photosFound == 0 && walk.problems.isEmpty()) {
        // An empty card is more likely a wrong card than a finished one.
        const QString none = QStringLiteral("No media found on card %1").arg(card);
        qWarning() << none;
        summary += QLatin1Char(' ') + none + QLatin1Char('.');
    }
    qInfo() << QStringLiteral("Card %1: c%2").arg(card, summary.mid(1));
    reportBytes(cardIndex, true);
    report(cardIndex, 0, 1, 1, summary);

    // Complete: every media file copied, the whole card read, and media found
    // at all (an empty card is more likely the wrong one).
    Outcome outcome;
    outcome.videos = videosFound;
    outcome.videosCopied = videosCopied;
    outcome.photos = photosFound;
    outcome.photosCopied = photosCopied;
    outcome.alreadyImported = alreadyImported;
    outcome.unreadable = walk.problems.size();
    outcome.unrecorded = state.unrecorded;
    if (stopped)
        outcome.status = Outcome::Status::Stopped;
    else if (videosCopied == videosFound && photosCopied == photosFound &&
             outcome.unreadable == 0 && outcome.unrecorded == 0 && videosFound + photosFound > 0)
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
    if (complete) {
        qInfo() << QStringLiteral("Done.");
        try {
            // An existing copy is kept; the log grows while it is copied, so
            // its size is not compared.
            VerifiedCopy log(logFilePath());
            log.setVerifySize(false);
            const VerifiedCopy::Result copied =
                log.copyTo(QDir(targetDir).filePath(QStringLiteral("VazizidADU.log")));
            if (copied.outcome == VerifiedCopy::Outcome::Copied)
                noteWritten(copied.path, copied.sourceHash, true, true);
            // A killed run's log copy that its history missed goes into this one.
            else if (copied.outcome == VerifiedCopy::Outcome::NameTaken)
                noteWritten(copied.path, 0, false, true);
        } catch (const std::exception& e) {
            qWarning() << "Error copying log file:" << QString::fromLocal8Bit(e.what());
        }
    }
    // The copies stay verified, but no other tool could check them: the run
    // must not read as a success.
    QStringList damaged;
    const QString historyError = writeHistory(&damaged);
    for (const QString& path : qAsConst(damaged))
        report(lastCard, 0, 1, 0,
               QStringLiteral("Error: The copy %1 no longer holds the bytes it was copied with.")
                   .arg(path));
    if (!historyError.isEmpty())
        report(lastCard, 0, 1, 1,
               QStringLiteral("Error: Could not write the hash list: %1").arg(historyError));
    else if (!damaged.isEmpty())
        report(lastCard, 0, 1, 1,
               QStringLiteral("Error: Could not complete the hash list: %1 of the copies in the "
                              "destination changed since they were made; they are not in it.")
                   .arg(damaged.size()));

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
    if (!historyError.isEmpty() || !damaged.isEmpty() || any(Outcome::Status::Failed))
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
QString MediaImport::writeHistory(QStringList* damaged)
{
    QVector<Written> files;
    {
        QMutexLocker lock(&writtenMutex);
        files = written;
    }
    const QDir destination(QDir::cleanPath(QFileInfo(targetDir).absoluteFilePath()));
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
    return besideCopy(
        copyMedia(sourcePath, cardIndex, fileIndex, totalFiles, sourceDirectory, true), cardIndex,
        true);
}

int MediaImport::copyPhotoFile(const QString& sourcePath, int cardIndex, int fileIndex,
                               int totalFiles, const QDir& sourceDirectory)
{
    return besideCopy(
        copyMedia(sourcePath, cardIndex, fileIndex, totalFiles, sourceDirectory, false), cardIndex,
        false);
}

int MediaImport::besideCopy(const MediaCopy& media, int cardIndex, bool video)
{
    // A failed copy gets nothing beside it: no thumbnail, no project naming it.
    if (!stitchTemplate || !media.result)
        return media.result;
    if (!video) {
        noteWritten(writePhotoProject(cardIndex, *stitchTemplate, media.basePath, projectName,
                                      getSettings(), media.collision));
        return media.result;
    }

    // The template's preview image beside the copy, never replacing one.
    QString image = templateSiblingPath(templatePath, QStringLiteral(".jpg"));
    if (!QFileInfo::exists(image))
        image = templateJpg();
    if (!image.isEmpty()) {
        const VerifiedCopy::Result thumbnail = VerifiedCopy(image).copyTo(
            targetDirectory.absoluteFilePath(media.copyPath) + QStringLiteral(".jpg"));
        if (thumbnail.outcome == VerifiedCopy::Outcome::Copied)
            noteWritten(thumbnail.path, thumbnail.sourceHash, true);
    }
    noteWritten(writeVideoTemplate(cardIndex, *stitchTemplate, media.basePath, projectName,
                                   getSettings(), media.collision));
    return media.result;
}
