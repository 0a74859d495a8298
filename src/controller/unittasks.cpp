#include "controller/unittasks.h"

#include "cards/medianaming.h"
#include "cards/verifiedcopy.h"
#include "controller/controllertasks.h"
#include "controller/datasetfiles.h"
#include "controller/exportledger.h"
#include "controller/shellcommand.h"
#include "link/pqvkcomms.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>

#include <atomic>
#include <climits>
#include <memory>

using namespace ControllerTasks;

namespace {

using Progress = void (UnitTasks::*)(QVariant, QVariant, QVariant, QVariant);
using Relay = void (UnitTasks::*)(QString);

// A download that does not match what the unit announced is asked for again,
// at most this often in all.
constexpr int DownloadAttempts = 3;

// The firmware bar: erasing is step 1, writing 0 to 100 % steps 1 to 100,
// the check after it step 101, of these.
constexpr int BootloaderSteps = 102;

// The step a line of the boot-loader stands for ("Erasing flash ...",
// "Writing 50 %", "Verify OK"), or -1 for any other line.
int bootloaderStep(const QString& line)
{
    static const QRegularExpression erasing(QStringLiteral("^Erasing\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression writing(QStringLiteral("^Writing\\s+(\\d{1,3})\\s*%"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression verified(QStringLiteral("^Verif\\w*\\s+OK\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (erasing.match(line).hasMatch())
        return 1;
    const QRegularExpressionMatch written = writing.match(line);
    if (written.hasMatch())
        return 1 + qMin(100, written.captured(1).toInt()) * 99 / 100;
    if (verified.match(line).hasMatch())
        return BootloaderSteps - 1;
    return -1;
}

// The reason, where one is known, follows the usual text.
QString openFailureText(const PQVKComms& comms, const QString& port)
{
    const QString text = QStringLiteral("Error: Could not open port %1.").arg(port);
    switch (comms.openFailure) {
    case PortOpenError::InUseElsewhere:
        return text + QStringLiteral(" It is in use by another program.");
    case PortOpenError::InUseHere:
        return text + QStringLiteral(" It is in use by another task of this program.");
    default:
        return text;
    }
}

const Outcome::Status Succeeded = Outcome::Status::Succeeded;
const Outcome::Status Failed = Outcome::Status::Failed;

// The data bar during a download: records received of those announced, one
// more step standing for the files still to write.
int downloadSteps(qint64 announced)
{
    return int(qBound<qint64>(1, announced + 1, INT_MAX));
}

std::atomic<bool> exportStop{false};

// Ports whose unit, when last asked in this run, answered nothing at all.
QMutex silentPortsMutex;
QSet<QString> silentPorts;

// Notes what the client found out about its unit as it lets the port go.
struct NoteSilence
{
    QString port;
    void operator()(PQVKComms* comms) const
    {
        {
            QMutexLocker lock(&silentPortsMutex);
            if (comms->foundSilent())
                silentPorts.insert(port);
            else if (comms->hasAnswered())
                silentPorts.remove(port);
        }
        delete comms;
    }
};
using UnitClient = std::unique_ptr<PQVKComms, NoteSilence>;

// The opening every controller task shares: a client whose messages reach the
// view through `relay`, the port opened and the init command sent. No client
// comes back when the port cannot be opened; that has been reported already.
// The client closes the port when the task lets it go.
UnitClient openUnit(UnitTasks* tasks, Relay relay, Progress progress, const QString& port,
                    int initFailureTo = 1)
{
    UnitClient comms(new PQVKComms, NoteSilence{port});
    QObject::connect(comms.get(), &PQVKComms::newMessage, tasks, relay);
    if (!comms->open(port)) {
        (tasks->*progress)(0, 1, 1, openFailureText(*comms, port));
        return UnitClient(nullptr, NoteSilence{port});
    }
    if (!comms->beep())
        (tasks->*progress)(0, initFailureTo, 1,
                           QStringLiteral("Error: Could not send init command."));
    return comms;
}

// Keeps a complete export for the erase to find, once each file read back
// from the disk is found to hold the bytes meant for it. False (logged) when
// it cannot be kept.
bool recordExport(const QString& port, qint64 announced, const DatasetFiles::Written& written)
{
    const auto notRecorded = [](const QString& why) {
        qWarning().noquote() << QStringLiteral("Data: %1; the export is not recorded as "
                                               "complete, so the unit's memory is not erased")
                                    .arg(why);
        return false;
    };
    ExportEntry entry;
    entry.unit = PQVKComms::unitIdentity(port);
    entry.announced = announced;
    // Each file holds its dataset's start record as well as its rows.
    entry.written = written.records + written.filesWritten;
    entry.exportedAt = QDateTime::currentDateTimeUtc();
    if (entry.written != announced)
        return notRecorded(QStringLiteral("the files hold %1 of the %2 records announced")
                               .arg(entry.written)
                               .arg(announced));
    for (const DatasetFiles::Written::File& made : written.files) {
        ExportedFile file;
        file.path = made.path;
        QString error;
        if (!VerifiedCopy::hashFile(file.path, &file.xxh64, &error))
            return notRecorded(QStringLiteral("cannot read back %1 (%2)").arg(file.path, error));
        file.size = QFileInfo(file.path).size();
        if (file.size != made.size || file.xxh64 != made.xxh64)
            return notRecorded(
                QStringLiteral("%1 read back (%2 bytes, XXH64 %3) is not what was "
                               "written (%4 bytes, XXH64 %5)")
                    .arg(file.path, QString::number(file.size), VerifiedCopy::hashText(file.xxh64),
                         QString::number(made.size), VerifiedCopy::hashText(made.xxh64)));
        entry.files << file;
    }
    if (!ExportLedger().record(entry))
        return false;
    qInfo().noquote() << QStringLiteral("Data: recorded the export of %1 records of %2 in %3 files")
                             .arg(QString::number(announced), entry.unit,
                                  QString::number(entry.files.size()));
    return true;
}

// Why the unit's `records` records are not known to be saved, one reason per
// recorded export of the unit looked at, newest first; empty when one of
// them saved exactly that many records in files that are still there.
QStringList unsavedReasons(const QString& port, qint64 records)
{
    const QString unit = PQVKComms::unitIdentity(port);
    const QList<ExportEntry> exports = ExportLedger().exportsOf(unit);
    if (exports.isEmpty())
        return {QStringLiteral("no complete export of the unit %1 is recorded").arg(unit)};
    QStringList reasons;
    for (const ExportEntry& entry : exports) {
        const QString doubt = ExportLedger::doubt(entry, records);
        if (doubt.isEmpty())
            return {};
        reasons << doubt;
    }
    return reasons;
}

} // namespace

Outcome UnitTasks::readSettings(const QString& port)
{
    const auto comms =
        openUnit(this, &UnitTasks::settingsMessage, &UnitTasks::updateCameraSettingsProgress, port);
    if (!comms)
        return Outcome(Failed);

    emit updateCameraSettingsProgress(0, 2, 1, QStringLiteral("Reading settings ..."));
    if (!comms->readConfig()) {
        emit updateCameraSettingsProgress(
            0, 2, 2, QStringLiteral("Error getting settings: %1").arg(comms->lastError));
        return Outcome(Failed);
    }
    const PQVKConfig& cfg = comms->config;
    emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Settings read."));
    emit updateCameraSettings(cfg.firmware, batteryLevelText(cfg.battery), clockText(cfg.date),
                              static_cast<int>(cfg.recLedOn),
                              millisecondsToSeconds(cfg.videoLoggingInterval),
                              static_cast<int>(millisecondsToWholeSeconds(cfg.timeLapseInterval)),
                              static_cast<int>(cfg.timeLapseTimeout),
                              static_cast<int>(shownE1FirmwareVersion(cfg.e1FirmwareVersion)));
    return Outcome(Succeeded);
}

Outcome UnitTasks::saveSettings(const QString& port, const QString& date, const PQVKConfig& cfg)
{
    const auto comms =
        openUnit(this, &UnitTasks::settingsMessage, &UnitTasks::updateCameraSettingsProgress, port);
    if (!comms)
        return Outcome(Failed);

    const quint32 seconds = clockSeconds(date);
    if (comms->setConfig(seconds, cfg.recLedOn, cfg.videoLoggingInterval, cfg.timeLapseInterval,
                         cfg.timeLapseTimeout, cfg.e1FirmwareVersion)) {
        emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Settings saved."));
        return Outcome(Succeeded);
    }
    emit updateCameraSettingsProgress(
        0, 2, 2, QStringLiteral("Error saving settings: %1").arg(comms->lastError));
    return Outcome(Failed);
}

Outcome UnitTasks::resetSettings(const QString& port)
{
    const auto comms =
        openUnit(this, &UnitTasks::settingsMessage, &UnitTasks::updateCameraSettingsProgress, port);
    if (!comms)
        return Outcome(Failed);

    emit updateCameraSettingsProgress(0, 2, 1, QStringLiteral("Resetting controller ..."));
    // The reset has a long wait of its own; a unit that does not answer a
    // quick question first is not there, and that is said within the usual wait.
    if (!comms->getVersion()) {
        emit updateCameraSettingsProgress(
            0, 2, 2, QStringLiteral("Error resetting controller: %1").arg(comms->lastError));
        return Outcome(Failed);
    }
    if (comms->reset()) {
        emit updateCameraSettingsProgress(0, 2, 2, QStringLiteral("Success. Controller reset."));
        return Outcome(Succeeded);
    }
    emit updateCameraSettingsProgress(
        0, 2, 2, QStringLiteral("Error resetting controller: %1").arg(comms->lastError));
    return Outcome(Failed);
}

Outcome UnitTasks::copyData(const QString& port, const QString& targetDir,
                            const QString& projectName)
{
    if (targetDir.isEmpty()) {
        qWarning("Data: Please choose destination");
        emit updateDataProgress(0, 1, 1, QStringLiteral("Error: Please choose destination"));
        return Outcome(Outcome::Status::Refused);
    }
    // The project name becomes part of file names: nothing that could leave
    // the destination folder or that no file name may hold.
    if (!MediaNaming::isValidProjectName(projectName)) {
        qWarning() << "Data: Invalid project name" << projectName;
        emit updateDataProgress(0, 1, 1, QStringLiteral("Error: Invalid project name"));
        return Outcome(Outcome::Status::Refused);
    }
    // Nothing is read from the unit for a folder that cannot take the files.
    bool created = false;
    const QString unusable = DatasetFiles::prepareFolder(targetDir, &created);
    if (!unusable.isEmpty()) {
        qWarning().noquote() << "Data:" << unusable;
        emit updateDataProgress(0, 1, 1, QStringLiteral("Error: %1").arg(unusable));
        Outcome refused(Outcome::Status::Refused);
        refused.reason = unusable;
        return refused;
    }
    // A folder made for the export goes again when nothing came into it.
    const auto removeUnused = qScopeGuard([&] {
        if (created)
            QDir().rmdir(targetDir);
    });
    // A failed init command is only a step of the export, which goes on.
    const auto comms =
        openUnit(this, &UnitTasks::dataMessage, &UnitTasks::updateDataProgress, port, 2);
    if (!comms)
        return Outcome(Failed);

    comms->stopRequested = &UnitTasks::exportStopRequested;
    // Nothing of a stopped download is written: no file, no record of an export.
    const auto stopped = [&] {
        // The unit may still be sending the dump: a command of ours may end it,
        // and what still comes is drained, so that the next task finds the unit
        // ready. Briefly: whoever stops wants the task over.
        comms->beep();
        const UnitWaits& waits = comms->waits;
        if (!comms->port.settle(waits.settleMs,
                                QDeadlineTimer(qMin(waits.settleLimitMs, 4 * waits.settleMs))))
            qWarning("Data: the unit does not stop sending; the port is closed");
        requestExportStop(false); // spent on this export
        qWarning("Data: export stopped on request; no file written");
        emit updateDataProgress(0, 2, 2, QStringLiteral("Export stopped."));
        Outcome outcome(Outcome::Status::Stopped);
        outcome.records = comms->config.dataCount;
        return outcome;
    };

    emit updateDataProgress(0, 2, 1, QStringLiteral("Counting datasets ..."));
    if (!comms->countData()) {
        // An unanswered count says nothing about the unit's memory: ending with
        // "No records available." would invite erasing data never saved.
        const QString error =
            QStringLiteral("Error: Could not read available data. %1").arg(comms->lastError);
        emit updateDataProgress(0, 2, 1, error);
        emit updateDataProgress(0, 2, 2, error);
        return Outcome(Failed);
    }
    if (comms->config.dataCount == 0) {
        emit updateDataProgress(0, 2, 2, QStringLiteral("No records available."));
        return Outcome(Succeeded); // an empty unit: nothing to save
    }
    connect(
        comms.get(), &PQVKComms::recordsReceived, this,
        [this](int received, qint64 announced) {
            emit dataRecords(received, announced);
            emit updateDataProgress(
                0, downloadSteps(announced), received,
                QStringLiteral("Reading dataset %1 of %2").arg(received).arg(announced));
        },
        Qt::DirectConnection);

    // A dump that does not match the count is asked for again; the most
    // complete one is kept.
    RecordDownload kept;
    bool keptAny = false;
    for (int attempt = 1;; ++attempt) {
        RecordDownload download = comms->download();
        if (download.stopped())
            return stopped();
        const bool whole = download.isWhole();
        if (whole || !keptAny || download.count() >= kept.count()) {
            kept = download;
            keptAny = true;
        }
        if (whole || attempt == DownloadAttempts)
            break;
        // One substitution for all parts: a port or folder name may hold "%2".
        emit updateDataProgress(0, 2, 1,
                                QStringLiteral("Download incomplete (%1). Asking the unit again "
                                               "(attempt %2 of %3) ...")
                                    .arg(download.summary(), QString::number(attempt + 1),
                                         QString::number(DownloadAttempts)));
        // What is still coming of this dump must not be taken for the next.
        if (!comms->settle()) {
            qWarning("Data: the unit does not stop sending; not asked again");
            break;
        }
        if (!comms->countData() || comms->config.dataCount == 0)
            break;
    }
    if (exportStopRequested())
        return stopped();
    if (kept.count() == 0) {
        // Nothing arrived that could be saved.
        emit updateDataProgress(
            0, 2, 2,
            QStringLiteral("Error reading data: %1")
                .arg(comms->lastError.isEmpty() ? kept.summary() : comms->lastError));
        Outcome outcome(Failed);
        outcome.records = kept.announced();
        return outcome;
    }

    const bool whole = kept.isWhole();
    // The download is over; the bar keeps its count while the files are written.
    emit updateDataProgress(0, 2, 1,
                            QStringLiteral("Reading %1 datasets ...").arg(kept.announced()));
    const DatasetFiles::Written written = DatasetFiles::write(kept, targetDir, projectName, !whole);
    const int files = written.filesWritten + written.filesFailed;
    Outcome outcome;
    outcome.records = kept.announced();
    // Each file holds its dataset's start record as well as its rows.
    outcome.recordsWritten = written.records + written.filesWritten;
    outcome.files = written.filesWritten;
    if (written.filesFailed > 0) {
        outcome.status = Failed;
        const QString incomplete =
            whole ? QString()
                  : QStringLiteral(" The download was incomplete: %1.").arg(kept.summary());
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error: %1. Wrote %2 of %3 files in %4.%5")
                                    .arg(written.error, QString::number(written.filesWritten),
                                         QString::number(files), targetDir, incomplete));
    } else if (!whole) {
        outcome.status = Outcome::Status::Incomplete;
        emit updateDataProgress(
            0, 2, 2,
            QStringLiteral("Error: The download stayed incomplete (%1). Saved %2 records in %3 "
                           "files named \"..._incomplete.csv\" in %4.")
                .arg(kept.summary(), QString::number(kept.count()),
                     QString::number(written.filesWritten), targetDir));
    } else {
        // A record that cannot be kept leaves the files as good as they are;
        // only the erase will refuse (the log says why).
        recordExport(port, kept.announced(), written);
        outcome.status = Succeeded;
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Wrote %1 records to %2 files in %3")
                                    .arg(kept.count())
                                    .arg(written.filesWritten)
                                    .arg(targetDir));
    }
    return outcome;
}

Outcome UnitTasks::eraseMemory(const QString& port, bool force)
{
    const auto comms =
        openUnit(this, &UnitTasks::dataMessage, &UnitTasks::updateDataProgress, port);
    if (!comms)
        return Outcome(Failed);

    emit updateDataProgress(0, 2, 1, QStringLiteral("Erasing memory ..."));
    // The erase has a long wait of its own; a unit that does not answer the
    // count first is not there, and that is said within the usual wait.
    const bool counted = comms->countData();
    // A count that is no count says nothing of what the unit holds: refused
    // (with no records, which tells it from an unsaved count) unless forced.
    if (!counted && !(comms->valueRefused && force)) {
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error erasing memory: %1").arg(comms->lastError));
        Outcome outcome(comms->valueRefused ? Outcome::Status::Refused : Failed);
        outcome.reason = comms->lastError;
        return outcome;
    }
    if (!counted)
        qWarning().noquote() << QStringLiteral("Data: erasing a unit whose record count could "
                                               "not be read, as forced");
    const qint64 records = counted ? comms->config.dataCount : 0;
    Outcome outcome;
    outcome.records = records;
    const QStringList reasons = records > 0 ? unsavedReasons(port, records) : QStringList();
    // The log need not hold every export ever made of the unit.
    constexpr int ReasonsLogged = 5;
    for (int i = 0; i < qMin(reasons.size(), ReasonsLogged); ++i)
        qWarning().noquote()
            << QStringLiteral("Data: records not known to be saved: %1").arg(reasons.at(i));
    if (reasons.size() > ReasonsLogged)
        qWarning().noquote() << QStringLiteral("Data: ... and %1 older exports of the unit")
                                    .arg(reasons.size() - ReasonsLogged);
    if (!reasons.isEmpty() && !force) {
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error: The unit holds %1 records that no complete "
                                               "export has saved. Export them first.")
                                    .arg(records));
        outcome.status = Outcome::Status::Refused;
        outcome.reason = reasons.first(); // the newest export's, or that there is none
        return outcome;
    }
    if (!reasons.isEmpty())
        qWarning().noquote() << QStringLiteral("Data: erasing %1 records that no complete export "
                                               "has saved, as forced")
                                    .arg(records);
    // Before the erase, which may succeed without saying so: no export of
    // these records may vouch for the records the unit logs next.
    if (!ExportLedger().spend(PQVKComms::unitIdentity(port), QDateTime::currentDateTimeUtc())) {
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error: Memory not erased: the erase could not be "
                                               "noted in the export records (%1).")
                                    .arg(ExportLedger::defaultPath()));
        outcome.status = Failed;
        return outcome;
    }
    if (counted)
        qInfo() << "Data: erasing" << records << "records";
    if (comms->eraseData()) {
        outcome.status = Succeeded;
        emit updateDataProgress(0, 2, 2, QStringLiteral("Success. Memory erased."));
    } else {
        outcome.status = Failed;
        emit updateDataProgress(0, 2, 2,
                                QStringLiteral("Error erasing memory: %1").arg(comms->lastError));
    }
    return outcome;
}

Outcome UnitTasks::turnOff(const QString& port, bool* reached)
{
    const auto comms =
        openUnit(this, &UnitTasks::dataMessage, &UnitTasks::updateDataProgress, port);
    if (reached)
        *reached = comms != nullptr;
    if (!comms)
        return Outcome(Failed);

    emit updateDataProgress(0, 2, 1, QStringLiteral("Turning off ..."));
    if (comms->off()) {
        emit updateDataProgress(0, 2, 2, QStringLiteral("Success. Controller is off"));
        return Outcome(Succeeded);
    }
    emit updateDataProgress(0, 2, 2, QStringLiteral("Error turning off: %1").arg(comms->lastError));
    return Outcome(Failed);
}

void UnitTasks::requestExportStop(bool stop)
{
    exportStop = stop;
}

bool UnitTasks::exportStopRequested()
{
    return exportStop;
}

bool UnitTasks::foundSilent(const QString& port)
{
    QMutexLocker lock(&silentPortsMutex);
    return silentPorts.contains(port);
}

QString UnitTasks::bootloaderProblem()
{
    const QString program = bootloaderProgram();
    if (QFileInfo(program).isExecutable())
        return QString();
    return QStringLiteral("no boot-loader program at %1: copy the rig maker's boot-loader there "
                          "to update the firmware")
        .arg(program);
}

Outcome UnitTasks::updateFirmware(const QString& port, const QString& filePath)
{
    const auto failed = [this](const QString& cause) {
        const QString error = cause.isEmpty()
                                  ? QStringLiteral("Error updating firmware.")
                                  : QStringLiteral("Error updating firmware: %1").arg(cause);
        qWarning().noquote() << error;
        emit updateFirmwareProgress(0, 2, 2, error);
        Outcome outcome(Failed);
        outcome.reason = cause;
        return outcome;
    };
    // The boot-loader is the rig maker's program, which an installation does
    // not bring: say where it belongs rather than that it failed to start.
    const QString missing = bootloaderProblem();
    if (!missing.isEmpty())
        return failed(missing + QLatin1Char('.'));

    const QString program = bootloaderProgram();
    const QStringList arguments = bootloaderArguments(port, filePath);
    const int quietMs = UnitWaits::defaults().bootloaderQuietMs;

    ShellCommand runner;
    connect(&runner, &ShellCommand::newMessage, this, &UnitTasks::firmwareMessage);
    // The boot-loader's progress lines move the bar.
    connect(
        &runner, &ShellCommand::outputLine, this,
        [this](const QString& line) {
            const int step = bootloaderStep(line);
            if (step >= 0)
                emit updateFirmwareProgress(0, BootloaderSteps, step, line);
        },
        Qt::DirectConnection);
    if (runner.start(program, arguments)) {
        while (runner.isRunning()) {
            runner.wait(200);
            // A boot-loader that prints nothing for so long is stuck, not slow.
            if (runner.isRunning() && runner.quietFor() >= quietMs) {
                runner.stop();
                return failed(QStringLiteral("the boot-loader printed nothing for %1 s and was "
                                             "stopped.")
                                  .arg(quietMs / 1000.0));
            }
        }
    }
    if (runner.hasSucceeded()) {
        emit updateFirmwareProgress(0, 2, 2, QStringLiteral("Done"));
        return Outcome(Succeeded);
    }
    // What the boot-loader said last on its error output is the cause.
    QString cause = runner.lastErrorLine();
    if (cause.startsWith(QLatin1String("Error:"), Qt::CaseInsensitive))
        cause = cause.mid(6).trimmed();
    if (!cause.isEmpty() && !cause.endsWith(QLatin1Char('.')))
        cause += QLatin1Char('.');
    return failed(cause);
}
