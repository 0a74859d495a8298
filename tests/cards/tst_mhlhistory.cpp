#include "base/apppaths.h"
#include "cards/mhlhistory.h"
#include "cards/verifiedcopy.h"
#include "controller/appcontroller.h"
#include "support/testsupport.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <sys/mount.h>
#include <xxhash.h>

#include <memory>

namespace {

using TestSupport::xxh64Of;

QString schemaFolder()
{
    return qEnvironmentVariable("PQVK_SOURCE_DIR") + QStringLiteral("/tests/cards/data/ascmhl");
}

// xmllint's verdict on `file` against one of the ASC's schemas; empty when valid.
QString schemaErrors(const QString& schema, const QString& file)
{
    const TestSupport::ProgramRun xmllint = TestSupport::runProgram(
        "xmllint", {"--noout", "--schema", schemaFolder() + '/' + schema, file});
    return xmllint.status == 0 ? QString() : xmllint.out + xmllint.err;
}

struct Recorded
{
    qint64 size = -1;
    QString modified;
    QString xxh64;
    QString action;
};

// path -> what one manifest records for it
QMap<QString, Recorded> readManifest(const QString& path)
{
    QDomDocument doc;
    QFile file(path);
    QMap<QString, Recorded> files;
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file, true))
        return files;
    const QDomNodeList hashes = doc.elementsByTagNameNS("urn:ASC:MHL:v2.0", "hash");
    for (int i = 0; i < hashes.size(); ++i) {
        const QDomElement hash = hashes.item(i).toElement();
        const QDomElement pathElement = hash.firstChildElement("path");
        const QDomElement xxh64 = hash.firstChildElement("xxh64");
        files.insert(pathElement.text(), {pathElement.attribute("size").toLongLong(),
                                          pathElement.attribute("lastmodificationdate"),
                                          xxh64.text(), xxh64.attribute("action")});
    }
    return files;
}

// Checks a folder's history as a verifier would: every manifest and the chain
// valid, every manifest's C4 ID as the chain says, every file below the folder
// (but `unclaimed`) recorded once with its size and its hash. Returns every
// manifest's records in generation order.
QVector<QMap<QString, Recorded>> verifyHistory(const QString& folder,
                                               const QStringList& unclaimed = {})
{
    QVector<QMap<QString, Recorded>> generations;
    MhlHistory history(folder);
    const QVector<MhlHistory::Generation> chain = history.generations();
    [&] {
        QVERIFY2(!chain.isEmpty(), qPrintable(history.errorString()));
        const QString chainErrors = schemaErrors("ASCMHLDirectory.xsd", history.chainPath());
        QVERIFY2(chainErrors.isEmpty(), qPrintable(chainErrors));
        QStringList manifests =
            QDir(history.historyPath()).entryList({"*.mhl"}, QDir::Files, QDir::Name);
        QCOMPARE(manifests.size(), chain.size());
        const QString name = QFileInfo(folder).fileName();
        QMap<QString, Recorded> all;
        for (int k = 0; k < chain.size(); ++k) {
            const MhlHistory::Generation& generation = chain[k];
            QCOMPARE(generation.number, k + 1);
            QCOMPARE(generation.manifest, manifests[k]);
            QVERIFY2(QRegularExpression(QStringLiteral("^%1_%2_\\d{4}-\\d\\d-\\d\\d_\\d{6}Z\\.mhl$")
                                            .arg(k + 1, 4, 10, QLatin1Char('0'))
                                            .arg(QRegularExpression::escape(name)))
                         .match(generation.manifest)
                         .hasMatch(),
                     qPrintable(generation.manifest));
            const QString path = history.historyPath() + '/' + generation.manifest;
            QCOMPARE(generation.c4, MhlHistory::c4Id(TestSupport::readFile(path)));
            const QString errors = schemaErrors("ASCMHL.xsd", path);
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
            const QByteArray text = TestSupport::readFile(path);
            QVERIFY(text.contains("<process>transfer</process>"));
            QVERIFY(text.contains(
                QStringLiteral("<tool version=\"%1\">VazizidADU</tool>").arg(AppVersion).toUtf8()));
            const QMap<QString, Recorded> files = readManifest(path);
            QVERIFY(!files.isEmpty());
            for (auto it = files.cbegin(); it != files.cend(); ++it) {
                QVERIFY2(!all.contains(it.key()), qPrintable(it.key()));
                all.insert(it.key(), it.value());
            }
            generations << files;
        }
        QStringList present = TestSupport::files(folder, "ascmhl");
        for (const QString& file : unclaimed)
            present.removeOne(file);
        QCOMPARE(QStringList(all.keys()), present);
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            const QByteArray bytes = TestSupport::readFile(folder + '/' + it.key());
            QCOMPARE(it.value().size, qint64(bytes.size()));
            QCOMPARE(it.value().xxh64, xxh64Of(bytes));
            QCOMPARE(it.value().action, QStringLiteral("original"));
            QCOMPARE(QDateTime::fromString(it.value().modified, Qt::ISODate).toSecsSinceEpoch(),
                     QFileInfo(folder + '/' + it.key()).lastModified().toSecsSinceEpoch());
        }
    }();
    return generations;
}

const QByteArray Rig = "<kava><videos><video/><video/><video/></videos><pano><images>"
                       "<image><def/></image><image><def/></image><image><def/></image>"
                       "</images></pano><output/></kava>";

} // namespace

class TestMhlHistory : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<AppController> controller;
    QStringList reports;
    QString mounted;
    QString card(int n) const { return dir->filePath(QStringLiteral("card%1").arg(n)); }
    QString destination() const { return dir->filePath(QStringLiteral("Reef day 2")); }
    QString log() const { return TestSupport::readFile(logFilePath()); }
    void cardFile(int n, const QString& file, int size)
    {
        QVERIFY(TestSupport::writeFile(
            card(n) + '/' + file,
            (card(n) + file).toUtf8().leftJustified(size, char('a' + size % 26), true)));
    }
    void runAll(const QString& target, const QString& templatePath = QString(),
                const QString& project = QString(), AppController* other = nullptr)
    {
        controller->copyFiles(card(1), card(2), card(3), target, templatePath, project);
        if (other)
            other->copyFiles(card(1), card(2), card(3), target, templatePath, project);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(120000));
        QCoreApplication::processEvents();
    }

private slots:

    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
            QSKIP("xmllint is missing (Debian package libxml2-utils; scripts/install-deps)");
        QVERIFY2(QFileInfo::exists(schemaFolder() + "/ASCMHL.xsd"), qPrintable(schemaFolder()));
    }

    void init()
    {
        QThreadPool::globalInstance()->waitForDone();
        VerifiedCopy::setWrittenHook(nullptr);
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        setLogFilePath(dir->filePath(QStringLiteral("run.log")));
        qInstallMessageHandler(TestSupport::appendToLog);
        reports.clear();
        controller.reset(new AppController);
        connect(controller.get(), &AppController::updateCardProgress, this,
                [this](QVariant n, QVariant, QVariant to, QVariant, QVariant text) {
                    if (to.toInt() <= 1)
                        reports << n.toString() + ' ' + text.toString();
                });
    }

    void cleanup()
    {
        VerifiedCopy::setWrittenHook(nullptr);
        VerifiedCopy::requestStop(false);
        if (!mounted.isEmpty())
            ::umount2(QFile::encodeName(mounted).constData(), MNT_DETACH);
        mounted.clear();
    }

    void c4Id()
    {
        QCOMPARE(MhlHistory::c4Id({}),
                 QString("c459dsjfscH38cYeXXYogktxf4Cd9ibshE3BHUo6a58hBXmRQdZrAk"
                         "ZzsWcbWtDg5oQstpDuni4Hirj75GEmTc1sFT"));
        QCOMPARE(MhlHistory::c4Id("foo"), QString("c45xZeXwMSpqXjpDumcHMA6mhoAmGHkUo7r9WmN2UgSEQzj9"
                                                  "KjgseaQdkEJ11fGb5S1WEENcV3q8RFWwEeVpC7Fjk2"));
    }

    // Two imports with a template into one folder that already held a file: two
    // generations that validate and verify, each recording what its run wrote
    // (copies, thumbnails, projects, the first run's log copy) with the hashes of
    // the card files; the first never changes.
    void twoImports()
    {
        for (int n = 1; n <= 3; ++n) {
            cardFile(n, "DCIM/100QVK/V0001.MOV", 3 * 1024 * 1024 + n);
            cardFile(n, "DCIM/100QVK/P0002.JPG", 20000 + n);
            cardFile(n, "MISC/index.dat", 10);
        }
        const QString rig = dir->filePath("t/Rig.kava");
        QVERIFY(TestSupport::writeFile(rig, Rig));
        QVERIFY(TestSupport::writeFile(dir->filePath("t/Rig.jpg"), "preview"));
        QVERIFY(TestSupport::writeFile(destination() + "/notes.txt", "the user's own"));

        runAll(destination(), rig, "Reef");
        const QString first = MhlHistory(destination()).generations().value(0).manifest;
        QVERIFY(!first.isEmpty());
        const QByteArray firstBytes = TestSupport::readFile(destination() + "/ascmhl/" + first);
        // What a history writer that was killed left half-written goes with the next one.
        const QString killed = destination() + "/ascmhl/.ascmhl_chain.xml.ended-k1.part";
        QVERIFY(TestSupport::writeFile(killed, "<ascmhl"));
        runAll(destination(), rig, "Reef");
        QVERIFY(!QFileInfo::exists(killed));

        const QVector<QMap<QString, Recorded>> generations =
            verifyHistory(destination(), {"notes.txt"});
        QCOMPARE(generations.size(), 2);
        QCOMPARE(TestSupport::readFile(destination() + "/ascmhl/" + first), firstBytes);
        QVERIFY(generations[0].contains("VazizidADU.log"));
        QVERIFY(!generations[1].contains("VazizidADU.log")); // the first run's copy is kept
        for (int n = 1; n <= 3; ++n) {
            const QString folder = "DCIM/100QVK/";
            for (const QString copy :
                 {"V0001_Reef_cam%1.MOV", "V0001_Reef_cam%1.MOV.jpg", "P0002_Reef_cam%1.JPG"})
                QVERIFY2(generations[0].contains(folder + copy.arg(n)), qPrintable(copy));
            for (const QString copy : {"V0001-1_cam%1.MOV", "V0001-1_cam%1.MOV.jpg"})
                QVERIFY2(generations[1].contains(folder + copy.arg(n)), qPrintable(copy));
            // The recorded hash is the card file's, computed apart from the import.
            QCOMPARE(
                generations[0].value(folder + QStringLiteral("V0001_Reef_cam%1.MOV").arg(n)).xxh64,
                xxh64Of(TestSupport::readFile(card(n) + "/DCIM/100QVK/V0001.MOV")));
            QCOMPARE(
                generations[1].value(folder + QStringLiteral("P0002-1_cam%1.JPG").arg(n)).xxh64,
                xxh64Of(TestSupport::readFile(card(n) + "/DCIM/100QVK/P0002.JPG")));
        }
        QVERIFY(generations[0].contains("DCIM/100QVK/V0001_Reef_autopano.kava"));
        QVERIFY(generations[1].contains("DCIM/100QVK/V0001-1_Reef_autopano.kava"));
        QVERIFY(generations[1].contains("DCIM/100QVK/P0002-1_Reef_giga.JPG.pano"));
    }

    void nothingWrittenAddsNoGeneration_data()
    {
        QTest::addColumn<QString>("situation");
        for (const char* situation :
             {"cards without media", "every card refused", "every copy fails"})
            QTest::newRow(situation) << QString(situation);
    }

    // A run that wrote nothing into the destination leaves its history alone.
    void nothingWrittenAddsNoGeneration()
    {
        QFETCH(QString, situation);
        for (int n = 1; n <= 3; ++n)
            cardFile(n, situation == "cards without media" ? "MISC/index.dat" : "D/V.MOV", 100);
        if (situation == "every copy fails")
            QVERIFY(TestSupport::writeFile(destination() + "/D", "a file where the folder goes"));

        runAll(destination(), {}, situation == "every card refused" ? "a/b" : QString());

        QVERIFY(!QFileInfo::exists(destination() + "/ascmhl"));
        QCOMPARE(log().count("\"Done.\""), situation == "every card refused" ? 0 : 1);
    }

    void historyNotWritten_data()
    {
        QTest::addColumn<QString>("obstacle");
        for (const char* obstacle : {"ascmhl is a file", "chain file damaged", "destination full",
                                     "full at the chain file"})
            QTest::newRow(obstacle) << QString(obstacle);
    }

    // A history that cannot take the run's generation: the copies stay, the
    // warning names the cause, the run ends in an error on the card that ended it,
    // nothing of the history is changed or left half-made.
    void historyNotWritten()
    {
        QFETCH(QString, obstacle);
        QString target = destination();
        for (int n = 1; n <= 3; ++n)
            cardFile(n, "D/P.JPG", 50000);
        QByteArray before;
        QAtomicInt copies; // made so far, by the three workers
        if (obstacle == "ascmhl is a file") {
            before = "not a folder";
            QVERIFY(TestSupport::writeFile(target + "/ascmhl", before));
        } else if (obstacle == "chain file damaged") {
            runAll(target);
            before = TestSupport::readFile(target + "/ascmhl/ascmhl_chain.xml");
            before.chop(before.size() / 2);
            QVERIFY(TestSupport::writeFile(target + "/ascmhl/ascmhl_chain.xml", before));
        } else {
            mounted = dir->filePath("small");
            QVERIFY(QDir().mkpath(mounted));
            if (::mount("tmpfs", QFile::encodeName(mounted).constData(), "tmpfs", 0, "size=1m") !=
                0)
                SKIP_SAFETY("cannot mount a small file system here (needs root)");
            target = mounted + "/dest";
            // Room for the lock file and the manifest, none for the chain.
            const int pagesLeft = obstacle == "destination full" ? 0 : 2;
            if (pagesLeft > 0) {
                runAll(target);
                before = TestSupport::readFile(target + "/ascmhl/ascmhl_chain.xml");
            }
            // The last copy fills the disk once its bytes are written.
            VerifiedCopy::setWrittenHook([&, pagesLeft](const QString&, const QString&) {
                if (copies.fetchAndAddOrdered(1) == 2)
                    TestSupport::fillLeaving(mounted, pagesLeft);
            });
        }
        const QStringList manifestsBefore =
            QDir(target + "/ascmhl").entryList(QDir::Files | QDir::Hidden);
        QFile::remove(logFilePath());

        runAll(target);

        for (int n = 1; n <= 3; ++n)
            QCOMPARE(TestSupport::readFile(target + QStringLiteral("/D/P_cam%1.JPG").arg(n)),
                     TestSupport::readFile(card(n) + "/D/P.JPG"));
        QVERIFY(reports.contains("1 Copied 0/0 videos and 1/1 photos."));
        const QStringList failed = reports.filter(" Error: Could not write the hash list: ");
        QCOMPARE(failed.size(), 1);
        QCOMPARE(reports.last(), failed.first()); // after every summary
        const QStringList warnings = QString(log()).split('\n').filter("Hash list: could not add");
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(target + "/ascmhl"), qPrintable(warnings.first()));
        if (obstacle == "full at the chain file")
            QVERIFY2(failed.first().contains("ascmhl_chain.xml: "), qPrintable(failed.first()));
        if (obstacle == "ascmhl is a file") {
            QCOMPARE(TestSupport::readFile(target + "/ascmhl"), before);
        } else {
            // No new manifest, no temporary or lock file left behind.
            QCOMPARE(QDir(target + "/ascmhl").entryList(QDir::Files | QDir::Hidden),
                     manifestsBefore);
            if (!before.isEmpty())
                QCOMPARE(TestSupport::readFile(target + "/ascmhl/ascmhl_chain.xml"), before);
        }
    }

    void fullDiskKeepsTheHistory_data()
    {
        QTest::addColumn<int>("pages");      // free when the generation is added
        QTest::addColumn<QString>("reason"); // in the error
        QTest::newRow("full at the lock file") << 0 << "lock file";
        QTest::newRow("full at the manifest") << 1 << ".mhl";
        QTest::newRow("full at the chain file") << 2 << "ascmhl_chain.xml";
    }

    // The disk fills while a generation is added: the history stays byte for
    // byte as it was (no empty or cut chain or manifest under a final name, no
    // temporary file), the error names what could not be written, and with room
    // again the next generation is added and the reference tool verifies it.
    void fullDiskKeepsTheHistory()
    {
        QFETCH(int, pages);
        QFETCH(QString, reason);
        mounted = dir->filePath("small");
        QVERIFY(QDir().mkpath(mounted));
        if (::mount("tmpfs", QFile::encodeName(mounted).constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("cannot mount a small file system here (needs root)");
        const QString target = mounted + "/dest";
        QVERIFY(TestSupport::writeFile(target + "/a.txt", "a"));
        const MhlHistory::File file{"a.txt", 1, QFileInfo(target + "/a.txt").lastModified(),
                                    XXH64("a", 1, 0)};
        QVERIFY(MhlHistory(target).addGeneration({file}, QDateTime::currentDateTime()));
        const auto snapshot = [&] {
            QMap<QString, QByteArray> files;
            for (const QString& name : TestSupport::files(target + "/ascmhl"))
                files.insert(name, TestSupport::readFile(target + "/ascmhl/" + name));
            return files;
        };
        const QMap<QString, QByteArray> before = snapshot();
        QVERIFY(TestSupport::fillLeaving(mounted, pages));

        MhlHistory history(target);
        QVERIFY(!history.addGeneration({file}, QDateTime::currentDateTime()));

        QVERIFY2(history.errorString().contains(reason), qPrintable(history.errorString()));
        QCOMPARE(snapshot(), before);
        QVERIFY(QFile::remove(mounted + "/filler"));
        QVERIFY(history.addGeneration({file}, QDateTime::currentDateTime()));
        QString output;
        QVERIFY2(TestSupport::ascmhlVerify(target, &output) == 0, qPrintable(output));
    }

    // Writers that add to one history at the same time each get a generation
    // number of their own, and the chain lists every one of them.
    void writersAtOnce()
    {
        QVERIFY(TestSupport::writeFile(destination() + "/a.txt", "a"));
        const MhlHistory::File file{"a.txt", 1, QDateTime::currentDateTime(), XXH64("a", 1, 0)};
        constexpr int Writers = 6;
        constexpr int Each = 4;
        QAtomicInt failures;
        QThreadPool pool;
        pool.setMaxThreadCount(Writers);
        for (int k = 0; k < Writers * Each; ++k)
            pool.start([&] {
                if (!MhlHistory(destination()).addGeneration({file}, QDateTime::currentDateTime()))
                    failures.ref();
            });
        QVERIFY(pool.waitForDone(120000));
        QCOMPARE(failures.loadRelaxed(), 0);

        MhlHistory history(destination());
        const QVector<MhlHistory::Generation> chain = history.generations();
        QCOMPARE(chain.size(), Writers * Each);
        for (int k = 0; k < chain.size(); ++k) {
            QCOMPARE(chain[k].number, k + 1);
            QCOMPARE(chain[k].c4, MhlHistory::c4Id(TestSupport::readFile(history.historyPath() +
                                                                         '/' + chain[k].manifest)));
        }
        QCOMPARE(QDir(history.historyPath()).entryList(QDir::Files | QDir::Hidden).size(),
                 Writers * Each + 1);
    }

    // A run stopped midway is not complete (no "Done.", no log copy), but what it
    // copied before the stop is in the history, and nothing else.
    void stoppedRunRecordsWhatItCopied()
    {
        for (int n = 1; n <= 3; ++n) {
            cardFile(n, "D/V.MOV", int(3 * VerifiedCopy::ChunkSize));
            // Short of a chunk: finished once written. Two of them, so the card
            // whose first photo stops the run always has a file left to refuse.
            cardFile(n, "D/P.JPG", 5000);
            cardFile(n, "D/Q.JPG", 6000);
        }
        VerifiedCopy::setWrittenHook([](const QString& source, const QString&) {
            if (source.endsWith(".JPG"))
                VerifiedCopy::requestStop();
        });

        runAll(destination());

        QCOMPARE(log().count("\"Done.\""), 0);
        QVERIFY(!QFileInfo::exists(destination() + "/VazizidADU.log"));
        const QStringList copies = TestSupport::files(destination(), "ascmhl");
        QVERIFY(copies.size() >= 1 && copies.size() < 9);
        QCOMPARE(verifyHistory(destination()).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMhlHistory)
#include "tst_mhlhistory.moc"
