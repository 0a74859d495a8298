#include "apppaths.h"
#include "medianaming.h"
#include "templatewriter.h"
#include "testsupport.h"

#include <QDir>
#include <QDomDocument>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Collects every log message, from any thread.
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&s_mutex);
        s_lines.clear();
        s_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(s_previous); }
    QStringList lines() const
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }
    // The debug stream quotes text values: compare with the quoted form.
    int count(const QString& text) const { return lines().count(quoted(text)); }
    static QString quoted(const QString& text) { return '"' + text + '"'; }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        QMutexLocker lock(&s_mutex);
        s_lines << message;
    }
    static QMutex s_mutex;
    static QStringList s_lines;
    static QtMessageHandler s_previous;
};
QMutex LogCapture::s_mutex;
QStringList LogCapture::s_lines;
QtMessageHandler LogCapture::s_previous = nullptr;

struct TemplateShape
{
    int images = 3;
    bool pano = true;
    bool output = true;
    bool encodingRules = true;
};

// A small template with every part the writers look at, plus parts they must
// leave alone: a fourth video, attributes of their own, thumbnails outside pano.
QByteArray makeTemplate(const TemplateShape& shape = {})
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<kava version=\"2.0\" tag=\"keep\">\n <videos>\n";
    for (int k = 1; k <= 4; ++k)
        xml += QStringLiteral("  <video file=\"old%1.MOV\" dt=\"%1.5\" audio=\"%1\"/>\n")
                   .arg(k)
                   .toUtf8();
    xml += " </videos>\n <stabilization mode=\"2\">\n";
    for (int k = 1; k <= 3; ++k)
        xml += QStringLiteral("  <video file=\"s%1\" dt=\"3\"/>\n").arg(k).toUtf8();
    xml += " </stabilization>\n <exposure>\n";
    for (int k = 1; k <= 3; ++k)
        xml += QStringLiteral("  <video file=\"e%1\" dt=\"4\"/>\n").arg(k).toUtf8();
    xml += " </exposure>\n <thumbnail file=\"outside.jpg\"/>\n";
    if (shape.pano) {
        xml += " <pano name=\"Rig\" fov=\"360\">\n  <thumbnail file=\"t0.jpg\"/>\n  <images>\n";
        for (int k = 1; k <= shape.images; ++k)
            xml += QStringLiteral("   <image id=\"%1\"><def filename=\"old%1.jpg\" lens=\"fish\"/>"
                                  "<camera yaw=\"%2\" pitch=\"%3\" roll=\"%4\" offset_x=\"%5\""
                                  " offset_y=\"%6\" focal=\"9\"/><thumbnail file=\"t%1.jpg\"/>"
                                  "</image>\n")
                       .arg(k)
                       .arg(k * 10 + 1)
                       .arg(k * 10 + 2)
                       .arg(k * 10 + 3)
                       .arg(k * 10 + 4)
                       .arg(k * 10 + 5)
                       .toUtf8();
        xml +=
            "  </images>\n  <matches><match a=\"0\" b=\"1\"><thumbnail/></match>"
            "<match a=\"1\" b=\"2\"/></matches>\n"
            "  <projection type=\"sphere\"><deep><thumbnail file=\"t9.jpg\"/></deep></projection>\n"
            " </pano>\n";
    }
    if (shape.output)
        xml += " <output file=\"old.mp4\" format=\"mp4\"><thumbnail file=\"out.jpg\"/></output>\n";
    if (shape.encodingRules)
        xml += " <encodingrules><rule id=\"1\"/></encodingrules>\n";
    xml += "</kava>\n";
    return xml;
}

QVariantMap calibration(const QVariant& overwrite, const QVariant& radians)
{
    QVariantMap s{{"Camera1Yaw", "-0"},      {"Camera1Pitch", "0"},     {"Camera1Roll", "-90"},
                  {"Camera1OffsetX", "-20"}, {"Camera1OffsetY", "0"},   {"Camera2Yaw", "45"},
                  {"Camera2Pitch", "1.5"},   {"Camera2Roll", "-90"},    {"Camera2OffsetX", "-20"},
                  {"Camera2OffsetY", "3"},   {"Camera3Yaw", ""},        {"Camera3Roll", "-90"},
                  {"Camera3OffsetX", "-20"}, {"Serialnumber", "000000"}};
    if (overwrite.isValid())
        s.insert("OverwriteAngles", overwrite);
    if (radians.isValid())
        s.insert("RadiansAngles", radians);
    return s;
}

QDomDocument parse(const QString& path)
{
    QDomDocument doc;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file))
        return QDomDocument();
    return doc;
}

QDomElement child(const QDomNode& parent, const QString& tag)
{
    return parent.firstChildElement(tag);
}

QList<QDomElement> elements(const QDomNode& parent, const QString& tag)
{
    QList<QDomElement> list;
    for (QDomElement e = parent.firstChildElement(tag); !e.isNull(); e = e.nextSiblingElement(tag))
        list << e;
    return list;
}

QStringList attributes(const QList<QDomElement>& elements, const QString& name)
{
    QStringList values;
    for (const QDomElement& e : elements)
        values << e.attribute(name, "<none>");
    return values;
}

// The yaw, pitch, roll, offset_x and offset_y of each image's camera in turn.
QStringList cameraAngles(const QDomElement& pano)
{
    QStringList values;
    for (const QDomElement& image : elements(child(pano, "images"), "image")) {
        const QDomElement camera = child(image, "camera");
        for (const char* a : {"yaw", "pitch", "roll", "offset_x", "offset_y"})
            values << camera.attribute(a, "<none>");
    }
    return values;
}

QStringList repeated(int times, const QString& text)
{
    QStringList list;
    for (int i = 0; i < times; ++i)
        list << text;
    return list;
}

QStringList fileNames(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

const QString Declaration = QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>");

} // namespace

class TestTemplateWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void videoProject_data();
    void videoProject();
    void templateShapes_data();
    void templateShapes();
    void angles_data();
    void angles();
    void photoProject_data();
    void photoProject();
    void secondCallWritesNothing_data();
    void secondCallWritesNothing();
    void templateCopy_data();
    void templateCopy();
    void unusableTemplate_data();
    void unusableTemplate();
    void baseWithoutExtension_data();
    void baseWithoutExtension();
    void racingCardWorkers_data();
    void racingCardWorkers();

private:
    QString writeTemplate(const QByteArray& xml, const QString& name = "Rig.kava");

    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QString m_templates;
    QString m_destination;
};

void TestTemplateWriter::initTestCase()
{
    // The templates folder lives below the user's folders: keep it in a folder of our own.
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (m_home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + "/.config").toUtf8());
}

void TestTemplateWriter::init()
{
    resetPathCaches();
    m_templates = templatesDirPath();
    QVERIFY2(m_templates.startsWith(m_home.path()), qPrintable(m_templates));
    QDir(m_templates).removeRecursively();
    static int run = 0;
    m_destination = QStringLiteral("%1/run%2").arg(m_work.path()).arg(++run);
    QVERIFY(QDir().mkpath(m_destination + "/DCIM/101"));
}

QString TestTemplateWriter::writeTemplate(const QByteArray& xml, const QString& name)
{
    const QString path = m_destination + "/chosen/" + name;
    TestSupport::writeFile(path, xml);
    return path;
}

void TestTemplateWriter::videoProject_data()
{
    QTest::addColumn<QString>("target"); // the recording's path before any collision
    QTest::addColumn<QString>("project");
    QTest::addColumn<int>("collision");
    QTest::addColumn<QString>("projectFile");
    QTest::addColumn<QString>("stem"); // camera names: stem + "_camK.MOV"
    QTest::addColumn<QString>("rendered");

    QTest::newRow("no project") << "V0042.MOV"
                                << "" << 0 << "V0042_autopano.kava"
                                << "V0042"
                                << "V0042_rendered.kava";
    QTest::newRow("project") << "V0042.MOV"
                             << "Reef" << 0 << "V0042_Reef_autopano.kava"
                             << "V0042_Reef"
                             << "V0042_rendered.kava";
    // After a collision the copies carry the number and no project name.
    QTest::newRow("collision with project") << "V0042.MOV"
                                            << "Reef" << 1 << "V0042-1_Reef_autopano.kava"
                                            << "V0042-1"
                                            << "V0042-1_rendered.kava";
    QTest::newRow("collision without project") << "V0042.MOV"
                                               << "" << 2 << "V0042-2_autopano.kava"
                                               << "V0042-2"
                                               << "V0042-2_rendered.kava";
}

void TestTemplateWriter::videoProject()
{
    QFETCH(QString, target);
    QFETCH(QString, project);
    QFETCH(int, collision);
    QFETCH(QString, projectFile);
    QFETCH(QString, stem);
    QFETCH(QString, rendered);

    const QString folder = m_destination + "/DCIM/101";
    const QString targetPath = folder + "/" + target;
    const QString base = MediaNaming::basePath(targetPath, ".MOV", collision);
    const QString templatePath = writeTemplate(makeTemplate());
    LogCapture log;
    writeVideoTemplate(2, templatePath, base, project, calibration("0", "0"), collision);

    const QString projectPath = folder + "/" + projectFile;
    QCOMPARE(fileNames(folder), QStringList{projectFile});
    QCOMPARE(log.count(QStringLiteral("Card 2: wrote template file %1.").arg(projectPath)), 1);

    QStringList videos, images;
    for (int k = 1; k <= 3; ++k) {
        videos << QStringLiteral("%1_cam%2.MOV").arg(stem).arg(k);
        images << QStringLiteral("%1_cam%2.MOV.jpg").arg(stem).arg(k);
        // The project opens exactly the files that the import names its copies.
        QCOMPARE(videos.last(),
                 QFileInfo(MediaNaming::cameraCopyName(targetPath, ".MOV", k, project, collision))
                     .fileName());
    }

    const QDomDocument doc = parse(projectPath);
    const QDomElement kava = doc.documentElement();
    QCOMPARE(kava.tagName(), QString("kava"));
    QCOMPARE(kava.attribute("tag"), QString("keep"));

    const auto played = elements(child(kava, "videos"), "video");
    QCOMPARE(attributes(played, "file"), videos + QStringList{"old4.MOV"});
    QCOMPARE(attributes(played, "dt"), (QStringList{"0", "0", "0", "4.5"}));
    QCOMPARE(attributes(played, "audio"), (QStringList{"1", "2", "3", "4"}));
    for (const char* section : {"stabilization", "exposure"}) {
        const auto list = elements(child(kava, section), "video");
        QCOMPARE(attributes(list, "file"), videos);
        QCOMPARE(attributes(list, "dt"), repeated(3, section[0] == 's' ? "3" : "4"));
    }

    const QDomElement pano = child(kava, "pano");
    const auto imageList = elements(child(pano, "images"), "image");
    QStringList defs, lenses;
    for (const QDomElement& image : imageList) {
        defs << child(image, "def").attribute("filename");
        lenses << child(image, "def").attribute("lens");
    }
    QCOMPARE(defs, images);
    QCOMPARE(lenses, repeated(3, "fish"));
    QCOMPARE(pano.elementsByTagName("thumbnail").size(), 0);
    QCOMPARE(pano.elementsByTagName("match").size(), 0);
    QVERIFY(!child(pano, "matches").isNull());
    QVERIFY(!child(child(pano, "projection"), "deep").isNull());
    // Thumbnails outside the panorama stay.
    QCOMPARE(doc.elementsByTagName("thumbnail").size(), 2);
    QVERIFY(!child(kava, "thumbnail").isNull());

    const QDomElement output = child(kava, "output");
    QCOMPARE(output.attribute("file"), rendered);
    QCOMPARE(output.attribute("format"), QString("mp4"));
    const QStringList encoding{"presets",       "quality",  "profile",
                               "framerateMode", "vbitrate", "abitrate"};
    QStringList values;
    for (const QString& name : encoding)
        values << output.attribute(name, "<none>");
    QCOMPARE(values, (QStringList{"4;", "1;", "2;", "0;", "100000000", "160000"}));
    QCOMPARE(child(kava, "encodingrules").attributes().size(), 0);
}

void TestTemplateWriter::templateShapes_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<bool>("pano");
    QTest::addColumn<bool>("output");
    QTest::addColumn<bool>("encodingRules");

    QTest::newRow("two images") << 2 << true << true << true;
    QTest::newRow("no images element") << 0 << true << true << true;
    QTest::newRow("no encoding rules") << 3 << true << true << false;
    QTest::newRow("encoding rules without output") << 3 << true << false << true;
    QTest::newRow("no pano") << 0 << false << true << true;
}

void TestTemplateWriter::templateShapes()
{
    QFETCH(int, images);
    QFETCH(bool, pano);
    QFETCH(bool, output);
    QFETCH(bool, encodingRules);

    QByteArray xml = makeTemplate({images, pano, output, encodingRules});
    if (pano && images == 0)
        xml.replace("<images>", "<gallery>").replace("</images>", "</gallery>");
    const QString templatePath = writeTemplate(xml);
    const QString base = m_destination + "/DCIM/101/V0007.MOV";
    writeVideoTemplate(1, templatePath, base, "Reef", calibration("1", "0"));

    const QDomDocument doc = parse(m_destination + "/DCIM/101/V0007_Reef_autopano.kava");
    const QDomElement kava = doc.documentElement();
    QCOMPARE(kava.tagName(), QString("kava"));
    const QDomElement panoElement = child(kava, "pano");
    QCOMPARE(panoElement.isNull(), !pano);

    QStringList expectedDefs, expectedAngles;
    const QStringList settingsAngles{"-0",  "0", "-90", "-20", "0",   "45",  "1.5", "-90",
                                     "-20", "3", "",    "",    "-90", "-20", ""};
    for (int k = 1; k <= images; ++k) {
        expectedDefs << QStringLiteral("V0007_Reef_cam%1.MOV.jpg").arg(k);
        expectedAngles << settingsAngles.mid((k - 1) * 5, 5);
    }
    QStringList defs;
    for (const QDomElement& image : elements(child(panoElement, "images"), "image"))
        defs << child(image, "def").attribute("filename");
    QCOMPARE(defs, expectedDefs);
    QCOMPARE(cameraAngles(panoElement), expectedAngles);
    QCOMPARE(panoElement.elementsByTagName("thumbnail").size(), 0);
    QCOMPARE(panoElement.elementsByTagName("match").size(), 0);

    // The encoding settings go where the rendered file is named, and only there.
    const QDomElement out = child(kava, "output");
    QCOMPARE(out.isNull(), !output);
    QCOMPARE(out.attribute("vbitrate", "<none>"),
             QString(output && encodingRules ? "100000000" : "<none>"));
    if (output)
        QCOMPARE(out.attribute("file"), QString("V0007_rendered.kava"));
    QCOMPARE(child(kava, "encodingrules").attributes().size(), 0);

    // The photo template is the panorama alone, or just the declaration line.
    const QByteArray photo = TestSupport::readFile(m_templates + "/Rig.pano");
    QVERIFY(photo.startsWith(Declaration.toUtf8() + "\n"));
    if (!pano) {
        QCOMPARE(photo.trimmed(), Declaration.toUtf8());
    } else {
        QDomDocument photoDoc;
        QVERIFY(photoDoc.setContent(photo));
        QCOMPARE(photoDoc.documentElement().tagName(), QString("pano"));
        QCOMPARE(photoDoc.documentElement().elementsByTagName("image").size(), images);
    }
}

void TestTemplateWriter::angles_data()
{
    QTest::addColumn<bool>("photo");
    QTest::addColumn<QVariant>("overwrite");
    QTest::addColumn<QVariant>("radians");
    QTest::addColumn<QStringList>("expected");

    const QStringList templateOwn{"11", "12", "13", "14", "15", "21", "22", "23",
                                  "24", "25", "31", "32", "33", "34", "35"};
    // A missing key is written empty; an empty stored value stays empty.
    const QStringList stored{"-0",  "0", "-90", "-20", "0",   "45",  "1.5", "-90",
                             "-20", "3", "",    "",    "-90", "-20", ""};
    // Single-precision radians in the variant's standard text; offsets as stored.
    const QStringList radians{"0",
                              "0",
                              "-1.5707963705062866",
                              "-20",
                              "0",
                              "0.7853981852531433",
                              "0.02617993950843811",
                              "-1.5707963705062866",
                              "-20",
                              "3",
                              "0",
                              "0",
                              "-1.5707963705062866",
                              "-20",
                              ""};

    for (bool photo : {false, true}) {
        const char* kind = photo ? "photo" : "video";
        QTest::addRow("%s: no switch", kind) << photo << QVariant() << QVariant("0") << templateOwn;
        QTest::addRow("%s: switch off", kind)
            << photo << QVariant("0") << QVariant("0") << templateOwn;
        QTest::addRow("%s: switch false", kind)
            << photo << QVariant("false") << QVariant("1") << templateOwn;
        QTest::addRow("%s: degrees as stored", kind)
            << photo << QVariant("1") << QVariant("0") << stored;
        QTest::addRow("%s: degrees without radians key", kind)
            << photo << QVariant("1") << QVariant() << stored;
        QTest::addRow("%s: radians", kind) << photo << QVariant("1") << QVariant("1") << radians;
    }
}

void TestTemplateWriter::angles()
{
    QFETCH(bool, photo);
    QFETCH(QVariant, overwrite);
    QFETCH(QVariant, radians);
    QFETCH(QStringList, expected);

    const QString templatePath = writeTemplate(makeTemplate());
    const QVariantMap settings = calibration(overwrite, radians);
    QDomElement pano;
    QDomDocument doc;
    if (photo) {
        writePhotoProject(3, templatePath, m_destination + "/DCIM/101/P0001.JPG", "", settings);
        doc = parse(m_destination + "/DCIM/101/P0001_giga.JPG.pano");
        pano = doc.documentElement();
    } else {
        writeVideoTemplate(3, templatePath, m_destination + "/DCIM/101/V0001.MOV", "", settings);
        doc = parse(m_destination + "/DCIM/101/V0001_autopano.kava");
        pano = child(doc.documentElement(), "pano");
    }
    QCOMPARE(pano.tagName(), QString("pano"));
    QCOMPARE(cameraAngles(pano), expected);
    // Other attributes of the camera stay.
    QCOMPARE(pano.elementsByTagName("camera").item(2).toElement().attribute("focal"), QString("9"));
}

void TestTemplateWriter::photoProject_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("project");
    QTest::addColumn<int>("collision");
    QTest::addColumn<QString>("projectFile");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("jpg with project")
        << "P0007.JPG"
        << "Reef" << 0 << "P0007_Reef_giga.JPG.pano"
        << QStringList{"P0007_Reef_cam1.JPG", "P0007_Reef_cam2.JPG", "P0007_Reef_cam3.JPG"};
    QTest::newRow("jpg without project")
        << "P0007.JPG"
        << "" << 0 << "P0007_giga.JPG.pano"
        << QStringList{"P0007_cam1.JPG", "P0007_cam2.JPG", "P0007_cam3.JPG"};
    QTest::newRow("dng with project")
        << "P0007.DNG"
        << "Reef" << 0 << "P0007_Reef_giga.DNG.pano"
        << QStringList{"P0007_Reef_cam1.DNG", "P0007_Reef_cam2.DNG", "P0007_Reef_cam3.DNG"};
    QTest::newRow("dng without project")
        << "P0007.DNG"
        << "" << 0 << "P0007_giga.DNG.pano"
        << QStringList{"P0007_cam1.DNG", "P0007_cam2.DNG", "P0007_cam3.DNG"};
    QTest::newRow("collision with project")
        << "P0007.JPG"
        << "Reef" << 1 << "P0007-1_Reef_giga.JPG.pano"
        << QStringList{"P0007-1_cam1.JPG", "P0007-1_cam2.JPG", "P0007-1_cam3.JPG"};
    QTest::newRow("dng collision")
        << "P0007.DNG"
        << "" << 3 << "P0007-3_giga.DNG.pano"
        << QStringList{"P0007-3_cam1.DNG", "P0007-3_cam2.DNG", "P0007-3_cam3.DNG"};
}

void TestTemplateWriter::photoProject()
{
    QFETCH(QString, target);
    QFETCH(QString, project);
    QFETCH(int, collision);
    QFETCH(QString, projectFile);
    QFETCH(QStringList, names);

    const QString folder = m_destination + "/DCIM/101";
    const QString targetPath = folder + "/" + target;
    const QString extension = MediaNaming::photoExtension(targetPath);
    const QString base = MediaNaming::basePath(targetPath, extension, collision);
    LogCapture log;
    writePhotoProject(1, writeTemplate(makeTemplate()), base, project, calibration("0", "0"),
                      collision);

    const QString projectPath = folder + "/" + projectFile;
    QCOMPARE(fileNames(folder), QStringList{projectFile});
    QCOMPARE(log.lines(), QStringList{LogCapture::quoted(
                              QStringLiteral("Card 1: wrote template file %1.").arg(projectPath))});
    // Nothing goes to the templates folder for photos.
    QVERIFY(!QFileInfo::exists(m_templates + "/Rig.pano"));

    const QByteArray text = TestSupport::readFile(projectPath);
    QVERIFY(text.startsWith(Declaration.toUtf8() + "\n<pano "));
    QDomDocument doc;
    QVERIFY(doc.setContent(text));
    const QDomElement pano = doc.documentElement();
    QCOMPARE(pano.tagName(), QString("pano"));
    QCOMPARE(pano.attribute("fov"), QString("360"));
    QStringList defs;
    for (const QDomElement& image : elements(child(pano, "images"), "image"))
        defs << child(image, "def").attribute("filename");
    QCOMPARE(defs, names);
    for (int k = 1; k <= 3; ++k)
        QCOMPARE(names[k - 1], QFileInfo(MediaNaming::cameraCopyName(targetPath, extension, k,
                                                                     project, collision))
                                   .fileName());
    QCOMPARE(pano.elementsByTagName("thumbnail").size(), 0);
    QCOMPARE(pano.elementsByTagName("match").size(), 0);
    QVERIFY(!child(child(pano, "projection"), "deep").isNull());
    QCOMPARE(doc.elementsByTagName("video").size(), 0);
}

void TestTemplateWriter::secondCallWritesNothing_data()
{
    QTest::addColumn<bool>("photo");
    QTest::newRow("video") << false;
    QTest::newRow("photo") << true;
}

void TestTemplateWriter::secondCallWritesNothing()
{
    QFETCH(bool, photo);
    const QString templatePath = writeTemplate(makeTemplate());
    const QString base = m_destination + (photo ? "/DCIM/101/P0001.JPG" : "/DCIM/101/V0001.MOV");
    const QString projectPath = m_destination + (photo ? "/DCIM/101/P0001_Reef_giga.JPG.pano"
                                                       : "/DCIM/101/V0001_Reef_autopano.kava");
    auto write = [&](int card, const QVariantMap& settings) {
        if (photo)
            writePhotoProject(card, templatePath, base, "Reef", settings);
        else
            writeVideoTemplate(card, templatePath, base, "Reef", settings);
    };
    write(1, calibration("0", "0"));
    const QByteArray first = TestSupport::readFile(projectPath);
    QVERIFY(!first.isEmpty());
    const QStringList templatesBefore = fileNames(m_templates);

    LogCapture log;
    write(2, calibration("1", "1"));
    write(3, calibration("1", "0"));
    QCOMPARE(TestSupport::readFile(projectPath), first);
    QCOMPARE(log.lines(), QStringList());
    QCOMPARE(fileNames(m_destination + "/DCIM/101"),
             QStringList{QFileInfo(projectPath).fileName()});
    QCOMPARE(fileNames(m_templates), templatesBefore);
}

void TestTemplateWriter::templateCopy_data()
{
    QTest::addColumn<QString>("chosenFrom"); // "elsewhere" or "templates"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("photoTemplate");

    QTest::newRow("from another folder") << "elsewhere"
                                         << "Rig.kava"
                                         << "Rig.pano";
    QTest::newRow("from the templates folder") << "templates"
                                               << "Rig.kava"
                                               << "Rig.pano";
    QTest::newRow("upper-case name from another folder") << "elsewhere"
                                                         << "Rig.KAVA"
                                                         << "Rig.pano";
}

void TestTemplateWriter::templateCopy()
{
    QFETCH(QString, chosenFrom);
    QFETCH(QString, name);
    QFETCH(QString, photoTemplate);

    const QByteArray xml = makeTemplate();
    QString templatePath;
    if (chosenFrom == "templates") {
        templatePath = m_templates + "/" + name;
        QVERIFY(TestSupport::writeFile(templatePath, xml));
    } else {
        templatePath = writeTemplate(xml, name);
    }
    QVERIFY(!QFileInfo::exists(m_templates + "/" + photoTemplate));

    LogCapture log;
    writeVideoTemplate(2, templatePath, m_destination + "/DCIM/101/V0042.MOV", "Reef",
                       calibration("1", "0"));
    const QString projectPath = m_destination + "/DCIM/101/V0042_Reef_autopano.kava";
    const QString copyPath = m_templates + "/" + name;
    const QString panoPath = m_templates + "/" + photoTemplate;
    const QByteArray project = TestSupport::readFile(projectPath);
    QVERIFY(!project.isEmpty());

    QStringList expectedLog{QStringLiteral("Card 2: wrote template file %1.").arg(projectPath)};
    if (chosenFrom == "templates") {
        QCOMPARE(TestSupport::readFile(copyPath), xml); // the chosen template is left alone
    } else {
        QCOMPARE(TestSupport::readFile(copyPath), project);
        expectedLog << QStringLiteral("Card 2: copied template file %1.").arg(copyPath);
    }
    expectedLog << QStringLiteral("Card 2: wrote template file %1.").arg(panoPath);
    for (QString& line : expectedLog)
        line = LogCapture::quoted(line);
    QCOMPARE(log.lines(), expectedLog);
    QCOMPARE(fileNames(m_templates), (QStringList{name, photoTemplate}));

    // The photo template is the edited panorama of the first recording.
    const QByteArray photo = TestSupport::readFile(panoPath);
    QVERIFY(photo.startsWith(Declaration.toUtf8() + "\n<pano "));
    QDomDocument photoDoc;
    QVERIFY(photoDoc.setContent(photo));
    const QDomElement pano = photoDoc.documentElement();
    QCOMPARE(child(child(child(pano, "images"), "image"), "def").attribute("filename"),
             QString("V0042_Reef_cam1.MOV.jpg"));
    QCOMPARE(cameraAngles(pano).mid(0, 5), (QStringList{"-0", "0", "-90", "-20", "0"}));
    QCOMPARE(pano.elementsByTagName("thumbnail").size(), 0);

    // A later recording leaves both as the first one made them.
    const QByteArray copyBefore = TestSupport::readFile(copyPath);
    writeVideoTemplate(1, templatePath, m_destination + "/DCIM/101/V0043.MOV", "Reef",
                       calibration("0", "0"));
    QVERIFY(QFileInfo::exists(m_destination + "/DCIM/101/V0043_Reef_autopano.kava"));
    QCOMPARE(TestSupport::readFile(copyPath), copyBefore);
    QCOMPARE(TestSupport::readFile(panoPath), photo);
}

void TestTemplateWriter::unusableTemplate_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no template file at all
    QTest::newRow("missing template") << QByteArray();
    QTest::newRow("malformed template") << QByteArray("<kava><videos></kava>");
}

void TestTemplateWriter::unusableTemplate()
{
    QFETCH(QByteArray, content);
    const QString templatePath =
        content.isEmpty() ? m_destination + "/chosen/Rig.kava" : writeTemplate(content);
    LogCapture log;
    writeVideoTemplate(1, templatePath, m_destination + "/DCIM/101/V0001.MOV", "",
                       calibration("1", "0"));
    writePhotoProject(1, templatePath, m_destination + "/DCIM/101/P0001.JPG", "",
                      calibration("1", "0"));

    // The recording gets its (empty) project and the photo set its declaration
    // line, but no empty template is planted in the templates folder.
    QCOMPARE(TestSupport::readFile(m_destination + "/DCIM/101/V0001_autopano.kava"), QByteArray());
    QCOMPARE(TestSupport::readFile(m_destination + "/DCIM/101/P0001_giga.JPG.pano").trimmed(),
             Declaration.toUtf8());
    QCOMPARE(fileNames(m_templates), QStringList());
    QCOMPARE(
        log.lines().count(QStringLiteral("Card 1: could not read template %1.").arg(templatePath)),
        2);
}

void TestTemplateWriter::baseWithoutExtension_data()
{
    QTest::addColumn<bool>("photo");
    QTest::addColumn<QString>("name");
    QTest::newRow("lower-case video") << false << "V0001.mov";
    QTest::newRow("lower-case photo") << true << "P0001.jpg";
}

void TestTemplateWriter::baseWithoutExtension()
{
    QFETCH(bool, photo);
    QFETCH(QString, name);
    // Without the extension to replace, the project name would be the base
    // path itself; nothing may be written there.
    const QString base = m_destination + "/DCIM/101/" + name;
    const QString templatePath = writeTemplate(makeTemplate());
    if (photo)
        writePhotoProject(1, templatePath, base, "Reef", calibration("1", "0"));
    else
        writeVideoTemplate(1, templatePath, base, "Reef", calibration("1", "0"));
    QCOMPARE(fileNames(m_destination + "/DCIM/101"), QStringList());
}

void TestTemplateWriter::racingCardWorkers_data()
{
    QTest::addColumn<bool>("photo");
    QTest::newRow("video") << false;
    QTest::newRow("photo") << true;
}

void TestTemplateWriter::racingCardWorkers()
{
    QFETCH(bool, photo);
    // A bulky panorama keeps each writer busy between its check and its write,
    // as a real template does.
    QByteArray xml = makeTemplate();
    QByteArray bulk = "<history>";
    for (int i = 0; i < 2000; ++i)
        bulk += "<step n=\"" + QByteArray::number(i) + "\"/>";
    xml.replace("<projection ", bulk + "</history><projection ");
    const QString templatePath = writeTemplate(xml);
    const QString folder = m_destination + "/DCIM/101";
    const int recordings = 20;
    const QVariantMap settings = calibration("1", "0");

    LogCapture log;
    // Each round lets the three cards reach the same recording together.
    QSemaphore gates[3];
    QSemaphore done;
    QVector<QThread*> workers;
    for (int card = 1; card <= 3; ++card) {
        workers << QThread::create([&, card] {
            for (int r = 0; r < recordings; ++r) {
                gates[card - 1].acquire();
                const QString base = QStringLiteral("%1/R%2.%3")
                                         .arg(folder)
                                         .arg(r, 4, 10, QChar('0'))
                                         .arg(photo ? "JPG" : "MOV");
                if (photo)
                    writePhotoProject(card, templatePath, base, "Reef", settings);
                else
                    writeVideoTemplate(card, templatePath, base, "Reef", settings);
                done.release();
            }
        });
    }
    for (QThread* t : workers)
        t->start();
    for (int r = 0; r < recordings; ++r) {
        for (QSemaphore& gate : gates)
            gate.release();
        done.acquire(3);
    }
    for (QThread* t : workers) {
        QVERIFY(t->wait(60000));
        delete t;
    }

    QStringList expectedFiles;
    for (int r = 0; r < recordings; ++r) {
        const QString name = QStringLiteral("R%1").arg(r, 4, 10, QChar('0'));
        const QString file = photo ? name + "_Reef_giga.JPG.pano" : name + "_Reef_autopano.kava";
        expectedFiles << file;
        const QString path = folder + "/" + file;
        int written = 0;
        for (int card = 1; card <= 3; ++card)
            written +=
                log.count(QStringLiteral("Card %1: wrote template file %2.").arg(card).arg(path));
        QCOMPARE(written, 1);

        const QDomDocument doc = parse(path);
        const QDomElement pano =
            photo ? doc.documentElement() : child(doc.documentElement(), "pano");
        QCOMPARE(pano.tagName(), QString("pano"));
        QCOMPARE(child(child(child(pano, "images"), "image"), "def").attribute("filename"),
                 name + (photo ? "_Reef_cam1.JPG" : "_Reef_cam1.MOV.jpg"));
        QCOMPARE(cameraAngles(pano), (QStringList{"-0", "0", "-90", "-20", "0", "45", "1.5", "-90",
                                                  "-20", "3", "", "", "-90", "-20", ""}));
    }
    // No half-written temporaries stay behind.
    QCOMPARE(fileNames(folder), expectedFiles);
    if (!photo) {
        QCOMPARE(fileNames(m_templates), (QStringList{"Rig.kava", "Rig.pano"}));
        int copied = 0;
        for (const QString& line : log.lines())
            copied += line.contains("copied template file") ? 1 : 0;
        QCOMPARE(copied, 1);
        QVERIFY(!parse(m_templates + "/Rig.kava").isNull());
    }
}

QTEST_GUILESS_MAIN(TestTemplateWriter)
#include "tst_templatewriter.moc"
