#pragma once

#include "cards/cardreport.h"
#include "cards/cardwalk.h"
#include "cards/mhlhistory.h"
#include "cards/verifiedcopy.h"

#include <QDateTime>
#include <QDir>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class StitchTemplate;
class ImportLedger;
struct LedgerEntry;

// A card's byte progress: (card, bytes of its media files gone through so
// far, bytes of all its media files). Called on the card worker's thread.
using CardBytesReport = std::function<void(int, qint64, qint64)>;

// How an import run ended, told once after its end. Called on the thread of
// the worker that ended the run.
using RunOutcomeReport = std::function<void(const Outcome&)>;

// One import run: the three card workers of a run share one object, which
// counts them and ends the run when the third has ended. Each
// worker walks its card and copies its videos and photos into the
// destination under camera names, each copy verified and none ever replacing
// a file; with a template, every recording also gets its stitching project.
// Reports go through `report` as (card, from, to, value, text), and the bytes
// through `bytes` at most ten times a second per card and once at each card's
// end; the caller decides which thread they reach.
//
// Every verified copy is recorded in the import ledger as it takes its name;
// at the end of the run, every file the run wrote into the destination is
// recorded, with its hash, in a new generation of the destination's ASC MHL
// history.
class MediaImport
{
public:
    MediaImport(const QString& targetDir, const QString& templatePath, const QString& projectName,
                CardReport report, CardBytesReport bytes = nullptr);
    // Into several destinations at once (a working folder and a backup, say):
    // each card file is read once and written to each; each destination gets
    // its own verified copies, names, stitching projects, ledger rows, hash
    // list generation and log copy, and one that fails leaves the others
    // going. The cards' summaries and outcomes tell each destination's counts.
    MediaImport(const QStringList& targetDirs, const QString& templatePath,
                const QString& projectName, CardReport report, CardBytesReport bytes = nullptr);
    ~MediaImport();
    MediaImport(const MediaImport&) = delete;
    MediaImport& operator=(const MediaImport&) = delete;

    // Why a run of these cards (in camera order), destination and template
    // must not start, or empty: paths that can only go wrong, a template that
    // cannot be used. Quick: for a caller to ask before it starts a run.
    static QString refusal(const QStringList& cards, const QString& targetDir,
                           const QString& templatePath);
    static QString refusal(const QStringList& cards, const QStringList& targetDirs,
                           const QString& templatePath);

    // The run's cards in camera order, before any worker starts: each worker
    // checks the run (once for all) before it copies anything.
    void setCards(const QStringList& cards);

    // Card files whose copy in this destination the ledger records and
    // proves (the card file's size, time and fingerprint as recorded, the
    // copy's size and time too) are reported as already imported and counted
    // as copied, not copied again; any other is copied again under a new
    // name, and the report says why. Off by default; set before any worker
    // starts.
    void setSkipImported(bool skip);

    // Told each card's outcome, and the run's once it has ended. Set before
    // any worker starts.
    void setOutcomeReports(CardOutcomeReport card, RunOutcomeReport run);

    // The worker of card `cardIndex` (1 to 3) as a run has it: copies the
    // card, tells its outcome, and the third of the run's workers to end,
    // however the others ended, ends the run (finishRun) and tells its outcome.
    void runCard(int cardIndex, const QString& sourceDir);

    // The worker of card `cardIndex` (1 to 3) alone: how the card ended.
    // A refused card and a stopped run keep the run from being complete.
    Outcome copyCard(int cardIndex, const QString& sourceDir);

    // The end of a run, once its three workers have ended with `cards` (in
    // camera order), however they ended. When none was refused or stopped:
    // logs "Done." and copies the log into the destination. Then records what
    // the run wrote into the destination in its hash list history (nothing
    // written: no generation). A history that cannot take the run fails it:
    // card `lastCard`, the one whose worker ended the run, reports why after
    // its summary. The run succeeds only when all three cards did.
    Outcome finishRun(const std::array<Outcome, 3>& cards, int lastCard = 3);

    // One card file each; 1 when the copy was made and verified, else 0.
    int copyVideoFile(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                      const QDir& sourceDirectory);
    int copyPhotoFile(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                      const QDir& sourceDirectory);

private:
    struct MediaCopy;
    struct CardState;
    struct StagedMedia;
    struct CardEntry;
    struct Written
    {
        QString path;
        quint64 xxh64 = 0;
        bool hashed = false; // else hashed from the disk at the end of the run
        bool logCopy = false;
    };
    // One destination and what the run wrote into it.
    struct Target
    {
        QString dir;
        QDir directory;
        QMutex writtenMutex; // the three workers add to `written`
        QVector<Written> written;
    };

    int copyMedia(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                  const QDir& sourceDirectory, bool video);
    // A card file's copy in its steps: read into its temporary, then (once
    // verified) its pending row, its name and its report, then what goes
    // beside it (thumbnail, stitching project), in each of `targets` (indexes
    // into `targets`); per destination, 1 when copied and verified.
    StagedMedia stageMedia(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                           const QDir& sourceDirectory, bool video, const QVector<int>& targets);
    void recordStaged(StagedMedia& media, const QDir& sourceDirectory);
    QVector<MediaCopy> nameMedia(StagedMedia& media, const QDir& sourceDirectory,
                                 std::vector<std::function<void()>>* rows);
    int besideCopy(const MediaCopy& media, int cardIndex, bool video);
    CardState& cardState(int cardIndex);
    void reportBytes(int cardIndex, bool always);
    // The card's ledger, opened on first use on the worker's thread; null
    // once the run has given the ledger up.
    ImportLedger* ledger(int cardIndex, const QDir& sourceDirectory);
    LedgerEntry ledgerEntry(int cardIndex, const QString& sourcePath, const QDir& sourceDirectory,
                            const VerifiedCopy::Result& copied);
    // The copy's row, pending, before it takes its name (`*row` its id).
    void recordPending(int cardIndex, const QString& sourcePath, const QDir& sourceDirectory,
                       const VerifiedCopy::Result& copied, qint64* row);
    // The copy took its name: its pending row confirmed, or a row written.
    // False when the copy could not be recorded (counted in the card's state).
    bool recordInLedger(int cardIndex, int target, const QString& sourcePath,
                        const QDir& sourceDirectory, const VerifiedCopy::Result& copied,
                        qint64 pendingRow);
    void noteWritten(Target& target, const QString& path, quint64 xxh64, bool hashed,
                     bool logCopy = false);
    void noteWritten(Target& target, const QStringList& paths);
    // Why the run's generation could not be added; empty when it was, or
    // when there was nothing to record. Besides what the run wrote, the
    // generation takes every copy in the destination that the ledger knows
    // and no generation lists yet (a killed run's), so that the history is
    // complete again; such a copy that no longer holds its recorded bytes is
    // named in `damaged` and keeps the history from being complete.
    QString writeHistory(Target& target, QStringList* damaged);
    // The ledger's copies in `destination`, made before this run began, that
    // no generation lists and that `own` does not hold, hashed now: those that match the ledger in
    // `unlisted`, the others in `damaged`. False, with `error`, when the
    // ledger or the history could not be read.
    bool unlistedCopies(const QDir& destination, const QSet<QString>& own,
                        QVector<MhlHistory::File>* unlisted, QStringList* damaged, QString* error);

    // The run's own checks, made by the first worker while the others wait;
    // the reason the run is refused, or empty.
    QString checkRun();
    // Removes what copies of a killed run left in the folders this card's
    // copies go to.
    void removeStaleTemporaries(int cardIndex, const QDir& sourceDirectory,
                                const QVector<CardWalk::File>& files);
    // The ledger's copy of a card file in this destination that proves the
    // file's bytes saved (CopyProof), or empty; `whyNot` then says why the
    // newest copy recorded here does not (empty when none is).
    QString importedCopy(int cardIndex, const QDir& sourceDirectory, const QString& sourcePath,
                         const Target& target, QString* whyNot);
    // The destination's name in the reports of a run into several.
    QString inTarget(int target) const;

    std::vector<std::unique_ptr<Target>> targets; // in the order given
    QString templatePath;
    QString projectName;
    CardReport report;
    CardBytesReport bytes;
    CardOutcomeReport cardOutcome;
    RunOutcomeReport runOutcome;
    QString runId;
    // One per card, each used by its card's worker only; [0] for other numbers.
    std::array<std::unique_ptr<CardState>, 4> cards;
    // Set when a copy could not be recorded: the rest of the run does not
    // wait for the ledger again (another program may hold it for long).
    std::atomic<bool> ledgerGivenUp{false};
    QStringList runCards; // the folders given, in camera order
    bool skipImported = false;
    QDateTime runStart;
    QMutex runCheckMutex;
    bool runChecked = false;
    QString runRefusal;
    std::shared_ptr<const StitchTemplate> stitchTemplate; // set by checkRun() with a template
    QMutex endMutex;                     // the workers' count toward the end of the run
    int endedCardWorkers = 0;            // returned, refused and stopped ones too
    std::array<Outcome, 3> cardOutcomes; // by camera, of those that ended
};
