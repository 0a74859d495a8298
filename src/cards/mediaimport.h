#pragma once

#include "cards/cardreport.h"
#include "cards/cardwalk.h"
#include "cards/verifiedcopy.h"

#include <QDateTime>
#include <QDir>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <functional>
#include <memory>

class StitchTemplate;

// A card's byte progress: (card, bytes of its media files gone through so
// far, bytes of all its media files). Called on the card worker's thread.
using CardBytesReport = std::function<void(int, qint64, qint64)>;

// One import run: the three card workers of a run share one object. Each
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
    ~MediaImport();
    MediaImport(const MediaImport&) = delete;
    MediaImport& operator=(const MediaImport&) = delete;

    // Why a run of these cards (in camera order), destination and template
    // must not start, or empty: paths that can only go wrong, a template that
    // cannot be used. Quick: for a caller to ask before it starts a run.
    static QString refusal(const QStringList& cards, const QString& targetDir,
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

    // The worker of card `cardIndex` (1 to 3). Returns false when the card was
    // refused or the run was stopped: such a card does not count toward the
    // end of the run.
    bool copyCard(int cardIndex, const QString& sourceDir);

    // The end of a run, once its three workers have ended, however they ended.
    // When all three finished (`complete`): logs "Done." and copies the log
    // into the destination. Then records what the run wrote into the
    // destination in its hash list history (nothing written: no generation).
    // A history that cannot take the run fails it: card `lastCard`, the one
    // whose worker ended the run, reports why after its summary.
    void finishRun(bool complete = true, int lastCard = 3);

    // One card file each; 1 when the copy was made and verified, else 0.
    int copyVideoFile(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                      const QDir& sourceDirectory);
    int copyPhotoFile(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                      const QDir& sourceDirectory);

private:
    struct MediaCopy;
    struct CardState;
    struct Written
    {
        QString path;
        quint64 xxh64 = 0;
        bool hashed = false; // else hashed from the disk at the end of the run
        bool logCopy = false;
    };

    MediaCopy copyMedia(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                        const QDir& sourceDirectory, bool video);
    CardState& cardState(int cardIndex);
    void reportBytes(int cardIndex, bool always);
    void recordInLedger(int cardIndex, const QString& sourcePath, const QDir& sourceDirectory,
                        const QString& copyPath, qint64 size, quint64 xxh64,
                        const VerifiedCopy::Result& copied);
    void noteWritten(const QString& path, quint64 xxh64, bool hashed, bool logCopy = false);
    void noteWritten(const QStringList& paths);
    // Why the run's generation could not be added; empty when it was, or
    // when the run wrote nothing to record.
    QString writeHistory();

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
                         QString* whyNot);

    QString targetDir;
    QDir targetDirectory;
    QString templatePath;
    QString projectName;
    CardReport report;
    CardBytesReport bytes;
    QString runId;
    // One per card, each used by its card's worker only; [0] for other numbers.
    std::array<std::unique_ptr<CardState>, 4> cards;
    QMutex writtenMutex; // the three workers add to `written`
    QVector<Written> written;
    QStringList runCards; // the folders given, in camera order
    bool skipImported = false;
    QDateTime runStart;
    QMutex runCheckMutex;
    bool runChecked = false;
    QString runRefusal;
    std::shared_ptr<const StitchTemplate> stitchTemplate; // set by checkRun() with a template
};
