// Bodies of the controller-unit tasks of AppController: settings, data export,
// memory erase, power-off and the firmware update.
#include "controllertasks.h"

#include "appcontroller.h"
#include "apppaths.h"
#include "datarecord.h"
#include "medianaming.h"
#include "pqvkcomms.h"
#include "shellcommand.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QThreadPool>
#include <QtConcurrent>

#include <cmath>
#include <limits>
#include <memory>

namespace ControllerTasks {

const QString ClockFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString batteryLevelText(double volts)
{
    if (!(volts >= 0.5)) // NaN is no reading either
        return QStringLiteral("-");
    if (volts < 3.5)
        return QStringLiteral("Empty");
    static const double upperBounds[] = {3.57, 3.64, 3.71, 3.78, 3.85, 3.92, 3.99, 4.06, 4.13};
    int percent = 10;
    for (double bound : upperBounds) {
        if (volts < bound)
            return QStringLiteral("%1 %").arg(percent);
        percent += 10;
    }
    return QStringLiteral("100 %");
}

namespace {

// Truncation toward zero into the unit's unsigned fields, never out of range.
quint32 truncateToUnsigned(double value)
{
    if (!(value > 0.0)) // NaN and negatives
        return 0;
    // 2.01 * 1000 is 2009.9999999999998 in binary arithmetic: a value within a
    // rounding error of a whole number is that number, not the one below.
    const double nearest = std::round(value);
    if (std::abs(value - nearest) <= 1e-6)
        value = nearest;
    if (value >= static_cast<double>(std::numeric_limits<quint32>::max()))
        return std::numeric_limits<quint32>::max();
    return static_cast<quint32>(std::trunc(value));
}

} // namespace

quint32 secondsToMilliseconds(double seconds)
{
    return truncateToUnsigned(seconds * 1000.0);
}

quint32 wholeMinutes(double minutes)
{
    return truncateToUnsigned(minutes);
}

double millisecondsToSeconds(quint32 milliseconds)
{
    return milliseconds / 1000.0;
}

quint32 millisecondsToWholeSeconds(quint32 milliseconds)
{
    return milliseconds / 1000u;
}

quint32 shownE1FirmwareVersion(quint32 version)
{
    return version == 0 ? 29u : version;
}

PQVKConfig settingsToConfig(int recLedOn, double videoLoggingIntervalSeconds,
                            double timelapseIntervalSeconds, double timelapseTimeoutMinutes,
                            int e1FirmwareVersion)
{
    PQVKConfig cfg;
    cfg.recLedOn = static_cast<quint32>(recLedOn);
    cfg.videoLoggingInterval = secondsToMilliseconds(videoLoggingIntervalSeconds);
    cfg.timeLapseInterval = secondsToMilliseconds(timelapseIntervalSeconds);
    cfg.timeLapseTimeout = wholeMinutes(timelapseTimeoutMinutes);
    cfg.e1FirmwareVersion = static_cast<quint32>(e1FirmwareVersion);
    return cfg;
}

quint32 clockSeconds(const QString& text, const QDateTime& now)
{
    QDateTime clock = QDateTime::fromString(text, ClockFormat);
    clock.setTimeSpec(Qt::LocalTime);
    qint64 seconds = clock.isValid() ? clock.toSecsSinceEpoch() : -1;
    // The unit reports its clock as a signed 32-bit number: a time outside
    // that range would come back as a different date.
    if (seconds < 0 || seconds > std::numeric_limits<qint32>::max())
        seconds = now.toSecsSinceEpoch();
    return static_cast<quint32>(seconds);
}

QString clockText(qint32 secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::LocalTime).toString(ClockFormat);
}

QString csvFileName(const QDateTime& datasetStart, const QString& projectName)
{
    const QString stamp = datasetStart.toString(QStringLiteral("yyyyMMdd-hhmm00"));
    if (projectName.isEmpty())
        return QStringLiteral("vazizidadu_%1.csv").arg(stamp);
    return QStringLiteral("vazizidadu_%1_%2.csv").arg(projectName, stamp);
}

QString distinctFileName(const QString& name, QSet<QString>& taken)
{
    QString candidate = name;
    const QString stem = name.endsWith(QLatin1String(".csv")) ? name.chopped(4) : name;
    const QString extension = name.mid(stem.size());
    for (int n = 2; taken.contains(candidate); ++n)
        candidate = QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(extension);
    taken.insert(candidate);
    return candidate;
}

CsvExport writeDatasetFiles(const QStringList& recordLines, const QString& targetDir,
                            const QString& projectName)
{
    CsvExport result;
    QSet<QString> taken;
    std::unique_ptr<QSaveFile> file;
    std::unique_ptr<QTextStream> stream;
    bool inDataset = false;
    quint32 startTime = 0;
    qint32 baseNumber = 0;

    // A file takes its name only once it is complete, replacing a file of an
    // earlier export; a failed write leaves that earlier file as it was.
    auto finishFile = [&] {
        if (!file)
            return;
        stream->flush();
        if (file->commit())
            ++result.filesWritten;
        else
            qWarning() << "Data: Could not write" << file->fileName() << file->errorString();
        stream.reset();
        file.reset();
    };

    for (const QString& line : recordLines) {
        DataRecord record(line);
        if (record.isStart()) {
            finishFile();
            inDataset = true;
            startTime = static_cast<quint32>(record.Timestamp);
            baseNumber = record.Number;
            // Two datasets that start within one minute would share a name.
            const QString name = distinctFileName(csvFileName(record.dateTime, projectName), taken);
            file = std::make_unique<QSaveFile>(QDir(targetDir).filePath(name));
            if (file->open(QIODevice::WriteOnly)) {
                stream = std::make_unique<QTextStream>(file.get());
                *stream << DataRecord::csvHeader();
            } else {
                qWarning() << "Data: Could not create" << file->fileName() << file->errorString();
                file.reset();
            }
            continue;
        }
        if (!inDataset) {
            ++result.recordsBeforeFirstStart;
            continue;
        }
        record.setStartTime(startTime);
        record.Number -= baseNumber;
        if (stream)
            *stream << record.toCsvRow();
    }
    finishFile();

    if (result.recordsBeforeFirstStart > 0)
        qWarning() << "Data:" << result.recordsBeforeFirstStart
                   << "records before the first dataset start were not written";
    return result;
}

QString bootloaderProgram()
{
#ifdef Q_OS_WIN
    return utilitiesDirPath() + QStringLiteral("/bootloader.exe");
#else
    return utilitiesDirPath() + QStringLiteral("/bootloader");
#endif
}

QStringList bootloaderArguments(const QString& port, const QString& filePath)
{
    // The blank makes the platform's process class quote "-p <port>" as one argument.
    return {QStringLiteral("-p %1").arg(port), QDir(firmwareDirPath()).absoluteFilePath(filePath)};
}

} // namespace ControllerTasks

using namespace ControllerTasks;

namespace {

using Progress = void (AppController::*)(QVariant, QVariant, QVariant, QVariant);
using Relay = void (AppController::*)(QString);

// The opening every controller task shares: a client whose messages reach the
// view through `relay`, the port opened and the init command sent. No client
// comes back when the port cannot be opened; that has been reported already.
// The client closes the port when the task lets it go.
std::unique_ptr<PQVKComms> openUnit(AppController* controller, Relay relay, Progress progress,
                                    const QString& port, int initFailureTo = 1)
{
    auto comms = std::make_unique<PQVKComms>();
    QObject::connect(comms.get(), &PQVKComms::newMessage, controller, relay);
    if (!comms->open(port)) {
        (controller->*progress)(0, 1, 1,
                                QStringLiteral("Error: Could not open port %1.").arg(port));
        return nullptr;
    }
    if (!comms->beep())
        (controller->*progress)(0, initFailureTo, 1,
                                QStringLiteral("Error: Could not send init command."));
    return comms;
}

} // namespace

void AppController::saveCameraSettings(QString port, QString date, int recLedOn,
                                       double videoLoggingIntervalSeconds,
                                       double timelapseIntervalSeconds,
                                       double timelapseTimeoutMinutes, int e1FirmwareVersion)
{
    const PQVKConfig cfg =
        settingsToConfig(recLedOn, videoLoggingIntervalSeconds, timelapseIntervalSeconds,
                         timelapseTimeoutMinutes, e1FirmwareVersion);
    QtConcurrent::run(QThreadPool::globalInstance(),
                      [=] { saveCameraSettingsWorker(port, date, cfg); });
}

void AppController::readSettingsWorker(QString port)
{
    const auto comms = openUnit(this, &AppController::recvSettingsMessage,
                                &AppController::updateCameraSettingsProgress, port);
    if (!comms)
        return;

    emit updateCameraSettingsProgress(0, 2, 1, QStringLiteral("Reading settings ..."));
    if (!comms->readConfig()) {
        emit updateCameraSettingsProgress(
            0, 2, 2, QStringLiteral("Error getting settings: %1").arg(comms->lastError));
        return;
    }
    const PQVKConfig& cfg = comms->config;
    emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Settings read."));
    emit updateCameraSettings(cfg.firmware, batteryLevelText(cfg.battery), clockText(cfg.date),
                              static_cast<int>(cfg.recLedOn),
                              millisecondsToSeconds(cfg.videoLoggingInterval),
                              static_cast<int>(millisecondsToWholeSeconds(cfg.timeLapseInterval)),
                              static_cast<int>(cfg.timeLapseTimeout),
                              static_cast<int>(shownE1FirmwareVersion(cfg.e1FirmwareVersion)));
}

void AppController::saveCameraSettingsWorker(QString port, QString date, PQVKConfig cfg)
{
    const auto comms = openUnit(this, &AppController::recvSettingsMessage,
                                &AppController::updateCameraSettingsProgress, port);
    if (!comms)
        return;

    const quint32 seconds = clockSeconds(date);
    if (comms->setConfig(seconds, cfg.recLedOn, cfg.videoLoggingInterval, cfg.timeLapseInterval,
                         cfg.timeLapseTimeout, cfg.e1FirmwareVersion))
        emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Settings saved."));
    else
        emit updateCameraSettingsProgress(
            0, 2, 2, QStringLiteral("Error saving settings: %1").arg(comms->lastError));
}

void AppController::resetCameraSettingsWorker(QString port)
{
    const auto comms = openUnit(this, &AppController::recvSettingsMessage,
                                &AppController::updateCameraSettingsProgress, port);
    if (!comms)
        return;

    emit updateCameraSettingsProgress(0, 2, 1, QStringLiteral("Resetting controller ..."));
    if (comms->reset())
        emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Controller reset."));
    else
        emit updateCameraSettingsProgress(
            0, 2, 2, QStringLiteral("Error resetting controller: %1").arg(comms->lastError));
}

void AppController::copyDataWorker(QString port, QString targetDir, QString projectName)
{
    if (targetDir.isEmpty()) {
        qWarning("Data: Please choose destination");
        emit updateDataProgress(0, 1, 1, QStringLiteral("Error: Please choose destination"));
        return;
    }
    // The project name becomes part of file names: nothing that could leave
    // the destination folder or that no file name may hold.
    if (!MediaNaming::isValidProjectName(projectName)) {
        qWarning() << "Data: Invalid project name" << projectName;
        emit updateDataProgress(0, 1, 1, QStringLiteral("Error: Invalid project name"));
        return;
    }
    // A failed init command is only a step of the export, which goes on.
    const auto comms = openUnit(this, &AppController::recvDataMessage,
                                &AppController::updateDataProgress, port, 2);
    if (!comms)
        return;

    emit updateDataProgress(0, 2, 1, QStringLiteral("Counting datasets ..."));
    if (!comms->countData()) {
        // An unanswered count says nothing about the unit's memory: ending with
        // "No records available." would invite erasing data never saved.
        const QString error = QStringLiteral("Error: Could not read available data.");
        emit updateDataProgress(0, 2, 1, error);
        emit updateDataProgress(0, 2, 2, error);
        return;
    }
    if (comms->config.dataCount == 0) {
        emit updateDataProgress(0, 2, 2, QStringLiteral("No records available."));
        return;
    }
    QStringList lines;
    if (!comms->readData(lines)) {
        // The unit holds records: a failed download must not read as an empty memory.
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error reading data: %1").arg(comms->lastError));
        return;
    }
    emit updateDataProgress(0, 2, 1,
                            QStringLiteral("Reading %1 datasets ...")
                                .arg(static_cast<quint32>(comms->config.dataCount)));

    const CsvExport written = writeDatasetFiles(lines, targetDir, projectName);
    emit updateDataProgress(0, 2, 2,
                            QStringLiteral("Wrote %1 records to %2 files in %3")
                                .arg(lines.size())
                                .arg(written.filesWritten)
                                .arg(targetDir));
}

void AppController::eraseMemoryWorker(QString port)
{
    const auto comms =
        openUnit(this, &AppController::recvDataMessage, &AppController::updateDataProgress, port);
    if (!comms)
        return;

    emit updateDataProgress(0, 2, 1, QStringLiteral("Erasing memory ..."));
    if (comms->eraseData())
        emit updateDataProgress(0, 2, 2, QStringLiteral("Success. Memory erased."));
    else
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error erasing memory: %1").arg(comms->lastError));
}

void AppController::turnOffWorker(QString port)
{
    if (port.isEmpty())
        return;
    const auto comms =
        openUnit(this, &AppController::recvDataMessage, &AppController::updateDataProgress, port);
    if (!comms)
        return;

    emit updateDataProgress(0, 2, 1, QStringLiteral("Turning off ..."));
    if (comms->off())
        emit updateDataProgress(0, 2, 2, QStringLiteral("Success. Controller is off"));
    else
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error turning off: %1").arg(comms->lastError));
    // Either way the power-off at exit is not repeated for this unit.
    storePort(QString());
}

void AppController::updateFirmwareWorker(QString port, QString filePath)
{
    const QString program = bootloaderProgram();
    const QStringList arguments = bootloaderArguments(port, filePath);

    ShellCommand runner;
    connect(&runner, &ShellCommand::newMessage, this, &AppController::recvFirmwareMessage);
    if (runner.start(program, arguments)) {
        while (runner.isRunning())
            runner.wait(200);
    }
    if (runner.hasSucceeded())
        emit updateFirmwareProgress(0, 2, 2, QStringLiteral("Done"));
    else
        emit updateFirmwareProgress(0, 2, 2, QStringLiteral("Error updating firmware."));
}
