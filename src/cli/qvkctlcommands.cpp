#include "cli/qvkctl.h"

#include "base/apppaths.h"
#include "base/outcome.h"
#include "base/stopsignals.h"
#include "cards/mediaimport.h"
#include "cards/verifiedcopy.h"
#include "cli/livelines.h"
#include "controller/appcontroller.h"
#include "controller/controllertasks.h"
#include "controller/unittasks.h"
#include "settings/settingsstore.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QTextStream>

using QvkCtlArguments::programName;

namespace {

// Drive and template entries reach the view as JSON objects or as maps.
QVariantMap entryMap(const QVariant& entry)
{
    if (entry.userType() == QMetaType::QJsonObject)
        return entry.toJsonObject().toVariantMap();
    return entry.toMap();
}

// Drive and template entries: key and value.
QVector<QStringList> keysAndValues(const QVariantList& entries)
{
    QVector<QStringList> rows;
    for (const QVariant& entry : entries) {
        const QVariantMap map = entryMap(entry);
        rows << QStringList{map.value(QStringLiteral("key")).toString(),
                            map.value(QStringLiteral("value")).toString()};
    }
    return rows;
}

const QStringList PathAndName = {QStringLiteral("path"), QStringLiteral("name")};

} // namespace

QvkCtl::Runner QvkCtl::runnerOf(const QString& command)
{
    static const QMap<QString, Runner> runners = {
        {QStringLiteral("devices"), &QvkCtl::runDevices},
        {QStringLiteral("drives"), &QvkCtl::runDrives},
        {QStringLiteral("templates"), &QvkCtl::runTemplates},
        {QStringLiteral("settings read"), &QvkCtl::runSettingsRead},
        {QStringLiteral("settings save"), &QvkCtl::runSettingsSave},
        {QStringLiteral("settings reset"), &QvkCtl::runSettingsReset},
        {QStringLiteral("data export"), &QvkCtl::runDataExport},
        {QStringLiteral("data erase"), &QvkCtl::runDataErase},
        {QStringLiteral("off"), &QvkCtl::runOff},
        {QStringLiteral("firmware"), &QvkCtl::runFirmware},
        {QStringLiteral("import"), &QvkCtl::runImport},
        {QStringLiteral("prepare"), &QvkCtl::runPrepare},
    };
    return runners.value(command, nullptr);
}

int QvkCtl::runDevices(const QvkCtlCommand&)
{
    static const QStringList keys = {QStringLiteral("name"), QStringLiteral("description"),
                                     QStringLiteral("location"), QStringLiteral("manufacturer"),
                                     QStringLiteral("serial")};
    QVector<QStringList> rows;
    for (const QVariant& entry : controller->getDevices()) {
        const QVariantMap map = entryMap(entry);
        QStringList fields;
        for (const QString& key : keys)
            fields << map.value(key).toString();
        rows << fields;
    }
    return printTable(rows, keys);
}

int QvkCtl::runDrives(const QvkCtlCommand&)
{
    return printTable(keysAndValues(controller->getDrives()), PathAndName);
}

int QvkCtl::runTemplates(const QvkCtlCommand&)
{
    return printTable(keysAndValues(controller->getTemplates()), PathAndName);
}

int QvkCtl::taskStatus()
{
    if (!outcomes.contains(0))
        return fail(QStringLiteral("the operation reported nothing"));
    return Outcome::fromVariant(outcomes.value(0)).succeeded() ? Success : Failure;
}

int QvkCtl::runSettingsRead(const QvkCtlCommand& command)
{
    controller->readCameraSettings(command.port);
    waitForTasks();
    if (taskStatus() != Success)
        return Failure;
    if (cameraSettings.size() != 8)
        return fail(QStringLiteral("the settings read delivered no values"));
    printSettings(cameraSettings);
    return Success;
}

int QvkCtl::runSettingsSave(const QvkCtlCommand& command)
{
    const SettingsToSave& s = command.settings;
    controller->saveCameraSettings(command.port, s.date, s.recLed, s.videoInterval, s.photoInterval,
                                   s.photoTimeout, s.e1);
    waitForTasks();
    return taskStatus();
}

int QvkCtl::runSettingsReset(const QvkCtlCommand& command)
{
    controller->resetCameraSettings(command.port);
    waitForTasks();
    return taskStatus();
}

int QvkCtl::runDataErase(const QvkCtlCommand& command)
{
    if (command.force)
        controller->eraseMemoryForced(command.port);
    else
        controller->eraseMemory(command.port);
    waitForTasks();
    return taskStatus();
}

int QvkCtl::runOff(const QvkCtlCommand& command)
{
    controller->turnOff(command.port);
    waitForTasks();
    return taskStatus();
}

int QvkCtl::runDataExport(const QvkCtlCommand& command)
{
    // SIGINT and SIGTERM stop the download at the next record; nothing of it
    // is written. The export makes a missing destination folder itself, as the
    // window's does.
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::stopRequested, this, [this](const QString& signalName) {
        UnitTasks::requestExportStop();
        qWarning() << "Stopping on" << signalName;
        printLine(programName() + QStringLiteral(": ") + signalName +
                  QStringLiteral(": stopping; nothing of the download is written"));
    });
    controller->copyData(command.port, command.dest, command.project);
    waitForTasks();
    if (!outcomes.contains(0))
        return fail(QStringLiteral("the data export reported nothing"));
    // An empty unit is no failure; files left "_incomplete" are.
    const Outcome outcome = Outcome::fromVariant(outcomes.value(0));
    if (!outcome.succeeded())
        return Failure;
    if (outcome.records > 0 && outcome.files == 0)
        return fail(QStringLiteral("records were downloaded but no file was written"));
    return Success;
}

int QvkCtl::runFirmware(const QvkCtlCommand& command)
{
    const QString& file = command.firmwareFile;
    // A relative name not found here is looked for in the firmware folder.
    const bool found = QFileInfo(file).isAbsolute() ? QFileInfo(file).isFile()
                                                    : QDir(firmwareDirPath()).exists(file);
    if (!found)
        return usageError(QStringLiteral("--file '%1': no such firmware file").arg(file));
    const QString missing = UnitTasks::bootloaderProblem();
    if (!missing.isEmpty())
        return fail(missing);
    controller->updateFirmware(command.port, file);
    waitForTasks();
    if (!outcomes.contains(0))
        return fail(QStringLiteral("the firmware update reported nothing"));
    return Outcome::fromVariant(outcomes.value(0)).succeeded() ? Success : Failure;
}

int QvkCtl::runImport(const QvkCtlCommand& command)
{
    const QString& templateArgument = command.templateArgument;
    QString templatePath = command.templatePath;
    if (!templateArgument.isEmpty() && templatePath.isEmpty()) {
        // Not a file: a template's name or path as `templates` lists it.
        for (const QVariant& entry : controller->getTemplates()) {
            const QVariantMap map = entryMap(entry);
            if (map.value(QStringLiteral("value")).toString() == templateArgument ||
                map.value(QStringLiteral("key")).toString() == templateArgument)
                templatePath = map.value(QStringLiteral("key")).toString();
        }
    }
    if (!templateArgument.isEmpty() && templatePath.isEmpty())
        return usageError(QStringLiteral("--template '%1' is neither a template file nor a "
                                         "template that 'qvkctl templates' lists")
                              .arg(templateArgument));
    if (!templatePath.isEmpty() &&
        QFileInfo(templatePath).suffix().compare(QLatin1String("kava"), Qt::CaseInsensitive) != 0)
        return usageError(
            QStringLiteral("--template '%1' is not a .kava template").arg(templatePath));
    const QStringList& cards = command.cards;
    const QString refused =
        command.dests.size() > 1
            ? MediaImport::refusal(cards, command.dests, templatePath)
            : controller->checkImportPaths(cards.at(0), cards.at(1), cards.at(2), command.dest,
                                           templatePath);
    if (!refused.isEmpty())
        return refuse(refused); // before anything is copied
    return importCards(command, templatePath);
}

int QvkCtl::importCards(const QvkCtlCommand& command, const QString& templatePath)
{
    const QStringList& cards = command.cards;
    // SIGINT and SIGTERM stop the copies under way, which remove their
    // unfinished files; the cards' summaries then say what was not copied.
    VerifiedCopy::requestStop(false);
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::stopRequested, this, [this](const QString& signalName) {
        VerifiedCopy::requestStop();
        qWarning() << "Stopping on" << signalName;
        printLine(programName() + QStringLiteral(": ") + signalName +
                  QStringLiteral(": stopping; the copies under way are given up and their "
                                 "unfinished files removed"));
    });
    if (live) {
        liveImport = true;
        clock.start();
        for (int card = 1; card <= 3; ++card) {
            cardLines[card - 1] = CardLine();
            cardLines[card - 1].root = cards.at(card - 1);
            showCard(card);
        }
    }
    controller->copyFilesTo(cards, command.dests, templatePath, command.project,
                            command.skipImported);
    waitForTasks();
    liveImport = false;

    // A card is complete only as its outcome says; the last report names why
    // it is not. A report after the card's outcome is the run's own: its hash
    // list could not be written.
    int status = Success;
    for (int card = 1; card <= 3; ++card) {
        if (!outcomes.contains(card)) {
            status = fail(QStringLiteral("card %1 reported nothing").arg(card));
            continue;
        }
        const Outcome outcome = Outcome::fromVariant(outcomes.value(card));
        const QVector<Report> list = reports.value(card);
        const QString last = list.isEmpty() ? QString() : list.last().text;
        const bool runFailedHere = list.size() > reportsBeforeOutcome.value(card);
        if (outcome.status == Outcome::Status::Refused ||
            outcome.status == Outcome::Status::Failed || runFailedHere)
            status = fail(QStringLiteral("card %1 was not imported: %2").arg(card).arg(last));
        else if (!outcome.succeeded())
            status = fail(
                QStringLiteral("card %1: not every media file was copied: %2").arg(card).arg(last));
    }
    if (importOutcome.isNull())
        status = fail(QStringLiteral("the import reported nothing"));
    else if (!Outcome::fromVariant(importOutcome).succeeded())
        status = Failure; // named above, on its cards
    return status;
}

int QvkCtl::runPrepare(const QvkCtlCommand& command)
{
    const QStringList& cards = command.cards;
    const bool force = command.force;
    // The card preparation itself refuses anything but whole card volumes
    // and cards whose media lack verified copies; it names the files here.
    QMap<int, QStringList> unverified;
    const QMetaObject::Connection named =
        connect(controller, &AppController::unverifiedFiles, this,
                [&](const QVariant& card, const QVariant& paths) {
                    unverified.insert(card.toInt(), paths.toStringList());
                });
    // Files that are not media are wiped only with --force.
    QMap<int, QStringList> notImported;
    const QMetaObject::Connection others =
        connect(controller, &AppController::notImportedFiles, this,
                [&](const QVariant& card, const QVariant& paths) {
                    notImported.insert(card.toInt(), paths.toStringList());
                });
    const int copies = command.copies > 0 ? command.copies : copiesBeforeWipe();
    controller->prepareCards(cards.at(0), cards.at(1), cards.at(2), command.erase,
                             command.syncConfig, force, command.reverify, copies);
    waitForTasks();
    disconnect(named);
    disconnect(others);

    // Prepared, refused by the checks (or left untouched because another
    // card was), or not erased or written completely: as each card's outcome says.
    int status = Success;
    for (int card = 1; card <= 3; ++card) {
        if (!Outcome::fromVariant(outcomes.value(card)).succeeded())
            status = fail(QStringLiteral("card %1 was not prepared").arg(card));
    }

    // The first files of each refused card; the log has them all. A forced
    // wipe has named each in a warning already.
    const int shown = 10;
    const auto list = [&](const QMap<int, QStringList>& files, const char* what, const char* one,
                          const char* many) {
        for (auto it = files.cbegin(); it != files.cend() && !force; ++it) {
            const QStringList& paths = it.value();
            err << programName() << ": card " << it.key() << ": " << what << paths.size()
                << (paths.size() == 1 ? one : many);
            for (const QString& path : paths.mid(0, shown))
                err << "  " << path << '\n';
            if (paths.size() > shown)
                err << "  ... and " << paths.size() - shown << " more (see the log)\n";
        }
    };
    const QByteArray lacking =
        copies > 1 ? "fewer than " + QByteArray::number(copies) + " verified copies of "
                   : QByteArray("no verified copy of ");
    list(unverified, lacking.constData(), " media file:\n", " media files:\n");
    list(notImported, "", " file that is not imported, wiped only with --force:\n",
         " files that are not imported, wiped only with --force:\n");
    err.flush();
    return status;
}
