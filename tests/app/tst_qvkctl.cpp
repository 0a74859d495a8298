#include "apppaths.h"
#include "controllersimulator.h"
#include "qvkctl.h"
#include "testsupport.h"
#include "volumes.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <memory>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

const QStringList AllCommands = {QStringLiteral("devices"),       QStringLiteral("drives"),
                                 QStringLiteral("templates"),     QStringLiteral("settings read"),
                                 QStringLiteral("settings save"), QStringLiteral("settings reset"),
                                 QStringLiteral("data export"),   QStringLiteral("data erase"),
                                 QStringLiteral("off"),           QStringLiteral("firmware"),
                                 QStringLiteral("import"),        QStringLiteral("prepare")};

// Four sentences that answer nothing: a command answered by them fails at once.
QList<QByteArray> unrelatedLines()
{
    QList<QByteArray> lines;
    for (int i = 0; i < 4; ++i)
        lines << ControllerSimulator::sentence("PQVKSTATUS,0,IDLE");
    return lines;
}

bool listsCommand(const QString& help, const QString& command)
{
    return help.contains("qvkctl " + command + " ") || help.contains("qvkctl " + command + "\n");
}

// A card as the cameras leave it: a video, a photo and a file that is no media.
void makeCard(const QString& root, int camera)
{
    const QByteArray tag = QByteArray::number(camera);
    QVERIFY(writeFile(root + "/DCIM/100QVK/QVK0001.MOV", "video of camera " + tag));
    QVERIFY(writeFile(root + "/DCIM/100QVK/QVK0002.JPG", "photo of camera " + tag));
    QVERIFY(writeFile(root + "/MISC/index.dat", "index " + tag));
}

} // namespace

class TestQvkCtl : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dataHome; // the platform's data folder of every run
    QString appDataFolder() const { return dataHome.path() + QStringLiteral("/Pelorin QVK"); }
    QString executable() const { return qEnvironmentVariable("PQVK_BUILD_DIR") + "/qvkctl"; }

    Outcome run(const QStringList& arguments, bool ownLog = false)
    {
        Outcome outcome;
        QTextStream out(&outcome.out);
        QTextStream err(&outcome.err);
        QvkCtl ctl(out, err);
        ctl.setOwnLog(ownLog);
        outcome.status = ctl.run(QStringList{QStringLiteral("qvkctl")} + arguments);
        out.flush();
        err.flush();
        return outcome;
    }

    Outcome runProcess(const QStringList& arguments, const QString& workingDir = QString())
    {
        QProcess process;
        if (!workingDir.isEmpty())
            process.setWorkingDirectory(workingDir);
        process.start(executable(), arguments);
        Outcome outcome;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return outcome;
        }
        outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
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
    }

    void init()
    {
        resetPathCaches();
        if (QByteArray(QTest::currentTestFunction()).startsWith("program") &&
            qEnvironmentVariableIsEmpty("PQVK_BUILD_DIR"))
            QSKIP("PQVK_BUILD_DIR does not name the build folder");
    }
    void cleanup() { Volumes::setProvider(nullptr); }

    void dataFolderIsTheApps_data()
    {
        QTest::addColumn<QString>("programName");
        QTest::newRow("test program") << QStringLiteral("tst_qvkctl");
        QTest::newRow("qvkctl") << QStringLiteral("qvkctl");
        QTest::newRow("app's executable") << QStringLiteral("VazizidADU");
    }

    void dataFolderIsTheApps()
    {
        QFETCH(QString, programName);
        QCoreApplication::setApplicationName(programName);
        QvkCtl::configureApplication();
        resetPathCaches();
        QCOMPARE(dataDirPath(), appDataFolder());
        QCOMPARE(iniFilePath(), appDataFolder() + "/VazizidADU.ini");
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");

        const QString d = QStringLiteral("/tmp/qvkctl-test-dest");
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"copy"} << "unknown command 'copy'";
        QTest::newRow("unknown option") << QStringList{"devices", "--verbose"} << "verbose";
        QTest::newRow("extra word") << QStringList{"devices", "now"} << "unexpected argument 'now'";
        QTest::newRow("settings alone") << QStringList{"settings"} << "read, save, reset";
        QTest::newRow("unknown settings word") << QStringList{"settings", "write", "--port", "P"}
                                               << "unknown command 'settings write'";
        QTest::newRow("port missing") << QStringList{"off"} << "'off' needs --port";
        QTest::newRow("port empty") << QStringList{"off", "--port", ""} << "--port needs a value";
        QTest::newRow("port twice")
            << QStringList{"off", "--port", "P", "--port", "Q"} << "--port given more than once";
        QTest::newRow("option of another command")
            << QStringList{"off", "--port", "P", "--dest", d} << "--dest does not apply to 'off'";
        QTest::newRow("export without destination")
            << QStringList{"data", "export", "--port", "P"} << "'data export' needs --dest";
        QTest::newRow("project leaving the destination")
            << QStringList{"data", "export", "--port", "P", "--dest", d, "--project", "../up"}
            << "--project '../up'";
        QTest::newRow("import without card 3")
            << QStringList{"import", "--card1", "a", "--card2", "b", "--dest", d}
            << "'import' needs --card3";
        QTest::newRow("one folder for two cards")
            << QStringList{"import", "--card1", "a", "--card2", "b/", "--card3", "./b", "--dest", d}
            << "three different folders";
        QTest::newRow("import project with a separator")
            << QStringList{"import", "--card1", "a", "--card2",   "b",  "--card3",
                           "c",      "--dest",  d,   "--project", "a/b"}
            << "--project 'a/b'";
        QTest::newRow("unknown template")
            << QStringList{"import", "--card1", "a", "--card2",    "b",          "--card3",
                           "c",      "--dest",  d,   "--template", "No Such Rig"}
            << "--template 'No Such Rig'";
        QTest::newRow("missing firmware file")
            << QStringList{"firmware", "--port", "P", "--file", "no-such-image.hex"}
            << "no such firmware file";
        QTest::newRow("prepare flag with a value")
            << QStringList{"prepare", "--card1", "a", "--card2", "b", "--card3", "c", "--erase=yes"}
            << "erase";

        // Settings to save are checked before the unit hears anything.
        const auto save = [](const QStringList& changes) {
            QStringList arguments = {"settings",
                                     "save",
                                     "--port",
                                     "P",
                                     "--date",
                                     "2021-03-04 05:06:07",
                                     "--rec-led",
                                     "1",
                                     "--video-interval",
                                     "1",
                                     "--photo-interval",
                                     "5",
                                     "--photo-timeout",
                                     "90",
                                     "--e1",
                                     "29"};
            for (int i = 0; i + 1 < changes.size(); i += 2)
                arguments[arguments.indexOf(changes.at(i)) + 1] = changes.at(i + 1);
            return arguments;
        };
        QTest::newRow("date without time") << save({"--date", "2021-03-04"}) << "--date";
        QTest::newRow("date beyond the unit's clock")
            << save({"--date", "2040-01-01 00:00:00"}) << "1970 to 2038";
        QTest::newRow("rec-led 2") << save({"--rec-led", "2"}) << "--rec-led must be 0 or 1";
        QTest::newRow("video interval too short")
            << save({"--video-interval", "0.1"}) << "--video-interval";
        QTest::newRow("video interval not a number")
            << save({"--video-interval", "1,5"}) << "--video-interval";
        QTest::newRow("photo interval too long")
            << save({"--photo-interval", "121"}) << "--photo-interval";
        QTest::newRow("photo timeout too short")
            << save({"--photo-timeout", "4.9"}) << "--photo-timeout";
        QTest::newRow("e1 not offered") << save({"--e1", "27"}) << "--e1 must be 26, 29 or 30";
        QStringList withoutE1 = save({});
        withoutE1.erase(withoutE1.end() - 2, withoutE1.end());
        QTest::newRow("save without e1") << withoutE1 << "'settings save' needs --e1";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);

        ControllerSimulator sim;
        QVERIFY(sim.start());
        arguments.replaceInStrings(QRegularExpression("^P$"), sim.portPath());
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.status, int(QvkCtl::UsageError));
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QVERIFY(outcome.out.isEmpty());
        QTest::qWait(50);
        QCOMPARE(sim.receivedCommands(), QStringList());
        QVERIFY(!QFileInfo::exists("/tmp/qvkctl-test-dest"));
    }

    void devicesListsConfiguredPort()
    {
        ControllerSimulator sim;
        QVERIFY(sim.start());
        // The app's settings file names the port; the unit is then reachable by that name.
        {
            QSettings settings(appDataFolder() + "/VazizidADU.ini", QSettings::IniFormat);
            settings.setValue("ExtraSerialPorts", sim.portPath());
        }
        const Outcome outcome = run({"devices"});
        QCOMPARE(outcome.status, 0);
        const QString line = sim.portPath() + "\tConfigured port\t" + sim.portPath() + "\t\t";
        QVERIFY2(outcome.out.split('\n').contains(line), qPrintable(outcome.out));

        const Outcome read = run({"settings", "read", "--port", sim.portPath()});
        QCOMPARE(read.status, 0);
        QVERIFY(read.out.startsWith("firmware=2.4.1\n"));
        QSettings(appDataFolder() + "/VazizidADU.ini", QSettings::IniFormat)
            .remove("ExtraSerialPorts");
    }

    void drivesAndTemplates()
    {
        QTemporaryDir volumes;
        const QString a = volumes.path() + "/a", b = volumes.path() + "/b";
        QVERIFY(QDir().mkpath(a) && QDir().mkpath(b));
        FolderVolumeProvider provider;
        provider.add(FolderVolumeProvider::folderVolume(b));
        provider.add(FolderVolumeProvider::folderVolume(a, "QVK_01"));
        Volumes::setProvider(&provider);

        Outcome outcome = run({"drives"});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out, a + "\tQVK_01\n" + b + "\t" + b + "\n");

        if (QDir(appDirPath() + "/templates").exists())
            QSKIP("an installed templates folder hides the user's");
        const QString templates = appDataFolder() + "/templates";
        QVERIFY(writeFile(templates + "/Rig.kava", "<kava/>"));
        QVERIFY(writeFile(templates + "/Wide.kava", "<kava/>"));
        outcome = run({"templates"});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out, templates + "/Wide.kava\tWide\n" + templates + "/Rig.kava\tRig\n");
        // A template named as the list shows it is taken: the import runs (and
        // refuses the missing cards) instead of failing on its arguments.
        outcome = run({"import", "--card1", "/no/card1", "--card2", "/no/card2", "--card3",
                       "/no/card3", "--dest", volumes.path() + "/dest", "--template", "Rig"});
        QCOMPARE(outcome.status, 1);
        QVERIFY(outcome.err.contains("[card 1] Error: Please choose source"));
        QVERIFY(QDir(templates).removeRecursively());
    }

    void settingsRead_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("finalText");
        const QString date = QDateTime::fromSecsSinceEpoch(1600000000)
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QTest::newRow("as the view gets them")
            << true << 0
            << "firmware=3.1.0\nbattery=100 %\ndate=" + date +
                   "\nrecLedOn=1\nvideoLoggingInterval=1.5\ntimelapseInterval=1\n"
                   "timelapseTimeout=90\ne1FirmwareVersion=29\n"
            << "Success. Settings read.";
        QTest::newRow("no such port")
            << false << 1 << QString() << "Error: Could not open port /dev/no-such-port.";
    }

    void settingsRead()
    {
        QFETCH(bool, reachable);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, finalText);

        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setFirmware("3.1.0");
        sim.setBattery(4.13);
        sim.setClock(1600000000);
        sim.setSettings(1, 1500, 1999, 90, 0);
        const QString port = reachable ? sim.portPath() : QStringLiteral("/dev/no-such-port");
        const Outcome outcome = run({"settings", "read", "--port", port});
        QCOMPARE(outcome.status, status);
        QCOMPARE(outcome.out, out);
        QVERIFY2(outcome.err.endsWith(finalText + "\n"), qPrintable(outcome.err));
    }

    // What `settings save` sets is what `settings read` prints: every option
    // reaches the unit in its own place.
    void settingsSaveRoundTrip_data()
    {
        QTest::addColumn<QStringList>("values"); // date, rec-led, video, photo, timeout, e1
        QTest::addColumn<QString>("expected");
        QTest::newRow("led off, quarter second")
            << QStringList{"2021-03-04 05:06:07", "0", "0.25", "7", "90.9", "26"}
            << "date=2021-03-04 05:06:07\nrecLedOn=0\nvideoLoggingInterval=0.25\n"
               "timelapseInterval=7\ntimelapseTimeout=90\ne1FirmwareVersion=26\n";
        QTest::newRow("upper limits")
            << QStringList{"2037-12-31 23:59:59", "1", "10", "120", "360", "30"}
            << "date=2037-12-31 23:59:59\nrecLedOn=1\nvideoLoggingInterval=10\n"
               "timelapseInterval=120\ntimelapseTimeout=360\ne1FirmwareVersion=30\n";
    }

    void settingsSaveRoundTrip()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, expected);

        ControllerSimulator sim;
        QVERIFY(sim.start());
        const Outcome save =
            run({"settings", "save", "--port", sim.portPath(), "--date", values.at(0), "--rec-led",
                 values.at(1), "--video-interval", values.at(2), "--photo-interval", values.at(3),
                 "--photo-timeout", values.at(4), "--e1", values.at(5)});
        QCOMPARE(save.status, 0);
        QVERIFY(save.err.endsWith("Success. Settings saved.\n"));
        QVERIFY(save.out.isEmpty());

        const Outcome read = run({"settings", "read", "--port", sim.portPath()});
        QCOMPARE(read.status, 0);
        QVERIFY2(read.out.endsWith(expected), qPrintable(read.out));
    }

    void portTasks_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("refusedCommand"); // answered with unrelated lines
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("finalText");
        QTest::addColumn<QByteArray>("sent");

        QTest::newRow("reset") << QStringList{"settings", "reset"} << QByteArray() << 0
                               << "Success. Controller reset." << QByteArray("PQVKFACTORYSETTINGS");
        QTest::newRow("erase") << QStringList{"data", "erase"} << QByteArray() << 0
                               << "Success. Memory erased." << QByteArray("PQVKFORMAT");
        QTest::newRow("off") << QStringList{"off"} << QByteArray() << 0
                             << "Success. Controller is off" << QByteArray("PQVKOFF");
        QTest::newRow("erase not confirmed")
            << QStringList{"data", "erase"} << QByteArray("PQVKFORMAT") << 1
            << "Error erasing memory: Communication error. Please try again."
            << QByteArray("PQVKFORMAT");
        QTest::newRow("off not confirmed")
            << QStringList{"off"} << QByteArray("PQVKOFF") << 1
            << "Error turning off: Communication error. Please try again." << QByteArray("PQVKOFF");
    }

    void portTasks()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, refusedCommand);
        QFETCH(int, status);
        QFETCH(QString, finalText);
        QFETCH(QByteArray, sent);

        ControllerSimulator sim;
        QVERIFY(sim.start());
        if (!refusedCommand.isEmpty())
            sim.setReply(refusedCommand, unrelatedLines());
        const Outcome outcome = run(arguments + QStringList{"--port", sim.portPath()});
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.endsWith(finalText + "\n"), qPrintable(outcome.err));
        QVERIFY(outcome.out.isEmpty());
        QVERIFY(sim.receivedCount(sent) >= 1);
        // Only `off` turns the unit off.
        QCOMPARE(sim.receivedCount("PQVKOFF") > 0, sent == "PQVKOFF");
    }

    void dataExport_data()
    {
        QTest::addColumn<int>("datasets");
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("countFails");
        QTest::addColumn<bool>("dropStart"); // records without their start record
        QTest::addColumn<int>("vanishAfter");
        QTest::addColumn<QString>("project");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("finalText");
        QTest::addColumn<int>("files");

        QTest::newRow("two datasets") << 2 << 3 << false << false << -1 << QString() << 0
                                      << "Wrote 8 records to 2 files in " << 2;
        QTest::newRow("project name") << 1 << 2 << false << false << -1 << "Reef" << 0
                                      << "Wrote 3 records to 1 files in " << 1;
        QTest::newRow("empty unit")
            << 0 << 0 << false << false << -1 << QString() << 0 << "No records available." << 0;
        // The task reports an empty unit also when it could not count.
        QTest::newRow("count not answered")
            << 2 << 3 << true << false << -1 << QString() << 1 << "No records available." << 0;
        // Records came but none could be written: no success.
        QTest::newRow("no start record") << 1 << 3 << false << true << -1 << QString() << 1
                                         << "Wrote 3 records to 0 files in " << 0;
        QTest::newRow("unit vanishes")
            << 2 << 50 << false << false << 5 << QString() << 1 << "Error reading data: " << 0;
    }

    void dataExport()
    {
        QFETCH(int, datasets);
        QFETCH(int, records);
        QFETCH(bool, countFails);
        QFETCH(bool, dropStart);
        QFETCH(int, vanishAfter);
        QFETCH(QString, project);
        QFETCH(int, status);
        QFETCH(QString, finalText);
        QFETCH(int, files);

        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setDatasets(datasets, records);
        if (dropStart)
            sim.setRecordLines(ControllerSimulator::datasetRecords(datasets, records).mid(1));
        sim.setVanishAfter(vanishAfter);
        if (countFails)
            sim.setReply("PQVKNUMDUMP", unrelatedLines());
        QTemporaryDir temp;
        const QString dest = temp.path() + "/exports/unit"; // does not exist yet
        QStringList arguments = {"data", "export", "--port", sim.portPath(), "--dest", dest};
        if (!project.isEmpty())
            arguments << "--project" << project;

        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.status, status);
        // The task's last report, before any closing word of qvkctl's own.
        QStringList reports = outcome.err.split('\n', Qt::SkipEmptyParts);
        while (!reports.isEmpty() && reports.last().startsWith("qvkctl: "))
            reports.removeLast();
        QVERIFY2(!reports.isEmpty() && reports.last().startsWith(finalText),
                 qPrintable(outcome.err));
        const QString prefix =
            project.isEmpty() ? "vazizidadu_*.csv" : "vazizidadu_" + project + "_*.csv";
        QCOMPARE(QDir(dest).entryList({prefix}, QDir::Files).size(), files);
        QCOMPARE(QDir(dest).entryList(QDir::Files).size(), files);
        QCOMPARE(QFileInfo::exists(dest), files > 0); // no empty folder left behind
        QVERIFY(sim.receivedCount("PQVKOFF") == 0);
    }

    void import_data()
    {
        QTest::addColumn<QString>("card3");    // "" for a good card
        QTest::addColumn<bool>("blockedDest"); // a file where the copies' folder must go
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("card3Final");
        QTest::addColumn<bool>("logCopied");

        QTest::newRow("three cards")
            << QString() << false << 0 << "Copied 1/1 videos and 1/1 photos." << true;
        QTest::newRow("card 3 missing")
            << "/no/such/card" << false << 1 << "Error: Please choose source" << false;
        QTest::newRow("card 3 is the root")
            << "/" << false << 1 << "Error: Invalid source" << false;
        QTest::newRow("copies fail")
            << QString() << true << 1 << "Copied 0/1 videos and 0/1 photos." << true;
    }

    void import()
    {
        QFETCH(QString, card3);
        QFETCH(bool, blockedDest);
        QFETCH(int, status);
        QFETCH(QString, card3Final);
        QFETCH(bool, logCopied);

        QTemporaryDir temp;
        QStringList cards;
        for (int n = 1; n <= 3; ++n) {
            cards << temp.path() + QStringLiteral("/card%1").arg(n);
            makeCard(cards.last(), n);
        }
        if (!card3.isEmpty())
            cards[2] = card3;
        const QString dest = temp.path() + "/dest";
        if (blockedDest)
            QVERIFY(writeFile(dest + "/DCIM", "not a folder"));

        const Outcome outcome = run({"import", "--card1", cards[0], "--card2", cards[1], "--card3",
                                     cards[2], "--dest", dest},
                                    true);
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.contains("[card 3] " + card3Final + "\n"), qPrintable(outcome.err));
        QVERIFY(outcome.err.contains("[card 1] Copying " + cards[0]));
        QVERIFY(outcome.out.isEmpty());
        if (!blockedDest) {
            QVERIFY(QFileInfo::exists(dest + "/DCIM/100QVK/QVK0001_cam1.MOV"));
            QVERIFY(QFileInfo::exists(dest + "/DCIM/100QVK/QVK0002_cam2.JPG"));
        }
        // The log copied is this run's own, never the app's.
        const QByteArray log = readFile(dest + "/VazizidADU.log");
        QCOMPARE(!log.isEmpty(), logCopied);
        if (logCopied) {
            QVERIFY(log.contains("qvkctl start"));
            QVERIFY(log.contains("Command:"));
        }
    }

    void prepare_data()
    {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<bool>("card3IsVolume");
        QTest::addColumn<qint64>("card3Size");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("finalText"); // of every card, when prepared
        QTest::addColumn<bool>("oldFileKept");

        const qint64 limit = 137438953472LL;
        QTest::newRow("markers only") << QStringList{} << true << limit << 0 << "No action" << true;
        QTest::newRow("erase and configure") << QStringList{"--erase", "--sync-config"} << true
                                             << limit << 0 << "Erased and prepared." << false;
        QTest::newRow("card 3 too large")
            << QStringList{} << true << limit + 1 << 1 << QString() << true;
        QTest::newRow("card 3 not a volume")
            << QStringList{} << false << limit << 1 << QString() << true;
        // A wipe is refused before anything runs unless every card is a card volume.
        QTest::newRow("erase of a plain folder")
            << QStringList{"--erase"} << false << limit << 2 << QString() << true;
    }

    void prepare()
    {
        QFETCH(QStringList, flags);
        QFETCH(bool, card3IsVolume);
        QFETCH(qint64, card3Size);
        QFETCH(int, status);
        QFETCH(QString, finalText);
        QFETCH(bool, oldFileKept);

        QTemporaryDir temp;
        FolderVolumeProvider provider;
        QStringList cards;
        for (int n = 1; n <= 3; ++n) {
            cards << temp.path() + QStringLiteral("/card%1").arg(n);
            QVERIFY(writeFile(cards.last() + "/DCIM/old.MOV", "old"));
            if (n < 3 || card3IsVolume)
                provider.add(FolderVolumeProvider::folderVolume(cards.last(), QString(),
                                                                n == 3 ? card3Size : 1 << 30));
        }
        Volumes::setProvider(&provider);

        const Outcome outcome = run(
            QStringList{"prepare", "--card1", cards[0], "--card2", cards[1], "--card3", cards[2]} +
            flags);
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.out.isEmpty());
        for (int n = 1; n <= 3; ++n) {
            const QString card = cards[n - 1];
            QCOMPARE(QFileInfo::exists(card + "/DCIM/old.MOV"), oldFileKept);
            QCOMPARE(QFileInfo::exists(card + QStringLiteral("/QVK_0%1").arg(n)), status == 0);
            if (status == 0)
                QVERIFY2(
                    outcome.err.contains(QStringLiteral("[card %1] %2\n").arg(n).arg(finalText)),
                    qPrintable(outcome.err));
        }
    }

    // The real program: what a script sees.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "1.8.3\n";
        QTest::newRow("help of a command")
            << QStringList{"import", "--help"} << 0 << QvkCtl::usageText();
        QTest::newRow("usage error") << QStringList{"import", "--card1", "x"} << 2 << QString();
    }

    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        const Outcome outcome = runProcess(arguments);
        QCOMPARE(outcome.status, status);
        QCOMPARE(outcome.out, out);
    }

    void programHelpListsEveryCommand()
    {
        const Outcome outcome = runProcess({"--help"});
        QCOMPARE(outcome.status, 0);
        for (const QString& command : AllCommands)
            QVERIFY2(listsCommand(outcome.out, command), qPrintable(command));
    }

    // Relative paths are the caller's, and the log is this run's own, kept in
    // the app's user data folder beside the app's untouched log.
    void programImportsWithRelativePaths()
    {
        QTemporaryDir temp;
        for (int n = 1; n <= 3; ++n)
            makeCard(temp.path() + QStringLiteral("/card%1").arg(n), n);
        QVERIFY(writeFile(appDataFolder() + "/VazizidADU.log", "the app's last run\n"));

        Outcome outcome = runProcess({"import", "--card1", "card1", "--card2", "card2", "--card3",
                                      "./card3", "--dest", "out", "--project", "Reef"},
                                     temp.path());
        QCOMPARE(outcome.status, 0);
        QVERIFY(outcome.err.contains("[card 2] Copied 1/1 videos and 1/1 photos."));
        QVERIFY(QFileInfo::exists(temp.path() + "/out/DCIM/100QVK/QVK0001_Reef_cam3.MOV"));
        const QByteArray copied = readFile(temp.path() + "/out/VazizidADU.log");
        QVERIFY(copied.contains("Command:"));
        QVERIFY(copied.contains("Done."));
        QVERIFY(readFile(appDataFolder() + "/qvkctl.log").contains("Reef"));
        QCOMPARE(readFile(appDataFolder() + "/VazizidADU.log"), QByteArray("the app's last run\n"));

        // A second run starts a fresh log.
        outcome = runProcess({"drives"});
        QCOMPARE(outcome.status, 0);
        const QByteArray log = readFile(appDataFolder() + "/qvkctl.log");
        QVERIFY(log.contains("Command: \"drives\""));
        QVERIFY(!log.contains("Reef"));
    }

    void programFirmware_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("finalText");
        QTest::newRow("valid image")
            << QByteArray(":0400000001020304F2\n:00000001FF\n") << 0 << "Done";
        QTest::newRow("bad checksum")
            << QByteArray(":0400000001020304F3\n:00000001FF\n") << 1 << "Error updating firmware.";
    }

    void programFirmware()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, status);
        QFETCH(QString, finalText);
        if (!QFileInfo::exists(qEnvironmentVariable("PQVK_BUILD_DIR") + "/utilities"))
            QSKIP("no boot-loader stand-in in the build folder");
        QTemporaryDir temp;
        QVERIFY(writeFile(temp.path() + "/update.hex", image));
        const Outcome outcome =
            runProcess({"firmware", "--port", "COM3", "--file", "update.hex"}, temp.path());
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.err.contains("Firmware update started\n"));
        QVERIFY2(outcome.err.contains(finalText + "\n"), qPrintable(outcome.err));
    }
};

QTEST_GUILESS_MAIN(TestQvkCtl)
#include "tst_qvkctl.moc"
