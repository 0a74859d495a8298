#pragma once

#include "link/pqvkconfig.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class MediaImport;
class QQuickWindow;
class UnitTasks;

// The one back-end object the view sees. Quick queries run on the GUI thread;
// long operations run as tasks on the global thread pool and report back
// through the progress signals only. It dispatches: the media import is
// MediaImport's, the controller-unit tasks are UnitTasks'.
class AppController : public QObject
{
    Q_OBJECT

public:
    explicit AppController(QObject* parent = nullptr);
    ~AppController() override;

    void setVersion(const QString& version);
    // The port the power-off at exit uses; the power-off task clears it from a pool thread.
    QString port() const;

signals:
    void updateCardProgress(QVariant cardNumber, QVariant progressFrom, QVariant progressTo,
                            QVariant progressValue, QVariant progressText);
    // The bytes of a card's media files copied so far and in all, at most ten
    // times a second per card and once at each card's end.
    void updateCardBytes(QVariant cardNumber, QVariant bytesCopied, QVariant bytesTotal);
    void updateDataProgress(QVariant progressFrom, QVariant progressTo, QVariant progressValue,
                            QVariant progressText);
    void updateCameraSettingsProgress(QVariant progressFrom, QVariant progressTo,
                                      QVariant progressValue, QVariant progressText);
    void updateFirmwareProgress(QVariant progressFrom, QVariant progressTo, QVariant progressValue,
                                QVariant progressText);
    // The media files of a card whose wipe was asked for that have no verified
    // copy (paths relative to the card), told before any card is touched.
    void unverifiedFiles(QVariant cardNumber, QVariant relativePaths);
    // Likewise the files that are not media, which no import copies.
    void notImportedFiles(QVariant cardNumber, QVariant relativePaths);
    void updateCameraSettings(QVariant firmware, QVariant battery, QVariant date, QVariant recLedOn,
                              QVariant videoLoggingInterval, QVariant timelapseInterval,
                              QVariant timelapseTimeout, QVariant e1FirmwareVersion);

    // How each task ended (Outcome::toVariant()), beside its last progress
    // report: the value to decide on, where the texts are for people.
    // A card of an import, after its summary.
    void cardOutcome(QVariant cardNumber, QVariant outcome);
    // An import run, once, after the run's end.
    void importOutcome(QVariant outcome);
    // A card of a preparation.
    void prepareOutcome(QVariant cardNumber, QVariant outcome);
    // The data export, memory erase and power-off.
    void dataOutcome(QVariant outcome);
    // The settings read, save and reset.
    void cameraSettingsOutcome(QVariant outcome);
    void firmwareOutcome(QVariant outcome);
    // The records of a data export received so far of those the unit
    // announced, just before the progress report that counts them.
    void updateDataRecords(QVariant recordsReceived, QVariant recordsAnnounced);

public slots:
    QVariantList getDrives();
    QVariantList getDevices();
    QVariantList getTemplates();
    QVariantMap getSettings();
    void updateSettings(QVariantMap settings);
    QVariant getMoviesLocation();
    // The folder each import also copies to, kept in the settings; empty: none.
    QString getBackupDir();
    void setBackupDir(QString folder);
    // The folders an import into targetDir writes to: targetDir, then the
    // backup folder when one is set.
    QStringList importDestinations(QString targetDir);
    QVariant getVersion();
    // The unit settings' defaults, ranges, steps and choices, by setting name
    // (see UnitSettings::schema), for the Settings tab's controls.
    QVariantMap getUnitSettingsSchema();
    void setPort(QVariant port);
    // Why an import of these cards into targetDir with this template must not
    // start, or empty; asked before copyFiles.
    QString checkImportPaths(QString card1, QString card2, QString card3, QString targetDir,
                             QString templatePath);
    // Why the template cannot be used, in a few words without its path, or
    // empty (also for no template). The window then offers to copy without one.
    QString checkTemplate(QString templatePath);
    // skipImported: card files that the ledger says were imported into
    // targetDir before are not copied again.
    void copyFiles(QString card1, QString card2, QString card3, QString targetDir,
                   QString templatePath, QString projectName, bool skipImported = false);
    // The same into one or more destinations (a working folder and a backup,
    // say): each card file read once and written to each, each copy verified
    // on its own disk (see MediaImport). The cards in camera order.
    void copyFilesTo(const QStringList& cards, const QStringList& targetDirs,
                     const QString& templatePath, const QString& projectName,
                     bool skipImported = false);
    // Stops the running import as qvkctl's Ctrl-C does: the copies under way
    // are given up and their unfinished files removed; each card then ends
    // with a Stopped outcome.
    void stopImport();
    void copyData(QString port, QString targetDir, QString projectName);
    // Stops the running data export as qvkctl's Ctrl-C does: the download
    // ends at the next record, no file is written and the export is not
    // recorded, so the erase still asks; it ends with a Stopped outcome.
    void stopExport();
    void readCameraSettings(QString port);
    void resetCameraSettings(QString port);
    void turnOff(QString port);
    void updateFirmware(QString port, QString filePath);
    void saveCameraSettings(QString port, QString date, int recLedOn,
                            double videoLoggingIntervalSeconds, double timelapseIntervalSeconds,
                            double timelapseTimeoutMinutes, int e1FirmwareVersion);
    void eraseCards(QString card1, QString card2, QString card3, bool eraseCards,
                    bool createSyncConfig);
    // The same after the user confirmed that files without a verified copy
    // may be lost.
    void eraseCardsForced(QString card1, QString card2, QString card3, bool eraseCards,
                          bool createSyncConfig);
    // Card preparation with every choice: `force` wipes cards whose media
    // lack their verified copies, `reverify` reads every copy again first,
    // `copies` verified copies in distinct destinations every media file
    // needs (0: as the setting "CopiesBeforeWipe" says).
    void prepareCards(QString card1, QString card2, QString card3, bool eraseCards,
                      bool createSyncConfig, bool force, bool reverify, int copies = 0);
    // For the erase box: per card its label, path, size, how many of its
    // media files have the verified copies "CopiesBeforeWipe" asks for and
    // the verified copies in each destination (see WipeCheck::eraseCheck); a folder
    // that is not its volume's root has "folder" true and its own size.
    QVariantList eraseCheck(QString card1, QString card2, QString card3);
    // Erases the unit's memory only when its records are saved (see
    // UnitTasks::eraseMemory); otherwise the report says why not.
    void eraseMemory(QString port);
    // Erases whatever the unit holds, with a warning in the log when its
    // records are not known to be saved.
    void eraseMemoryForced(QString port);
    void exitApp();
    void recvDataMessage(QString message);
    void recvSettingsMessage(QString message);
    void recvFirmwareMessage(QString message);
    void init(QQuickWindow* appWindow);
    void turnOffWorker(QString port);

private slots:
    QString getTemplateJpg();
    void copyDataWorker(QString port, QString targetDir, QString projectName);
    void readSettingsWorker(QString port);
    void resetCameraSettingsWorker(QString port);
    void eraseMemoryWorker(QString port);
    void saveCameraSettingsWorker(QString port, QString date, PQVKConfig cfg);
    void copyFilesWorker(int cardIndex, QString sourceDir, QString targetDir, QString templatePath,
                         QString projectName);
    void updateFirmwareWorker(QString port, QString filePath);

private:
    void storePort(const QString& port);
    // An import run whose reports reach the view as updateCardProgress.
    std::shared_ptr<MediaImport> newImportRun(const QStringList& targetDirs,
                                              const QString& templatePath,
                                              const QString& projectName);

    UnitTasks* unitTasks = nullptr;
    QQuickWindow* appWindow = nullptr;
    QString version;
    QString portName;
    mutable QMutex portMutex; // port is cleared by the power-off task on a pool thread
};
