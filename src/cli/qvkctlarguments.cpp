#include "cli/qvkctlarguments.h"

#include "base/apppaths.h"
#include "cards/medianaming.h"
#include "cli/qvkctl.h"
#include "settings/settingsstore.h"
#include "settings/unitsettings.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QVector>

#include <cmath>
#include <limits>

namespace {

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
          QStringLiteral("reverify"), QStringLiteral("copies")}},
    };
    return forms;
}

// The words that take a second word.
const QStringList& groupWords()
{
    static const QStringList words = {QStringLiteral("settings"), QStringLiteral("data")};
    return words;
}

} // namespace

QString QvkCtl::usageText()
{
    const QString usage = QStringLiteral(
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
        "  qvkctl import --card1 DIR --card2 DIR --card3 DIR --dest DIR...\n"
        "                [--template FILE.kava] [--project NAME] [--skip-imported]\n"
        "  qvkctl prepare --card1 DIR --card2 DIR --card3 DIR [--erase [--reverify] [--force]\n"
        "                 [--copies N]] [--sync-config]\n"
        "  qvkctl --help | --version\n"
        "\n"
        "Commands:\n"
        "  devices         list the serial ports: name, description, location, manufacturer\n"
        "                  and serial number, separated by tabs\n"
        "  drives          list the card volumes: root path and name, separated by a tab\n"
        "  templates       list the stitching templates: path and name, separated by a tab\n"
        "  settings read   print the controller unit's settings, one name=value per line\n"
        "  settings save   set the controller unit's clock and recording settings\n"
        "                  (video interval %1, photo interval %2,\n"
        "                  photo timeout %3, E1 firmware %4)\n"
        "  settings reset  restore the controller unit's factory settings\n"
        "  data export     download the logged datasets into CSV files in DIR\n"
        "  data erase      erase the controller unit's memory, only when it is empty or a\n"
        "                  complete data export of this unit, not yet used by an erase,\n"
        "                  saved as many records as it holds, in CSV files still holding\n"
        "                  their bytes; --force erases anyway\n"
        "  off             turn the controller unit off\n"
        "  firmware        update the controller unit's firmware with the boot-loader\n"
        "  import          copy the media of the three cards into DIR (with a second --dest\n"
        "                  into both, each card file read once, each copy verified on its\n"
        "                  own disk; complete only when both are); SIGINT, SIGTERM or\n"
        "                  SIGHUP stops it, leaving no unfinished file; --skip-imported\n"
        "                  leaves out the files whose copy in DIR an earlier import made\n"
        "                  and proved unchanged since (they count as copied)\n"
        "  prepare         prepare the three cards for the next use; --erase wipes them\n"
        "                  (only whole card volumes as 'qvkctl drives' lists them, and\n"
        "                  only when every media file has a verified copy from an import\n"
        "                  and unchanged since; --reverify reads every card file and copy\n"
        "                  whole first; --force wipes without copies, and files that are\n"
        "                  not media, which no import copies; --copies N asks for N\n"
        "                  verified copies of each, in N different destinations, %5,\n"
        "                  by default as the app's setting CopiesBeforeWipe says),\n"
        "                  --sync-config writes the cameras' synchronisation configuration\n"
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
        "on a card, a card inside another or given twice, a template that is no\n"
        "stitching template).\n");
    return usage.arg(UnitSettings::videoLoggingInterval().rangeText(),
                     UnitSettings::timelapseInterval().rangeText(),
                     UnitSettings::timelapseTimeout().rangeText(),
                     UnitSettings::e1FirmwareVersion().rangeText(),
                     QStringLiteral("%1-%2").arg(MinCopiesBeforeWipe).arg(MaxCopiesBeforeWipe));
}

QString QvkCtlArguments::programName()
{
    return QStringLiteral("qvkctl");
}

QString QvkCtlArguments::absolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

QvkCtlArguments::Parsed QvkCtlArguments::parse(const QStringList& arguments, QvkCtlCommand* command,
                                               QString* error)
{
    const auto usageError = [error](const QString& what) {
        *error = what;
        return Parsed::UsageError;
    };
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
                                      QStringLiteral("template"),
                                      QStringLiteral("copies")};
    for (const QString& name : valueOptions)
        parser.addOption({name, QString(), QStringLiteral("value")});
    parser.addOption({QStringLiteral("erase"), QString()});
    parser.addOption({QStringLiteral("sync-config"), QString()});
    parser.addOption({QStringLiteral("skip-imported"), QString()});
    parser.addOption({QStringLiteral("force"), QString()});
    parser.addOption({QStringLiteral("reverify"), QString()});
    parser.addOption({QStringLiteral("json"), QString()});

    const bool parsed = parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")))
        return Parsed::Help;
    if (parser.isSet(QStringLiteral("version")))
        return Parsed::Version;
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
        // An import may copy into several destinations at once.
        if (given.count(option) > 1 &&
            !(option == QLatin1String("dest") && form->name == QLatin1String("import")))
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
    QStringList dests;
    for (const QString& value : parser.values(QStringLiteral("dest")))
        dests << absolutePath(value);
    const QString dest = dests.value(0);
    QStringList cards;
    for (int n = 1; n <= 3; ++n) {
        const QString option = QStringLiteral("card%1").arg(n);
        if (parser.isSet(option))
            cards << absolutePath(parser.value(option));
    }
    for (const char* wipeOption : {"force", "reverify", "copies"})
        if (form->name == QLatin1String("prepare") && parser.isSet(QLatin1String(wipeOption)) &&
            !parser.isSet(QStringLiteral("erase")))
            return usageError(QStringLiteral("--%1 applies to --erase only").arg(wipeOption));
    int copies = 0;
    if (parser.isSet(QStringLiteral("copies"))) {
        const QString text = parser.value(QStringLiteral("copies")).trimmed();
        bool number = false;
        copies = text.toInt(&number);
        if (!number || copies < MinCopiesBeforeWipe || copies > MaxCopiesBeforeWipe)
            return usageError(QStringLiteral("--copies must be a whole number from %1 to %2, "
                                             "not '%3'")
                                  .arg(MinCopiesBeforeWipe)
                                  .arg(MaxCopiesBeforeWipe)
                                  .arg(text));
    }
    if (cards.size() == 3 && QSet<QString>(cards.cbegin(), cards.cend()).size() < 3)
        return usageError(QStringLiteral("the three cards must be three different folders"));
    if (!project.isEmpty() && !MediaNaming::isValidProjectName(project))
        return usageError(
            QStringLiteral("--project '%1' cannot be part of a file name").arg(project));
    const QString templateArgument = parser.value(QStringLiteral("template"));
    if (parser.isSet(QStringLiteral("template")) && templateArgument.trimmed().isEmpty())
        return usageError(QStringLiteral("--template needs a value"));
    QString templatePath;
    if (!templateArgument.isEmpty() && QFileInfo(absolutePath(templateArgument)).isFile())
        templatePath = absolutePath(templateArgument);
    QString firmwareArgument = parser.value(QStringLiteral("file"));
    if (!firmwareArgument.isEmpty() && QFileInfo(absolutePath(firmwareArgument)).isFile())
        firmwareArgument = absolutePath(firmwareArgument);

    SettingsToSave settings;
    if (form->name == QLatin1String("settings save")) {
        const QString problem = settingsToSave(parser, &settings);
        if (!problem.isEmpty())
            return usageError(problem);
    }

    *command = QvkCtlCommand();
    command->name = form->name;
    command->port = port;
    command->dest = dest;
    command->dests = dests;
    command->project = project;
    command->cards = cards;
    command->templateArgument = templateArgument;
    command->templatePath = templatePath;
    command->firmwareFile = firmwareArgument;
    command->settings = settings;
    command->json = parser.isSet(QStringLiteral("json"));
    command->force = parser.isSet(QStringLiteral("force"));
    command->erase = parser.isSet(QStringLiteral("erase"));
    command->syncConfig = parser.isSet(QStringLiteral("sync-config"));
    command->reverify = parser.isSet(QStringLiteral("reverify"));
    command->skipImported = parser.isSet(QStringLiteral("skip-imported"));
    command->copies = copies;
    return Parsed::Command;
}

// The ranges of the app's Settings tab.
QString QvkCtlArguments::settingsToSave(const QCommandLineParser& parser, SettingsToSave* settings)
{
    settings->date = parser.value(QStringLiteral("date")).trimmed();
    const QDateTime parsedDate = QDateTime::fromString(settings->date, DateFormat);
    if (!parsedDate.isValid())
        return QStringLiteral("--date '%1' is not a date and time of the form "
                              "yyyy-MM-dd hh:mm:ss")
            .arg(settings->date);
    // The unit counts signed 32-bit seconds since 1970.
    const qint64 seconds = parsedDate.toSecsSinceEpoch();
    if (seconds < 0 || seconds > std::numeric_limits<qint32>::max())
        return QStringLiteral("--date '%1' is outside what the controller unit "
                              "can hold (1970 to 2038)")
            .arg(settings->date);
    double led = 0, version = 0;
    const struct
    {
        const char* option;
        const UnitSettingMeta& meta;
        double* value;
    } checks[] = {
        {"rec-led", UnitSettings::recLedOn(), &led},
        {"video-interval", UnitSettings::videoLoggingInterval(), &settings->videoInterval},
        {"photo-interval", UnitSettings::timelapseInterval(), &settings->photoInterval},
        {"photo-timeout", UnitSettings::timelapseTimeout(), &settings->photoTimeout},
        {"e1", UnitSettings::e1FirmwareVersion(), &version}};
    for (const auto& check : checks) {
        QString refused;
        const QString option = QLatin1String(check.option);
        if (!check.meta.validate(QStringLiteral("--") + option, parser.value(option), check.value,
                                 &refused))
            return refused;
    }
    settings->recLed = int(led);
    settings->e1 = int(version);
    return QString();
}
