#include "cli/qvkctl.h"

#include "base/apppaths.h"
#include "base/messagehandler.h"
#include "base/stopsignals.h"
#include "cards/medianaming.h"
#include "cards/verifiedcopy.h"
#include "cli/livelines.h"
#include "controller/appcontroller.h"
#include "controller/controllertasks.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString ProgramName = QStringLiteral("qvkctl");
const QString DateFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

struct CommandForm
{
    QString name;
    QStringList required; // options that take a value and must be given
    QStringList optional; // options (or flags) that may be given
};

const QVector<CommandForm>& commandForms()
{
    static const QVector<CommandForm> forms = {
        {QStringLiteral("devices"), {}, {QStringLiteral("json")}},
        {QStringLiteral("drives"), {}, {QStringLiteral("json")}},
        {QStringLiteral("templates"), {}, {QStringLiteral("json")}},
        {QStringLiteral("settings read"), {QStringLiteral("port")}, {QStringLiteral("json")}},
        {QStringLiteral("settings save"),
         {QStringLiteral("port"), QStringLiteral("date"), QStringLiteral("rec-led"),
          QStringLiteral("video-interval"), QStringLiteral("photo-interval"),
          QStringLiteral("photo-timeout"), QStringLiteral("e1")},
         {}},
        {QStringLiteral("settings reset"), {QStringLiteral("port")}, {}},
        {QStringLiteral("data export"),
         {QStringLiteral("port"), QStringLiteral("dest")},
         {QStringLiteral("project")}},
        {QStringLiteral("data erase"), {QStringLiteral("port")}, {QStringLiteral("force")}},
        {QStringLiteral("off"), {QStringLiteral("port")}, {}},
        {QStringLiteral("firmware"), {QStringLiteral("port"), QStringLiteral("file")}, {}},
        {QStringLiteral("import"),
         {QStringLiteral("card1"), QStringLiteral("card2"), QStringLiteral("card3"),
          QStringLiteral("dest")},
         {QStringLiteral("template"), QStringLiteral("project"), QStringLiteral("skip-imported")}},
        {QStringLiteral("prepare"),
         {QStringLiteral("card1"), QStringLiteral("card2"), QStringLiteral("card3")},
         {QStringLiteral("erase"), QStringLiteral("sync-config"), QStringLiteral("force"),
          QStringLiteral("reverify")}},
    };
    return forms;
}

// The words that take a second word.
const QStringList& groupWords()
{
    static const QStringList words = {QStringLiteral("settings"), QStringLiteral("data")};
    return words;
}

QString absolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// Drive and template entries reach the view as JSON objects or as maps.
QVariantMap entryMap(const QVariant& entry)
{
    if (entry.userType() == QMetaType::QJsonObject)
        return entry.toJsonObject().toVariantMap();
    return entry.toMap();
}

// A number option within the range the app's Settings tab offers.
bool parseNumber(const QString& text, double minimum, double maximum, double* value)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < minimum || number > maximum)
        return false;
    *value = number;
    return true;
}

QString displayText(const QVariant& value)
{
    return value.toString();
}

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

// What the data export reports for every record it receives.
const QRegularExpression& recordReport()
{
    static const QRegularExpression pattern(QStringLiteral("^Reading record (\\d+) of (\\d+)$"));
    return pattern;
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

QString QvkCtl::usageText()
{
    return QStringLiteral(
        "qvkctl runs the operations of the Pelorin QVK app without its window, from a\n"
        "terminal or a script, with the app's settings, templates and task bodies.\n"
        "\n"
        "Usage:\n"
        "  qvkctl devices [--json]\n"
        "  qvkctl drives [--json]\n"
        "  qvkctl templates [--json]\n"
        "  qvkctl settings read  --port PORT [--json]\n"
        "  qvkctl settings save  --port PORT --date \"yyyy-MM-dd hh:mm:ss\" --rec-led 0|1\n"
        "                        --video-interval SECONDS --photo-interval SECONDS\n"
        "                        --photo-timeout MINUTES --e1 VERSION\n"
        "  qvkctl settings reset --port PORT\n"
        "  qvkctl data export --port PORT --dest DIR [--project NAME]\n"
        "  qvkctl data erase  --port PORT [--force]\n"
        "  qvkctl off --port PORT\n"
        "  qvkctl firmware --port PORT --file FILE.hex\n"
        "  qvkctl import --card1 DIR --card2 DIR --card3 DIR --dest DIR [--template FILE.kava]\n"
        "                [--project NAME] [--skip-imported]\n"
        "  qvkctl prepare --card1 DIR --card2 DIR --card3 DIR [--erase [--reverify] [--force]]\n"
        "                 [--sync-config]\n"
        "  qvkctl --help | --version\n"
        "\n"
        "Commands:\n"
        "  devices         list the serial ports: name, description, location, manufacturer\n"
        "                  and serial number, separated by tabs\n"
        "  drives          list the card volumes: root path and name, separated by a tab\n"
        "  templates       list the stitching templates: path and name, separated by a tab\n"
        "  settings read   print the controller unit's settings, one name=value per line\n"
        "  settings save   set the controller unit's clock and recording settings\n"
        "                  (video interval 0.2-10 s, photo interval 5-120 s,\n"
        "                  photo timeout 5-360 min, E1 firmware 26, 29 or 30)\n"
        "  settings reset  restore the controller unit's factory settings\n"
        "  data export     download the logged datasets into CSV files in DIR\n"
        "  data erase      erase the controller unit's memory, only when it is empty or a\n"
        "                  complete data export of this unit saved as many records as it\n"
        "                  holds, in CSV files still there at their size; --force erases\n"
        "                  anyway\n"
        "  off             turn the controller unit off\n"
        "  firmware        update the controller unit's firmware with the boot-loader\n"
        "  import          copy the media of the three cards into DIR; SIGINT or SIGTERM\n"
        "                  stops it, leaving no unfinished file; --skip-imported leaves\n"
        "                  out the files whose verified copy in DIR an earlier import\n"
        "                  made and that are unchanged since (they count as copied)\n"
        "  prepare         prepare the three cards for the next use; --erase wipes them\n"
        "                  (only whole card volumes as 'qvkctl drives' lists them, and\n"
        "                  only when every media file has a verified copy from an import;\n"
        "                  --reverify reads every copy again first, --force wipes without\n"
        "                  copies), --sync-config writes the cameras' synchronisation\n"
        "                  configuration\n"
        "\n"
        "Options:\n"
        "  --json          print one JSON document instead of lines: for devices an array\n"
        "                  of objects with name, description, location, manufacturer and\n"
        "                  serial; for drives and templates an array of objects with path\n"
        "                  and name; for settings read an object of the settings\n"
        "\n"
        "PORT is a name as 'qvkctl devices' lists it, or a device path.\n"
        "Results go to standard output, progress to standard error: one line per\n"
        "report, or, on a terminal, a live line per card of an import (share of the\n"
        "bytes copied, speed, time left) and for the records of a data export.\n"
        "Exit status: 0 success; 1 failure, or a card refused or not imported completely;\n"
        "2 usage error, or an import refused before anything was copied (a destination\n"
        "on a card or holding one, a card given twice, a template that is no stitching\n"
        "template).\n");
}

int QvkCtl::usageError(const QString& what)
{
    printLine(ProgramName + QStringLiteral(": ") + what);
    printLine(QStringLiteral("Run '%1 --help' for the commands.").arg(ProgramName));
    return UsageError;
}

int QvkCtl::refuse(const QString& why)
{
    printLine(ProgramName + QStringLiteral(": ") + why);
    return UsageError;
}

int QvkCtl::fail(const QString& what)
{
    printLine(ProgramName + QStringLiteral(": ") + what);
    return Failure;
}

void QvkCtl::printLine(const QString& line)
{
    if (live) {
        live->print(line);
        return;
    }
    err << line << '\n';
    err.flush();
}

int QvkCtl::run(const QStringList& arguments)
{
    reports.clear();
    cameraSettings.clear();
    json = false;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    parser.addOption({QStringLiteral("version"), QString()});
    const QStringList valueOptions = {QStringLiteral("port"),
                                      QStringLiteral("date"),
                                      QStringLiteral("rec-led"),
                                      QStringLiteral("video-interval"),
                                      QStringLiteral("photo-interval"),
                                      QStringLiteral("photo-timeout"),
                                      QStringLiteral("e1"),
                                      QStringLiteral("dest"),
                                      QStringLiteral("project"),
                                      QStringLiteral("file"),
                                      QStringLiteral("card1"),
                                      QStringLiteral("card2"),
                                      QStringLiteral("card3"),
                                      QStringLiteral("template")};
    for (const QString& name : valueOptions)
        parser.addOption({name, QString(), QStringLiteral("value")});
    parser.addOption({QStringLiteral("erase"), QString()});
    parser.addOption({QStringLiteral("sync-config"), QString()});
    parser.addOption({QStringLiteral("skip-imported"), QString()});
    parser.addOption({QStringLiteral("force"), QString()});
    parser.addOption({QStringLiteral("reverify"), QString()});
    parser.addOption({QStringLiteral("json"), QString()});

    const bool parsed = parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help"))) {
        out << usageText();
        out.flush();
        return Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << AppVersion << '\n';
        out.flush();
        return Success;
    }
    if (!parsed)
        return usageError(parser.errorText());

    // The command: one word, or two for "settings" and "data".
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given"));
    QString name = words.first();
    int wordCount = 1;
    if (groupWords().contains(name)) {
        if (words.size() < 2)
            return usageError(QStringLiteral("'%1' needs one of: %2")
                                  .arg(name, name == QLatin1String("settings")
                                                 ? QStringLiteral("read, save, reset")
                                                 : QStringLiteral("export, erase")));
        name += QLatin1Char(' ') + words.at(1);
        wordCount = 2;
    }
    const CommandForm* form = nullptr;
    for (const CommandForm& candidate : commandForms())
        if (candidate.name == name)
            form = &candidate;
    if (!form)
        return usageError(QStringLiteral("unknown command '%1'").arg(name));
    if (words.size() > wordCount)
        return usageError(QStringLiteral("unexpected argument '%1'").arg(words.at(wordCount)));

    const QStringList given = parser.optionNames();
    for (const QString& option : given) {
        if (!form->required.contains(option) && !form->optional.contains(option))
            return usageError(
                QStringLiteral("--%1 does not apply to '%2'").arg(option, form->name));
        if (given.count(option) > 1)
            return usageError(QStringLiteral("--%1 given more than once").arg(option));
    }
    for (const QString& option : form->required) {
        if (!parser.isSet(option))
            return usageError(QStringLiteral("'%1' needs --%2").arg(form->name, option));
        if (parser.value(option).trimmed().isEmpty())
            return usageError(QStringLiteral("--%1 needs a value").arg(option));
    }

    // Paths are made absolute before anything else runs: finding the
    // application folder makes it the working directory.
    const QString port = parser.value(QStringLiteral("port"));
    const QString project = parser.value(QStringLiteral("project"));
    const QString dest = parser.isSet(QStringLiteral("dest"))
                             ? absolutePath(parser.value(QStringLiteral("dest")))
                             : QString();
    QStringList cards;
    for (int n = 1; n <= 3; ++n) {
        const QString option = QStringLiteral("card%1").arg(n);
        if (parser.isSet(option))
            cards << absolutePath(parser.value(option));
    }
    for (const char* wipeOption : {"force", "reverify"})
        if (form->name == QLatin1String("prepare") && parser.isSet(QLatin1String(wipeOption)) &&
            !parser.isSet(QStringLiteral("erase")))
            return usageError(QStringLiteral("--%1 applies to --erase only").arg(wipeOption));
    if (cards.size() == 3 && QSet<QString>(cards.cbegin(), cards.cend()).size() < 3)
        return usageError(QStringLiteral("the three cards must be three different folders"));
    if (!project.isEmpty() && !MediaNaming::isValidProjectName(project))
        return usageError(
            QStringLiteral("--project '%1' cannot be part of a file name").arg(project));
    QString templateArgument = parser.value(QStringLiteral("template"));
    if (parser.isSet(QStringLiteral("template")) && templateArgument.trimmed().isEmpty())
        return usageError(QStringLiteral("--template needs a value"));
    QString templatePath;
    if (!templateArgument.isEmpty() && QFileInfo(absolutePath(templateArgument)).isFile())
        templatePath = absolutePath(templateArgument);
    QString firmwareArgument = parser.value(QStringLiteral("file"));
    if (!firmwareArgument.isEmpty() && QFileInfo(absolutePath(firmwareArgument)).isFile())
        firmwareArgument = absolutePath(firmwareArgument);

    // Settings to save: the ranges of the app's Settings tab.
    int recLed = 0;
    double videoInterval = 0, photoInterval = 0, photoTimeout = 0;
    int e1 = 0;
    QString date;
    if (form->name == QLatin1String("settings save")) {
        date = parser.value(QStringLiteral("date")).trimmed();
        const QDateTime parsedDate = QDateTime::fromString(date, DateFormat);
        if (!parsedDate.isValid())
            return usageError(QStringLiteral("--date '%1' is not a date and time of the form "
                                             "yyyy-MM-dd hh:mm:ss")
                                  .arg(date));
        // The unit counts signed 32-bit seconds since 1970.
        const qint64 seconds = parsedDate.toSecsSinceEpoch();
        if (seconds < 0 || seconds > std::numeric_limits<qint32>::max())
            return usageError(QStringLiteral("--date '%1' is outside what the controller unit "
                                             "can hold (1970 to 2038)")
                                  .arg(date));
        const QString led = parser.value(QStringLiteral("rec-led")).trimmed();
        if (led != QLatin1String("0") && led != QLatin1String("1"))
            return usageError(QStringLiteral("--rec-led must be 0 or 1, not '%1'").arg(led));
        recLed = led.toInt();
        if (!parseNumber(parser.value(QStringLiteral("video-interval")), 0.2, 10, &videoInterval))
            return usageError(QStringLiteral("--video-interval must be a number of seconds "
                                             "from 0.2 to 10"));
        if (!parseNumber(parser.value(QStringLiteral("photo-interval")), 5, 120, &photoInterval))
            return usageError(QStringLiteral("--photo-interval must be a number of seconds "
                                             "from 5 to 120"));
        if (!parseNumber(parser.value(QStringLiteral("photo-timeout")), 5, 360, &photoTimeout))
            return usageError(QStringLiteral("--photo-timeout must be a number of minutes "
                                             "from 5 to 360"));
        const QString e1Text = parser.value(QStringLiteral("e1")).trimmed();
        if (e1Text != QLatin1String("26") && e1Text != QLatin1String("29") &&
            e1Text != QLatin1String("30"))
            return usageError(QStringLiteral("--e1 must be 26, 29 or 30, not '%1'").arg(e1Text));
        e1 = e1Text.toInt();
    }

    json = parser.isSet(QStringLiteral("json"));
    if (terminalColumns)
        live.reset(new LiveLines(err, terminalColumns));
    startOwnLog(arguments);
    AppController appController;
    appController.setVersion(AppVersion);
    controller = &appController;
    connect(controller, &AppController::updateCardProgress, this, &QvkCtl::onCardProgress);
    connect(controller, &AppController::updateCardBytes, this, &QvkCtl::onCardBytes);
    connect(controller, &AppController::updateDataProgress, this, &QvkCtl::onProgress);
    connect(controller, &AppController::updateCameraSettingsProgress, this, &QvkCtl::onProgress);
    connect(controller, &AppController::updateFirmwareProgress, this, &QvkCtl::onProgress);
    connect(controller, &AppController::updateCameraSettings, this, &QvkCtl::onCameraSettings);

    int status = Failure;
    if (form->name == QLatin1String("devices")) {
        status = runDevices();
    } else if (form->name == QLatin1String("drives")) {
        status = runDrives();
    } else if (form->name == QLatin1String("templates")) {
        status = runTemplates();
    } else if (form->name == QLatin1String("settings read")) {
        status = runSettingsRead(port);
    } else if (form->name == QLatin1String("settings save")) {
        status =
            runSettingsSave(port, date, recLed, videoInterval, photoInterval, photoTimeout, e1);
    } else if (form->name == QLatin1String("settings reset") ||
               form->name == QLatin1String("data erase") || form->name == QLatin1String("off")) {
        status = runPortTask(form->name, port, parser.isSet(QStringLiteral("force")));
    } else if (form->name == QLatin1String("data export")) {
        status = runDataExport(port, dest, project);
    } else if (form->name == QLatin1String("firmware")) {
        status = runFirmware(port, firmwareArgument);
    } else if (form->name == QLatin1String("import")) {
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
            status = usageError(
                QStringLiteral("--template '%1' is neither a template file nor a template "
                               "that 'qvkctl templates' lists")
                    .arg(templateArgument));
        else if (!templatePath.isEmpty() &&
                 QFileInfo(templatePath)
                         .suffix()
                         .compare(QLatin1String("kava"), Qt::CaseInsensitive) != 0)
            status = usageError(
                QStringLiteral("--template '%1' is not a .kava template").arg(templatePath));
        else if (const QString refused = controller->checkImportPaths(
                     cards.at(0), cards.at(1), cards.at(2), dest, templatePath);
                 !refused.isEmpty())
            status = refuse(refused); // before anything is copied
        else
            status = runImport(cards, dest, templatePath, project,
                               parser.isSet(QStringLiteral("skip-imported")));
    } else if (form->name == QLatin1String("prepare")) {
        status = runPrepare(cards, parser.isSet(QStringLiteral("erase")),
                            parser.isSet(QStringLiteral("sync-config")),
                            parser.isSet(QStringLiteral("force")),
                            parser.isSet(QStringLiteral("reverify")));
    }

    // Whatever the outcome, no task may outlive the controller.
    waitForTasks();
    controller = nullptr;
    live.reset();
    qInfo() << "qvkctl exit status:" << status;
    stopOwnLog();
    return status;
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
    reports[channel].append(report);
    if (report.text.isEmpty())
        return; // a report that only clears the view's display
    if (live && showLive(channel, report))
        return;
    printLine(channel > 0 ? QStringLiteral("[card %1] %2").arg(channel).arg(report.text)
                          : report.text);
}

bool QvkCtl::showLive(int channel, const Report& report)
{
    if (channel == 0) {
        // The records of a data export: one line that counts them.
        const QRegularExpressionMatch match = recordReport().match(report.text);
        if (!match.hasMatch()) {
            if (!records.isEmpty()) // its last count stays, above what follows
                live->setLine(0, records);
            records.clear();
            live->retire();
            return false;
        }
        const qint64 received = match.captured(1).toLongLong();
        const qint64 total = match.captured(2).toLongLong();
        records = QStringLiteral("Receiving records: %1 of %2 (%3%)")
                      .arg(received)
                      .arg(total)
                      .arg(total > 0 ? received * 100 / total : 0);
        // The export reports about ten times a second, so each is drawn.
        live->setLine(0, records);
        return true;
    }
    if (!liveImport)
        return false;
    // A card of an import: its line shows its figures and its last report.
    CardLine& line = cardLines[channel - 1];
    line.text = report.text;
    line.done = report.value >= report.to;
    // A trouble on the way stays on the screen, above the lines.
    if (!line.done && (report.text.startsWith(QLatin1String("Error")) ||
                       report.text.startsWith(QLatin1String("Warning"))))
        live->print(QStringLiteral("[card %1] %2").arg(channel).arg(report.text));
    showCard(channel);
    if (std::all_of(std::begin(cardLines), std::end(cardLines),
                    [](const CardLine& c) { return c.done; }))
        live->retire();
    return true;
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

void QvkCtl::showCard(int card)
{
    const CardLine& line = cardLines[card - 1];
    const QString figures = line.meter.text();
    // The card's own paths need no folder: the line has room for the file.
    QString text = line.text;
    if (!line.root.isEmpty())
        text.replace(line.root + QLatin1Char('/'), QString());
    live->setLine(card - 1, QStringLiteral("[card %1] %2%3%4")
                                .arg(card)
                                .arg(figures)
                                .arg(figures.isEmpty() ? QString() : QStringLiteral("  "))
                                .arg(text));
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

int QvkCtl::runDevices()
{
    static const char* const keys[] = {"name", "description", "location", "manufacturer", "serial"};
    QJsonArray array;
    for (const QVariant& entry : controller->getDevices()) {
        const QVariantMap map = entryMap(entry);
        QStringList fields;
        QJsonObject object;
        for (const char* key : keys) {
            fields << map.value(QLatin1String(key)).toString();
            object.insert(QLatin1String(key), fields.last());
        }
        array.append(object);
        if (!json)
            out << fields.join(QLatin1Char('\t')) << '\n';
    }
    if (json)
        printJson(QJsonDocument(array));
    out.flush();
    return Success;
}

void QvkCtl::printJson(const QJsonDocument& document)
{
    out << QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    out.flush();
}

int QvkCtl::runDrives()
{
    return printKeysAndValues(controller->getDrives());
}

int QvkCtl::runTemplates()
{
    return printKeysAndValues(controller->getTemplates());
}

int QvkCtl::printKeysAndValues(const QVariantList& entries)
{
    QJsonArray array;
    for (const QVariant& entry : entries) {
        const QVariantMap map = entryMap(entry);
        const QString path = map.value(QStringLiteral("key")).toString();
        const QString name = map.value(QStringLiteral("value")).toString();
        array.append(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("name"), name}});
        if (!json)
            out << path << '\t' << name << '\n';
    }
    if (json)
        printJson(QJsonDocument(array));
    out.flush();
    return Success;
}

int QvkCtl::outcomeOfLastReport(const QString& successPrefix)
{
    const QVector<Report> list = reports.value(0);
    if (list.isEmpty())
        return fail(QStringLiteral("the operation reported nothing"));
    return list.last().text.startsWith(successPrefix) ? Success : Failure;
}

int QvkCtl::runSettingsRead(const QString& port)
{
    controller->readCameraSettings(port);
    waitForTasks();
    if (outcomeOfLastReport(QStringLiteral("Success.")) != Success)
        return Failure;
    if (cameraSettings.size() != 8)
        return fail(QStringLiteral("the settings read delivered no values"));
    static const char* const names[] = {"firmware",
                                        "battery",
                                        "date",
                                        "recLedOn",
                                        "videoLoggingInterval",
                                        "timelapseInterval",
                                        "timelapseTimeout",
                                        "e1FirmwareVersion"};
    QJsonObject object;
    for (int i = 0; i < 8; ++i) {
        object.insert(QLatin1String(names[i]), QJsonValue::fromVariant(cameraSettings.at(i)));
        if (!json)
            out << names[i] << '=' << displayText(cameraSettings.at(i)) << '\n';
    }
    if (json)
        printJson(QJsonDocument(object));
    out.flush();
    return Success;
}

int QvkCtl::runSettingsSave(const QString& port, const QString& date, int recLed, double video,
                            double photo, double timeout, int e1)
{
    controller->saveCameraSettings(port, date, recLed, video, photo, timeout, e1);
    waitForTasks();
    return outcomeOfLastReport(QStringLiteral("Success."));
}

int QvkCtl::runPortTask(const QString& command, const QString& port, bool force)
{
    if (command == QLatin1String("settings reset"))
        controller->resetCameraSettings(port);
    else if (command == QLatin1String("data erase") && force)
        controller->eraseMemoryForced(port);
    else if (command == QLatin1String("data erase"))
        controller->eraseMemory(port);
    else
        controller->turnOff(port);
    waitForTasks();
    return outcomeOfLastReport(QStringLiteral("Success."));
}

int QvkCtl::runDataExport(const QString& port, const QString& dest, const QString& project)
{
    // The export writes into an existing folder only; create it as an import
    // would, and take it away again when nothing came into it.
    const bool created = !QFileInfo::exists(dest);
    if (!QDir().mkpath(dest))
        return fail(QStringLiteral("cannot create the destination folder %1").arg(dest));
    controller->copyData(port, dest, project);
    waitForTasks();
    if (created)
        QDir().rmdir(dest); // only when empty
    const QVector<Report> list = reports.value(0);
    if (list.isEmpty())
        return fail(QStringLiteral("the data export reported nothing"));
    const QString finalText = list.last().text;

    static const QRegularExpression wrote(QStringLiteral("^Wrote (\\d+) records to (\\d+) files"));
    const QRegularExpressionMatch match = wrote.match(finalText);
    if (match.hasMatch()) {
        if (match.captured(1).toLongLong() > 0 && match.captured(2).toLongLong() == 0)
            return fail(QStringLiteral("records were downloaded but no file was written"));
        return Success;
    }
    if (finalText == QLatin1String("No records available."))
        return Success; // an empty unit is no failure
    return Failure;
}

int QvkCtl::runFirmware(const QString& port, const QString& file)
{
    // A relative name not found here is looked for in the firmware folder.
    const bool found = QFileInfo(file).isAbsolute() ? QFileInfo(file).isFile()
                                                    : QDir(firmwareDirPath()).exists(file);
    if (!found)
        return usageError(QStringLiteral("--file '%1': no such firmware file").arg(file));
    // The boot-loader is the rig maker's program, which an installation does
    // not bring: say where it belongs rather than that it failed to start.
    const QString bootloader = ControllerTasks::bootloaderProgram();
    if (!QFileInfo(bootloader).isExecutable())
        return fail(QStringLiteral("no boot-loader program at %1: copy the rig maker's "
                                   "boot-loader there to update the firmware")
                        .arg(bootloader));
    controller->updateFirmware(port, file);
    waitForTasks();
    const QVector<Report> list = reports.value(0);
    if (list.isEmpty())
        return fail(QStringLiteral("the firmware update reported nothing"));
    return list.last().text == QLatin1String("Done") ? Success : Failure;
}

int QvkCtl::runImport(const QStringList& cards, const QString& dest, const QString& templatePath,
                      const QString& project, bool skipImported)
{
    // SIGINT and SIGTERM stop the copies under way, which remove their
    // unfinished files; the cards' summaries then say what was not copied.
    VerifiedCopy::requestStop(false);
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::stopRequested, this, [this](const QString& signalName) {
        VerifiedCopy::requestStop();
        qWarning() << "Stopping on" << signalName;
        printLine(ProgramName + QStringLiteral(": ") + signalName +
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
    controller->copyFiles(cards.at(0), cards.at(1), cards.at(2), dest, templatePath, project,
                          skipImported);
    waitForTasks();
    liveImport = false;

    // A card is complete when its summary is the counts alone, each a/a:
    // anything the import adds to it says why the card is not.
    static const QRegularExpression summary(
        QStringLiteral("^Copied (\\d+)/(\\d+) videos and (\\d+)/(\\d+) photos\\.(.*)$"));
    int status = Success;
    for (int card = 1; card <= 3; ++card) {
        const QVector<Report> list = reports.value(card);
        if (list.isEmpty()) {
            status = fail(QStringLiteral("card %1 reported nothing").arg(card));
            continue;
        }
        const Report& last = list.last();
        const QRegularExpressionMatch match = summary.match(last.text);
        if (!match.hasMatch()) {
            status = fail(QStringLiteral("card %1 was not imported: %2").arg(card).arg(last.text));
            continue;
        }
        if (match.captured(1) != match.captured(2) || match.captured(3) != match.captured(4) ||
            !match.captured(5).isEmpty())
            status = fail(QStringLiteral("card %1: not every media file was copied: %2")
                              .arg(card)
                              .arg(last.text));
    }
    return status;
}

int QvkCtl::runPrepare(const QStringList& cards, bool erase, bool syncConfig, bool force,
                       bool reverify)
{
    // The card preparation itself refuses anything but whole card volumes
    // and cards whose media lack verified copies; it names the files here.
    QMap<int, QStringList> unverified;
    const QMetaObject::Connection named =
        connect(controller, &AppController::unverifiedFiles, this,
                [&](const QVariant& card, const QVariant& paths) {
                    unverified.insert(card.toInt(), paths.toStringList());
                });
    controller->prepareCards(cards.at(0), cards.at(1), cards.at(2), erase, syncConfig, force,
                             reverify);
    waitForTasks();
    disconnect(named);

    // A prepared card ends with a finished report of its work pass; a card
    // refused by the checks, or left untouched because another was, does not.
    // A pass that could not erase or write everything ends with an error.
    int status = Success;
    for (int card = 1; card <= 3; ++card) {
        const QVector<Report> list = reports.value(card);
        const bool prepared = !list.isEmpty() && list.last().to == 2 && list.last().value == 2 &&
                              !list.last().text.startsWith(QLatin1String("Invalid")) &&
                              !list.last().text.startsWith(QLatin1String("Error"));
        if (!prepared)
            status = fail(QStringLiteral("card %1 was not prepared").arg(card));
    }

    // The first files of each refused card; the log has them all. A forced
    // wipe has named each in a warning already.
    const int shown = 10;
    for (auto it = unverified.cbegin(); it != unverified.cend() && !force; ++it) {
        const QStringList& paths = it.value();
        err << ProgramName << ": card " << it.key() << ": no verified copy of " << paths.size()
            << (paths.size() == 1 ? " media file:\n" : " media files:\n");
        for (const QString& path : paths.mid(0, shown))
            err << "  " << path << '\n';
        if (paths.size() > shown)
            err << "  ... and " << paths.size() - shown << " more (see the log)\n";
    }
    err.flush();
    return status;
}
