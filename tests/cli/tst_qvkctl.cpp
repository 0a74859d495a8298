#include "base/apppaths.h"
#include "cards/importledger.h"
#include "cards/volumes.h"
#include "cli/qvkctl.h"
#include "settings/unitsettings.h"
#include "simulator/controllersimulator.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

using Outcome = TestSupport::ProgramRun;

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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!dataHome.isEmpty())
        env.insert("XDG_DATA_HOME", dataHome);
    const QString completion =
        qEnvironmentVariable("PQVK_SOURCE_DIR") + "/packaging/qvkctl.bash-completion";
    QStringList list =
        TestSupport::runProgram("bash", {"-c", script, "bash", completion, line}, workingDir, env)
            .out.split('\n', Qt::SkipEmptyParts);
    list.sort();
    return list;
}

} // namespace

class TestQvkCtl : public QObject
{
    Q_OBJECT

    QTemporaryDir dataHome;              // the platform's data folder of every run
    std::unique_ptr<QTemporaryDir> tree; // the card tree's run, made once
    Outcome treeRun;

    void runCardTree()
    {
        tree.reset(new QTemporaryDir);
        QVERIFY(tree->isValid());
        const QString root = tree->path();
        const auto file = [&](const QString& path, const QByteArray& bytes = {}) {
            QVERIFY(writeFile(root + "/" + path, bytes.isEmpty() ? path.toUtf8() : bytes));
        };
        const auto link = [&](const QString& target, const QString& path) {
            QVERIFY(QFile::link(target, root + "/" + path));
        };
        const auto mode = [&](const QString& path, mode_t bits) {
            QCOMPARE(::chmod(QFile::encodeName(root + "/" + path).constData(), bits), 0);
        };
        for (const char* name : {"V0001.MOV", "V0002.mov", "P0002.Jpg", "P0003.dng", "._V0001.MOV"})
            file(QString("card1/DCIM/100QVK/") + name);
        for (int n = 1; n <= 3; ++n)
            file(QString("card%1/Reef.MOV.d/V0001.MOV").arg(n));
        for (const char* name : {"Locked/V0009.MOV", "NoSearch/V0010.MOV", "DCIM/100QVK/V0001.MOV",
                                 "DCIM/100QVK/V0003.MOV"})
            file(QString("card2/") + name);
        mode("card2/Locked", 0);
        mode("card2/NoSearch", 0444);
        mode("card2/DCIM/100QVK/V0003.MOV", 0);
        file("card3/DCIM/100QVK/V0001.MOV");
        file("photo.JPG", "a photo outside the card");
        const QByteArray latin1Name = QFile::encodeName(root) + "/card3/DCIM/100QVK/caf\xe9.MOV";
        const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::close(fd) == 0);
        QCOMPARE(
            ::mkfifo(QFile::encodeName(root + "/card3/DCIM/100QVK/F0001.MOV").constData(), 0644),
            0);
        link("/dev/zero", "card3/DCIM/100QVK/Z0001.MOV");
        link(root + "/card1/DCIM", "card3/Linked");
        link(root + "/gone", "card3/DCIM/100QVK/G0001.MOV");
        link(root + "/photo.JPG", "card3/DCIM/100QVK/L0001.JPG");
        // The unprivileged program's own folders.
        for (const char* folder : {"", "/out", "/data"}) {
            QVERIFY(QDir().mkpath(root + folder));
            QVERIFY(::chmod(QFile::encodeName(root + folder).constData(), 0777) == 0);
        }

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", root + "/data");
        environment.insert("LC_ALL", "C.UTF-8");
        treeRun = run(words("import --card1 card1 --card2 card2 --card3 card3 --dest out "
                            "--project Reef"),
                      root, environment, true);
    }

    // What QTemporaryDir cannot remove: a name it cannot represent, folders it cannot enter.
    void removeCardTree()
    {
        if (!tree)
            return;
        const QByteArray root = QFile::encodeName(tree->path());
        ::unlink(root + "/card3/DCIM/100QVK/caf\xe9.MOV");
        ::chmod(root + "/card2/Locked", 0755);
        ::chmod(root + "/card2/NoSearch", 0755);
        tree.reset();
    }
    QString appDataFolder() const { return dataHome.path() + QStringLiteral("/Pelorin QVK"); }

    // Three cards in `root`, each a photo and a sparse video (no space on the
    // card side) whose last bytes name its card.
    static bool makeCards(const QString& root, qint64 videoSize)
    {
        bool made = true;
        for (int n = 1; n <= 3; ++n) {
            const QString folder = root + QStringLiteral("/card%1/DCIM/100QVK/").arg(n);
            made &= writeFile(folder + "P0001.JPG", "photo " + QByteArray::number(n));
            QFile video(folder + "V0001.MOV");
            made &= video.open(QIODevice::WriteOnly) && video.resize(videoSize) &&
                    video.seek(videoSize - 5) &&
                    video.write(QByteArray::number(n).rightJustified(5, '-')) == 5;
        }
        return made;
    }

    // Starts the real program, holds it (SIGSTOP) once `midway` holds, and
    // checks again while it is held: its pid, 0 when it ended first.
    static pid_t holdWhen(QProcess& process, const QString& root, const QStringList& arguments,
                          const std::function<bool()>& midway)
    {
        process.setWorkingDirectory(root);
        process.start(TestSupport::builtProgram("qvkctl"), arguments);
        if (!process.waitForStarted())
            return 0;
        const pid_t pid = pid_t(process.processId());
        while (process.state() == QProcess::Running) {
            if (!midway()) {
                process.waitForFinished(1);
                continue;
            }
            ::kill(pid, SIGSTOP);
            if (midway())
                return pid;
            ::kill(pid, SIGCONT);
        }
        process.waitForFinished(-1);
        return 0;
    }

    // In this process, or the real program in `workingDir` (as "nobody" if
    // `unprivileged`): what a script sees.
    Outcome run(const QStringList& arguments, const QString& workingDir = {},
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                bool unprivileged = false)
    {
        Outcome outcome;
        if (workingDir.isEmpty()) {
            QTextStream out(&outcome.out), err(&outcome.err);
            QvkCtl ctl(out, err);
            ctl.setOwnLog(false);
            outcome.status = ctl.run(QStringList{QStringLiteral("qvkctl")} + arguments);
            return outcome;
        }
        return TestSupport::runProgram(TestSupport::builtProgram("qvkctl"), arguments, workingDir,
                                       environment, unprivileged);
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
    void cleanupTestCase() { removeCardTree(); }

    // `devices` lists the port the app's settings name; each listing prints
    // tab-separated fields, or with --json one document of the same.
    void listings()
    {
        // What a listing prints, or its status when that is not 0.
        const auto listed = [this](const QString& line) {
            const Outcome outcome = run(words(line));
            return outcome.status ? QString("status %1").arg(outcome.status) : outcome.out;
        };
        ControllerSimulator sim;
        QVERIFY(sim.start());
        const QString ini = appDataFolder() + "/VazizidADU.ini";
        QVERIFY(writeFile(ini, "[General]\nExtraSerialPorts=" + sim.portPath().toUtf8() + "\n"));
        const QString devices = listed("devices"), json = listed("devices --json");
        QVERIFY(QFile::remove(ini));
        const QString line = sim.portPath() + "\tConfigured port\t" + sim.portPath() + "\t\t";
        QVERIFY2(devices.split('\n').contains(line), qPrintable(devices));
        QJsonObject port; // the same fields as the line's
        for (const char* key : {"name", "description", "location", "manufacturer", "serial"})
            port[key] = line.section('\t', port.size(), port.size());
        QVERIFY2(QJsonDocument::fromJson(json.toUtf8()).array().contains(port), qPrintable(json));

        QTemporaryDir volumes;
        const QString a = volumes.filePath("a"), b = volumes.filePath("b");
        QVERIFY(QDir().mkpath(a) && QDir().mkpath(b));
        FolderVolumeProvider provider;
        provider.add(FolderVolumeProvider::folderVolume(b));
        provider.add(FolderVolumeProvider::folderVolume(a, "QVK_01"));
        Volumes::setProvider(&provider);
        QCOMPARE(listed("drives"), a + "\tQVK_01\n" + b + "\t" + b + "\n");
        QCOMPARE(QJsonDocument::fromJson(listed("drives --json").toUtf8()),
                 QJsonDocument(QJsonArray{QJsonObject{{"path", a}, {"name", "QVK_01"}},
                                          QJsonObject{{"path", b}, {"name", b}}}));

        if (QDir(appDirPath() + "/templates").exists())
            QSKIP("an installed templates folder hides the user's");
        const QString templates = appDataFolder() + "/templates";
        QVERIFY(writeFile(templates + "/Rig.kava", "<kava/>"));
        QVERIFY(writeFile(templates + "/Wide.kava", "<kava/>"));
        const QString listing = listed("templates");
        QVERIFY(QDir(templates).removeRecursively());
        QCOMPARE(listing, templates + "/Wide.kava\tWide\n" + templates + "/Rig.kava\tRig\n");
        QCOMPARE(listed("templates --json"), QString("[\n]\n")); // none: still a document
    }

    // Commands on the unit; "a && b" runs a, which must succeed, then b. A
    // usage error (2) reaches neither the unit nor the file system.
    void unitCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        // Standard output when it has '=', its JSON document when it is one, else a progress text.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fault"); // a line of the download garbled, the port held
        QTest::addColumn<int>("datasets");
        QTest::addColumn<int>("files"); // CSV files in the export folder
        const auto row = [](const char* name, const QString& line, int status, const QString& text,
                            const char* fault = "", int datasets = 0, int files = 0) {
            QTest::newRow(name) << line << status << text << QString(fault) << datasets << files;
        };
        // Every option reaches the unit in its own place.
        const QString save =
            "settings save --port P --date 2021-03-04_05:06:07 --rec-led 0 "
            "--video-interval 0.25 --photo-interval 7 --photo-timeout 90.9 --e1 26";
        row("settings save", save + " && settings read --port P", 0,
            "firmware=2.4.1\nbattery=100 %\ndate=2021-03-04 05:06:07\n"
            "recLedOn=0\nvideoLoggingInterval=0.25\ntimelapseInterval=7\ntimelapseTimeout=90\n"
            "e1FirmwareVersion=26\n");
        // As numbers and texts a script can take as they are; a failed read prints no document.
        row("settings as JSON", save + " && settings read --port P --json", 0,
            R"({"firmware": "2.4.1", "battery": "100 %", "date": "2021-03-04 05:06:07",
                "recLedOn": 0, "videoLoggingInterval": 0.25, "timelapseInterval": 7,
                "timelapseTimeout": 90, "e1FirmwareVersion": 26})");
        row("no such port, JSON", "settings read --port /dev/no-such-port --json", 1,
            "Could not open port");
        // Named as in use, not as missing, and the other program's erase goes on.
        row("port held by another program", "settings read --port P", 1,
            "Error: Could not open port @. It is in use by another program.", "held");
        row("settings reset", "settings reset --port P", 0, "Success. Controller reset.");
        // The unit's records are erased only once an export saved them all.
        row("data erase, records never exported", "data erase --port P", 1,
            "Error: The unit holds 8 records that no complete export has saved. Export them "
            "first.",
            "", 2);
        row("off", "off --port P", 0, "Success. Controller is off");
        const QString exportLine = "data export --port P --dest D --project Reef";
        const auto usage = [&](const QString& line, const QString& message) {
            row(qPrintable(message), line, 2, message);
        };
        usage("copy", "unknown command 'copy'");
        usage("devices --verbose", "verbose");
        usage("devices now", "unexpected argument 'now'");
        usage("off", "'off' needs --port");
        usage("off --port P --port Q", "--port given more than once");
        usage("off --port P --dest D", "--dest does not apply to 'off'");
        usage("data export --port P --dest D --project ../up", "'../up'");
        usage("import --card1 a --card2 b/ --card3 ./b --dest D", "three different folders");
        usage("import --card1 a --card2 b --card3 c --dest D --template No_Such_Rig",
              "--template 'No Such Rig'");
        usage("firmware --port P --file no-such-image.hex", "no such firmware file");
        usage("prepare --card1 a --card2 b --card3 c --force", "--force applies to --erase only");
        usage("prepare --card1 a --card2 b --card3 c --erase --copies 4",
              "--copies must be a whole number from 1 to 3, not '4'");
        // Settings to save are checked before the unit hears anything.
        usage(QString(save).replace("2021-03-04_05:06:07", "2021-03-04"), "--date '2021-03-04'");
        usage(QString(save).replace("2021-03-04_05:06:07", "2040-01-01_00:00:00"), "1970 to 2038");
        usage(QString(save).replace("--e1 26", "--e1 27"), "--e1 must be 26, 29 or 30, not '27'");
        row("export", exportLine, 0, "Wrote 8 records to 2 files", "", 2, 2);
        // A download that stays damaged is kept in files named incomplete, and fails.
        row("export, damaged download", exportLine, 1,
            "Error: The download stayed incomplete (7 of 8 records arrived; 1 line with a bad "
            "checksum; record 3 missing)",
            "garble", 2, 2);
    }

    void unitCommands()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(QString, fault);
        QFETCH(int, datasets);
        QFETCH(int, files);
        ControllerSimulator sim;
        QVERIFY(sim.start());
        sim.setBattery(4.13);
        sim.setDatasets(datasets, 3);
        if (fault == "garble")
            sim.setDumpDamage({2}, {});
        QProcess other; // its erase, answered late, holds the port
        if (fault == "held") {
            sim.setAnswerDelay("PQVKFORMAT", 3000);
            other.start(TestSupport::builtProgram("qvkctl"),
                        {"data", "erase", "--port", sim.portPath()});
            QVERIFY(sim.waitForCommands(2, 20000)); // the init command and the erase
        }
        QTemporaryDir temp;
        const QString dest = temp.filePath("exports/unit"); // not there yet
        const QStringList commands = line.split(" && ");
        for (const QString& command : commands.mid(0, commands.size() - 1))
            QCOMPARE(run(words(command, sim.portPath(), dest)).status, 0);
        sim.clearReceived();
        text.replace('@', sim.portPath()); // the port held
        const Outcome outcome = run(words(commands.last(), sim.portPath(), dest));
        QCOMPARE(outcome.status, status);
        QVERIFY2(text.startsWith('{') ? QJsonDocument::fromJson(outcome.out.toUtf8()) ==
                                            QJsonDocument::fromJson(text.toUtf8())
                 : text.contains('=') ? outcome.out == text
                                      : outcome.out.isEmpty() && outcome.err.contains(text),
                 qPrintable(outcome.out + outcome.err));
        QCOMPARE(QDir(dest).entryList({"vazizidadu_Reef_*.csv"}, QDir::Files).size(), files);
        QCOMPARE(QFileInfo::exists(dest), files > 0); // no empty folder left behind
        QCOMPARE(sim.receivedCount("PQVKOFF") > 0, line.startsWith("off") && status != 2);
        if (fault == "held") {
            QCOMPARE(sim.receivedCount("PQVKVER"), 0);
            QVERIFY(other.waitForFinished(30000));
            QCOMPARE(other.exitCode(), 0);
        }
        if (status == int(QvkCtl::UsageError)) {
            QTest::qWait(50);
            QCOMPARE(sim.receivedCommands(), QStringList());
        }
    }

    // One import over three cards that hold every kind of entry it meets, run
    // as a user for whom file modes hold. Card 1 holds media in any case and is
    // complete; card 2 what that user cannot read; card 3 names, links and
    // files that are no regular files. Each row: what was kept, what was said
    // ("@" stands for the run's folder, "!" in front for never), the status.
    void cardTree_data()
    {
        QTest::addColumn<QString>("cardFile"); // below the run's folder
        QTest::addColumn<QString>("copy");     // below the destination; empty for none
        QTest::addColumn<QString>("said");
        const auto row = [](const char* name, const char* cardFile, const char* copy,
                            const char* said) {
            QTest::newRow(name) << QString(cardFile) << QString(copy) << QString(said);
        };
        row("another computer's file", "card1/DCIM/100QVK/._V0001.MOV", "", "!._V0001");
        row("card 1 complete", "", "", "[card 1] Copied 3/3 videos and 2/2 photos.\n");

        row("folder that cannot be listed", "card2/Locked/V0009.MOV", "",
            "[card 2] Error: @/card2/Locked cannot be listed: Permission denied");
        row("folder that cannot be searched", "card2/NoSearch/V0010.MOV", "",
            "[card 2] Error: @/card2/NoSearch/V0010.MOV cannot be opened: Permission denied");
        row("video that cannot be read", "card2/DCIM/100QVK/V0003.MOV", "",
            "[card 2] Error: Could not copy @/card2/DCIM/100QVK/V0003.MOV.");
        row("card 2 not complete", "", "",
            "[card 2] Copied 2/3 videos and 0/0 photos. 2 folders or files on the card could "
            "not be read.\n");

        row("name the encoding cannot represent", "card3/DCIM/100QVK/caf\\xe9.MOV", "",
            "[card 3] Error: @/card3/DCIM/100QVK/caf\\xe9.MOV has a name that the system's "
            "encoding cannot represent");
        row("FIFO", "card3/DCIM/100QVK/F0001.MOV", "",
            "[card 3] Error: Not a regular file: @/card3/DCIM/100QVK/F0001.MOV");
        row("link to /dev/zero", "card3/DCIM/100QVK/Z0001.MOV", "",
            "[card 3] Error: Not a regular file: @/card3/DCIM/100QVK/Z0001.MOV");
        row("link to a folder", "card3/Linked", "",
            "[card 3] Error: @/card3/Linked is a link to a folder; not followed");
        row("link that leads nowhere", "card3/DCIM/100QVK/G0001.MOV", "",
            "[card 3] Error: @/card3/DCIM/100QVK/G0001.MOV is a link that leads nowhere");
        row("link to a file", "card3/DCIM/100QVK/L0001.JPG", "DCIM/100QVK/L0001_Reef_cam3.JPG", "");
        row("card 3 not complete", "", "",
            "[card 3] Copied 2/4 videos and 1/1 photos. 3 folders or files on the card could "
            "not be read.\n");
    }

    void cardTree()
    {
        QFETCH(QString, cardFile);
        QFETCH(QString, copy);
        QFETCH(QString, said);
        if (!tree)
            runCardTree();
        const QString root = tree->path();
        const QString out = root + "/out/";
        QCOMPARE(treeRun.status, 1);
        said.replace("@", root);
        if (said.startsWith('!'))
            QVERIFY2(!treeRun.err.contains(said.mid(1)), qPrintable(treeRun.err));
        else
            QVERIFY2(treeRun.err.contains(said), qPrintable(treeRun.err));

        const QStringList kept = TestSupport::files(out); // hidden ones too
        QVERIFY2(kept.filter(".part").isEmpty(), qPrintable(kept.join(' ')));
        if (!copy.isEmpty()) {
            QVERIFY2(kept.contains(copy), qPrintable(kept.join(' ')));
            QCOMPARE(readFile(out + copy), readFile(root + "/" + cardFile));
        } else if (!cardFile.isEmpty()) { // no copy of it anywhere
            const QString stem = QFileInfo(cardFile).completeBaseName().section('\\', 0, 0);
            QVERIFY2(kept.filter(stem + "_Reef_cam").isEmpty(), qPrintable(kept.join(' ')));
        }
    }

    // SIGINT while a video's copy is surely under way: no unfinished file is
    // left, what was copied is complete, the summaries say what was not, status 1.
    void interruptedImport()
    {
        QTemporaryDir temp;
        const QString root = temp.path(), copies = root + "/out/DCIM/100QVK";
        constexpr qint64 videoSize = qint64(512) << 20;
        QVERIFY(makeCards(root, videoSize));
        const auto temporaries = [&] {
            return QDir(copies).entryList({".*.part"}, QDir::Files | QDir::Hidden);
        };
        QProcess process;
        const pid_t pid = holdWhen(
            process, root, words("import --card1 card1 --card2 card2 --card3 card3 --dest out"),
            [&] { return !temporaries().filter("V0001").isEmpty(); });
        if (!pid)
            QSKIP("every copy ended before the test could hold the program");
        ::kill(pid, SIGINT);
        ::kill(pid, SIGCONT);
        QVERIFY(process.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains("qvkctl: SIGINT: stopping;"), qPrintable(err));
        QCOMPARE(temporaries(), QStringList());
        // Each card: what it copied is complete, and its summary counts it.
        int stopped = 0;
        for (int n = 1; n <= 3; ++n) {
            const QString photo = copies + QStringLiteral("/P0001_cam%1.JPG").arg(n);
            const QString video = copies + QStringLiteral("/V0001_cam%1.MOV").arg(n);
            const bool photoKept = QFileInfo::exists(photo), videoKept = QFileInfo::exists(video);
            if (photoKept)
                QCOMPARE(readFile(photo), "photo " + QByteArray::number(n));
            if (videoKept)
                QCOMPARE(QFileInfo(video).size(), videoSize);
            const bool complete = photoKept && videoKept;
            stopped += !complete;
            const QString summary =
                QString::asprintf("[card %d] Copied %d/1 videos and %d/1 photos.%s\n", n, videoKept,
                                  photoKept, complete ? "" : " Import stopped.");
            QVERIFY2(err.contains(summary), qPrintable(summary + err));
        }
        QVERIFY(stopped > 0);
        QVERIFY(!QFileInfo::exists(root + "/out/VazizidADU.log")); // the run is not complete
    }

    void killedImports_data()
    {
        QTest::addColumn<QString>("type"); // of the destination's file system
        QTest::newRow("ext4") << "ext4";
        QTest::newRow("exFAT through FUSE") << "exfat";
        QTest::newRow("FAT32 through FUSE") << "fusefat";
        QTest::newRow("NTFS through FUSE") << "ntfs";
    }

    // Three exFAT cards imported into each kind of drive, SIGKILL at random
    // moments, each time run again with --skip-imported as the guide says: no
    // name ever holds less than a full copy, nothing is copied twice, times are
    // kept, the reference tool verifies the destination. PQVK_KILLS: kills per drive.
    void killedImports()
    {
        QFETCH(QString, type);
        if (!QFileInfo::exists(TestSupport::ascmhlTool()))
            QSKIP("the ASC's reference tool is missing");
        bool given = false;
        const int kills = qEnvironmentVariableIntValue("PQVK_KILLS", &given);
        QTemporaryDir temp;
        const QString root = temp.path(), dest = root + "/drive/out";
        LoopVolume cards[3], drive;
        QHash<QString, QString> sources; // a copy's name below the destination: its card file
        for (int n = 1; n <= 3; ++n) {
            const QString card = root + QStringLiteral("/card%1").arg(n);
            if (!cards[n - 1].mount(root + QStringLiteral("/card%1.img").arg(n), card, "exfat",
                                    QStringLiteral("QVK_0%1").arg(n), 16))
                SKIP_SAFETY(cards[n - 1].error());
            for (int f = 1; f <= 8; ++f) {
                const bool video = f % 4 == 0;
                const QString name =
                    QString::asprintf(video ? "DCIM/100QVK/V%04d.MOV" : "DCIM/100QVK/P%04d.JPG", f);
                QByteArray bytes(video ? 1500000 : 150000 + 1000 * f, char('a' + n));
                bytes.replace(0, 12, QByteArray::number(n * 100 + f).rightJustified(12));
                QVERIFY(writeFile(card + "/" + name, bytes));
                QFile written(card + "/" + name); // made well before the import
                QVERIFY(written.open(QIODevice::ReadWrite) &&
                        written.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(10, 0), Qt::UTC),
                                            QFileDevice::FileModificationTime));
                QString copy = name;
                copy.insert(copy.lastIndexOf('.'), QStringLiteral("_cam%1").arg(n));
                sources.insert(copy, card + "/" + name);
            }
        }
        if (!drive.mount(root + "/drive.img", root + "/drive", type, {}, 64))
            SKIP_SAFETY(drive.error());
        const QStringList import = words("import --card1 card1 --card2 card2 --card3 card3 "
                                         "--dest drive/out --skip-imported");
        // Every media file under a final name is a full copy of its card file.
        int k = -1;
        const auto onlyFullCopies = [&] {
            for (const QString& name : TestSupport::files(dest, "ascmhl")) {
                if (name.startsWith('.') || name.contains("/.") || name == "VazizidADU.log")
                    continue; // temporaries; the log
                QVERIFY2(sources.contains(name), qPrintable("not a copy's name: " + name));
                QVERIFY2(readFile(dest + "/" + name) == readFile(sources.value(name)),
                         qPrintable(
                             QStringLiteral("not a full copy after run %1: %2").arg(k).arg(name)));
            }
            for (const QString& manifest : QDir(dest + "/ascmhl").entryList(QDir::Files))
                QVERIFY2(QFileInfo(dest + "/ascmhl/" + manifest).size() > 0, qPrintable(manifest));
        };
        QRandomGenerator random(quint32(::getpid()));
        int killedMidway = 0;
        for (k = 0; k < (given ? kills : 20); ++k) {
            // Killed at a random moment once the destination changed: a
            // copy, its name, its row or the history under way.
            const int before = TestSupport::files(dest).size();
            QProcess process;
            const pid_t pid = holdWhen(process, root, import,
                                       [&] { return TestSupport::files(dest).size() != before; });
            if (pid && ::kill(pid, SIGCONT) == 0 &&
                !process.waitForFinished(random.bounded(0, 40))) {
                ::kill(pid, SIGKILL);
                ++killedMidway;
            }
            QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(60000));
            onlyFullCopies();
        }
        const Outcome rerun = run(import, root);
        QVERIFY2(rerun.status == 0, qPrintable(rerun.err));
        onlyFullCopies();
        QStringList copies = sources.keys();
        copies.sort();
        QStringList kept = TestSupport::files(dest, "ascmhl");
        kept.removeAll("VazizidADU.log");
        QCOMPARE(kept, copies);            // nothing twice, nothing left over
        for (const QString& copy : copies) // FAT keeps times in 2-second steps
            QVERIFY2(qAbs(QFileInfo(dest + "/" + copy)
                              .lastModified()
                              .secsTo(QFileInfo(sources.value(copy)).lastModified())) <= 2,
                     qPrintable(copy));
        QString output;
        QVERIFY2(TestSupport::ascmhlVerify(dest, &output) == 0, qPrintable(output));
        qInfo().noquote() << type << ":" << killedMidway << "of" << k << "runs killed midway";
    }

    // A second import into one FAT32 folder (times in 2-second steps) starts
    // while the first holds a temporary it has just made, not yet locked.
    void concurrentImportsIntoOneFatFolder()
    {
        QTemporaryDir temp;
        const QString root = temp.path(), dest = root + "/drive/out";
        QVERIFY(makeCards(root, 1 << 20));
        LoopVolume drive;
        if (!drive.mount(root + "/drive.img", root + "/drive", "fusefat", {}, 64))
            SKIP_SAFETY(drive.error());
        const QStringList import =
            words("import --card1 card1 --card2 card2 --card3 card3 --dest drive/out");
        QProcess first;
        QProcessEnvironment held = QProcessEnvironment::systemEnvironment();
        held.insert("LD_PRELOAD", PQVK_DELAY_CREATE);
        held.insert("PQVK_DELAY_MARK", root + "/created");
        held.insert("PQVK_DELAY_RELEASE", root + "/released");
        first.setProcessEnvironment(held);
        first.setWorkingDirectory(root);
        first.start(TestSupport::builtProgram("qvkctl"), import);
        QTRY_VERIFY2_WITH_TIMEOUT(
            QFileInfo::exists(root + "/created"),
            (first.errorString() + first.readAllStandardError()).toUtf8().constData(), 60000);
        QTest::qWait(1500); // the temporary's time is now over a second before the second run
        const Outcome second = run(import, root);
        QVERIFY(writeFile(root + "/released", {}));
        QVERIFY(first.waitForFinished(120000));
        QVERIFY2(first.exitCode() == 0 && second.status == 0,
                 first.readAllStandardError() + qPrintable(second.err));
        QCOMPARE(TestSupport::files(dest, "ascmhl").filter(".MOV").size(), 6); // each twice
        QString output;
        QVERIFY2(!QFileInfo::exists(TestSupport::ascmhlTool()) ||
                     TestSupport::ascmhlVerify(dest, &output) == 0,
                 qPrintable(output));
    }

    void recordKeeping_data()
    {
        QTest::addColumn<QString>("before"); // what happened before the import
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // on standard error
        QTest::newRow("killed, run again")
            << "killed" << 0 << "[card 3] Copied 1/1 videos and 1/1 photos.\n";
        QTest::newRow("killed, a copy changed since, run again")
            << "killed, changed" << 1
            << "Error: Could not complete the hash list: 1 of the copies in the destination "
               "changed since they were made";
        QTest::newRow("ledger held by another program")
            << "ledger held" << 1
            << "[card 2] Copied 1/1 videos and 1/1 photos. 2 copies could not be recorded.\n";
    }

    // A run killed midway (no history written) and run again with
    // --skip-imported ends with a history the reference tool verifies; a ledger
    // another program holds is waited for once, then the run goes on and fails.
    void recordKeeping()
    {
        QFETCH(QString, before);
        QFETCH(int, status);
        QFETCH(QString, said);
        if (!QFileInfo::exists(TestSupport::ascmhlTool()))
            QSKIP("the ASC's reference tool is missing");
        QTemporaryDir temp;
        const QString root = temp.path(), dest = root + "/out", copies = dest + "/DCIM/100QVK";
        constexpr qint64 videoSize = qint64(128) << 20;
        QVERIFY(makeCards(root, videoSize));
        const QString ledgerPath = appDataFolder() + "/imports.sqlite";
        ImportLedger ledger(ledgerPath);
        QStringList import = words("import --card1 card1 --card2 card2 --card3 card3 --dest out");
        if (before.startsWith("killed")) {
            // Killed once a copy took its name and its row in the ledger while
            // another is still being made.
            const auto midway = [&] {
                QStringList recorded;
                for (const LedgerEntry& row : ledger.copiesIn(dest))
                    recorded << QFileInfo(row.copyPath).fileName();
                recorded.sort();
                return !recorded.isEmpty() && recorded == QDir(copies).entryList(QDir::Files) &&
                       !QDir(copies).entryList({".*.part"}, QDir::Files | QDir::Hidden).isEmpty();
            };
            QProcess process;
            const pid_t pid = holdWhen(process, root, import, midway);
            if (!pid)
                QSKIP("the import ended before the test could kill it");
            ::kill(pid, SIGKILL);
            QVERIFY(process.waitForFinished(60000));
            QVERIFY(!QFileInfo::exists(dest + "/ascmhl"));
            if (before.endsWith("changed")) {
                QFile copy(ledger.copiesIn(dest).first().copyPath);
                QVERIFY(copy.open(QIODevice::ReadWrite) && copy.write("X") == 1);
            }
            import << "--skip-imported";
        }
        QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
        holder.setDatabaseName(ledgerPath);
        if (before == "ledger held")
            QVERIFY(holder.open() && QSqlQuery(holder).exec("BEGIN IMMEDIATE"));

        const Outcome outcome = run(import, root);

        holder.close();
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase("holder");
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.contains(said), qPrintable(outcome.err));
        for (int n = 1; n <= 3; ++n) {
            QCOMPARE(QFileInfo(copies + QStringLiteral("/V0001_cam%1.MOV").arg(n)).size(),
                     videoSize);
            QVERIFY(QFileInfo::exists(copies + QStringLiteral("/P0001_cam%1.JPG").arg(n)));
        }
        const bool changed = before.endsWith("changed");
        if (!changed) // nothing copied twice
            QCOMPARE(QDir(copies).entryList(QDir::Files).size(), 6);
        QString output; // the reference tool passes the destination unless a copy changed
        QVERIFY2((TestSupport::ascmhlVerify(dest, &output) == 0) == !changed, qPrintable(output));
    }

    // A wipe on real card volumes as a script runs it, after an import or none.
    void wipe_data()
    {
        QTest::addColumn<QString>("flags");  // "import" runs an import first
        QTest::addColumn<QString>("change"); // before the wipe
        QTest::addColumn<int>("status");     // 0: wiped
        QTest::addColumn<QStringList>("errText");
        const auto row = [](const char* name, const char* flags, const char* change, int status,
                            const QStringList& errText) {
            QTest::newRow(name) << QString(flags) << QString(change) << status << errText;
        };
        // Card 1 holds twelve videos and a photo: ten are named, the log has all.
        QStringList unlisted{"qvkctl: card 1: no verified copy of 13 media files:\n",
                             "  DCIM/100QVK/P0001.JPG\n"};
        for (int k = 1; k <= 9; ++k)
            unlisted << QString::asprintf("  DCIM/100QVK/V%04d.MOV\n", k);
        row("never imported: refused, ten files named", "", "", 1,
            unlisted + QStringList{"  ... and 3 more (see the log)\n",
                                   "[card 1] Error: 13 of 13 media files on card 1",
                                   "qvkctl: card 3: no verified copy of 1 media file:\n"
                                   "  DCIM/100QVK/V0001.MOV\n"});
        row("imported: wiped", "import --sync-config", "", 0, {"[card 2] Erased and prepared.\n"});
        row("imported once, two copies asked: refused", "import --copies 2", "", 1,
            {"qvkctl: card 2: fewer than 2 verified copies of 1 media file:\n"});
        row("a clip not imported: refused", "import", "clip", 1,
            {"qvkctl: card 2: 1 file that is not imported, wiped only with --force:\n"
             "  DCIM/100QVK/CLIP.MP4\n"});
        row("never imported, forced: wiped", "--force", "", 0,
            {"wiping without a verified copy: DCIM/100QVK/V0012.MOV", "[card 1] Erased\n"});
        row("card 2 a bind mount: refused", "--force", "bind", 1,
            {"a folder of another volume mounted here, not a whole file system"});
    }

    void wipe()
    {
        QFETCH(QString, flags);
        QFETCH(QString, change);
        QFETCH(int, status);
        QFETCH(QStringList, errText);
        QTemporaryDir temp;
        LoopVolume loops[3], bound;
        QFile::remove(ImportLedger::defaultPath());
        for (int n = 1; n <= 3; ++n) {
            const QString card = temp.filePath(QString("card%1").arg(n));
            if (n == 2 && change == "bind") {
                if (!loops[1].mount(temp.filePath("disk.img"), temp.filePath("disk")))
                    SKIP_SAFETY(loops[1].error());
                QVERIFY(QDir().mkpath(temp.filePath("disk/data")));
                if (!bound.bind(temp.filePath("disk/data"), card))
                    SKIP_SAFETY(bound.error());
            } else if (!loops[n - 1].mount(temp.filePath(QString("image%1").arg(n)), card)) {
                SKIP_SAFETY(loops[n - 1].error());
            }
            for (int k = 1; k <= (n == 1 ? 12 : 1); ++k)
                QVERIFY(writeFile(card + QString::asprintf("/DCIM/100QVK/V%04d.MOV", k), "video"));
            if (n == 1)
                QVERIFY(writeFile(card + "/DCIM/100QVK/P0001.JPG", "photo"));
        }

        QStringList prepare =
            words("prepare --card1 card1 --card2 card2 --card3 card3 --erase " + flags);
        if (prepare.removeAll("import")) {
            const Outcome imported = run(
                words("import --card1 card1 --card2 card2 --card3 card3 --dest out"), temp.path());
            QVERIFY2(imported.status == 0, qPrintable(imported.err));
        }
        if (change == "clip")
            QVERIFY(writeFile(temp.filePath("card2/DCIM/100QVK/CLIP.MP4"), "clip"));
        const Outcome outcome = run(prepare, temp.path());
        QCOMPARE(outcome.status, status);
        for (const QString& text : errText)
            QVERIFY2(outcome.err.contains(text), qPrintable(outcome.err));
        for (int n = 1; n <= 3; ++n) {
            const QString card = temp.filePath(QString("card%1").arg(n));
            QCOMPARE(QFileInfo::exists(card + "/DCIM/100QVK/V0001.MOV"), status != 0);
            QCOMPARE(QFileInfo::exists(card + QString("/QVK_0%1").arg(n)), status == 0);
        }
        if (change == "bind")
            QVERIFY(QFileInfo::exists(temp.filePath("disk/data/DCIM/100QVK/V0001.MOV")));
    }

    void completion_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("offered"); // sorted, separated by commas
        const auto row = [](const char* name, const char* line, const char* offered) {
            QTest::newRow(name) << QString(line) << QString(offered);
        };
        row("commands", "qvkctl ",
            "--help,--version,data,devices,drives,firmware,import,off,prepare,settings,templates");
        row("data, begun", "qvkctl data e", "erase,export");
        row("options not given yet", "qvkctl import --card1 a --dest b --",
            "--card2,--card3,--project,--skip-imported,--template");
        row("a flag takes no value", "qvkctl prepare --erase --",
            "--card1,--card2,--card3,--copies,--force,--reverify,--sync-config");
        // The choices the checks take, so the completion cannot drift from them.
        QStringList e1;
        for (int choice : UnitSettings::e1FirmwareVersion().choices)
            e1 << QString::number(choice);
        QTest::newRow("E1 firmware") << "qvkctl settings save --port P --e1 " << e1.join(',');
        row("folders", "qvkctl import --dest ", "cards");
        row("firmware files", "qvkctl firmware --file ", "cards,new.hex");
        row("templates by name and file", "qvkctl import --template ",
            "Rig,Wide Angle,cards,own.kava");
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

    // Relative paths are the caller's; standard error carries progress texts
    // and warnings, the info lines go to this run's own log, not the app's.
    void program_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errText");
        const QString import = "import --card1 card1 --card2 card2 --project Reef ";
        const auto row = [](const char* name, const QString& line, int status,
                            const QString& errText) {
            QTest::newRow(name) << line << status << errText;
        };
        row("firmware", "firmware --port COM3 --file good.hex", 0, "\nDone\n");
        row("bad firmware", "firmware --port COM3 --file bad.hex", 1,
            "Error updating firmware: line 1: checksum mismatch.\n");
        row("import", import + "--card3 ./card3 --dest out", 0,
            "[card 3] Copied 1/1 videos and 1/1 photos.\n");
        row("import, card 3 refused", import + "--card3 /no/card --dest out", 1,
            "[card 3] Error: Card 3: the folder /no/card is gone\n");
        // Every copy verified, but no other tool could check them.
        row("import, hash list cannot be written", import + "--card3 card3 --dest unlisted", 1,
            "] Error: Could not write the hash list: ");
        // Each card read once into both; complete only when both are.
        row("import into two destinations", import + "--card3 card3 --dest out --dest backup", 0,
            "; 1/1 videos and 1/1 photos to ");
        row("import, backup cannot be written",
            import + "--card3 card3 --dest out --dest unlisted/ascmhl/b", 1,
            "[card 3] Error: Could not copy ");
        // Refused before anything is copied.
        row("import, destination on a card", import + "--card3 card3 --dest card1/out", 2,
            "/card1/out lies on card 1 (");
    }

    void program()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, errText);
        QTemporaryDir temp;
        QVERIFY(makeCards(temp.path(), 5));
        QVERIFY(writeFile(temp.filePath("unlisted/ascmhl"), "not a folder"));
        QVERIFY(writeFile(temp.filePath("good.hex"), ":0400000001020304F2\n:00000001FF\n"));
        QVERIFY(writeFile(temp.filePath("bad.hex"), ":0400000001020304F3\n:00000001FF\n"));
        QVERIFY(writeFile(appDataFolder() + "/VazizidADU.log", "the app's last run\n"));

        const Outcome outcome = run(words(line), temp.path());
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.out.isEmpty());
        QVERIFY2(outcome.err.contains(errText), qPrintable(outcome.err));
        QVERIFY2(!outcome.err.contains(" Info: "), qPrintable(outcome.err));
        QCOMPARE(outcome.err.contains(" Warning: "), status == 1);
        QVERIFY(readFile(appDataFolder() + "/qvkctl.log").count("qvkctl start") <= 1); // fresh
        QCOMPARE(readFile(appDataFolder() + "/VazizidADU.log"), QByteArray("the app's last run\n"));
        if (status == 2 && line.startsWith("import")) // nothing made, nothing copied
            QVERIFY(!QFileInfo::exists(temp.filePath("out")) &&
                    !QFileInfo::exists(temp.filePath("card1/out")));
        if (status == 0 && line.startsWith("import")) {
            QVERIFY(QFileInfo::exists(temp.filePath("out/DCIM/100QVK/V0001_Reef_cam3.MOV")));
            QVERIFY(readFile(temp.filePath("out/VazizidADU.log")).contains("Command:"));
        }
    }
};

QTEST_GUILESS_MAIN(TestQvkCtl)
#include "tst_qvkctl.moc"
