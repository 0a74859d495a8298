#include "base/apppaths.h"
#include "cards/importledger.h"
#include "cards/verifiedcopy.h"
#include "cards/volumes.h"
#include "cli/qvkctl.h"
#include "simulator/controllersimulator.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

// The whole of a program's output as one JSON document; a null one (which
// fails any comparison) when it is not exactly that.
QJsonDocument parseJson(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << "not JSON:" << error.errorString() << text;
    return document;
}

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

// A command line written as one string: '_' stands for a space within a word,
// "P" for the simulator's port, "D" for a destination folder.
QStringList words(const QString& line, const QString& port = {}, const QString& dest = {})
{
    QStringList list = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    list.replaceInStrings(QStringLiteral("_"), QStringLiteral(" "));
    list.replaceInStrings(QRegularExpression(QStringLiteral("^P$")), port);
    return list.replaceInStrings(QRegularExpression(QStringLiteral("^D$")), dest);
}

// What the bash completion offers for a command line typed up to its end,
// sorted; "ERROR" when the script does not load.
QStringList completions(const QString& line, const QString& workingDir,
                        const QString& dataHome = {})
{
    static const char* const script = R"(
source "$1" || { echo ERROR; exit; }
read -ra COMP_WORDS <<<"$2"
[[ "$2" == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_qvkctl
printf '%s\n' "${COMPREPLY[@]}"
)";
    QProcess bash;
    bash.setWorkingDirectory(workingDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!dataHome.isEmpty())
        env.insert("XDG_DATA_HOME", dataHome);
    bash.setProcessEnvironment(env);
    bash.start("bash",
               {"-c", script, "bash",
                qEnvironmentVariable("PQVK_SOURCE_DIR") + "/packaging/qvkctl.bash-completion",
                line});
    if (!bash.waitForFinished(30000))
        return {"ERROR"};
    QStringList list =
        QString::fromLocal8Bit(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    list.sort();
    return list;
}

} // namespace

class TestQvkCtl : public QObject
{
    Q_OBJECT

    QTemporaryDir dataHome; // the platform's data folder of every run
    QString appDataFolder() const { return dataHome.path() + QStringLiteral("/Pelorin QVK"); }

    // In this process, or the real program in `workingDir`: what a script sees.
    Outcome run(const QStringList& arguments, const QString& workingDir = {})
    {
        Outcome outcome;
        if (workingDir.isEmpty()) {
            QTextStream out(&outcome.out), err(&outcome.err);
            QvkCtl ctl(out, err);
            ctl.setOwnLog(false);
            outcome.status = ctl.run(QStringList{QStringLiteral("qvkctl")} + arguments);
            return outcome;
        }
        QProcess process;
        process.setWorkingDirectory(workingDir);
        process.start(qEnvironmentVariable("PQVK_BUILD_DIR") + "/qvkctl", arguments);
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
            outcome.status = process.exitCode();
        outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
        return outcome;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dataHome.isValid());
        // Never the user's real folders, also when run outside CTest.
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
        QvkCtl::configureApplication();
        resetPathCaches();
    }
    void cleanup() { Volumes::setProvider(nullptr); }

    void usageErrors_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");
        const auto save = [](const QString& option, const QString& value) {
            QString line = "settings save --port P --date 2021-03-04_05:06:07 --rec-led 1 "
                           "--video-interval 1 --photo-interval 5 --photo-timeout 90 --e1 29";
            return line.replace(QRegularExpression(option + " \\S+"), option + " " + value);
        };
        const QVector<QPair<QString, QString>> rows = {
            {"copy", "unknown command 'copy'"},
            {"devices --verbose", "verbose"},
            {"devices now", "unexpected argument 'now'"},
            {"off", "'off' needs --port"},
            {"off --port P --port Q", "--port given more than once"},
            {"off --port P --dest /tmp/qvkctl-test-dest", "--dest does not apply to 'off'"},
            {"data export --port P --dest /tmp/qvkctl-test-dest --json",
             "--json does not apply to 'data export'"},
            {"data export --port P --dest /tmp/qvkctl-test-dest --project ../up", "'../up'"},
            {"import --card1 a --card2 b/ --card3 ./b --dest d", "three different folders"},
            {"import --card1 a --card2 b --card3 c --dest d --template No_Such_Rig",
             "--template 'No Such Rig'"},
            {"firmware --port P --file no-such-image.hex", "no such firmware file"},
            {"prepare --card1 a --card2 b --card3 c --force", "--force applies to --erase only"},
            {"off --port P --force", "--force does not apply to 'off'"},
            {"data erase --port P --reverify", "--reverify does not apply to 'data erase'"},
            // Settings to save are checked before the unit hears anything.
            {save("--date", "2021-03-04"), "--date '2021-03-04'"},
            {save("--date", "2040-01-01_00:00:00"), "1970 to 2038"},
            {save("--rec-led", "2"), "--rec-led must be 0 or 1"},
            {save("--video-interval", "1,5"), "--video-interval"},
            {save("--e1", "27"), "--e1 must be 26, 29 or 30"},
        };
        for (const auto& row : rows)
            QTest::newRow(qPrintable(row.second)) << row.first << row.second;
    }

    void usageErrors()
    {
        QFETCH(QString, line);
        QFETCH(QString, message);
        ControllerSimulator sim;
        QVERIFY(sim.start());
        const Outcome outcome = run(words(line, sim.portPath()));
        QCOMPARE(outcome.status, int(QvkCtl::UsageError));
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QVERIFY(outcome.out.isEmpty());
        QTest::qWait(50);
        QCOMPARE(sim.receivedCommands(), QStringList());
        QVERIFY(!QFileInfo::exists("/tmp/qvkctl-test-dest"));
    }

    // `devices` lists the port the app's settings file names; `drives` and
    // `templates` print key and value, tab-separated, or with --json one
    // document that holds the same.
    void listings()
    {
        ControllerSimulator sim;
        QVERIFY(sim.start());
        const QString ini = appDataFolder() + "/VazizidADU.ini";
        QVERIFY(writeFile(ini, "[General]\nExtraSerialPorts=" + sim.portPath().toUtf8() + "\n"));
        Outcome outcome = run({"devices"});
        const Outcome json = run({"devices", "--json"});
        QVERIFY(QFile::remove(ini));
        QCOMPARE(outcome.status, 0);
        const QString line = sim.portPath() + "\tConfigured port\t" + sim.portPath() + "\t\t";
        QVERIFY2(outcome.out.split('\n').contains(line), qPrintable(outcome.out));
        QCOMPARE(json.status, 0);
        const QJsonObject port{{"name", sim.portPath()},
                               {"description", "Configured port"},
                               {"location", sim.portPath()},
                               {"manufacturer", ""},
                               {"serial", ""}};
        QVERIFY2(parseJson(json.out).array().contains(port), qPrintable(json.out));

        QTemporaryDir volumes;
        const QString a = volumes.filePath("a"), b = volumes.filePath("b");
        QVERIFY(QDir().mkpath(a) && QDir().mkpath(b));
        FolderVolumeProvider provider;
        provider.add(FolderVolumeProvider::folderVolume(b));
        provider.add(FolderVolumeProvider::folderVolume(a, "QVK_01"));
        Volumes::setProvider(&provider);
        outcome = run({"drives"});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out, a + "\tQVK_01\n" + b + "\t" + b + "\n");
        outcome = run({"drives", "--json"});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(parseJson(outcome.out),
                 QJsonDocument(QJsonArray{QJsonObject{{"path", a}, {"name", "QVK_01"}},
                                          QJsonObject{{"path", b}, {"name", b}}}));

        if (QDir(appDirPath() + "/templates").exists())
            QSKIP("an installed templates folder hides the user's");
        const QString templates = appDataFolder() + "/templates";
        QVERIFY(writeFile(templates + "/Rig.kava", "<kava/>"));
        QVERIFY(writeFile(templates + "/Wide.kava", "<kava/>"));
        outcome = run({"templates"});
        const Outcome jsonTemplates = run({"templates", "--json"});
        QVERIFY(QDir(templates).removeRecursively());
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out, templates + "/Wide.kava\tWide\n" + templates + "/Rig.kava\tRig\n");
        QCOMPARE(jsonTemplates.status, 0);
        QCOMPARE(parseJson(jsonTemplates.out),
                 QJsonDocument(
                     QJsonArray{QJsonObject{{"path", templates + "/Wide.kava"}, {"name", "Wide"}},
                                QJsonObject{{"path", templates + "/Rig.kava"}, {"name", "Rig"}}}));
        QCOMPARE(run({"templates", "--json"}).out, QString("[\n]\n")); // none: still a document
    }

    // Commands on the unit; "a && b" runs a, which must succeed, then b.
    void unitCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text"); // standard output when it has '=', else a progress text
        QTest::addColumn<QByteArray>("fault"); // a command answered with nothing it expects
        QTest::addColumn<int>("datasets");
        QTest::addColumn<int>("files"); // CSV files in the export folder
        const auto row = [](const char* name, const QString& line, int status, const QString& text,
                            const QByteArray& fault = {}, int datasets = 0, int files = 0) {
            QTest::newRow(name) << line << status << text << fault << datasets << files;
        };
        // Every option reaches the unit in its own place.
        row("settings save",
            "settings save --port P --date 2021-03-04_05:06:07 --rec-led 0 "
            "--video-interval 0.25 --photo-interval 7 --photo-timeout 90.9 --e1 26 && "
            "settings read --port P",
            0,
            "firmware=2.4.1\nbattery=100 %\ndate=2021-03-04 05:06:07\n"
            "recLedOn=0\nvideoLoggingInterval=0.25\ntimelapseInterval=7\ntimelapseTimeout=90\n"
            "e1FirmwareVersion=26\n");
        row("no such port", "settings read --port /dev/no-such-port", 1, "Could not open port");
        row("settings reset", "settings reset --port P", 0, "Success. Controller reset.");
        row("data erase", "data erase --port P", 0, "Success. Memory erased.");
        row("erase not confirmed", "data erase --port P", 1, "Communication error", "PQVKFORMAT");
        // The unit's records are erased only once an export saved them all.
        row("data erase, records never exported", "data erase --port P", 1,
            "Error: The unit holds 8 records that no complete export has saved. Export them "
            "first.",
            {}, 2);
        row("data erase, forced", "data erase --port P --force", 0, "Success. Memory erased.", {},
            2);
        row("export, then erase",
            "data export --port P --dest D --project Reef && data erase --port P", 0,
            "Success. Memory erased.", {}, 2, 2);
        row("off", "off --port P", 0, "Success. Controller is off");
        const QString exportLine = "data export --port P --dest D --project Reef";
        row("export", exportLine, 0, "Wrote 8 records to 2 files", {}, 2, 2);
        row("export, empty unit", exportLine, 0, "No records available.");
        // Failures that must not read like success: the count unanswered,
        // records downloaded but no file written.
        row("export, count not answered", exportLine, 1, "Could not read available data",
            "PQVKNUMDUMP", 2);
        // A download that stays damaged is kept in files named incomplete, and fails.
        row("export, no start record", exportLine, 1,
            "Error: The download stayed incomplete (3 records before the first start record)",
            "start", 1, 1);
        row("export, damaged download", exportLine, 1,
            "Error: The download stayed incomplete (7 of 8 records arrived; 1 line with a bad "
            "checksum; record 3 missing)",
            "garble", 2, 2);
        row("settings read, value out of range", "settings read --port P", 1,
            "The unit reported a value out of range for the record LED", "led");
    }

    void unitCommands()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(QByteArray, fault);
        QFETCH(int, datasets);
        QFETCH(int, files);
        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setBattery(4.13);
        sim.setDatasets(datasets, 3);
        const QByteArray unrelated = ControllerSimulator::sentence("PQVKSTATUS,0,IDLE");
        if (fault == "start")
            sim.setRecordLines(ControllerSimulator::datasetRecords(datasets, 3).mid(1));
        else if (fault == "garble")
            sim.setDumpDamage({2}, {});
        else if (fault == "led")
            sim.setReply("PQVKGETSETTINGS",
                         {ControllerSimulator::sentence("PQVKSETTINGS,-1,1000,5000,60,29")});
        else if (!fault.isEmpty())
            sim.setReply(fault, {unrelated, unrelated, unrelated, unrelated});
        QTemporaryDir temp;
        const QString dest = temp.filePath("exports/unit"); // not there yet
        const QStringList commands = line.split(" && ");
        for (const QString& command : commands.mid(0, commands.size() - 1))
            QCOMPARE(run(words(command, sim.portPath(), dest)).status, 0);
        sim.clearReceived();
        const Outcome outcome = run(words(commands.last(), sim.portPath(), dest));
        QCOMPARE(outcome.status, status);
        QVERIFY2(text.contains('=') ? outcome.out == text
                                    : outcome.out.isEmpty() && outcome.err.contains(text),
                 qPrintable(outcome.out + outcome.err));
        QCOMPARE(QDir(dest).entryList({"vazizidadu_Reef_*.csv"}, QDir::Files).size(), files);
        QCOMPARE(QFileInfo::exists(dest), files > 0); // no empty folder left behind
        QCOMPARE(sim.receivedCount("PQVKOFF") > 0, line.startsWith("off"));
        if (commands.last().startsWith("data erase") && datasets > 0) {
            // A refused erase never reaches the unit: its records are all there.
            QCOMPARE(sim.receivedCount("PQVKFORMAT"), status == 0 ? 1 : 0);
            QCOMPARE(sim.recordCount(), status == 0 ? 0 : datasets * 4);
        }
    }

    // The settings as numbers and texts a script can take as they are; a read
    // that fails prints no document.
    void settingsAsJson()
    {
        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setBattery(4.13);
        QCOMPARE(run(words("settings save --port P --date 2021-03-04_05:06:07 --rec-led 1 "
                           "--video-interval 0.25 --photo-interval 7 --photo-timeout 90 --e1 29",
                           sim.portPath()))
                     .status,
                 0);
        Outcome outcome = run({"settings", "read", "--port", sim.portPath(), "--json"});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(parseJson(outcome.out), QJsonDocument(QJsonObject{
                                             {"firmware", "2.4.1"},
                                             {"battery", "100 %"},
                                             {"date", "2021-03-04 05:06:07"},
                                             {"recLedOn", 1},
                                             {"videoLoggingInterval", 0.25},
                                             {"timelapseInterval", 7},
                                             {"timelapseTimeout", 90},
                                             {"e1FirmwareVersion", 29},
                                         }));
        outcome = run({"settings", "read", "--port", "/dev/no-such-port", "--json"});
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.out, QString());
    }

    // A port that another program holds is named as in use, not as missing.
    void portHeldByAnotherProgram()
    {
        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setAnswerDelay("PQVKFORMAT", 3000); // the other program's erase holds the port
        QProcess other;
        other.start(qEnvironmentVariable("PQVK_BUILD_DIR") + "/qvkctl",
                    {"data", "erase", "--port", sim.portPath()});
        QVERIFY(sim.waitForCommands(2, 20000)); // the init command and the erase
        const Outcome outcome = run({"settings", "read", "--port", sim.portPath()});
        QVERIFY(other.waitForFinished(30000));
        QCOMPARE(outcome.status, 1);
        QVERIFY2(outcome.err.contains("Error: Port " + sim.portPath() +
                                      " is in use by another program."),
                 qPrintable(outcome.err));
        QCOMPARE(sim.receivedCount("PQVKVER"), 0);
        QCOMPARE(other.exitCode(), 0); // the other program's erase went on undisturbed
    }

    void prepare_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<bool>("card3IsVolume");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("finalText"); // of every card, when worked on
        QTest::addColumn<bool>("miscIsFile");   // the config folder's name taken by a file
        QTest::newRow("markers only") << "" << true << 0 << "No action" << false;
        QTest::newRow("erase and configure")
            << "--erase --sync-config" << true << 0 << "Erased and prepared." << false;
        QTest::newRow("card 3 refused") << "" << false << 1 << "" << false;
        // A wipe reaches card volumes only: refused before anything is touched.
        QTest::newRow("erase of a plain folder") << "--erase" << false << 1 << "" << false;
        QTest::newRow("config not written")
            << "--sync-config" << true << 1 << "Error: Could not write config file" << true;
    }

    void prepare()
    {
        QFETCH(QString, flags);
        QFETCH(bool, card3IsVolume);
        QFETCH(int, status);
        QFETCH(QString, finalText);
        QFETCH(bool, miscIsFile);
        QTemporaryDir temp;
        FolderVolumeProvider provider;
        QStringList arguments = words("prepare " + flags);
        for (int n = 1; n <= 3; ++n) {
            arguments << QStringLiteral("--card%1").arg(n) << temp.filePath(QString::number(n));
            // No media: the wipe asks for no copy of it.
            QVERIFY(writeFile(arguments.last() + "/DCIM/old.THM", "old"));
            if (miscIsFile)
                QVERIFY(writeFile(arguments.last() + "/MISC", "not a folder"));
            if (n < 3 || card3IsVolume)
                provider.add(FolderVolumeProvider::folderVolume(arguments.last(), "", 1 << 30));
        }
        Volumes::setProvider(&provider);
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.status, status);
        for (int n = 1; n <= 3; ++n) {
            const QString card = temp.filePath(QString::number(n));
            QCOMPARE(QFileInfo::exists(card + "/DCIM/old.THM"), status || !flags.contains("erase"));
            QCOMPARE(QFileInfo::exists(card + QStringLiteral("/QVK_0%1").arg(n)),
                     !finalText.isEmpty());
            QCOMPARE(outcome.err.contains(QStringLiteral("[card %1] %2\n").arg(n).arg(finalText)),
                     !finalText.isEmpty());
        }
    }

    // A wipe on real card volumes as a script runs it: the real program,
    // after an import or none. "I" in a line runs the import first, "&&"
    // then the wipe; errText: what standard error must say.
    void wipe_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("change"); // between the import and the wipe
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("wiped");
        QTest::addColumn<QStringList>("errText");
        const QString prepare = "prepare --card1 card1 --card2 card2 --card3 card3 --erase ";
        const QString import = "import --card1 card1 --card2 card2 --card3 card3 --dest out && ";
        // Card 1 holds twelve videos and a photo: ten are named, the log has all.
        QStringList unlisted{"  DCIM/100QVK/P0001.JPG\n"};
        for (int k = 1; k <= 9; ++k)
            unlisted << QString("  DCIM/100QVK/V%1.MOV\n").arg(k, 4, 10, QLatin1Char('0'));
        QTest::newRow("never imported: refused, ten files named")
            << prepare << "" << 1 << false
            << (QStringList{"qvkctl: card 1: no verified copy of 13 media files:\n"} + unlisted +
                QStringList{"  ... and 3 more (see the log)\n",
                            "[card 1] Error: 13 of 13 media files on card 1",
                            "qvkctl: card 3: no verified copy of 1 media file:\n"
                            "  DCIM/100QVK/V0001.MOV\n"});
        QTest::newRow("imported: wiped")
            << import + prepare + "--sync-config"
            << "" << 0 << true << QStringList{"[card 2] Erased and prepared.\n"};
        QTest::newRow("imported, copies read again: wiped")
            << import + prepare + "--reverify"
            << "" << 0 << true << QStringList{"[card 3] Erased\n"};
        QTest::newRow("a copy lost: refused")
            << import + prepare << "lose" << 1 << false
            << QStringList{"qvkctl: card 3: no verified copy of 1 media file:\n"
                           "  DCIM/100QVK/V0001.MOV\n",
                           "[card 3] Error: 1 of 1 media files on card 3"};
        QTest::newRow("a copy damaged, read again: refused")
            << import + prepare + "--reverify"
            << "damage" << 1 << false << QStringList{"  DCIM/100QVK/V0001.MOV\n"};
        QTest::newRow("never imported, forced: wiped")
            << prepare + "--force"
            << "" << 0 << true
            << QStringList{"wiping without a verified copy: DCIM/100QVK/V0012.MOV",
                           "[card 1] Erased\n"};
        QTest::newRow("card 2 a bind mount: refused")
            << prepare + "--force"
            << "bind" << 1 << false
            << QStringList{"a folder of another volume mounted here, not a whole file system"};
    }

    void wipe()
    {
        QFETCH(QString, line);
        QFETCH(QString, change);
        QFETCH(int, status);
        QFETCH(bool, wiped);
        QFETCH(QStringList, errText);
        QTemporaryDir temp;
        LoopVolume loops[3], bound;
        QFile::remove(ImportLedger::defaultPath());
        for (int n = 1; n <= 3; ++n) {
            const QString card = temp.filePath(QString("card%1").arg(n));
            if (n == 2 && change == "bind") {
                if (!loops[1].mount(temp.filePath("disk.img"), temp.filePath("disk")))
                    QSKIP(qPrintable(loops[1].error()));
                QVERIFY(QDir().mkpath(temp.filePath("disk/data")));
                if (!bound.bind(temp.filePath("disk/data"), card))
                    QSKIP(qPrintable(bound.error()));
            } else if (!loops[n - 1].mount(temp.filePath(QString("image%1").arg(n)), card)) {
                QSKIP(qPrintable(loops[n - 1].error()));
            }
            for (int k = 1; k <= (n == 1 ? 12 : 1); ++k)
                QVERIFY(writeFile(
                    card + QString("/DCIM/100QVK/V%1.MOV").arg(k, 4, 10, QLatin1Char('0')),
                    "video"));
            if (n == 1)
                QVERIFY(writeFile(card + "/DCIM/100QVK/P0001.JPG", "photo"));
        }

        Outcome outcome;
        const QStringList steps = line.split(" && ");
        for (const QString& step : steps) {
            if (step.startsWith("prepare") && change == "lose")
                QVERIFY(QFile::remove(temp.filePath("out/DCIM/100QVK/V0001_cam3.MOV")));
            if (step.startsWith("prepare") && change == "damage")
                QVERIFY(writeFile(temp.filePath("out/DCIM/100QVK/V0001_cam3.MOV"), "vidoe"));
            outcome = run(words(step), temp.path());
            if (step.startsWith("import"))
                QCOMPARE(outcome.status, 0);
        }
        QCOMPARE(outcome.status, status);
        for (const QString& text : errText)
            QVERIFY2(outcome.err.contains(text), qPrintable(outcome.err));
        for (int n = 1; n <= 3; ++n) {
            const QString card = temp.filePath(QString("card%1").arg(n));
            QCOMPARE(QFileInfo::exists(card + "/DCIM/100QVK/V0001.MOV"), !wiped);
            QCOMPARE(QFileInfo::exists(card + QString("/QVK_0%1").arg(n)), wiped);
        }
        if (change == "bind")
            QVERIFY(QFileInfo::exists(temp.filePath("disk/data/DCIM/100QVK/V0001.MOV")));
    }

    void completion_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("offered"); // sorted, separated by commas
        QTest::newRow("commands") << "qvkctl "
                                  << "--help,--version,data,devices,drives,firmware,import,off,"
                                     "prepare,settings,templates";
        QTest::newRow("settings") << "qvkctl settings "
                                  << "read,reset,save";
        QTest::newRow("data, begun") << "qvkctl data e"
                                     << "erase,export";
        QTest::newRow("options not given yet") << "qvkctl import --card1 a --dest b --"
                                               << "--card2,--card3,--project,--template";
        QTest::newRow("a flag takes no value")
            << "qvkctl prepare --erase --"
            << "--card1,--card2,--card3,--force,--reverify,--sync-config";
        QTest::newRow("record LED") << "qvkctl settings save --rec-led "
                                    << "0,1";
        QTest::newRow("E1 firmware") << "qvkctl settings save --port P --e1 "
                                     << "26,29,30";
        QTest::newRow("folders") << "qvkctl import --dest "
                                 << "cards";
        QTest::newRow("firmware files") << "qvkctl firmware --file "
                                        << "cards,new.hex";
        QTest::newRow("templates by name and file") << "qvkctl import --template "
                                                    << "Rig,Wide Angle,cards,own.kava";
    }

    // In a folder holding a folder, a firmware image and a template, with two
    // templates in the user data folder.
    void completion()
    {
        QFETCH(QString, line);
        QFETCH(QString, offered);
        QTemporaryDir dir, data;
        QVERIFY(QDir().mkpath(dir.filePath("cards")));
        QVERIFY(writeFile(dir.filePath("new.hex"), ":00000001FF\n"));
        QVERIFY(writeFile(dir.filePath("own.kava"), "<kava/>"));
        QVERIFY(writeFile(data.filePath("Pelorin QVK/templates/Rig.kava"), "<kava/>"));
        QVERIFY(writeFile(data.filePath("Pelorin QVK/templates/Wide Angle.kava"), "<kava/>"));
        QCOMPARE(completions(line, dir.path(), data.path()).join(','), offered);
    }

    // The completion offers each command exactly the options its usage line
    // names, so the two cannot drift apart.
    void completionFollowsUsage()
    {
        QStringList entries; // one per command, continuation lines joined
        for (const QString& line : QvkCtl::usageText().split('\n')) {
            if (line.startsWith("  qvkctl "))
                entries << line.trimmed();
            else if (line.startsWith("      ") && !entries.isEmpty() &&
                     entries.last().startsWith("qvkctl"))
                entries.last() += ' ' + line.trimmed();
            else if (!line.startsWith("  "))
                entries << QString(); // the usage block has ended
        }
        QTemporaryDir dir;
        int checked = 0;
        static const QRegularExpression form("^qvkctl ([a-z]+(?: [a-z]+)?)\\b(.*)$");
        static const QRegularExpression option("--[a-z0-9-]+");
        for (const QString& entry : entries) {
            const QRegularExpressionMatch match = form.match(entry);
            if (!match.hasMatch())
                continue;
            QStringList options;
            for (auto it = option.globalMatch(match.captured(2)); it.hasNext();)
                options << it.next().captured();
            options.sort();
            QCOMPARE(completions("qvkctl " + match.captured(1) + " --", dir.path()), options);
            ++checked;
        }
        QCOMPARE(checked, 12);
    }

    void helpListsEveryCommand()
    {
        for (const QString& command : QString("devices,drives,templates,settings read,settings "
                                              "save,settings reset,data export,data erase,off,"
                                              "firmware,import,prepare")
                                          .split(','))
            QVERIFY2(
                QvkCtl::usageText().contains(QRegularExpression("qvkctl " + command + "[ \\n]")),
                qPrintable(command));
    }

    // The real program in a folder of cards, firmware images and a destination
    // whose copies' folder is taken by a file. Relative paths are the caller's;
    // standard error carries the progress texts and warnings, not the info
    // lines: those go to this run's own log, beside the app's untouched log.
    void program_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("errText");
        const QString import = "import --card1 card1 --card2 card2 --project Reef ";
        const auto row = [](const char* name, const QString& line, int status,
                            const QString& errText, const QString& out = {}) {
            QTest::newRow(name) << line << status << out << errText;
        };
        row("version", "--version", 0, "", "1.8.3\n");
        row("usage error", "import --card1 x", 2, "'import' needs --card2");
        row("firmware", "firmware --port COM3 --file good.hex", 0, "\nDone\n");
        row("bad firmware", "firmware --port COM3 --file bad.hex", 1, "Error updating firmware.\n");
        row("import", import + "--card3 ./card3 --dest out", 0,
            "[card 3] Copied 1/1 videos and 1/1 photos.\n");
        row("import, card 3 refused", import + "--card3 /no/card --dest out", 1,
            "[card 3] Error: Please choose source\n");
        row("import, copies fail", import + "--card3 card3 --dest blocked", 1,
            "[card 3] Copied 0/1 videos and 0/1 photos.\n");
    }

    void program()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, errText);
        QTemporaryDir temp;
        for (int n = 1; n <= 3; ++n) { // a video, a photo and a file that is no media
            const QString card = temp.filePath(QStringLiteral("card%1/").arg(n));
            QVERIFY(writeFile(card + "DCIM/100QVK/QVK0001.MOV", "video " + QByteArray::number(n)));
            QVERIFY(writeFile(card + "DCIM/100QVK/QVK0002.JPG", "photo " + QByteArray::number(n)));
            QVERIFY(writeFile(card + "MISC/index.dat", "index"));
        }
        QVERIFY(writeFile(temp.filePath("blocked/DCIM"), "not a folder"));
        QVERIFY(writeFile(temp.filePath("good.hex"), ":0400000001020304F2\n:00000001FF\n"));
        QVERIFY(writeFile(temp.filePath("bad.hex"), ":0400000001020304F3\n:00000001FF\n"));
        QVERIFY(writeFile(appDataFolder() + "/VazizidADU.log", "the app's last run\n"));

        const Outcome outcome = run(words(line), temp.path());
        QCOMPARE(outcome.status, status);
        QCOMPARE(outcome.out, out);
        QVERIFY2(outcome.err.contains(errText), qPrintable(outcome.err));
        QVERIFY2(!outcome.err.contains(" Info: "), qPrintable(outcome.err));
        QCOMPARE(outcome.err.contains(" Warning: "), status == 1);
        QVERIFY(readFile(appDataFolder() + "/qvkctl.log").count("qvkctl start") <= 1); // fresh
        QCOMPARE(readFile(appDataFolder() + "/VazizidADU.log"), QByteArray("the app's last run\n"));
        if (status == 0 && line.startsWith("import")) {
            QVERIFY(QFileInfo::exists(temp.filePath("out/DCIM/100QVK/QVK0001_Reef_cam3.MOV")));
            QVERIFY(readFile(temp.filePath("out/VazizidADU.log")).contains("Command:"));
        }
    }

    // A copy that changed on its way to the disk fails its card and the run.
    void importWithDamagedCopy()
    {
        QTemporaryDir temp;
        QStringList cards;
        for (int n = 1; n <= 3; ++n) {
            cards << temp.filePath(QStringLiteral("card%1").arg(n));
            QVERIFY(
                writeFile(cards.last() + "/DCIM/QVK0001.MOV", "video " + QByteArray::number(n)));
        }
        const QString victim = cards[1] + "/DCIM/QVK0001.MOV";
        VerifiedCopy::setWrittenHook([&](const QString& source, const QString& copy) {
            QFile file(copy);
            if (source == victim && file.open(QIODevice::ReadWrite))
                file.write("V");
        });
        const Outcome outcome = run({"import", "--card1", cards[0], "--card2", cards[1], "--card3",
                                     cards[2], "--dest", temp.filePath("out")});
        VerifiedCopy::setWrittenHook(nullptr);
        QCOMPARE(outcome.status, 1);
        QVERIFY2(outcome.err.contains("[card 2] Error: Could not copy " + victim + ".\n"),
                 qPrintable(outcome.err));
        QVERIFY2(outcome.err.contains("[card 2] Copied 0/1 videos and 0/0 photos.\n"),
                 qPrintable(outcome.err));
        QVERIFY(!QFileInfo::exists(temp.filePath("out/DCIM/QVK0001_cam2.MOV")));
        QCOMPARE(readFile(temp.filePath("out/DCIM/QVK0001_cam3.MOV")), QByteArray("video 3"));
    }
};

QTEST_GUILESS_MAIN(TestQvkCtl)
#include "tst_qvkctl.moc"
