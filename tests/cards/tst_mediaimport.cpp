#include "appcontroller.h"
#include "apppaths.h"
#include "testsupport.h"
#include "verifiedcopy.h"

#include <QDateTime>
#include <QDirIterator>
#include <QDomDocument>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

#include <algorithm>
#include <functional>

#include <sys/stat.h>

namespace {

struct Report
{
    int card, from, to, value;
    QString text;
};

// Collects the card reports (queued when a worker runs on the pool); the hook
// runs on each report of a worker called on this thread.
class Recorder : public QObject
{
    Q_OBJECT
public:
    QVector<Report> reports;
    std::function<void(const Report&)> hook;
    QVector<Report> ofCard(int card) const
    {
        QVector<Report> result;
        std::copy_if(reports.begin(), reports.end(), std::back_inserter(result),
                     [card](const Report& r) { return r.card == card; });
        return result;
    }

public slots:
    void record(QVariant card, QVariant from, QVariant to, QVariant value, QVariant text)
    {
        reports << Report{card.toInt(), from.toInt(), to.toInt(), value.toInt(), text.toString()};
        if (hook)
            hook(reports.last());
    }
};

QMutex logMutex;
QStringList logLines;

// Keeps the messages and appends them to the log file that a run copies.
void captureMessages(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&logMutex);
    logLines << message;
    QFile log(logFilePath());
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(message.toUtf8() + '\n');
}

QStringList logged()
{
    QMutexLocker lock(&logMutex);
    return logLines;
}

const QDateTime SourceTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);

// A card file with content of its own and an old modification time.
void writeCardFile(const QString& path, qint64 size = 1000)
{
    const QByteArray name = path.toUtf8();
    QVERIFY(
        TestSupport::writeFile(path, name.repeated(int(size / name.size()) + 1).left(int(size))));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(SourceTime, QFileDevice::FileModificationTime));
}

// Every file below `root`, hidden ones too, sorted.
QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

void runWorker(AppController& controller, int card, const QString& source, const QString& target,
               const QString& templatePath = QString(), const QString& project = QString())
{
    QVERIFY(QMetaObject::invokeMethod(&controller, "copyFilesWorker", Qt::DirectConnection,
                                      Q_ARG(int, card), Q_ARG(QString, source),
                                      Q_ARG(QString, target), Q_ARG(QString, templatePath),
                                      Q_ARG(QString, project)));
}

} // namespace

class TestMediaImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cardRun_data();
    void cardRun();
    void refusedInputs_data();
    void refusedInputs();
    void refusedCardEndsNoRun_data();
    void refusedCardEndsNoRun();
    void failedCopies_data();
    void failedCopies();
    void threeCardsOneProjectPerRecording();
    void templateWithoutKavaHasNoOwnImage();
    void nameTakenDuringTheCopy();
    void cardsRunTogetherOnASmallPool();

private:
    QTemporaryDir dir;
    AppController* controller = nullptr;
    Recorder* recorder = nullptr;
    QString card(int n) const { return dir.filePath(QStringLiteral("card%1").arg(n)); }
    QString destination() const { return dir.filePath(QStringLiteral("dest")); }
    void waitForRun()
    {
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
        QCoreApplication::processEvents();
    }
};

void TestMediaImport::initTestCase()
{
    QVERIFY(dir.isValid());
    setLogFilePath(dir.filePath(QStringLiteral("run.log")));
    qInstallMessageHandler(captureMessages);
}

void TestMediaImport::init()
{
    for (const QString& sub : QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QVERIFY(QDir(dir.filePath(sub)).removeRecursively());
    QFile::remove(logFilePath());
    QMutexLocker lock(&logMutex);
    logLines.clear();
    controller = new AppController;
    recorder = new Recorder;
    connect(controller, &AppController::updateCardProgress, recorder, &Recorder::record);
}

void TestMediaImport::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    VerifiedCopy::requestStop(false);
    delete recorder;
    delete controller;
}

void TestMediaImport::cardRun_data()
{
    QTest::addColumn<QStringList>("cardFiles");
    // "card file=copy": every file the destination must hold afterwards.
    QTest::addColumn<QStringList>("copies");
    QTest::addColumn<QString>("summary");

    QTest::newRow("two videos, a photo and an index file")
        << QStringList{"DCIM/100/V0001.MOV", "DCIM/100/V0002.MOV", "DCIM/100/P0001.JPG",
                       "MISC/index.dat"}
        << QStringList{"DCIM/100/V0001.MOV=DCIM/100/V0001_cam2.MOV",
                       "DCIM/100/V0002.MOV=DCIM/100/V0002_cam2.MOV",
                       "DCIM/100/P0001.JPG=DCIM/100/P0001_cam2.JPG"}
        << "Copied 2/2 videos and 1/1 photos.";
    QTest::newRow("lower-case media announced, not copied")
        << QStringList{"V0001.mov", "V0002.MOV", "P.jpg", "R.dng", "R.DNG"}
        << QStringList{"V0002.MOV=V0002_cam2.MOV", "R.DNG=R_cam2.DNG"}
        << "Copied 1/1 videos and 1/1 photos.";
    QTest::newRow("video two folders deep")
        << QStringList{"A/B/V.MOV"} << QStringList{"A/B/V.MOV=A/B/V_cam2.MOV"}
        << "Copied 1/1 videos and 0/0 photos.";
    QTest::newRow("empty card") << QStringList{} << QStringList{}
                                << "Copied 0/0 videos and 0/0 photos.";
}

// The reports of one card follow the walk: before file k (0, N + 1, k,
// "Copying"), after a good copy (0, N, k + 1), and the summary last.
void TestMediaImport::cardRun()
{
    QFETCH(QStringList, cardFiles);
    QFETCH(QStringList, copies);
    QFETCH(QString, summary);

    QVERIFY(QDir().mkpath(card(2)));
    for (const QString& f : cardFiles)
        writeCardFile(card(2) + '/' + f);

    runWorker(*controller, 2, card(2), destination());

    const QVector<Report> reports = recorder->ofCard(2);
    QCOMPARE(reports.size(), recorder->reports.size());
    const int n = cardFiles.size();
    int k = 0;
    QString current;
    for (int i = 0; i < reports.size() - 1; ++i) {
        const Report& r = reports[i];
        QCOMPARE(r.from, 0);
        if (r.text.startsWith(QLatin1String("Copying "))) {
            ++k;
            current = r.text.mid(8);
            QCOMPARE(r.to, n + 1);
            QCOMPARE(r.value, k);
        } else {
            QCOMPARE(r.text, QStringLiteral("Copied %1 correctly.").arg(current));
            QCOMPARE(r.to, n);
            QCOMPARE(r.value, k + 1);
        }
    }
    QCOMPARE(k, n);
    QCOMPARE(reports.size(), n + copies.size() + 1);
    const Report last = reports.last();
    QCOMPARE(QVector<int>({last.from, last.to, last.value}), QVector<int>({0, 1, 1}));
    QCOMPARE(last.text, summary);

    // The destination holds the copies and nothing else: no leftovers, no
    // lower-case media. Each copy is the source's bytes with its time.
    QStringList expected;
    for (const QString& pair : copies) {
        const QString from = card(2) + '/' + pair.section('=', 0, 0);
        const QString to = destination() + '/' + pair.section('=', 1);
        expected << pair.section('=', 1);
        QCOMPARE(TestSupport::readFile(to), TestSupport::readFile(from));
        QCOMPARE(QFileInfo(to).lastModified(), SourceTime);
    }
    expected.sort();
    QCOMPARE(filesBelow(destination()), expected);
    // The card is only read.
    for (const QString& f : cardFiles)
        QCOMPARE(QFileInfo(card(2) + '/' + f).lastModified(), SourceTime);
}

void TestMediaImport::refusedInputs_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("report");
    QTest::newRow("no destination") << ""
                                    << ""
                                    << "Error: Please choose destination";
    QTest::newRow("project leaving the folder") << "dest"
                                                << "../up"
                                                << "Error: Invalid project name";
    QTest::newRow("project with a colon") << "dest"
                                          << "C:x"
                                          << "Error: Invalid project name";
}

// A refused card gets one report, a warning, and nothing is written.
void TestMediaImport::refusedInputs()
{
    QFETCH(QString, target);
    QFETCH(QString, project);
    QFETCH(QString, report);
    writeCardFile(card(3) + "/DCIM/V.MOV");
    runWorker(*controller, 3, card(3), target.isEmpty() ? target : destination(), QString(),
              project);

    QCOMPARE(recorder->reports.size(), 1);
    const Report r = recorder->reports.first();
    QCOMPARE(QVector<int>({r.card, r.from, r.to, r.value}), QVector<int>({3, 0, 0, 0}));
    QCOMPARE(r.text, report);
    QVERIFY(logged().contains(QStringLiteral("\"Card 3: %1\"").arg(report.mid(7))));
    QVERIFY(!QFileInfo::exists(destination()));
}

void TestMediaImport::refusedCardEndsNoRun_data()
{
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("report");
    QTest::newRow("no card") << ""
                             << "Error: Please choose source";
    QTest::newRow("missing card") << "/nowhere/card"
                                  << "Error: Please choose source";
    QTest::newRow("slash") << "/"
                           << "Error: Invalid source";
    QTest::newRow("system root") << QDir::rootPath() << "Error: Invalid source";
}

// A refused card ends only its own worker; the run is then never complete:
// no "Done." and no log copy.
void TestMediaImport::refusedCardEndsNoRun()
{
    QFETCH(QString, refused);
    QFETCH(QString, report);
    writeCardFile(card(1) + "/DCIM/V.MOV");
    writeCardFile(card(3) + "/DCIM/V.MOV");

    controller->copyFiles(card(1), refused, card(3), destination(), QString(), QString());
    waitForRun();

    QCOMPARE(recorder->ofCard(2).size(), 1);
    QCOMPARE(recorder->ofCard(2).first().text, report);
    QVERIFY(logged().contains(QStringLiteral("\"Card 2: %1\"").arg(report.mid(7))));
    for (int n : {1, 3})
        QCOMPARE(recorder->ofCard(n).last().text,
                 QStringLiteral("Copied 1/1 videos and 0/0 photos."));
    QCOMPARE(filesBelow(destination()), QStringList({"DCIM/V_cam1.MOV", "DCIM/V_cam3.MOV"}));
    QCOMPARE(logged().count(QStringLiteral("\"Done.\"")), 0);
}

void TestMediaImport::failedCopies_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("report");
    const QString error = QStringLiteral("Error: Could not copy %1.");
    QTest::newRow("destination under a file") << "file" << error;
    QTest::newRow("source vanishes") << "vanish" << error;
    QTest::newRow("stopped mid-file") << "stop" << error;
    QTest::newRow("size differs") << "size"
                                  << "Warning: File size for %1 doesn't match after copy.";
}

// A copy that fails leaves no file under a final name, nor a temporary one,
// names card and file in the log and reports on the card's bar.
void TestMediaImport::failedCopies()
{
    QFETCH(QString, failure);
    QFETCH(QString, report);

    const QString video = card(1) + "/DCIM/V0001.MOV";
    QString target = destination();
    if (failure == QLatin1String("size")) {
        // A pseudo file claims to be empty but reads as text.
        QVERIFY(QDir().mkpath(card(1) + "/DCIM"));
        QVERIFY(QFile::link(QStringLiteral("/proc/self/status"), video));
    } else {
        // Three chunks: a stop comes after the first.
        writeCardFile(video, 3 * VerifiedCopy::ChunkSize);
    }
    if (failure == QLatin1String("file")) {
        QVERIFY(TestSupport::writeFile(destination() + "/plain", "x"));
        target = destination() + "/plain/dest";
    }
    recorder->hook = [&](const Report& r) {
        if (!r.text.startsWith(QLatin1String("Copying ")))
            return;
        if (failure == QLatin1String("vanish"))
            QFile::remove(video);
        if (failure == QLatin1String("stop"))
            VerifiedCopy::requestStop();
    };

    runWorker(*controller, 1, card(1), target);

    QCOMPARE(recorder->reports.size(), 3);
    const Report r = recorder->reports[1];
    QCOMPARE(QVector<int>({r.card, r.from, r.to, r.value}), QVector<int>({1, 0, 1, 2}));
    QCOMPARE(r.text, report.arg(video));
    QCOMPARE(recorder->reports[2].text, QStringLiteral("Copied 0/1 videos and 0/0 photos."));
    QVERIFY(!logged().filter(QStringLiteral("Card 1: ")).filter(video).isEmpty());
    QCOMPARE(filesBelow(destination()),
             failure == QLatin1String("file") ? QStringList{"plain"} : QStringList{});
}

// One recording on three cards: three distinct copies side by side and one
// stitching project that names them; the run ends with one "Done." and one
// log copy, which a second run keeps.
void TestMediaImport::threeCardsOneProjectPerRecording()
{
    const QString templatePath = dir.filePath(QStringLiteral("templates/Rig.kava"));
    QVERIFY(TestSupport::writeFile(
        templatePath, "<kava><videos><video file='a' dt='5'/><video file='b' dt='5'/>"
                      "<video file='c' dt='5'/></videos>"
                      "<pano><images><image><def filename='a'/></image>"
                      "<image><def filename='b'/></image><image><def filename='c'/></image>"
                      "</images></pano><output file='x'/></kava>"));
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("templates/Rig.jpg")), "preview"));
    for (int n = 1; n <= 3; ++n) {
        writeCardFile(card(n) + "/DCIM/100/V0001.MOV", 5000 + n);
        writeCardFile(card(n) + "/DCIM/100/P0001.JPG", 3000 + n);
    }

    const QString folder = destination() + "/DCIM/100/";
    for (int run = 1; run <= 2; ++run) {
        recorder->reports.clear();
        controller->copyFiles(card(1), card(2), card(3), destination(), templatePath,
                              QStringLiteral("Reef"));
        waitForRun();
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(recorder->ofCard(n).last().text,
                     QStringLiteral("Copied 1/1 videos and 1/1 photos."));
        QCOMPARE(logged().count(QStringLiteral("\"Done.\"")), run);
        if (run == 1) {
            QVERIFY(TestSupport::readFile(destination() + "/VazizidADU.log").contains("Done."));
            QVERIFY(TestSupport::writeFile(destination() + "/VazizidADU.log", "first run"));
        }
    }
    QCOMPARE(TestSupport::readFile(destination() + "/VazizidADU.log"), QByteArray("first run"));

    // First run: project names; second run: the collision form.
    const QString stems[] = {QStringLiteral("V0001_Reef"), QStringLiteral("V0001-1")};
    for (const QString& stem : stems) {
        for (int n = 1; n <= 3; ++n) {
            const QString copy = folder + stem + QStringLiteral("_cam%1.MOV").arg(n);
            QCOMPARE(TestSupport::readFile(copy),
                     TestSupport::readFile(card(n) + "/DCIM/100/V0001.MOV"));
            QCOMPARE(TestSupport::readFile(copy + ".jpg"), QByteArray("preview"));
        }
    }
    const QStringList projects =
        QDir(folder).entryList({QStringLiteral("*.kava"), QStringLiteral("*.pano")}, QDir::Files);
    QCOMPARE(projects.size(), 4); // two recordings, two photo sets
    for (const QString& project : projects) {
        QDomDocument doc;
        QVERIFY2(doc.setContent(TestSupport::readFile(folder + project)), qPrintable(project));
        // Every camera file a project names is a copy that exists.
        for (const QString& tag : {QStringLiteral("video"), QStringLiteral("def")}) {
            const QDomNodeList nodes = doc.elementsByTagName(tag);
            for (int i = 0; i < nodes.size(); ++i) {
                QString name = nodes.at(i).toElement().attribute(
                    tag == QLatin1String("video") ? "file" : "filename");
                QVERIFY2(QFileInfo::exists(folder + name),
                         qPrintable(project + QStringLiteral(" names ") + name));
            }
        }
    }
}

// A template named in upper case has no image of its own: the template itself
// must not become the copies' preview image.
void TestMediaImport::templateWithoutKavaHasNoOwnImage()
{
    const QString templatePath = dir.filePath(QStringLiteral("templates/Rig.KAVA"));
    QVERIFY(TestSupport::writeFile(templatePath, "<kava/>"));
    writeCardFile(card(1) + "/V.MOV");
    runWorker(*controller, 1, card(1), destination(), templatePath);
    QVERIFY(QFileInfo::exists(destination() + "/V_cam1.MOV"));
    QVERIFY(TestSupport::readFile(destination() + "/V_cam1.MOV.jpg") != "<kava/>");
}

// A name taken while the copy is under way is never replaced: the copy moves
// on to the next number. The source is a pipe, so the test decides when the
// copy ends.
void TestMediaImport::nameTakenDuringTheCopy()
{
    const QString source = dir.filePath(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(QFile::encodeName(source).constData(), 0600) == 0);
    const auto nameFor = [this](int n) {
        return destination() + (n ? QStringLiteral("/V-%1.MOV").arg(n) : QStringLiteral("/V.MOV"));
    };
    QFuture<VerifiedCopy::Result> copy = QtConcurrent::run([&] {
        VerifiedCopy copier(source);
        copier.setVerifySize(false);
        return copier.copyToFreeName(nameFor);
    });
    QFile pipe(source);
    QVERIFY(pipe.open(QIODevice::WriteOnly)); // returns once the copy reads
    pipe.write("new");
    QVERIFY(TestSupport::writeFile(nameFor(0), "first"));
    pipe.close();

    const VerifiedCopy::Result result = copy.result();
    QCOMPARE(int(result.outcome), int(VerifiedCopy::Outcome::Copied));
    QCOMPARE(result.number, 1);
    QCOMPARE(TestSupport::readFile(nameFor(0)), QByteArray("first"));
    QCOMPARE(TestSupport::readFile(nameFor(1)), QByteArray("new"));
    QCOMPARE(filesBelow(destination()), QStringList({"V-1.MOV", "V.MOV"}));
}

// The three cards are read at the same time even when the pool has fewer
// threads: card 1 waits in its first report until card 3 has started.
void TestMediaImport::cardsRunTogetherOnASmallPool()
{
    for (int n = 1; n <= 3; ++n)
        writeCardFile(card(n) + "/V.MOV");
    QSemaphore card3Started;
    bool together = false;
    connect(
        controller, &AppController::updateCardProgress, controller,
        [&](QVariant card, QVariant, QVariant, QVariant, QVariant text) {
            if (!text.toString().startsWith(QLatin1String("Copying ")))
                return;
            if (card.toInt() == 3)
                card3Started.release();
            if (card.toInt() == 1)
                together = card3Started.tryAcquire(1, 10000);
        },
        Qt::DirectConnection);
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    controller->copyFiles(card(1), card(2), card(3), destination(), QString(), QString());
    waitForRun();
    QThreadPool::globalInstance()->setMaxThreadCount(threads);
    QVERIFY(together);
    QCOMPARE(logged().count(QStringLiteral("\"Done.\"")), 1);
}

QTEST_GUILESS_MAIN(TestMediaImport)
#include "tst_mediaimport.moc"
