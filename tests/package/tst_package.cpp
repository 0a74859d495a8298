#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using Outcome = TestSupport::ProgramRun;
using TestSupport::readFile;
using TestSupport::runProgram;
using TestSupport::writeFile;

static const QString AppFolder = QStringLiteral("/usr/lib/pelorin-qvk");

// The Debian package as a user gets it: made with CPack from this build tree,
// unpacked into a temporary root, its programs started there, its files
// checked by Debian's validators.
class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QString deb;
    QString root() const { return work.filePath("root"); }

    // A user of its own for every program run: nothing of the tester's.
    QProcessEnvironment userEnvironment(const QString& name) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = work.filePath("home-" + name);
        env.insert("HOME", home);
        env.insert("XDG_DATA_HOME", home + "/.local/share");
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_CACHE_HOME", home + "/.cache");
        return env;
    }
    QString userDataFolder(const QString& name) const
    {
        return work.filePath("home-" + name) + "/.local/share/Pelorin QVK";
    }

private slots:
    void initTestCase()
    {
        for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(
                    QString("%1 is missing: install dpkg-dev (scripts/install-deps)").arg(tool)));
        QVERIFY(work.isValid());
        // CPack installs into a folder of its own: the build tree is only read.
        const Outcome cpack =
            runProgram(PQVK_CPACK, {"-G", "DEB", "--config",
                                    qEnvironmentVariable("PQVK_BUILD_DIR") + "/CPackConfig.cmake",
                                    "-B", work.filePath("out")});
        QVERIFY2(cpack.status == 0, qPrintable(cpack.out + cpack.err));
        const QStringList debs = QDir(work.filePath("out")).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        deb = work.filePath("out/" + debs.first());
        const Outcome unpack = runProgram("dpkg-deb", {"-x", deb, root()});
        QVERIFY2(unpack.status == 0, qPrintable(unpack.err));
    }

    // Libraries come from dpkg-shlibdeps, the QML modules from what the window
    // loads: a package without them installs a window that cannot load.
    // Quick Controls 1 makes the built-in file dialog of QtQuick.Dialogs,
    // whose Debian package does not depend on it.
    // The desktop's platform themes are recommended, for its own file dialogs;
    // qvkctl, which shows no window, links neither Qt GUI nor Widgets.
    void dependencies()
    {
        const Outcome field = runProgram("dpkg-deb", {"--field", deb, "Depends", "Recommends"});
        QCOMPARE(field.status, 0);
        for (const char* package :
             {"libqt5core5a", "libqt5serialport5", "libqt5widgets5", "qml-module-qtquick2",
              "qml-module-qtquick-controls2", "qml-module-qtquick-dialogs",
              "qml-module-qtquick-layouts", "qml-module-qtquick-window2",
              "qml-module-qtquick-controls", "qml-module-qt-labs-folderlistmodel",
              "qt5-gtk-platformtheme", "plasma-integration"})
            QVERIFY2(field.out.contains(
                         QRegularExpression(QString("(: |, | \\| )%1( |,|$)").arg(package),
                                            QRegularExpression::MultilineOption)),
                     qPrintable(QString(package) + " not in " + field.out));
        const Outcome elf = runProgram("readelf", {"-d", root() + "/usr/lib/pelorin-qvk/qvkctl"});
        QVERIFY2(elf.status == 0 && !elf.out.contains("libQt5Gui") &&
                     !elf.out.contains("libQt5Widgets"),
                 qPrintable(elf.out + elf.err));
    }

    // Installed-Size counts the files once: the links in /usr/bin are links.
    void installedSize()
    {
        const Outcome field = runProgram("dpkg-deb", {"--field", deb, "Installed-Size"});
        QCOMPARE(field.status, 0);
        qint64 bytes = 0;
        int entries = 0;
        QDirIterator it(root(),
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            ++entries;
            if (info.isFile() && !info.isSymLink())
                bytes += info.size();
        }
        const qint64 kib = field.out.trimmed().toLongLong();
        QVERIFY2(kib >= bytes / 1024 && kib <= bytes / 1024 + entries + 1,
                 qPrintable(QString("%1 KiB for %2 bytes").arg(kib).arg(bytes)));
    }

    // qvkctl's manual page is its --help: every line of the help, blanks
    // aside, stands in the page's text as it is.
    void manualPageIsHelp()
    {
        const Outcome help = runProgram(root() + "/usr/bin/qvkctl", {"--help"});
        QCOMPARE(help.status, 0);
        const Outcome page =
            runProgram("gzip", {"-dc", root() + "/usr/share/man/man1/qvkctl.1.gz"});
        QCOMPARE(page.status, 0);
        QStringList text; // the page without its markup
        for (QString line : page.out.split('\n')) {
            if (line.startsWith(".B "))
                line = line.mid(3);
            else if (line.startsWith('.'))
                continue;
            text << line.replace("\\-", "-").replace("\\&", "").replace("\\e", "\\");
        }
        const QString simplifiedPage = text.join(' ').simplified();
        for (const QString& line : help.out.split('\n')) {
            const QString simplified = line.simplified();
            if (simplified.isEmpty() || QRegularExpression("^[^ ].*:$").match(line).hasMatch())
                continue; // headings become the page's sections
            QVERIFY2(simplifiedPage.contains(simplified), qPrintable(simplified));
        }
    }

    // What no validator below looks for (lintian wants the copyright and
    // manual pages, manualPageIsHelp reads qvkctl's).
    void files()
    {
        for (const char* path : {"/usr/share/icons/hicolor/256x256/apps/com.pelorin.qvk.png",
                                 "/usr/lib/udev/rules.d/70-pelorin-qvk.rules",
                                 "/usr/share/bash-completion/completions/qvkctl"})
            QVERIFY2(QFileInfo(root() + path).size() > 0, path);
    }

    // Started through their links, which are relative so that the unpacked
    // root works like the installed one, the programs find their application
    // folder: qvkctl runs the boot-loader put into the packaged utilities
    // folder, the app takes the templates of that folder.
    void programsStartAndFindTheirFolder()
    {
        const Outcome version = runProgram(root() + "/usr/bin/qvkctl", {"--version"});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QString("1.8.3\n"));

        const QString utilities = root() + AppFolder + "/utilities";
        // The rig maker's program is not ours to ship: qvkctl says where it goes.
        QVERIFY(QDir(utilities).isEmpty());
        QVERIFY(writeFile(work.filePath("good.hex"), ":0400000001020304F2\n:00000001FF\n"));
        const QStringList flash{"firmware", "--port", "ttyUSB7", "--file",
                                work.filePath("good.hex")};
        const Outcome missing =
            runProgram(root() + "/usr/bin/qvkctl", flash, work.path(), userEnvironment("qvkctl"));
        QCOMPARE(missing.status, 1);
        QVERIFY2(missing.err.contains("no boot-loader program at " + utilities + "/bootloader"),
                 qPrintable(missing.err));
        QVERIFY(QFile::copy(qEnvironmentVariable("PQVK_BUILD_DIR") + "/utilities/bootloader",
                            utilities + "/bootloader"));
        const Outcome flashed =
            runProgram(root() + "/usr/bin/qvkctl", flash, work.path(), userEnvironment("qvkctl"));
        QVERIFY(QFile::remove(utilities + "/bootloader"));
        QVERIFY2(flashed.status == 0 && flashed.err.contains("\nDone\n"), qPrintable(flashed.err));
        QVERIFY2(readFile(userDataFolder("qvkctl") + "/qvkctl.log")
                     .contains("Utilities dir: \"" + utilities.toUtf8() + '"'),
                 qPrintable(readFile(userDataFolder("qvkctl") + "/qvkctl.log")));

        const QString templates = root() + AppFolder + "/templates";
        QVERIFY(writeFile(templates + "/Rig.kava", "<kava/>"));
        QProcessEnvironment env = userEnvironment("app");
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("LD_PRELOAD", PQVK_AUTOCLOSE);
        const Outcome app = runProgram(root() + "/usr/bin/VazizidADU", {}, work.path(), env);
        QVERIFY(QDir(templates).removeRecursively());
        const QByteArray log = readFile(userDataFolder("app") + "/VazizidADU.log");
        QVERIFY2(app.status == 0, qPrintable(app.err.right(3000)));
        QVERIFY2(log.contains("Template dir: \"" + templates.toUtf8() + '"'), log.constData());
        // The real folder, not the link's.
        QVERIFY2(log.contains("AppDirectory: \"" + root().toUtf8() + AppFolder.toUtf8() + '"'),
                 log.constData());
        QVERIFY2(log.endsWith("Info: Application end\n"), log.constData());
    }

    void validators_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments"); // "@" stands for the unpacked root
        QTest::newRow("desktop entry")
            << "desktop-file-validate"
            << QStringList{"@/usr/share/applications/com.pelorin.qvk.desktop"};
        QTest::newRow("AppStream metadata")
            << "appstreamcli"
            << QStringList{"validate", "--no-net", "--pedantic",
                           "@/usr/share/metainfo/com.pelorin.qvk.metainfo.xml"};
        // Errors and warnings fail: the package has none (scripts/package shows
        // lintian's notes too).
        QTest::newRow("lintian") << "lintian" << QStringList{"--fail-on", "error,warning", "DEB"};
    }

    void validators()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + " is missing (scripts/install-deps installs it)"));
        arguments.replaceInStrings(QRegularExpression("^@"), root());
        arguments.replaceInStrings(QRegularExpression("^DEB$"), deb);
        const Outcome outcome = runProgram(tool, arguments);
        QVERIFY2(outcome.status == 0, qPrintable(outcome.out + outcome.err));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
