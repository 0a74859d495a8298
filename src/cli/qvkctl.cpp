#include "cli/qvkctl.h"

#include "base/apppaths.h"
#include "base/messagehandler.h"
#include "cli/livelines.h"
#include "controller/appcontroller.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QTextStream>
#include <QThreadPool>
#include <QTimer>

namespace {

// The app's handler, but an echoed line never lands inside the live lines.
void handlerBesideLiveLines(QtMsgType type, const QMessageLogContext& context,
                            const QString& message)
{
    LiveLines* live = type == QtDebugMsg || type == QtInfoMsg ? nullptr : LiveLines::active();
    if (live)
        live->suspend();
    messageHandler(type, context, message);
    if (live)
        live->resume();
}

} // namespace

QvkCtl::QvkCtl(QTextStream& outStream, QTextStream& errStream, QObject* parent)
    : QObject(parent), out(outStream), err(errStream)
{
}

QvkCtl::~QvkCtl() = default;

void QvkCtl::setOwnLog(bool enabled)
{
    ownLog = enabled;
}

void QvkCtl::setTerminal(std::function<int()> columns)
{
    terminalColumns = std::move(columns);
}

void QvkCtl::configureApplication()
{
    // The app's name: the platform's data folder then leads to the app's
    // user data folder, not to one named after this program.
    QCoreApplication::setApplicationName(AppName);
    QCoreApplication::setApplicationVersion(AppVersion);
}

QString QvkCtl::ownLogFileName()
{
    return QStringLiteral("qvkctl.log");
}

int QvkCtl::run(const QStringList& arguments)
{
    reports.clear();
    outcomes.clear();
    reportsBeforeOutcome.clear();
    importOutcome.clear();
    recordReport = false;
    cameraSettings.clear();
    json = false;

    QvkCtlCommand command;
    QString error;
    switch (QvkCtlArguments::parse(arguments, &command, &error)) {
    case QvkCtlArguments::Parsed::Help:
        out << usageText();
        out.flush();
        return Success;
    case QvkCtlArguments::Parsed::Version:
        out << AppVersion << '\n';
        out.flush();
        return Success;
    case QvkCtlArguments::Parsed::UsageError:
        return usageError(error);
    case QvkCtlArguments::Parsed::Command:
        break;
    }

    json = command.json;
    if (terminalColumns)
        live.reset(new LiveLines(err, terminalColumns));
    startOwnLog(arguments);
    AppController appController;
    appController.setVersion(AppVersion);
    controller = &appController;
    connectController();

    const Runner runner = runnerOf(command.name);
    const int status = runner ? (this->*runner)(command) : int(Failure);

    // Whatever the outcome, no task may outlive the controller.
    waitForTasks();
    controller = nullptr;
    live.reset();
    qInfo() << "qvkctl exit status:" << status;
    stopOwnLog();
    return status;
}

void QvkCtl::connectController()
{
    connect(controller, &AppController::updateCardProgress, this, &QvkCtl::onCardProgress);
    connect(controller, &AppController::updateCardBytes, this, &QvkCtl::onCardBytes);
    connect(controller, &AppController::updateDataProgress, this, &QvkCtl::onProgress);
    connect(controller, &AppController::updateCameraSettingsProgress, this, &QvkCtl::onProgress);
    connect(controller, &AppController::updateFirmwareProgress, this, &QvkCtl::onProgress);
    connect(controller, &AppController::updateCameraSettings, this, &QvkCtl::onCameraSettings);
    connect(controller, &AppController::updateDataRecords, this, &QvkCtl::onDataRecords);
    // The outcomes decide the exit status; a card's come from the import or
    // the preparation, the others from the one controller-unit task.
    connect(controller, &AppController::cardOutcome, this, &QvkCtl::onCardOutcome);
    connect(controller, &AppController::prepareOutcome, this, &QvkCtl::onCardOutcome);
    connect(controller, &AppController::importOutcome, this, &QvkCtl::onImportOutcome);
    connect(controller, &AppController::dataOutcome, this, &QvkCtl::onOutcome);
    connect(controller, &AppController::cameraSettingsOutcome, this, &QvkCtl::onOutcome);
    connect(controller, &AppController::firmwareOutcome, this, &QvkCtl::onOutcome);
}

void QvkCtl::startOwnLog(const QStringList& arguments)
{
    if (!ownLog)
        return;
    // Never the app's log: a log of this run, which an import copies into
    // its destination as the app copies its own.
    const QString folder = dataDirPath();
    setLogFilePath(QDir(folder.isEmpty() ? appDirPath() : folder).filePath(ownLogFileName()));
    removeLogFile();
    previousHandler = qInstallMessageHandler(live ? handlerBesideLiveLines : messageHandler);
    previousEcho = setMessageEcho(false); // one log line per record would bury the progress
    logInstalled = true;
    qInfo() << QStringLiteral("qvkctl start");
    qInfo() << "Version:" << AppVersion;
    qInfo() << "Command:" << arguments.mid(1).join(QLatin1Char(' '));
}

void QvkCtl::stopOwnLog()
{
    if (!logInstalled)
        return;
    qInstallMessageHandler(previousHandler);
    setMessageEcho(previousEcho);
    previousHandler = nullptr;
    logInstalled = false;
}

void QvkCtl::record(int channel, const QVariant& from, const QVariant& to, const QVariant& value,
                    const QVariant& text)
{
    Report report;
    report.from = from.toInt();
    report.to = to.toInt();
    report.value = value.toInt();
    report.text = text.toString();
    // The report that follows a count of the records received is that count's.
    report.countsRecords = channel == 0 && recordReport;
    if (report.countsRecords)
        recordReport = false;
    reports[channel].append(report);
    if (report.text.isEmpty())
        return; // a report that only clears the view's display
    if (live && showLive(channel, report))
        return;
    printLine(channel > 0 ? QStringLiteral("[card %1] %2").arg(channel).arg(report.text)
                          : report.text);
}

void QvkCtl::onCardProgress(QVariant cardNumber, QVariant progressFrom, QVariant progressTo,
                            QVariant progressValue, QVariant progressText)
{
    record(qBound(1, cardNumber.toInt(), 3), progressFrom, progressTo, progressValue, progressText);
}

void QvkCtl::onCardBytes(QVariant cardNumber, QVariant bytesCopied, QVariant bytesTotal)
{
    if (!liveImport)
        return;
    const int card = qBound(1, cardNumber.toInt(), 3);
    cardLines[card - 1].meter.update(clock.elapsed(), bytesCopied.toLongLong(),
                                     bytesTotal.toLongLong());
    showCard(card);
}

void QvkCtl::onCardOutcome(QVariant cardNumber, QVariant outcome)
{
    const int card = qBound(1, cardNumber.toInt(), 3);
    outcomes.insert(card, outcome);
    reportsBeforeOutcome.insert(card, reports.value(card).size());
}

void QvkCtl::onImportOutcome(QVariant outcome)
{
    importOutcome = outcome;
}

void QvkCtl::onOutcome(QVariant outcome)
{
    outcomes.insert(0, outcome);
}

void QvkCtl::onDataRecords(QVariant received, QVariant announced)
{
    recordReport = true;
    recordsReceived = received.toLongLong();
    recordsAnnounced = announced.toLongLong();
}

void QvkCtl::onProgress(QVariant progressFrom, QVariant progressTo, QVariant progressValue,
                        QVariant progressText)
{
    record(0, progressFrom, progressTo, progressValue, progressText);
}

void QvkCtl::onCameraSettings(QVariant firmware, QVariant battery, QVariant date, QVariant recLedOn,
                              QVariant videoLoggingInterval, QVariant timelapseInterval,
                              QVariant timelapseTimeout, QVariant e1FirmwareVersion)
{
    cameraSettings = {
        firmware,         battery,          date, recLedOn, videoLoggingInterval, timelapseInterval,
        timelapseTimeout, e1FirmwareVersion};
}

void QvkCtl::waitForTasks()
{
    // The tasks run on the global pool and their reports come queued to this
    // thread: keep delivering them until every task has ended, then deliver
    // the last ones.
    QThreadPool* pool = QThreadPool::globalInstance();
    if (!pool->waitForDone(0)) {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (pool->waitForDone(0))
                loop.quit();
        });
        poll.start();
        loop.exec();
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (live) {
        if (!records.isEmpty())
            live->setLine(0, records);
        records.clear();
        live->retire();
    }
}
