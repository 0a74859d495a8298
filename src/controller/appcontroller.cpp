#include "controller/appcontroller.h"

#include "base/messagehandler.h"
#include "cards/cardpreparation.h"
#include "cards/drivediscovery.h"
#include "cards/mediaimport.h"
#include "cards/templatediscovery.h"
#include "cards/wipecheck.h"
#include "controller/controllertasks.h"
#include "controller/unittasks.h"
#include "link/pqvkcomms.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QDebug>
#include <QException>
#include <QFileInfo>
#include <QMutexLocker>
#include <QQuickWindow>
#include <QThreadPool>
#include <QtConcurrent>

AppController::AppController(QObject* parent) : QObject(parent)
{
    // init() is invoked through the meta-object system with the view's window.
    qRegisterMetaType<QQuickWindow*>("QQuickWindow *");
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

QVariant AppController::getVersion()
{
    return version;
}

void AppController::setPort(QVariant port)
{
    storePort(port.toString());
}

QString AppController::checkImportPaths(QString card1, QString card2, QString card3,
                                        QString targetDir, QString templatePath)
{
    return MediaImport::refusal({card1, card2, card3}, targetDir, templatePath);
}

void AppController::copyFiles(QString card1, QString card2, QString card3, QString targetDir,
                              QString templatePath, QString projectName, bool skipImported)
{
    {
        QMutexLocker lock(&cardMutex);
        finishedCardWorkers = 0;
        endedCardWorkers = 0;
    }
    qInfo() << QStringLiteral("Start.");
    const auto run = newImportRun(targetDir, templatePath, projectName);
    const QStringList cards = {card1, card2, card3};
    run->setCards(cards);
    run->setSkipImported(skipImported);
    for (int cardIndex = 1; cardIndex <= 3; ++cardIndex) {
        const QString card = cards[cardIndex - 1];
        QtConcurrent::run(QThreadPool::globalInstance(),
                          [=] { runCardWorker(run, cardIndex, card); });
    }
}

std::shared_ptr<MediaImport> AppController::newImportRun(const QString& targetDir,
                                                         const QString& templatePath,
                                                         const QString& projectName)
{
    return std::make_shared<MediaImport>(
        targetDir, templatePath, projectName,
        [this](int card, int from, int to, int value, const QString& text) {
            emit updateCardProgress(card, from, to, value, text);
        },
        [this](int card, qint64 copied, qint64 total) {
            emit updateCardBytes(card, copied, total);
        });
}

void AppController::runCardWorker(const std::shared_ptr<MediaImport>& run, int cardIndex,
                                  const QString& sourceDir)
{
    const bool finished = run->copyCard(cardIndex, sourceDir);
    int ended = 0;
    bool complete = false;
    {
        QMutexLocker lock(&cardMutex);
        if (finished)
            ++finishedCardWorkers;
        ended = ++endedCardWorkers;
        complete = finishedCardWorkers == 3;
    }
    // A refused or stopped card keeps the run from being complete, but what
    // the other cards copied still goes into the destination's history.
    if (ended == 3)
        run->finishRun(complete, cardIndex);
}

void AppController::copyFilesWorker(int cardIndex, QString sourceDir, QString targetDir,
                                    QString templatePath, QString projectName)
{
    const auto run = newImportRun(targetDir, templatePath, projectName);
    QStringList cards = {QString(), QString(), QString()};
    if (cardIndex >= 1 && cardIndex <= 3)
        cards[cardIndex - 1] = sourceDir;
    run->setCards(cards);
    runCardWorker(run, cardIndex, sourceDir);
}

void AppController::copyData(QString port, QString targetDir, QString projectName)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(),
                      [=] { copyDataWorker(port, targetDir, projectName); });
}

void AppController::saveCameraSettings(QString port, QString date, int recLedOn,
                                       double videoLoggingIntervalSeconds,
                                       double timelapseIntervalSeconds,
                                       double timelapseTimeoutMinutes, int e1FirmwareVersion)
{
    const PQVKConfig cfg = ControllerTasks::settingsToConfig(
        recLedOn, videoLoggingIntervalSeconds, timelapseIntervalSeconds, timelapseTimeoutMinutes,
        e1FirmwareVersion);
    QtConcurrent::run(QThreadPool::globalInstance(),
                      [=] { saveCameraSettingsWorker(port, date, cfg); });
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
                                 bool createSyncConfig, bool force, bool reverify)
{
    WipeOptions wipe;
    wipe.force = force;
    wipe.reverify = reverify;
    wipe.unverified = [this](int card, const QStringList& paths) {
        emit unverifiedFiles(card, paths);
    };
    wipe.notImported = [this](int card, const QStringList& paths) {
        emit notImportedFiles(card, paths);
    };
    // Runs on the GUI thread to its end; the reports reach the view directly.
    ::prepareCards(
        card1, card2, card3, erase, createSyncConfig,
        [this](int card, int from, int to, int value, const QString& text) {
            emit updateCardProgress(card, from, to, value, text);
        },
        wipe);
}

QVariantList AppController::eraseCheck(QString card1, QString card2, QString card3)
{
    return WipeCheck().eraseCheck(card1, card2, card3);
}

void AppController::eraseMemory(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { eraseMemoryWorker(port); });
}

void AppController::eraseMemoryForced(QString port)
{
    storePort(port);
    QtConcurrent::run(QThreadPool::globalInstance(), [=] { unitTasks->eraseMemory(port, true); });
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
}

QString AppController::getTemplateJpg()
{
    return templateJpg();
}

void AppController::copyDataWorker(QString port, QString targetDir, QString projectName)
{
    unitTasks->copyData(port, targetDir, projectName);
}

void AppController::readSettingsWorker(QString port)
{
    unitTasks->readSettings(port);
}

void AppController::resetCameraSettingsWorker(QString port)
{
    unitTasks->resetSettings(port);
}

void AppController::eraseMemoryWorker(QString port)
{
    unitTasks->eraseMemory(port);
}

void AppController::saveCameraSettingsWorker(QString port, QString date, PQVKConfig cfg)
{
    unitTasks->saveSettings(port, date, cfg);
}

void AppController::turnOffWorker(QString port)
{
    if (port.isEmpty())
        return;
    // Once the unit was reached, whatever it answered, the power-off at exit
    // is not repeated for it.
    if (unitTasks->turnOff(port))
        storePort(QString());
}

void AppController::updateFirmwareWorker(QString port, QString filePath)
{
    unitTasks->updateFirmware(port, filePath);
}
