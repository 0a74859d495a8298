#include "base/apppaths.h"
#include "cards/volumes.h"
#include "cli/qvkctl.h"
#include "simulator/controllersimulator.h"
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

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
            {"data export --port P --dest /tmp/qvkctl-test-dest --project ../up", "'../up'"},
            {"import --card1 a --card2 b/ --card3 ./b --dest d", "three different folders"},
            {"import --card1 a --card2 b --card3 c --dest d --template No_Such_Rig",
             "--template 'No Such Rig'"},
            {"firmware --port P --file no-such-image.hex", "no such firmware file"},
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
    // `templates` print key and value, tab-separated.
    void listings()
    {
        ControllerSimulator sim;
        QVERIFY(sim.start());
        const QString ini = appDataFolder() + "/VazizidADU.ini";
        QVERIFY(writeFile(ini, "[General]\nExtraSerialPorts=" + sim.portPath().toUtf8() + "\n"));
        Outcome outcome = run({"devices"});
        QVERIFY(QFile::remove(ini));
        QCOMPARE(outcome.status, 0);
        const QString line = sim.portPath() + "\tConfigured port\t" + sim.portPath() + "\t\t";
        QVERIFY2(outcome.out.split('\n').contains(line), qPrintable(outcome.out));

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

        if (QDir(appDirPath() + "/templates").exists())
            QSKIP("an installed templates folder hides the user's");
        const QString templates = appDataFolder() + "/templates";
        QVERIFY(writeFile(templates + "/Rig.kava", "<kava/>"));
        QVERIFY(writeFile(templates + "/Wide.kava", "<kava/>"));
        outcome = run({"templates"});
        QVERIFY(QDir(templates).removeRecursively());
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.out, templates + "/Wide.kava\tWide\n" + templates + "/Rig.kava\tRig\n");
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
            QCOMPARE(run(words(command, sim.portPath())).status, 0);
        const Outcome outcome = run(words(commands.last(), sim.portPath(), dest));
        QCOMPARE(outcome.status, status);
        QVERIFY2(text.contains('=') ? outcome.out == text
                                    : outcome.out.isEmpty() && outcome.err.contains(text),
                 qPrintable(outcome.out + outcome.err));
        QCOMPARE(QDir(dest).entryList({"vazizidadu_Reef_*.csv"}, QDir::Files).size(), files);
        QCOMPARE(QFileInfo::exists(dest), files > 0); // no empty folder left behind
        QCOMPARE(sim.receivedCount("PQVKOFF") > 0, line.startsWith("off"));
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
        // A wipe reaches card volumes only: refused before anything runs.
        QTest::newRow("erase of a plain folder") << "--erase" << false << 2 << "" << false;
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
            QVERIFY(writeFile(arguments.last() + "/DCIM/old.MOV", "old"));
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
            QCOMPARE(QFileInfo::exists(card + "/DCIM/old.MOV"), status || !flags.contains("erase"));
            QCOMPARE(QFileInfo::exists(card + QStringLiteral("/QVK_0%1").arg(n)),
                     !finalText.isEmpty());
            QCOMPARE(outcome.err.contains(QStringLiteral("[card %1] %2\n").arg(n).arg(finalText)),
                     !finalText.isEmpty());
        }
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
};

QTEST_GUILESS_MAIN(TestQvkCtl)
#include "tst_qvkctl.moc"
