#include "base/apppaths.h"
#include "cards/medianaming.h"
#include "cards/templatewriter.h"
#include "support/testsupport.h"

#include <QDomDocument>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

using TestSupport::readFile;

namespace {

// A template with every part the writers edit, and parts they must leave
// alone: a fourth video and a thumbnail outside pano.
QByteArray makeTemplate(int images = 3, bool pano = true, bool rules = true)
{
    QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kava><videos>"
                  "<video file=\"a\" dt=\"1\"/><video file=\"b\" dt=\"2\"/><video file=\"c\"/>"
                  "<video file=\"d\" dt=\"4.5\"/></videos><stabilization><video/><video/><video/>"
                  "</stabilization><exposure><video/><video/><video/></exposure><thumbnail/>";
    if (pano) {
        xml += "<pano fov=\"360\"><thumbnail/><images>";
        for (int k = 1; k <= images; ++k) // angles 11 to 15, 21 to 25, 31 to 35
            xml += QString("<image><def/><camera yaw='%11' pitch='%12' roll='%13' offset_x='%14' "
                           "offset_y='%15'/><thumbnail/></image>")
                       .replace("%1", QString::number(k));
        xml += "</images><matches><match/></matches><projection><thumbnail/></projection></pano>";
    }
    xml += "<output file=\"old.mp4\" format=\"mp4\"/>";
    if (rules)
        xml += "<encodingrules/>";
    return (xml + "</kava>\n").toUtf8();
}

QVariantMap calibration(const QVariant& overwrite, const QVariant& radians = QVariant())
{
    QVariantMap s{{"Camera1Yaw", "-0"},      {"Camera1Pitch", "0"},   {"Camera1Roll", "-90"},
                  {"Camera1OffsetX", "-20"}, {"Camera1OffsetY", "0"}, {"Camera2Yaw", "45"},
                  {"Camera2Pitch", "1.5"},   {"Camera2Roll", "-90"},  {"Camera2OffsetX", "-20"},
                  {"Camera2OffsetY", "3"},   {"Camera3Yaw", ""},      {"Camera3Roll", "-90"},
                  {"Camera3OffsetX", "-20"}};
    if (overwrite.isValid())
        s.insert("OverwriteAngles", overwrite);
    if (radians.isValid())
        s.insert("RadiansAngles", radians);
    return s;
}
// The calibration in degrees as the templates receive it: missing keys empty.
const QStringList storedAngles{"-0",  "0", "-90", "-20", "0",   "45",  "1.5", "-90",
                               "-20", "3", "",    "",    "-90", "-20", ""};
// Single-precision radians in the variant's standard text; offsets as stored.
const QString r90 = "-1.5707963705062866";
const QStringList radianAngles{
    "0", "0", r90, "-20", "0", "0.7853981852531433", "0.02617993950843811", r90, "-20", "3",
    "0", "0", r90, "-20", ""};
// The template's own angles, left alone when the switch is off.
const QStringList ownAngles{"11", "12", "13", "14", "15", "21", "22", "23",
                            "24", "25", "31", "32", "33", "34", "35"};
const QByteArray Declaration = "<?xml version='1.0' encoding='UTF-8'?>";

QDomElement root(const QString& path)
{
    QDomDocument doc;
    doc.setContent(readFile(path));
    return doc.documentElement();
}

// Attribute `name` of each `tag` child of `parent`, or of that child's first `child`.
QStringList attrs(const QDomElement& parent, const QString& tag, const QString& name,
                  const QString& child = {})
{
    QStringList list;
    for (QDomElement e = parent.firstChildElement(tag); !e.isNull(); e = e.nextSiblingElement(tag))
        list << (child.isEmpty() ? e : e.firstChildElement(child)).attribute(name, "-");
    return list;
}

// yaw, pitch, roll, offset_x and offset_y of each image's camera in turn.
QStringList cameraAngles(const QDomElement& pano)
{
    QStringList list;
    const QDomElement images = pano.firstChildElement("images");
    for (QDomElement e = images.firstChildElement("image"); !e.isNull();
         e = e.nextSiblingElement("image"))
        for (const char* a : {"yaw", "pitch", "roll", "offset_x", "offset_y"})
            list << e.firstChildElement("camera").attribute(a, "-");
    return list;
}

} // namespace

class TestTemplateWriter : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QString m_templates;
    QString m_folder; // the destination's DCIM/101, fresh for every case

    QString chosenTemplate(const QByteArray& xml, const QString& name = "Rig.kava")
    {
        const QString path = m_work.path() + "/chosen/" + name;
        TestSupport::writeFile(path, xml);
        return path;
    }

private slots:
    void init()
    {
        qputenv("HOME", m_home.path().toUtf8()); // never the user's own templates
        qputenv("XDG_DATA_HOME", (m_home.path() + "/share").toUtf8());
        resetPathCaches();
        m_templates = templatesDirPath();
        QVERIFY2(m_templates.startsWith(m_home.path()), qPrintable(m_templates));
        QDir(m_templates).removeRecursively();
        static int run = 0;
        m_folder = QString("%1/run%2/DCIM/101").arg(m_work.path()).arg(++run);
        QVERIFY(QDir().mkpath(m_folder));
    }

    void projects_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("project");
        QTest::addColumn<int>("collision");
        QTest::addColumn<QString>("shape"); // of the template
        QTest::addColumn<QVariantMap>("settings");
        QTest::addColumn<QStringList>("angles");
        QTest::addColumn<QString>("projectFile");

        auto row = [](const char* name, QString target, QString project, int collision,
                      QString shape, QString angles, QString file) {
            const QStringList expected = angles == "own"   ? ownAngles
                                         : angles == "rad" ? radianAngles
                                                           : storedAngles;
            QTest::newRow(name) << target << project << collision << shape
                                << calibration(angles == "own" ? "0" : "1",
                                               angles == "rad" ? "1" : "0")
                                << QStringList(expected.mid(0, shape == "2 images" ? 10 : 15))
                                << file;
        };
        row("mov", "V0042.MOV", "", 0, "", "own", "V0042_autopano.kava");
        row("mov, project", "V0042.MOV", "Reef", 0, "2 images", "deg", "V0042_Reef_autopano.kava");
        row("mov, collision", "V0042.MOV", "Reef", 1, "no rules", "rad",
            "V0042-1_Reef_autopano.kava");
        row("jpg, project", "P0007.JPG", "Reef", 0, "", "rad", "P0007_Reef_giga.JPG.pano");
        row("dng", "P0007.DNG", "", 0, "2 images", "own", "P0007_giga.DNG.pano");
        row("dng, collision", "P0007.DNG", "Reef", 3, "", "deg", "P0007-3_Reef_giga.DNG.pano");
    }

    void projects()
    {
        QFETCH(QString, target);
        QFETCH(QString, project);
        QFETCH(int, collision);
        QFETCH(QString, shape);
        QFETCH(QVariantMap, settings);
        QFETCH(QStringList, angles);
        QFETCH(QString, projectFile);

        const QString targetPath = m_folder + "/" + target;
        const bool video = target.endsWith(".MOV");
        const QString ext = video ? QString(".MOV") : MediaNaming::photoExtension(targetPath);
        const QString base = MediaNaming::basePath(targetPath, ext, collision);
        const int images = shape == "2 images" ? 2 : 3;
        const QString templatePath =
            chosenTemplate(makeTemplate(images, true, shape != "no rules"));
        using Writer = QStringList (*)(int, const QString&, const QString&, const QString&,
                                       const QVariantMap&, int);
        const Writer write = video ? Writer(&writeVideoTemplate) : Writer(&writePhotoProject);
        // The project must open exactly the files under which the import copies.
        QStringList copies, imageFiles;
        for (int k = 1; k <= 3; ++k) {
            copies << QFileInfo(MediaNaming::cameraCopyName(targetPath, ext, k, project, collision))
                          .fileName();
            imageFiles << copies.last() + (video ? ".jpg" : "");
        }

        write(2, templatePath, base, project, settings, collision);
        const QString projectPath = m_folder + "/" + projectFile;
        const QByteArray text = readFile(projectPath);
        const QDomElement top = root(projectPath);
        const QDomElement pano = video ? top.firstChildElement("pano") : top;
        const QDomElement imageList = pano.firstChildElement("images");
        QCOMPARE(attrs(imageList, "image", "filename", "def"), imageFiles.mid(0, images));
        QCOMPARE(cameraAngles(pano), angles);
        QCOMPARE(
            pano.elementsByTagName("thumbnail").size() + pano.elementsByTagName("match").size(), 0);
        if (video) {
            QCOMPARE(top.elementsByTagName("thumbnail").size(), 1); // outside pano it stays
            const QDomElement videos = top.firstChildElement("videos");
            QCOMPARE(attrs(videos, "video", "file"), copies + QStringList{"d"});
            QCOMPARE(attrs(videos, "video", "dt"), (QStringList{"0", "0", "0", "4.5"}));
            QCOMPARE(attrs(top.firstChildElement("stabilization"), "video", "file"), copies);
            QCOMPARE(attrs(top.firstChildElement("exposure"), "video", "file"), copies);
            const QDomElement out = top.firstChildElement("output");
            QCOMPARE(out.attribute("file"), projectFile.section('_', 0, 0) + "_rendered.kava");
            QStringList encoding;
            for (const char* a :
                 {"presets", "quality", "profile", "framerateMode", "vbitrate", "abitrate"})
                encoding << out.attribute(a);
            QCOMPARE(encoding.join(' ').trimmed(),
                     QString(shape != "no rules" ? "4; 1; 2; 0; 100000000 160000" : ""));
            // The template's copy is the first project; the photo template its panorama.
            QCOMPARE(readFile(m_templates + "/Rig.kava"), text);
            QCOMPARE(cameraAngles(root(m_templates + "/Rig.pano")), angles);
        }
        const QString photoFile = video ? m_templates + "/Rig.pano" : projectPath;
        QVERIFY(readFile(photoFile).startsWith(Declaration + "\n<pano "));

        // Another card reaching the same recording writes nothing.
        chosenTemplate(makeTemplate(1));
        write(1, templatePath, base, project, calibration("0"), collision);
        QCOMPARE(readFile(projectPath), text);
        QCOMPARE(TestSupport::files(m_folder), QStringList{projectFile});
    }

    void photoTemplate()
    {
        // Named in upper case, and without a panorama: the declaration line only.
        writeVideoTemplate(1, chosenTemplate(makeTemplate(3, false), "Rig.KAVA"),
                           m_folder + "/V0001.MOV", "", calibration("1"));
        QCOMPARE(TestSupport::files(m_templates), (QStringList{"Rig.KAVA", "Rig.pano"}));
        QCOMPARE(readFile(m_templates + "/Rig.pano").trimmed(), Declaration);
    }

    // An unusable template writes nothing: an empty project would stand in the
    // way of a good one for good, and an empty template copy of every later import.
    void unusableTemplate()
    {
        const QString templatePath = chosenTemplate("<kava><videos></kava>");
        writeVideoTemplate(1, templatePath, m_folder + "/V0001.MOV", "", calibration("1"));
        writePhotoProject(1, templatePath, m_folder + "/P0001.JPG", "", calibration("1"));
        QCOMPARE(TestSupport::files(m_templates), QStringList());
        QCOMPARE(TestSupport::files(m_folder), QStringList());

        // With no extension to replace, the project would take the base path's own name.
        const QString goodTemplate = chosenTemplate(makeTemplate());
        writeVideoTemplate(1, goodTemplate, m_folder + "/V0002.mov", "", calibration("1"));
        writePhotoProject(1, goodTemplate, m_folder + "/P0002.jpg", "", calibration("1"));
        QCOMPARE(TestSupport::files(m_folder), QStringList());
    }

    void racingCardWorkers()
    {
        // A bulky template keeps each writer busy between its check and its write.
        QByteArray bulk = "<history>";
        for (int i = 0; i < 2000; ++i)
            bulk += "<step n=\"" + QByteArray::number(i) + "\"/>";
        const QString templatePath =
            chosenTemplate(makeTemplate().replace("<projection>", bulk + "</history><projection>"));

        TestSupport::capturedLog.clear();
        const QtMessageHandler previous = qInstallMessageHandler(TestSupport::captureLog);
        QThreadPool pool;
        pool.setMaxThreadCount(3);
        QStringList files;
        for (int r = 10; r < 30; ++r) { // the three cards reach each recording together
            const QString base = QString("%1/R%2").arg(m_folder).arg(r);
            files << QString("R%1_Reef_autopano.kava").arg(r)
                  << QString("R%1_Reef_giga.JPG.pano").arg(r);
            for (int card = 1; card <= 3; ++card)
                pool.start([=] {
                    writeVideoTemplate(card, templatePath, base + ".MOV", "Reef", calibration("1"));
                    writePhotoProject(card, templatePath, base + ".JPG", "Reef", calibration("1"));
                });
            pool.waitForDone();
        }
        qInstallMessageHandler(previous);

        QCOMPARE(TestSupport::files(m_folder), files); // and no temporary files left behind
        QCOMPARE(TestSupport::files(m_templates), (QStringList{"Rig.kava", "Rig.pano"}));
        QCOMPARE(root(m_templates + "/Rig.kava").tagName(), QString("kava"));
        QStringList written{m_templates + "/Rig.kava", m_templates + "/Rig.pano"};
        for (const QString& file : files) { // each complete and parseable
            written << m_folder + "/" + file;
            const QDomElement top = root(written.last());
            const QDomElement pano = file.endsWith(".pano") ? top : top.firstChildElement("pano");
            QCOMPARE(cameraAngles(pano), storedAngles);
        }
        for (const QString& path : written) // exactly one writer won
            QCOMPARE(TestSupport::capturedLog.filter(path + ".").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTemplateWriter)
#include "tst_templatewriter.moc"
