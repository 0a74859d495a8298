#include "base/apppaths.h"
#include "cards/importledger.h"
#include "cards/medianaming.h"
#include "cards/mhlhistory.h"
#include "cards/verifiedcopy.h"
#include "controller/appcontroller.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

const QDateTime SourceTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);

// A stitching template with the parts the writers fill in.
const QByteArray Rig = "<kava><videos><video/><video/><video/></videos><pano><images>"
                       "<image><def/></image><image><def/></image><image><def/></image>"
                       "</images></pano><output/></kava>";

// A card file with content of its own and an old modification time.
void writeCardFile(const QString& path, int size = 1000, char fill = '.',
                   const QDateTime& time = SourceTime)
{
    QVERIFY(TestSupport::writeFile(path, path.toUtf8().leftJustified(size, fill, true)));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) &&
            file.setFileTime(time, QFileDevice::FileModificationTime));
}

// Every file below `root`, hidden ones too, sorted; the hash list history
// under "ascmhl/" left out.
QStringList filesBelow(const QString& root)
{
    return TestSupport::files(root, QStringLiteral("ascmhl"));
}

// Changes a written copy before it is read back, as a failing disk or cable would.
void damage(const QString& path, const QString& how)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    if (how == QLatin1String("cut short")) {
        QVERIFY(file.resize(file.size() / 2));
    } else {
        const qint64 at = file.size() / 3;
        QVERIFY(file.seek(at));
        char byte = 0;
        QVERIFY(file.getChar(&byte));
        QVERIFY(file.seek(at));
        QVERIFY(file.putChar(char(byte ^ 0x10)));
    }
}

// Rows of a "type" column: the file system a loop device holds.
void fileSystemRows(const QStringList& types)
{
    QTest::addColumn<QString>("type");
    for (const QString& type : types)
        QTest::newRow(qPrintable(type)) << type;
}

} // namespace

class TestMediaImport : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QThreadPool::globalInstance()->waitForDone();
        VerifiedCopy::requestStop(false);
        VerifiedCopy::setWrittenHook(nullptr);
        // A ledger of this case's copies only.
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(ImportLedger::defaultPath() + suffix);
        QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        setLogFilePath(dir->filePath(QStringLiteral("run.log")));
        qInstallMessageHandler(TestSupport::appendToLog); // the log a run copies
        reports.clear();
        ended.clear();
        onReport = nullptr;
        controller.reset(new AppController);
        const auto status = [](const QVariant& outcome) {
            return outcome.toMap().value(QStringLiteral("status")).toString();
        };
        connect(
            controller.get(), &AppController::cardOutcome, this,
            [=](QVariant n, QVariant outcome) { ended["card" + n.toString()] = status(outcome); });
        connect(controller.get(), &AppController::importOutcome, this,
                [=](QVariant outcome) { ended["import"] = status(outcome); });
        // Queued from the pool's threads, direct from a worker run on this thread.
        connect(controller.get(), &AppController::updateCardProgress, this,
                [this](QVariant n, QVariant from, QVariant to, QVariant value, QVariant text) {
                    reports << QStringLiteral("%1 %2 %3 %4 %5")
                                   .arg(n.toString(), from.toString(), to.toString(),
                                        value.toString(), text.toString());
                    if (onReport)
                        onReport(reports.last());
                });
    }

    void copyNames_data()
    {
        QTest::addColumn<QString>("cardFile"); // relative to the card
        QTest::addColumn<int>("card");
        QTest::addColumn<QString>("project");
        QTest::addColumn<int>("collision");
        QTest::addColumn<QString>("copy"); // relative to the destination
        QTest::addColumn<QString>("base"); // the recording's base path, likewise
        const auto row = [](const char* name, const char* file, int card, const QString& project,
                            int collision, const char* copy, const char* base) {
            QTest::newRow(name) << QString(file) << card << project << collision << QString(copy)
                                << QString(base);
        };
        row("project", "D/V.MOV", 2, "Reef", 0, "D/V_Reef_cam2.MOV", "D/V.MOV");
        row("collision 1, project", "D/V.MOV", 2, "Reef", 1, "D/V-1_cam2.MOV", "D/V-1.MOV");
        row("collision 2, no project", "D/P.JPG", 3, "", 2, "D/P-2_cam3.JPG", "D/P-2.JPG");
        row(".DNG photo", "D/P.DNG", 1, "Reef 2. day", 0, "D/P_Reef 2. day_cam1.DNG", "D/P.DNG");
        row("%1 in project name", "V.MOV", 2, "A%1%2", 0, "V_A%1%2_cam2.MOV", "V.MOV");
        // Extensions in any case, copied under the upper-case one; folders keep
        // their names, so the three cameras' copies meet in one folder.
        row("mixed-case .Jpg", "D/P0002.Jpg", 3, "", 1, "D/P0002-1_cam3.JPG", "D/P0002-1.JPG");
        row("lower-case .mov folder", "a.mov/V.mov", 2, "", 0, "a.mov/V_cam2.MOV", "a.mov/V.MOV");
        row("photo in a .JPG folder", "x.JPG/P.JPG", 1, QStringLiteral("Récif"), 0,
            "x.JPG/P_Récif_cam1.JPG", "x.JPG/P.JPG");
    }

    void copyNames()
    {
        QFETCH(QString, cardFile);
        QFETCH(int, card);
        QFETCH(QString, project);
        QFETCH(int, collision);
        QFETCH(QString, copy);
        QFETCH(QString, base);
        QVERIFY(MediaNaming::isValidProjectName(project));
        const QString ext = MediaNaming::mediaExtension(cardFile);
        const QString relative =
            MediaNaming::relativeTargetPath(QDir("/card"), "/card/" + cardFile, ext);
        QCOMPARE(MediaNaming::cameraCopyName(relative, ext, card, project, collision), copy);
        QCOMPARE(MediaNaming::basePath(relative, ext, collision), base);
    }

    void cardRun_data()
    {
        QTest::addColumn<QStringList>("cardFiles");
        QTest::addColumn<QStringList>("copies"); // all that the destination holds afterwards
        QTest::addColumn<int>("videos");
        QTest::addColumn<int>("photos");
        const auto row = [](const char* name, const QStringList& cardFiles,
                            const QStringList& copies, int videos, int photos) {
            QTest::newRow(name) << cardFiles << copies << videos << photos;
        };
        row("two videos, one two folders deep, a photo, an index file",
            {"A/B/V1.MOV", "A/V2.MOV", "A/P.JPG", "M/index.dat"},
            {"A/B/V1_cam2.MOV", "A/P_cam2.JPG", "A/V2_cam2.MOV"}, 2, 1);
        row("media in any case, copied under upper-case extensions",
            {"V1.mov", "V2.MOV", "P.jpg", "Q.Jpg", "R.dng", "R.DNG", "notes.txt"},
            {"P_cam2.JPG", "Q_cam2.JPG", "R-1_cam2.DNG", "R_cam2.DNG", "V1_cam2.MOV",
             "V2_cam2.MOV"},
            2, 4);
        row("empty card", {}, {}, 0, 0);
        row("no media, other files", {"MISC/index.dat", "DCIM/100QVK/V0001.MP4"}, {}, 0, 0);
    }

    // Before file k: (0, N + 1, k, "Copying"); after a good copy: (0, N + 2, k + 1).
    // Only the summary reaches its bound: the card shows busy until then. A card
    // without media is likely a wrong one: said, so that nobody wipes it as imported.
    void cardRun()
    {
        QFETCH(QStringList, cardFiles);
        QFETCH(QStringList, copies);
        QFETCH(int, videos);
        QFETCH(int, photos);
        QVERIFY(QDir().mkpath(card(2)));
        for (const QString& f : cardFiles)
            writeCardFile(card(2) + '/' + f);
        QList<QPair<qint64, qint64>> bytes; // copied, of all
        connect(controller.get(), &AppController::updateCardBytes, this,
                [&](QVariant n, QVariant copied, QVariant all) {
                    QCOMPARE(n.toInt(), 2);
                    bytes << qMakePair(copied.toLongLong(), all.toLongLong());
                });

        runWorker(2, destination());

        const int n = cardFiles.size();
        QCOMPARE(reports.size(), n + copies.size() + 1);
        int k = 0;
        QString file;
        for (const QString& r : reports.mid(0, reports.size() - 1)) {
            if (r.contains(QLatin1String(" Copying "))) {
                file = r.section(QLatin1String(" Copying "), 1);
                QCOMPARE(r, QStringLiteral("2 0 %1 %2 Copying ").arg(n + 1).arg(++k) + file);
            } else {
                QCOMPARE(r, QStringLiteral("2 0 %1 %2 Copied %3 correctly.")
                                .arg(n + 2)
                                .arg(k + 1)
                                .arg(file));
            }
            QVERIFY2(r.section(' ', 3, 3).toInt() < r.section(' ', 2, 2).toInt(), qPrintable(r));
        }
        QCOMPARE(k, n);
        QCOMPARE(reports.last(), QStringLiteral("2 0 1 1 Copied %1/%1 videos and %2/%2 photos.")
                                         .arg(videos)
                                         .arg(photos) +
                                     (copies.isEmpty() ? " No media found on card 2." : ""));
        QCOMPARE(ended.value("card2"), copies.isEmpty() ? "incomplete" : "succeeded");
        QVERIFY(!ended.contains("import")); // a run of one card never ends
        // Only the copies, with their sources' time.
        QCOMPARE(filesBelow(destination()), copies);
        for (const QString& copy : copies)
            QCOMPARE(QFileInfo(destination() + '/' + copy).lastModified(), SourceTime);
        // The media files' bytes: never backwards, the total known from the
        // start, reported before the card is done, the end at the total.
        const qint64 total = 1000 * (videos + photos);
        for (int k = 0; k < bytes.size(); ++k)
            QVERIFY(bytes[k].second == total && bytes[k].first >= (k ? bytes[k - 1].first : 0));
        QVERIFY(!total ||
                (bytes.size() > 1 && bytes.first().first < total && bytes.last().first == total));
    }

    void refusedCards_data()
    {
        QTest::addColumn<QString>("card2");
        QTest::addColumn<QString>("project");
        QTest::addColumn<QString>("report");
        const auto row = [](const char* name, const QString& card2, const char* project,
                            const char* report) {
            QTest::newRow(name) << card2 << QString(project) << QString(report);
        };
        row("no card", "", "", "Error: Please choose source");
        row("card folder gone", "gone", "", "Error: Card 2: the folder %1 is gone");
        row("slash, the system root", QDir::rootPath(), "", "Error: Invalid source");
        for (const char* project : {"../up", "a/b", "C:x", "a*?", "a\tb"})
            row(project, "card2", project, "Error: Invalid project name");
    }

    // A refused source stops only its own card; an invalid project name stops all.
    // The run is then never complete: no "Done." and no log copy.
    void refusedCards()
    {
        QFETCH(QString, card2);
        QFETCH(QString, project);
        QFETCH(QString, report);
        for (int n = 1; n <= 3; ++n)
            writeCardFile(card(n) + "/V.MOV");

        if (card2 == "gone")
            report.replace("%1", card2 = dir->filePath(card2));
        runAll(card2 == "card2" ? card(2) : card2, QString(), project);

        QStringList copies;
        for (int n = 1; n <= 3; ++n) {
            const QStringList mine =
                reports.filter(QRegularExpression(QStringLiteral("^%1 ").arg(n)));
            if (n == 2 || !project.isEmpty())
                QCOMPARE(mine, QStringList(QStringLiteral("%1 0 0 0 ").arg(n) + report));
            else
                copies << QStringLiteral("V_cam%1.MOV").arg(n);
        }
        QCOMPARE(filesBelow(destination()), copies);
        QCOMPARE(timesDone(), 0);
        QCOMPARE(ended.value("card2"), QStringLiteral("refused"));
        QCOMPARE(ended.value("import"), project.isEmpty() ? "incomplete" : "refused");
    }

    void refusedRuns_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("place"); // the card given as `path`, 0: the destination
        QTest::addColumn<QString>("path");
        const auto row = [](const char* name, const char* reason, int place = 0,
                            const char* path = "") {
            QTest::newRow(name) << QString(name) << QString(reason) << place << QString(path);
        };
        row("destination is a card", "The destination @/card2 lies on card 2 (@/card2)", 0,
            "@/card2");
        row("destination inside a card", "The destination @/card2/imports lies on card 2", 0,
            "@/card2/imports");
        row("destination through a link into a card",
            "The destination @/link/new lies on card 1 (@/card1)", 0, "@/link/new");
        row("card given twice through a link", "Cards 1 and 2 are the same folder (@/card1)", 2,
            "@/card1 again");
        row("card inside another", "Card 3 (@/card1/DCIM) lies inside card 1 (@/card1)", 3,
            "@/card1/DCIM");
        row("card given twice through a bind mount", "Cards 1 and 2 are the same folder (@/card1)",
            2, "@/bound");
        // exFAT finds a name in any case.
        row("card given twice in another case on exFAT",
            "Cards 1 and 2 are the same folder (@/card1/DCIM)", 2, "@/card1/dcim");
        row("destination on a card in another case on exFAT",
            "The destination @/card1/dcim/offload lies on card 1 (@/card1/DCIM)", 0,
            "@/card1/dcim/offload");
        row("template not readable", "Cannot read the template @/t/Rig.kava: ");
        row("template not XML", "The template @/t/Rig.kava is not a stitching template: ");
        row("template of another kind",
            "The template @/t/Rig.kava is not a stitching template: it holds <pano>, not <kava>");
        row("template is a FIFO", "Cannot read the template @/t/Rig.kava: not a file");
    }

    // Set-ups that can only go wrong: refused before anything is copied, the
    // reason on every card's bar and from the check a caller asks first.
    void refusedRuns()
    {
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        QFETCH(int, place);
        QFETCH(QString, path);
        const QString root = dir->path();
        reason.replace("@", root);
        LoopVolume volume;
        if (setup.endsWith("exFAT") && !volume.mount(dir->filePath("card.img"), card(1), "exfat"))
            SKIP_SAFETY(volume.error());
        for (int n = 1; n <= 3; ++n)
            writeCardFile(card(n) + "/DCIM/V.MOV");
        QStringList given = {destination(), card(1), card(2), card(3)};
        if (setup.endsWith("exFAT"))
            given[1] = card(1) + "/DCIM";
        if (!path.isEmpty())
            given[place] = path.replace("@", root);
        const QString rig = dir->filePath(QStringLiteral("t/Rig.kava"));
        QString templatePath;
        LoopVolume bound;
        if (setup.endsWith("bind mount")) {
            if (!bound.bind(card(1), root + "/bound"))
                SKIP_SAFETY(bound.error());
        } else
            templatePath = rig;
        QVERIFY(QFile::link(card(1), root + "/link"));
        QVERIFY(QFile::link(card(1), root + "/card1 again"));
        if (setup == "template not readable")
            QVERIFY(QDir().mkpath(dir->filePath("t")));
        else if (setup == "template not XML")
            QVERIFY(TestSupport::writeFile(rig, "<kava><videos></kava>"));
        else if (setup == "template of another kind")
            QVERIFY(TestSupport::writeFile(rig, "<pano/>"));
        else if (setup == "template is a FIFO")
            QVERIFY(QDir().mkpath(dir->filePath("t")) &&
                    ::mkfifo(QFile::encodeName(rig).constData(), 0600) == 0);
        const auto written = [&] {
            return filesBelow(root).filter(QRegularExpression("^(?!run\\.log$|card\\.img$)"));
        };
        const QStringList before = written();

        QVERIFY(controller->checkImportPaths(given[1], given[2], given[3], given[0], templatePath)
                    .startsWith(reason));
        // The window's question names the template itself and gives the reason alone.
        const QString templateReason = controller->checkTemplate(templatePath);
        QCOMPARE(templateReason.isEmpty(), templatePath.isEmpty());
        QVERIFY2(!templateReason.contains(rig), qPrintable(templateReason));
        controller->copyFiles(given[1], given[2], given[3], given[0], templatePath, QString());
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QCoreApplication::processEvents();

        QCOMPARE(reports.size(), 3);
        for (int n = 1; n <= 3; ++n) {
            const QString mine =
                reports.filter(QRegularExpression(QStringLiteral("^%1 ").arg(n))).value(0);
            QVERIFY2(mine.startsWith(QStringLiteral("%1 0 0 0 Error: ").arg(n) + reason),
                     qPrintable(mine));
        }
        QCOMPARE(written(), before); // nothing copied, nothing written
        QCOMPARE(timesDone(), 0);
        QCOMPARE(ended.value("import"), QStringLiteral("refused"));
    }

    // Card folders kept below the destination are imported: the copies land beside them.
    void cardsBelowDestination()
    {
        for (int n = 1; n <= 3; ++n)
            writeCardFile(card(n) + "/DCIM/V.MOV");
        QCOMPARE(controller->checkImportPaths(card(1), card(2), card(3), dir->path(), {}),
                 QString());
        runAll(card(2), {}, {}, false, dir->path());
        for (int n = 1; n <= 3; ++n)
            QVERIFY(QFileInfo(dir->filePath(QStringLiteral("DCIM/V_cam%1.MOV").arg(n))).isFile());
        QCOMPARE(timesDone(), 1);
    }

    // The template is read once for the run: a template that goes away after the
    // first copy still makes every recording's project, each naming its copies.
    void templateReadOncePerRun()
    {
        const QString rig = dir->filePath(QStringLiteral("t/Rig.kava"));
        QVERIFY(
            TestSupport::writeFile(rig, "<kava><videos><video/><video/><video/></videos></kava>"));
        const QStringList recordings = {"A/V0001.MOV", "B/V0002.MOV", "C/V0003.MOV"};
        for (const QString& recording : recordings)
            writeCardFile(card(1) + "/" + recording);
        onReport = [&](const QString& report) {
            if (report.contains(QLatin1String(" Copied ")))
                QFile::remove(rig);
        };

        runWorker(1, destination(), rig);

        QVERIFY(!QFileInfo::exists(rig));
        QCOMPARE(reports.last(), QStringLiteral("1 0 1 1 Copied 3/3 videos and 0/0 photos."));
        for (const QString& recording : recordings) {
            const QString project = QString(recording).replace(".MOV", "_autopano.kava");
            const QByteArray text = TestSupport::readFile(destination() + "/" + project);
            QVERIFY2(text.contains(QFileInfo(recording).baseName().toUtf8() + "_cam3.MOV"),
                     qPrintable(project));
        }
    }

    void staleTemporaries_data()
    {
        QTest::addColumn<QString>("file"); // below the destination; "@": its program's tag
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("removed");
        const auto row = [](const char* name, const char* file, const char* kind, bool removed) {
            QTest::newRow(name) << QString(file) << QString(kind) << removed;
        };
        row("left by a killed run", "DCIM/.V_cam1.MOV.@-k3j4h5.part", "ended", true);
        row("left beside the run's log", ".VazizidADU.log.@-zz9.part", "ended", true);
        // FAT keeps times in 2-second steps: only the program's lock tells.
        row("of a program at work, however old", "DCIM/.V_cam2.MOV.@-b2.part", "running", false);
        row("the user's own hidden file", "DCIM/.notes.part", "ended", false);
        row("upper case, not of that form", "DCIM/.V_cam1.MOV.@-K3J4.part", "ended", false);
        row("a link of that form", "DCIM/.V_cam1.MOV.@-c3.part", "link", false);
        row("in a folder the run does not write to", "Other/.V_cam1.MOV.@-d4.part", "ended", false);
    }

    // A run removes what copies of a killed run left where it writes, and
    // nothing else: never a file of a program that still runs, whatever its time.
    void staleTemporaries()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(bool, removed);
#ifdef PQVK_PORTABLE_COPY
        QSKIP("the Qt-only copy removes temporary files only where open files cannot be removed");
#endif
        writeCardFile(card(1) + "/DCIM/V.MOV");
        // Another program's lock, held here; an ended one's is gone.
        const QString tag = kind == "running" ? QStringLiteral("t3st%1").arg(::getpid(), 0, 36)
                                              : QStringLiteral("ended");
        const QString lockPath = QDir::tempPath() + "/pelorin-qvk-locks/run-" + tag + ".lock";
        QVERIFY(QDir().mkpath(QFileInfo(lockPath).path()));
        const int held = kind == "running" ? ::open(QFile::encodeName(lockPath).constData(),
                                                    O_RDWR | O_CREAT, 0666)
                                           : -1;
        if (kind == "running")
            QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        const QString path = destination() + "/" + QString(file).replace("@", tag);
        if (kind == "link")
            QVERIFY(QDir().mkpath(destination() + "/DCIM") &&
                    QFile::link(dir->filePath(QStringLiteral("outside")), path));
        else // an hour before the run
            writeCardFile(path, 1000, '.', QDateTime::currentDateTime().addSecs(-3600));

        runWorker(1, destination());
        if (held >= 0) {
            ::unlink(QFile::encodeName(lockPath).constData());
            ::close(held);
        }

        QCOMPARE(reports.last(), QStringLiteral("1 0 1 1 Copied 1/1 videos and 0/0 photos."));
        QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !removed);
        const QByteArray log = TestSupport::readFile(logFilePath());
        QCOMPARE(log.contains("Card 1: removed " + path.toUtf8() + ", left by an earlier run."),
                 removed);
    }

    void skipImported_data()
    {
        QTest::addColumn<QString>("change");    // between the first run and the second
        QTest::addColumn<bool>("skip");         // the second run skips what was imported
        QTest::addColumn<QStringList>("again"); // card files the second run copies
        QTest::addColumn<QStringList>("kept");  // the destination afterwards
        QTest::addColumn<QString>("why");       // the report's reason for copying again
        const QStringList first = {"A/P1_cam1.JPG", "A/V1_cam1.MOV", "A/V2_cam1.MOV"};
        const auto row = [&](const char* name, bool skip, const QStringList& again,
                             const QStringList& added, const char* why = "") {
            QStringList kept = first + added;
            kept.sort();
            QTest::newRow(name) << QString(name) << skip << again << kept << QString(why);
        };
        row("nothing changed", true, {}, {});
        row("a copy gone", true, {"A/V1.MOV"}, {}, "its copy is gone");
        row("a copy cut short", true, {"A/V1.MOV"}, {"A/V1-1_cam1.MOV"},
            "its copy changed since the import");
        row("a copy overwritten at its size", true, {"A/V1.MOV"}, {"A/V1-1_cam1.MOV"},
            "its copy changed since the import");
        row("a card file recorded anew under its name", true, {"A/V2.MOV"}, {"A/V2-1_cam1.MOV"},
            "it changed since the import");
        row("a card file changed at its size and time", true, {"A/V2.MOV"}, {"A/V2-1_cam1.MOV"},
            "its content changed since the import");
        // FAT keeps local times: a card read under another time zone.
        row("the card's times moved by 3 hours", true, {}, {});
        row("a card file's time moved by 90 minutes", true, {"A/V2.MOV"}, {"A/V2-1_cam1.MOV"},
            "it changed since the import");
        row("another destination", true, {"A/P1.JPG", "A/V1.MOV", "A/V2.MOV"}, {});
        row("not asked", false, {"A/P1.JPG", "A/V1.MOV", "A/V2.MOV"},
            {"A/P1-1_cam1.JPG", "A/V1-1_cam1.MOV", "A/V2-1_cam1.MOV"});
    }

    // A second run with skipImported copies only what has no intact copy in this
    // destination from the first; the rest is reported as already imported and
    // counted as copied.
    void skipImported()
    {
        QFETCH(QString, change);
        QFETCH(bool, skip);
        QFETCH(QStringList, again);
        QFETCH(QStringList, kept);
        QFETCH(QString, why);
        for (const char* file : {"A/V1.MOV", "A/V2.MOV", "A/P1.JPG"})
            writeCardFile(card(1) + "/" + file);
        QVERIFY(QDir().mkpath(card(2)) && QDir().mkpath(card(3)));
        runAll(card(2), QString(), QString());
        QVERIFY(reports.contains("1 0 1 1 Copied 2/2 videos and 1/1 photos."));

        QString target = destination();
        if (change == "a copy gone")
            QVERIFY(QFile::remove(destination() + "/A/V1_cam1.MOV"));
        else if (change == "a copy cut short")
            QVERIFY(QFile(destination() + "/A/V1_cam1.MOV").resize(10));
        else if (change == "a copy overwritten at its size")
            QVERIFY(
                TestSupport::writeFile(destination() + "/A/V1_cam1.MOV", QByteArray(1000, 'x')));
        else if (change == "a card file recorded anew under its name")
            writeCardFile(card(1) + "/A/V2.MOV", 2000);
        else if (change == "a card file changed at its size and time")
            writeCardFile(card(1) + "/A/V2.MOV", 1000, 'x');
        else if (change == "another destination")
            target = dir->filePath(QStringLiteral("elsewhere"));
        for (const char* file : {"A/V1.MOV", "A/V2.MOV", "A/P1.JPG"}) {
            const int shift =
                change == "the card's times moved by 3 hours" ? 3 * 3600
                : change.startsWith("a card file's time") && file[2] == 'V' && file[3] == '2'
                    ? 90 * 60
                    : 0;
            if (shift)
                writeCardFile(card(1) + "/" + file, 1000, '.', SourceTime.addSecs(shift));
        }
        reports.clear();
        runAll(card(2), QString(), QString(), skip, target);

        QCOMPARE(filesBelow(target).filter("_cam"), kept);
        QVERIFY(reports.contains("1 0 1 1 Copied 2/2 videos and 1/1 photos."));
        for (const char* file : {"A/V1.MOV", "A/V2.MOV", "A/P1.JPG"}) {
            const QString path = card(1) + "/" + file;
            const bool copied = again.contains(file);
            QCOMPARE(reports.filter(" Copied " + path + " correctly.").size(), int(copied));
            QCOMPARE(reports.filter(" Already imported " + path + ".").size(), int(!copied));
            QCOMPARE(reports.filter(" Copying again " + path + ": " + why + ".").size(),
                     int(copied && !why.isEmpty()));
        }
    }

    void failedCopies_data()
    {
        QTest::addColumn<QString>("failure");
        for (const char* failure :
             {"destination under a file", "source vanishes", "stopped mid-file", "size differs",
              "changed on its way to the disk"})
            QTest::newRow(failure) << QString(failure);
    }

    // A failed copy leaves no file under a final name, nor a temporary one, nor
    // a thumbnail or stitching project beside it, names card and file in the log
    // and reports on the card's bar.
    void failedCopies()
    {
        QFETCH(QString, failure);
        const QString rig = dir->filePath(QStringLiteral("t/Rig.kava"));
        QVERIFY(TestSupport::writeFile(rig, Rig));
        QVERIFY(TestSupport::writeFile(dir->filePath(QStringLiteral("t/Rig.jpg")), "preview"));
        const QString report = failure == "size differs"
                                   ? "Warning: File size for %1 doesn't match after copy."
                                   : "Error: Could not copy %1.";
        const QString video = card(1) + "/DCIM/V.MOV";
        if (failure == "size differs") { // a pseudo file claims to be empty but reads as text
            QVERIFY(QDir().mkpath(card(1) + "/DCIM"));
            QVERIFY(QFile::link(QStringLiteral("/proc/self/status"), video));
        } else {
            writeCardFile(video, 3 * VerifiedCopy::ChunkSize); // a stop comes after the first chunk
        }
        if (failure == "source vanishes")
            onReport = [&](const QString&) { QFile::remove(video); };
        if (failure == "stopped mid-file")
            onReport = [](const QString&) { VerifiedCopy::requestStop(); };
        QByteArray damaged;
        if (failure == "changed on its way to the disk")
            VerifiedCopy::setWrittenHook([&](const QString&, const QString& temp) {
                damage(temp, "flipped");
                damaged = TestSupport::readFile(temp);
            });

        runWorker(1, failure == "destination under a file" ? "/dev/null/dest" : destination(), rig);

        QCOMPARE(reports.size(), 3);
        QCOMPARE(reports[1], QStringLiteral("1 0 3 2 ") + report.arg(video));
        // A stop that cuts the last file short still says the import stopped.
        QCOMPARE(reports[2], QStringLiteral("1 0 1 1 Copied 0/1 videos and 0/0 photos.") +
                                 (failure == "stopped mid-file" ? " Import stopped." : ""));
        QCOMPARE(ended.value("card1"), failure == "stopped mid-file" ? "stopped" : "incomplete");
        const QStringList log = QString(TestSupport::readFile(logFilePath())).split('\n');
        const QStringList warnings = log.filter(QStringLiteral("Card 1: ")).filter(video);
        QVERIFY(!warnings.isEmpty());
        const QString& warning = warnings.last();
        QVERIFY2(damaged.isEmpty() || // both hashes named
                     (warning.contains(TestSupport::xxh64Of(TestSupport::readFile(video))) &&
                      warning.contains(TestSupport::xxh64Of(damaged))),
                 qPrintable(warning));
        QCOMPARE(TestSupport::files(destination()), QStringList());
        QCOMPARE(ImportLedger().copiesOfCard(CardIdentity::of(card(1))).size(), 0);
    }

    // A stop while card 1's later copies wait behind the one being verified:
    // those copies leave nothing behind, the one verified before keeps its
    // name, and the ledger and the hash list hold exactly the named copies.
    void stopWithCopiesQueued()
    {
        for (int n = 1; n <= 3; ++n) {
            for (int f = 1; f <= 5; ++f)
                writeCardFile(card(n) + QStringLiteral("/D/P%1.JPG").arg(f), 1000 + f);
        }
        VerifiedCopy::setWrittenHook([&](const QString& source, const QString&) {
            if (source != card(1) + "/D/P2.JPG")
                return;
            QElapsedTimer waited;
            waited.start();
            while (QDir(destination() + "/D")
                           .entryList({".*cam1*"}, QDir::Files | QDir::Hidden)
                           .size() < 4 &&
                   !waited.hasExpired(10000))
                QThread::msleep(1);
            VerifiedCopy::requestStop();
        });
        runAll(card(2), {}, {});

        // P2 read back in full or stopped, as the copy checks the stop.
        QCOMPARE(reports
                     .filter(QRegularExpression("^1 0 1 1 Copied 0/0 videos and [12]/5 photos. "
                                                "Import stopped.$"))
                     .size(),
                 1);
        QCOMPARE(ended.value("import"), QStringLiteral("stopped"));
        const QStringList named = filesBelow(destination());
        QVERIFY(named.contains("D/P1_cam1.JPG") && !named.contains("D/P3_cam1.JPG"));
        QSet<QString> recorded, listed;
        for (const QString& copy : named) {
            QVERIFY2(!copy.contains("/."), qPrintable(copy)); // no temporary left
            QCOMPARE(TestSupport::readFile(destination() + '/' + copy),
                     TestSupport::readFile(card(copy.at(copy.size() - 5).digitValue()) + "/D/" +
                                           copy.section('/', 1).remove(2, 5)));
        }
        for (const LedgerEntry& row : ImportLedger().copiesIn(destination()))
            recorded << QDir(destination()).relativeFilePath(row.copyPath);
        QVERIFY(MhlHistory(destination()).listedPaths(&listed));
        QCOMPARE(recorded, QSet<QString>(named.cbegin(), named.cend()));
        QCOMPARE(listed, recorded);
    }

    void twoDestinations_data()
    {
        QTest::addColumn<bool>("backupFull"); // a small drive that fills mid-run
        QTest::newRow("both complete") << false;
        QTest::newRow("backup full mid-run") << true;
    }

    // Each card file read once into two destinations: each holds verified
    // copies and a hash list the reference tool verifies; a backup drive that
    // fills up leaves only full copies there and the other destination complete.
    void twoDestinations()
    {
        QFETCH(bool, backupFull);
        if (!QFileInfo::exists(TestSupport::ascmhlTool()))
            QSKIP("the ASC's reference tool is missing");
        const QString backup = dir->filePath("backup");
        LoopVolume drive;
        if (backupFull && !drive.mount(dir->filePath("backup.img"), backup, "ext4", {}, 8))
            SKIP_SAFETY(drive.error());
        QStringList names;
        for (int n = 1; n <= 3; ++n) {
            for (int f = 1; f <= 3; ++f) {
                writeCardFile(card(n) + QStringLiteral("/D/V%1.MOV").arg(f), 1 << 20,
                              char('a' + f));
                names << QStringLiteral("D/V%1_cam%2.MOV").arg(f).arg(n);
            }
        }
        names.sort();
        controller->copyFilesTo({card(1), card(2), card(3)}, {destination(), backup}, {}, {});
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QCoreApplication::processEvents();

        QString output;
        QCOMPARE(filesBelow(destination()), QStringList(names + QStringList("VazizidADU.log")));
        QVERIFY2(TestSupport::ascmhlVerify(destination(), &output) == 0, qPrintable(output));
        const QStringList kept = filesBelow(backup).filter(QRegularExpression("^D/"));
        for (const QString& copy : kept) // only full copies, no temporary
            QCOMPARE(TestSupport::readFile(backup + '/' + copy),
                     TestSupport::readFile(card(copy.at(copy.size() - 5).digitValue()) + "/D/" +
                                           copy.mid(2, 2) + ".MOV"));
        QCOMPARE(ended.value("import") == "succeeded", !backupFull);
        const QString summary =
            QStringLiteral("1 0 1 1 Copied 3/3 videos and 0/0 photos to %1; ").arg(destination());
        QVERIFY(!reports.filter(summary).isEmpty());
        if (!backupFull) {
            QCOMPARE(kept, names);
            QVERIFY2(TestSupport::ascmhlVerify(backup, &output) == 0, qPrintable(output));
        } else {
            QVERIFY(kept.size() < names.size());
            QVERIFY(!reports.filter(QRegularExpression(" Error: Could not copy .* to " + backup))
                         .isEmpty());
        }
    }

    // One recording on three cards, read together even on a one-thread pool:
    // three distinct copies, one stitching project naming them, one "Done." and
    // one log copy per run; a second run keeps the first log copy. Each video's
    // thumbnail is its own template's preview image, also for a template named in
    // upper case and in a folder whose name holds ".kava".
    void threeCardsOneProjectPerRecording()
    {
        QVERIFY(TestSupport::writeFile(dir->filePath(QStringLiteral("x.kava/Rig.kava")), Rig));
        QVERIFY(TestSupport::writeFile(dir->filePath(QStringLiteral("x.kava/Rig.jpg")), "preview"));
        QVERIFY(TestSupport::writeFile(dir->filePath(QStringLiteral("x.kava/Rig2.KAVA")), Rig));
        QVERIFY(
            TestSupport::writeFile(dir->filePath(QStringLiteral("x.kava/Rig2.jpg")), "preview 2"));
        for (int n = 1; n <= 3; ++n) {
            writeCardFile(card(n) + "/Reef.MOV.d/V.MOV", 5000 + n);
            writeCardFile(card(n) + "/Reef.MOV.d/P.JPG", 3000 + n);
        }
        // Card 1 waits in each "Copying" report until card 3 has given as many.
        QSemaphore card3Copying;
        bool together = true;
        connect(
            controller.get(), &AppController::updateCardProgress, this,
            [&](QVariant card, QVariant, QVariant, QVariant, QVariant text) {
                if (!text.toString().startsWith(QLatin1String("Copying ")))
                    return;
                if (card.toInt() == 3)
                    card3Copying.release();
                if (card.toInt() == 1)
                    together = card3Copying.tryAcquire(1, 10000) && together;
            },
            Qt::DirectConnection);
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        const QString log = destination() + "/VazizidADU.log";
        runAll(card(2), dir->filePath(QStringLiteral("x.kava/Rig.kava")), QStringLiteral("Reef"));
        QVERIFY(TestSupport::readFile(log).contains("Done."));
        QVERIFY(TestSupport::writeFile(log, "first run"));
        runAll(card(2), dir->filePath(QStringLiteral("x.kava/Rig2.KAVA")), QStringLiteral("Reef"));
        QCOMPARE(timesDone(), 2);
        QCOMPARE(ended.value("import"), QStringLiteral("succeeded"));
        QCOMPARE(TestSupport::readFile(log), QByteArray("first run"));
        QVERIFY(together);

        const QString folder = destination() + "/Reef.MOV.d/";
        const QStringList projects = QDir(folder).entryList({"*.kava", "*.pano"}, QDir::Files);
        QCOMPARE(projects.size(), 4); // two recordings, two photo sets
        QByteArray named;
        for (const QString& project : projects)
            named += TestSupport::readFile(folder + project);
        // First run with the project name, the second in the collision form.
        for (const QString copyName :
             {"V_Reef_cam%1.MOV", "V-1_cam%1.MOV", "P_Reef_cam%1.JPG", "P-1_cam%1.JPG"}) {
            for (int n = 1; n <= 3; ++n) {
                const QString copy = copyName.arg(n);
                QVERIFY2(named.contains(copy.toUtf8()), qPrintable(copy));
                QCOMPARE(
                    TestSupport::readFile(folder + copy),
                    TestSupport::readFile(card(n) + "/Reef.MOV.d/" + copy.left(1) + copy.right(4)));
                const QByteArray preview = copy.startsWith("V_")    ? "preview"
                                           : copy.startsWith("V-1") ? "preview 2"
                                                                    : ""; // photos have none
                QCOMPARE(TestSupport::readFile(folder + copy + ".jpg"), preview);
            }
        }
    }

    void nameTakenDuringTheCopy_data()
    {
        QTest::addColumn<bool>("link"); // a link to a file outside takes the name
        QTest::newRow("file") << false;
        QTest::newRow("dangling link") << true;
    }

    // A name taken while the copy is under way is never replaced nor written
    // through: the copy moves on to the next number. The test holds a lease on
    // the source, so the copy waits in its opening, after it chose its name,
    // until the test has taken that name and lets go.
    void nameTakenDuringTheCopy()
    {
        QFETCH(bool, link);
        const QString outside = dir->filePath(QStringLiteral("outside"));
        const QString source = dir->filePath(QStringLiteral("source"));
        QVERIFY(TestSupport::writeFile(source, "new"));
        const auto nameFor = [this](int n) {
            return destination() +
                   (n ? QStringLiteral("/V-%1.MOV").arg(n) : QStringLiteral("/V.MOV"));
        };
        const auto previous = std::signal(SIGIO, SIG_IGN); // the lease holder's notice
        const int lease = ::open(QFile::encodeName(source).constData(), O_RDONLY);
        QVERIFY(lease >= 0);
        if (::fcntl(lease, F_SETLEASE, F_WRLCK) != 0) {
            ::close(lease);
            SKIP_SAFETY("this file system takes no leases");
        }
        QFuture<VerifiedCopy::Result> copy =
            QtConcurrent::run([&] { return VerifiedCopy(source).copyToFreeName(nameFor); });
        while (::fcntl(lease, F_GETLEASE) == F_WRLCK) // until the copy opens the source
            QThread::msleep(1);
        if (link)
            QVERIFY(QFile::link(outside, nameFor(0)));
        else
            QVERIFY(TestSupport::writeFile(nameFor(0), "first"));
        QCOMPARE(::fcntl(lease, F_SETLEASE, F_UNLCK), 0);
        ::close(lease);
        std::signal(SIGIO, previous);

        QCOMPARE(copy.result().number, 1);
        QCOMPARE(QFile::exists(outside), false);
        if (!link)
            QCOMPARE(TestSupport::readFile(nameFor(0)), QByteArray("first"));
        QCOMPARE(TestSupport::readFile(nameFor(1)), QByteArray("new"));
        QCOMPARE(filesBelow(destination()), QStringList({"V-1.MOV", "V.MOV"}));
    }

    void damagedCopyFailsTheRun_data()
    {
        QTest::addColumn<QString>("victim"); // the card file whose copy is damaged
        QTest::addColumn<QString>("how");
        QTest::newRow("card 2's video flipped") << QString("2/D/V.MOV") << QString("flipped");
        QTest::newRow("card 3's photo cut short") << QString("3/D/P.JPG") << QString("cut short");
    }

    // A copy changed between its write and its read-back is not kept under any
    // name and is not counted; every other copy is made and kept intact.
    void damagedCopyFailsTheRun()
    {
        QFETCH(QString, victim);
        QFETCH(QString, how);
        for (int n = 1; n <= 3; ++n) {
            writeCardFile(card(n) + "/D/V.MOV", VerifiedCopy::ChunkSize + 1000 * n);
            writeCardFile(card(n) + "/D/P.JPG", 3000 + n);
        }
        const QString victimPath = dir->filePath("card" + victim);
        VerifiedCopy::setWrittenHook([&](const QString& source, const QString& temp) {
            if (source == victimPath)
                damage(temp, how);
        });

        runAll(card(2), QString(), QString());

        const int victimCard = victim.left(1).toInt();
        const bool video = victim.endsWith(".MOV");
        QCOMPARE(reports.filter(QRegularExpression(QStringLiteral("^%1 0 4 [23] ").arg(victimCard)))
                     .filter(" Error: Could not copy " + victimPath + ".")
                     .size(),
                 1);
        for (int n = 1; n <= 3; ++n) {
            const bool hit = n == victimCard;
            QVERIFY(reports.contains(QStringLiteral("%1 0 1 1 Copied %2/1 videos and %3/1 photos.")
                                         .arg(n)
                                         .arg(hit && video ? 0 : 1)
                                         .arg(hit && !video ? 0 : 1)));
            QCOMPARE(ended.value(QStringLiteral("card%1").arg(n)),
                     hit ? "incomplete" : "succeeded");
        }
        QCOMPARE(ended.value("import"), QStringLiteral("incomplete"));
        QCOMPARE(timesDone(), 1);

        // Every other copy is there, equal to its card file; nothing else is.
        QStringList copies{"VazizidADU.log"};
        for (int n = 1; n <= 3; ++n) {
            for (const QString file : {"D/V.MOV", "D/P.JPG"}) {
                if (QStringLiteral("%1/%2").arg(n).arg(file) == victim)
                    continue;
                copies << QString(file).replace(".", QStringLiteral("_cam%1.").arg(n));
                QCOMPARE(TestSupport::readFile(destination() + "/" + copies.last()),
                         TestSupport::readFile(card(n) + "/" + file));
            }
        }
        copies.sort();
        QCOMPARE(filesBelow(destination()), copies);
    }

    void copiesKeepTheirTime_data()
    {
        fileSystemRows({"ext4", "exfat", "fusefat", "ntfs"});
    }

    // A copy carries its card file's time, as the drive keeps it after a remount.
    void copiesKeepTheirTime()
    {
        QFETCH(QString, type);
        const QString source = dir->filePath("V.MOV");
        const QDateTime recorded(QDate(2021, 3, 4), QTime(10, 0, 2), Qt::UTC);
        writeCardFile(source, 1000, '.', recorded);
        LoopVolume drive;
        if (!drive.mount(dir->filePath("drive.img"), dir->filePath("drive"), type))
            SKIP_SAFETY(drive.error());
        const VerifiedCopy::Result copied =
            VerifiedCopy(source).copyTo(dir->filePath("drive/V.MOV"));
        QCOMPARE(int(copied.outcome), int(VerifiedCopy::Outcome::Copied));
        drive.unmount();
        QVERIFY(drive.mountImage(dir->filePath("drive.img"), dir->filePath("drive"), type));
        QCOMPARE(QFileInfo(dir->filePath("drive/V.MOV")).lastModified().toUTC(), recorded);
    }

    void largeCopyReadBackBehindTheWriter_data()
    {
        fileSystemRows({"ext4", "exfat", "fusefat", "ntfs"});
    }

    // A large copy, read back range by range while it is written where the
    // drive allows it, is hashed whole, each byte once and in its place; a
    // copy of a few bytes reads back as written (not as what the driver holds
    // for the writer).
    void largeCopyReadBackBehindTheWriter()
    {
        QFETCH(QString, type);
        LoopVolume drive;
        if (!drive.mount(dir->filePath("drive.img"), dir->filePath("drive"), type, {}, 64))
            SKIP_SAFETY(drive.error());
        for (const int size : {int(3 * VerifiedCopy::ChunkSize + 4097), 5}) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (int i = 0; i < bytes.size(); ++i)
                bytes[i] = char(i / 4096 * 31 + i % 251); // no page like the next
            const QString source = dir->filePath(QStringLiteral("V%1.MOV").arg(size));
            QVERIFY(TestSupport::writeFile(source, bytes));
            const VerifiedCopy::Result copied =
                VerifiedCopy(source).copyTo(dir->filePath("drive/") + QFileInfo(source).fileName());
            QCOMPARE(int(copied.outcome), int(VerifiedCopy::Outcome::Copied));
            quint64 hash = 0;
            QVERIFY(VerifiedCopy::hashFile(source, &hash));
            QCOMPARE(copied.copyHash, hash);
        }
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<AppController> controller;
    QStringList reports;          // "card from to value text", in the order received
    QMap<QString, QString> ended; // "card1" to "card3" and "import": the outcome's status
    std::function<void(const QString&)> onReport;
    QString card(int n) const
    {
        return dir->filePath(QStringLiteral("card%1").arg(n));
    }
    // Its name holds the video extension: copies must still land inside it.
    QString destination() const
    {
        return dir->filePath(QStringLiteral("Dive.MOV"));
    }
    int timesDone() const
    {
        return TestSupport::readFile(logFilePath()).count("\"Done.\"\n");
    }
    void runWorker(int n, const QString& target, const QString& templatePath = QString())
    {
        QVERIFY(QMetaObject::invokeMethod(controller.get(), "copyFilesWorker", Q_ARG(int, n),
                                          Q_ARG(QString, card(n)), Q_ARG(QString, target),
                                          Q_ARG(QString, templatePath), Q_ARG(QString, {})));
    }
    void runAll(const QString& card2, const QString& templatePath, const QString& project,
                bool skipImported = false, const QString& target = QString())
    {
        controller->copyFiles(card(1), card2, card(3), target.isEmpty() ? destination() : target,
                              templatePath, project, skipImported);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(TestMediaImport)
#include "tst_mediaimport.moc"
