#pragma once

#include "cards/cardreport.h"
#include "cards/cardwalk.h"

#include <QDateTime>
#include <QDir>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

class StitchTemplate;

// One import run: the three card workers of a run share one object. Each
// worker walks its card and copies its videos and photos into the
// destination under camera names, each copy verified and none ever replacing
// a file; with a template, every recording also gets its stitching project.
// Reports go through `report` as (card, from, to, value, text); the caller
// decides which thread they reach.
class MediaImport
{
public:
    MediaImport(const QString& targetDir, const QString& templatePath, const QString& projectName,
                CardReport report);

    // Why a run of these cards (in camera order), destination and template
    // must not start, or empty: paths that can only go wrong, a template that
    // cannot be used. Quick: for a caller to ask before it starts a run.
    static QString refusal(const QStringList& cards, const QString& targetDir,
                           const QString& templatePath);

    // The run's cards in camera order, before any worker starts: each worker
    // checks the run (once for all) before it copies anything.
    void setCards(const QStringList& cards);

    // The worker of card `cardIndex` (1 to 3). Returns false when the card was
    // refused or the run was stopped: such a card does not count toward the
    // end of the run.
    bool copyCard(int cardIndex, const QString& sourceDir);

    // The end of a run whose three workers have all finished: logs "Done." and
    // copies the log into the destination.
    void finishRun();

    // One card file each; 1 when the copy was made and verified, else 0.
    int copyVideoFile(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                      const QDir& sourceDirectory);
    int copyPhotoFile(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                      const QDir& sourceDirectory);

private:
    struct MediaCopy;
    MediaCopy copyMedia(const QString& sourcePath, int cardIndex, int fileIndex, int totalFiles,
                        const QDir& sourceDirectory, bool video);

    // The run's own checks, made by the first worker while the others wait;
    // the reason the run is refused, or empty.
    QString checkRun();
    // Removes what copies of a killed run left in the folders this card's
    // copies go to.
    void removeStaleTemporaries(int cardIndex, const QDir& sourceDirectory,
                                const QVector<CardWalk::File>& files);

    QString targetDir;
    QDir targetDirectory;
    QString templatePath;
    QString projectName;
    CardReport report;
    QStringList cards;
    QDateTime runStart;
    QMutex runCheckMutex;
    bool runChecked = false;
    QString runRefusal;
    std::shared_ptr<const StitchTemplate> stitchTemplate; // set by checkRun() with a template
};
