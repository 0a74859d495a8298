#include "controller/unittasks.h"

#include "cards/medianaming.h"
#include "controller/controllertasks.h"
#include "controller/shellcommand.h"
#include "link/pqvkcomms.h"

#include <QDebug>

#include <memory>

using namespace ControllerTasks;

namespace {

using Progress = void (UnitTasks::*)(QVariant, QVariant, QVariant, QVariant);
using Relay = void (UnitTasks::*)(QString);

// The opening every controller task shares: a client whose messages reach the
// view through `relay`, the port opened and the init command sent. No client
// comes back when the port cannot be opened; that has been reported already.
// The client closes the port when the task lets it go.
std::unique_ptr<PQVKComms> openUnit(UnitTasks* tasks, Relay relay, Progress progress,
                                    const QString& port, int initFailureTo = 1)
{
    auto comms = std::make_unique<PQVKComms>();
    QObject::connect(comms.get(), &PQVKComms::newMessage, tasks, relay);
    if (!comms->open(port)) {
        (tasks->*progress)(0, 1, 1, QStringLiteral("Error: Could not open port %1.").arg(port));
        return nullptr;
    }
    if (!comms->beep())
        (tasks->*progress)(0, initFailureTo, 1,
                           QStringLiteral("Error: Could not send init command."));
    return comms;
}

} // namespace

void UnitTasks::readSettings(const QString& port)
{
    const auto comms =
        openUnit(this, &UnitTasks::settingsMessage, &UnitTasks::updateCameraSettingsProgress, port);
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

void UnitTasks::saveSettings(const QString& port, const QString& date, const PQVKConfig& cfg)
{
    const auto comms =
        openUnit(this, &UnitTasks::settingsMessage, &UnitTasks::updateCameraSettingsProgress, port);
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

void UnitTasks::resetSettings(const QString& port)
{
    const auto comms =
        openUnit(this, &UnitTasks::settingsMessage, &UnitTasks::updateCameraSettingsProgress, port);
    if (!comms)
        return;

    emit updateCameraSettingsProgress(0, 2, 1, QStringLiteral("Resetting controller ..."));
    if (comms->reset())
        emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Controller reset."));
    else
        emit updateCameraSettingsProgress(
            0, 2, 2, QStringLiteral("Error resetting controller: %1").arg(comms->lastError));
}

void UnitTasks::copyData(const QString& port, const QString& targetDir, const QString& projectName)
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
    const auto comms =
        openUnit(this, &UnitTasks::dataMessage, &UnitTasks::updateDataProgress, port, 2);
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

void UnitTasks::eraseMemory(const QString& port)
{
    const auto comms =
        openUnit(this, &UnitTasks::dataMessage, &UnitTasks::updateDataProgress, port);
    if (!comms)
        return;

    emit updateDataProgress(0, 2, 1, QStringLiteral("Erasing memory ..."));
    if (comms->eraseData())
        emit updateDataProgress(0, 2, 2, QStringLiteral("Success. Memory erased."));
    else
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error erasing memory: %1").arg(comms->lastError));
}

bool UnitTasks::turnOff(const QString& port)
{
    const auto comms =
        openUnit(this, &UnitTasks::dataMessage, &UnitTasks::updateDataProgress, port);
    if (!comms)
        return false;

    emit updateDataProgress(0, 2, 1, QStringLiteral("Turning off ..."));
    if (comms->off())
        emit updateDataProgress(0, 2, 2, QStringLiteral("Success. Controller is off"));
    else
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error turning off: %1").arg(comms->lastError));
    return true;
}

void UnitTasks::updateFirmware(const QString& port, const QString& filePath)
{
    const QString program = bootloaderProgram();
    const QStringList arguments = bootloaderArguments(port, filePath);

    ShellCommand runner;
    connect(&runner, &ShellCommand::newMessage, this, &UnitTasks::firmwareMessage);
    if (runner.start(program, arguments)) {
        while (runner.isRunning())
            runner.wait(200);
    }
    if (runner.hasSucceeded())
        emit updateFirmwareProgress(0, 2, 2, QStringLiteral("Done"));
    else
        emit updateFirmwareProgress(0, 2, 2, QStringLiteral("Error updating firmware."));
}
