#include "controller/appcontroller.h"

#include "base/messagehandler.h"
#include "base/outcome.h"
#include "cards/cardpreparation.h"
#include "cards/drivediscovery.h"
#include "cards/mediaimport.h"
#include "cards/stitchtemplate.h"
#include "cards/templatediscovery.h"
#include "cards/verifiedcopy.h"
#include "cards/volumes.h"
#include "cards/wipecheck.h"
#include "controller/controllertasks.h"
#include "controller/unittasks.h"
#include "link/pqvkcomms.h"
#include "settings/settingsstore.h"
#include "settings/unitsettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDirIterator>
#include <QException>
#include <QFileInfo>
#include <QMutexLocker>
#include <QQuickWindow>
#include <QThreadPool>
#include <QtConcurrent>

AppController::AppController(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<PQVKConfig>("PQVKConfig");

    // Tasks report on their own threads, as the view expects; the unit's
    // messages come through the relays.
    unitTasks = new UnitTasks(this);
    const auto direct = Qt::DirectConnection;
    connect(unitTasks, &UnitTasks::updateDataProgress, this, &AppController::updateDataProgress,
            direct);
    connect(unitTasks, &UnitTasks::updateCameraSettingsProgress, this,
            &AppController::updateCameraSettingsProgress, direct);
    connect(unitTasks, &UnitTasks::updateFirmwareProgress, this,
            &AppController::updateFirmwareProgress, direct);
    connect(unitTasks, &UnitTasks::updateCameraSettings, this, &AppController::updateCameraSettings,
            direct);
    connect(unitTasks, &UnitTasks::dataRecords, this, &AppController::updateDataRecords, direct);
    connect(unitTasks, &UnitTasks::dataMessage, this, &AppController::recvDataMessage);
    connect(unitTasks, &UnitTasks::settingsMessage, this, &AppController::recvSettingsMessage);
    connect(unitTasks, &UnitTasks::firmwareMessage, this, &AppController::recvFirmwareMessage);
}

AppController::~AppController() = default;

void AppController::setVersion(const QString& text)
{
    version = text;
}

QString AppController::port() const
{
    QMutexLocker lock(&portMutex);
    return portName;
}

void AppController::storePort(const QString& text)
{
    QMutexLocker lock(&portMutex);
    portName = text;
}

QVariantList AppController::getDrives()
{
    return listDrives();
}

QVariantList AppController::getDevices()
{
    PQVKComms comms;
    QVariantList devices = comms.getDevices();
    // Ports that discovery misses (and the simulator) come from the settings
    // file; one that discovery found already is not offered twice.
    const auto device = [](const QVariant& entry) {
        const QString location = entry.toMap().value(QStringLiteral("location")).toString();
        const QString canonical = QFileInfo(location).canonicalFilePath();
        return canonical.isEmpty() ? location : canonical;
    };
    QStringList found;
    for (const QVariant& entry : qAsConst(devices))
        found << device(entry);
    for (const QVariant& entry : configuredSerialPortEntries()) {
        if (!found.contains(device(entry))) {
            found << device(entry);
            devices << entry;
        }
    }
    return devices;
}

QVariantList AppController::getTemplates()
{
    return listTemplates();
}

QVariantMap AppController::getSettings()
{
    return ::getSettings();
}

void AppController::updateSettings(QVariantMap settings)
{
    ::updateSettings(settings);
}

QVariant AppController::getMoviesLocation()
{
    return moviesLocation();
}

QString AppController::getBackupDir()
{
    return backupDir();
}

void AppController::setBackupDir(QString folder)
{
    ::setBackupDir(folder);
}

QStringList AppController::importDestinations(QString targetDir)
{
    QStringList folders{targetDir};
    const QString backup = backupDir();
    if (!backup.isEmpty())
        folders << backup;
    return folders;
}

QVariant AppController::getVersion()
{
    return version;
}

QVariantMap AppController::getUnitSettingsSchema()
{
    return UnitSettings::schema();
}

void AppController::setPort(QVariant port)
{
    storePort(port.toString());
}

QString AppController::checkImportPaths(QString card1, QString card2, QString card3,
                                        QString targetDir, QString templatePath)
{
    return MediaImport::refusal({card1, card2, card3}, importDestinations(targetDir), templatePath);
}

QString AppController::checkTemplate(QString templatePath)
{
    return templatePath.isEmpty() ? QString() : StitchTemplate::reason(templatePath);
}

void AppController::copyFiles(QString card1, QString card2, QString card3, QString targetDir,
                              QString templatePath, QString projectName, bool skipImported)
{
    // The backup folder, when set, is written in the same pass as the destination.
    copyFilesTo({card1, card2, card3}, importDestinations(targetDir), templatePath, projectName,
                skipImported);
}

void AppController::copyFilesTo(const QStringList& cards, const QStringList& targetDirs,
                                const QString& templatePath, const QString& projectName,
                                bool skipImported)
{
    qInfo() << QStringLiteral("Start.");
    VerifiedCopy::requestStop(false); // a stop asked for an earlier run
    const auto run = newImportRun(targetDirs, templatePath, projectName);
    run->setCards(cards);
    run->setSkipImported(skipImported);
    for (int cardIndex = 1; cardIndex <= 3; ++cardIndex) {
        const QString card = cards[cardIndex - 1];
        // Each run counts its own workers: runs started together do not mix.
        QtConcurrent::run(QThreadPool::globalInstance(), [=] { run->runCard(cardIndex, card); });
    }
}

void AppController::stopImport()
{
    qWarning() << QStringLiteral("Import: stop requested in the window");
    VerifiedCopy::requestStop();
}

void AppController::stopExport()
{
    qWarning() << QStringLiteral("Data: stop requested in the window");
    UnitTasks::requestExportStop();
}

std::shared_ptr<MediaImport> AppController::newImportRun(const QStringList& targetDirs,
                                                         const QString& templatePath,
                                                         const QString& projectName)
{
    const auto run = std::make_shared<MediaImport>(
        targetDirs, templatePath, projectName,
        [this](int card, int from, int to, int value, const QString& text) {
            emit updateCardProgress(card, from, to, value, text);
        },
        [this](int card, qint64 copied, qint64 total) {
            emit updateCardBytes(card, copied, total);
        });
    run->setOutcomeReports(
        [this](int card, const Outcome& outcome) { emit cardOutcome(card, outcome.toVariant()); },
        [this](const Outcome& outcome) { emit importOutcome(outcome.toVariant()); });
    return run;
}

// One card of a run of its own: the run never ends, as its other two cards
// never come.
void AppController::copyFilesWorker(int cardIndex, QString sourceDir, QString targetDir,
                                    QString templatePath, QString projectName)
{
    const auto run = newImportRun({targetDir}, templatePath, projectName);
    QStringList cards = {QString(), QString(), QString()};
    if (cardIndex >= 1 && cardIndex <= 3)
        cards[cardIndex - 1] = sourceDir;
    run->setCards(cards);
    run->runCard(cardIndex, sourceDir);
}

void AppController::copyData(QString port, QString targetDir, QString projectName)
{
    storePort(port);
    UnitTasks::requestExportStop(false); // a stop asked for an earlier run
    QtConcurrent::run(QThreadPool::globalInstance(),
                      [=] { copyDataWorker(port, targetDir, projectName); });
}

void AppController::saveCameraSettings(QString port, QString date, int recLedOn,
                                       double videoLoggingIntervalSeconds,
                                       double timelapseIntervalSeconds,
                                       double timelapseTimeoutMinutes, int e1FirmwareVersion)
{
    QString problem;
    const auto cfg = ControllerTasks::settingsToConfig(
        recLedOn, videoLoggingIntervalSeconds, timelapseIntervalSeconds, timelapseTimeoutMinutes,
        e1FirmwareVersion, &problem);
    if (!cfg) { // the unit hears nothing
        emit updateCameraSettingsProgress(0, 2, 2,
                                          QStringLiteral("Error saving settings: %1").arg(problem));
        emit cameraSettingsOutcome(Outcome(Outcome::Status::Refused).toVariant());
        return;
    }
    QtConcurrent::run(QThreadPool::globalInstance(),
                      [=] { saveCameraSettingsWorker(port, date, *cfg); });
}

void AppController::readCameraSettings(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { readSettingsWorker(port); });
}

void AppController::resetCameraSettings(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { resetCameraSettingsWorker(port); });
}

void AppController::turnOff(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { turnOffWorker(port); });
}

void AppController::updateFirmware(QString port, QString filePath)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { updateFirmwareWorker(port, filePath); });
}

void AppController::eraseCards(QString card1, QString card2, QString card3, bool erase,
                               bool createSyncConfig)
{
    prepareCards(card1, card2, card3, erase, createSyncConfig, false, false);
}

void AppController::eraseCardsForced(QString card1, QString card2, QString card3, bool erase,
                                     bool createSyncConfig)
{
    prepareCards(card1, card2, card3, erase, createSyncConfig, true, false);
}

void AppController::prepareCards(QString card1, QString card2, QString card3, bool erase,
                                 bool createSyncConfig, bool force, bool reverify, int copies)
{
    WipeOptions wipe;
    wipe.force = force;
    wipe.reverify = reverify;
    wipe.copies = copies > 0 ? copies : copiesBeforeWipe();
    wipe.unverified = [this](int card, const QStringList& paths) {
        emit unverifiedFiles(card, paths);
    };
    wipe.notImported = [this](int card, const QStringList& paths) {
        emit notImportedFiles(card, paths);
    };
    // Runs on the GUI thread to its end; the reports reach the view directly.
    const std::array<Outcome, 3> outcomes = ::prepareCards(
        card1, card2, card3, erase, createSyncConfig,
        [this](int card, int from, int to, int value, const QString& text) {
            emit updateCardProgress(card, from, to, value, text);
        },
        wipe);
    for (int card = 1; card <= 3; ++card)
        emit prepareOutcome(card, outcomes[card - 1].toVariant());
}

QVariantList AppController::eraseCheck(QString card1, QString card2, QString card3)
{
    WipeCheck check;
    check.setCopiesRequired(copiesBeforeWipe());
    QVariantList cards = check.eraseCheck(card1, card2, card3);
    // A folder below a volume's root is no card: the box names it so, with
    // what the folder itself holds rather than the size of its volume.
    for (QVariant& entry : cards) {
        QVariantMap card = entry.toMap();
        const QString path = card.value(QStringLiteral("path")).toString();
        const VolumeInfo volume = Volumes::volumeForPath(path);
        const QFileInfo folder(path);
        if (path.isEmpty() || !volume.valid || !folder.isDir() ||
            folder.canonicalFilePath() == QFileInfo(volume.rootPath).canonicalFilePath())
            continue;
        qint64 bytes = 0;
        QDirIterator files(path, QDir::Files | QDir::Hidden | QDir::System,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            files.next();
            bytes += files.fileInfo().size();
        }
        card.insert(QStringLiteral("folder"), true);
        card.insert(QStringLiteral("size"), bytes);
        entry = card;
    }
    return cards;
}

void AppController::eraseMemory(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { eraseMemoryWorker(port); });
}

void AppController::eraseMemoryForced(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(),
                      [=] { emit dataOutcome(unitTasks->eraseMemory(port, true).toVariant()); });
}

void AppController::exitApp()
{
    try {
        QCoreApplication::quit();
    } catch (const QException& e) {
        qInfo() << exceptionDescription(e);
    }
}

void AppController::recvDataMessage(QString message)
{
    emit updateDataProgress(0, 2, 1, message);
}

void AppController::recvSettingsMessage(QString message)
{
    emit updateCameraSettingsProgress(0, 2, 1, message);
}

void AppController::recvFirmwareMessage(QString message)
{
    emit updateFirmwareProgress(0, 2, 1, message);
}

void AppController::init(QQuickWindow* window)
{
    appWindow = window;
    if (!appWindow)
        return;

    // The view's signals start the operations of the same name.
    connect(appWindow,
            SIGNAL(copyFiles(QString, QString, QString, QString, QString, QString, bool)), this,
            SLOT(copyFiles(QString, QString, QString, QString, QString, QString, bool)));
    connect(appWindow, SIGNAL(eraseCards(QString, QString, QString, bool, bool)), this,
            SLOT(eraseCards(QString, QString, QString, bool, bool)));
    connect(appWindow, SIGNAL(eraseCardsForced(QString, QString, QString, bool, bool)), this,
            SLOT(eraseCardsForced(QString, QString, QString, bool, bool)));
    connect(appWindow, SIGNAL(prepareCards(QString, QString, QString, bool, bool, bool, bool)),
            this, SLOT(prepareCards(QString, QString, QString, bool, bool, bool, bool)));
    connect(appWindow, SIGNAL(copyData(QString, QString, QString)), this,
            SLOT(copyData(QString, QString, QString)));
    connect(appWindow, SIGNAL(readCameraSettings(QString)), this,
            SLOT(readCameraSettings(QString)));
    connect(appWindow,
            SIGNAL(saveCameraSettings(QString, QString, int, double, double, double, int)), this,
            SLOT(saveCameraSettings(QString, QString, int, double, double, double, int)));
    connect(appWindow, SIGNAL(resetCameraSettings(QString)), this,
            SLOT(resetCameraSettings(QString)));
    connect(appWindow, SIGNAL(eraseMemory(QString)), this, SLOT(eraseMemory(QString)));
    connect(appWindow, SIGNAL(eraseMemoryForced(QString)), this, SLOT(eraseMemoryForced(QString)));
    connect(appWindow, SIGNAL(exitApp()), this, SLOT(exitApp()));

    // Results go to the view's functions of the same name.
    connect(this, SIGNAL(updateCardProgress(QVariant, QVariant, QVariant, QVariant, QVariant)),
            appWindow, SLOT(updateCardProgress(QVariant, QVariant, QVariant, QVariant, QVariant)));
    connect(this, SIGNAL(updateCardBytes(QVariant, QVariant, QVariant)), appWindow,
            SLOT(updateCardBytes(QVariant, QVariant, QVariant)));
    connect(this, SIGNAL(updateDataProgress(QVariant, QVariant, QVariant, QVariant)), appWindow,
            SLOT(updateDataProgress(QVariant, QVariant, QVariant, QVariant)));
    connect(this, SIGNAL(updateCameraSettingsProgress(QVariant, QVariant, QVariant, QVariant)),
            appWindow, SLOT(updateCameraSettingsProgress(QVariant, QVariant, QVariant, QVariant)));
    connect(this,
            SIGNAL(updateCameraSettings(QVariant, QVariant, QVariant, QVariant, QVariant, QVariant,
                                        QVariant, QVariant)),
            appWindow,
            SLOT(updateCameraSettings(QVariant, QVariant, QVariant, QVariant, QVariant, QVariant,
                                      QVariant, QVariant)));
    connect(this, SIGNAL(updateFirmwareProgress(QVariant, QVariant, QVariant, QVariant)), appWindow,
            SLOT(updateFirmwareProgress(QVariant, QVariant, QVariant, QVariant)));
    connect(this, SIGNAL(cardOutcome(QVariant, QVariant)), appWindow,
            SLOT(cardOutcome(QVariant, QVariant)));
    connect(this, SIGNAL(importOutcome(QVariant)), appWindow, SLOT(importOutcome(QVariant)));
    connect(this, SIGNAL(prepareOutcome(QVariant, QVariant)), appWindow,
            SLOT(prepareOutcome(QVariant, QVariant)));
    connect(this, SIGNAL(dataOutcome(QVariant)), appWindow, SLOT(dataOutcome(QVariant)));
    connect(this, SIGNAL(cameraSettingsOutcome(QVariant)), appWindow,
            SLOT(cameraSettingsOutcome(QVariant)));
    connect(this, SIGNAL(firmwareOutcome(QVariant)), appWindow, SLOT(firmwareOutcome(QVariant)));
}

QString AppController::getTemplateJpg()
{
    return templateJpg();
}

void AppController::copyDataWorker(QString port, QString targetDir, QString projectName)
{
    emit dataOutcome(unitTasks->copyData(port, targetDir, projectName).toVariant());
}

void AppController::readSettingsWorker(QString port)
{
    emit cameraSettingsOutcome(unitTasks->readSettings(port).toVariant());
}

void AppController::resetCameraSettingsWorker(QString port)
{
    emit cameraSettingsOutcome(unitTasks->resetSettings(port).toVariant());
}

void AppController::eraseMemoryWorker(QString port)
{
    emit dataOutcome(unitTasks->eraseMemory(port).toVariant());
}

void AppController::saveCameraSettingsWorker(QString port, QString date, PQVKConfig cfg)
{
    emit cameraSettingsOutcome(unitTasks->saveSettings(port, date, cfg).toVariant());
}

void AppController::turnOffWorker(QString port)
{
    if (port.isEmpty())
        return;
    bool reached = false;
    const Outcome outcome = unitTasks->turnOff(port, &reached);
    // Once the unit was reached, whatever it answered, the power-off at exit
    // is not repeated for it.
    if (reached)
        storePort(QString());
    emit dataOutcome(outcome.toVariant());
}

void AppController::updateFirmwareWorker(QString port, QString filePath)
{
    emit firmwareOutcome(unitTasks->updateFirmware(port, filePath).toVariant());
}
