#include "apppaths.h"
#include "medianaming.h"
#include "templatewriter.h"
#include "testsupport.h"

#include <QDomDocument>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Collects every log message, from any thread.
QMutex logMutex;
QStringList logLines;
struct LogCapture
{
    QtMessageHandler previous;
    LogCapture()
    {
        logLines.clear();
        previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
                QMutexLocker lock(&logMutex);
                logLines << m;
            });
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
    QStringList lines() const
    {
        QMutexLocker lock(&logMutex);
        return logLines;
    }
};
// Text values stand in double quotes in the log.
QString quoted(const QString& text)
{
    return '"' + text + '"';
}

// A small template with every part the writers look at, and parts they must
// leave alone: a fourth video, attributes of their own, thumbnails outside pano.
QByteArray makeTemplate(int images = 3, bool pano = true, bool output = true, bool rules = true)
{
    QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kava tag=\"keep\"><videos>";
    for (int k = 1; k <= 4; ++k)
        xml += QString("<video file=\"old%1\" dt=\"%1.5\" audio=\"%1\"/>").arg(k);
    xml += "</videos><stabilization>";
    for (int k = 1; k <= 3; ++k)
        xml += "<video file=\"s\" dt=\"3\"/>";
    xml += "</stabilization><exposure>";
    for (int k = 1; k <= 3; ++k)
        xml += "<video file=\"e\" dt=\"4\"/>";
    xml += "</exposure><thumbnail/>";
    if (pano) {
        xml += "<pano fov=\"360\"><thumbnail/><images>";
        for (int k = 1; k <= images; ++k)
            xml += QString("<image><def filename=\"old\" lens=\"fish\"/><camera yaw=\"%1\" "
                           "pitch=\"%2\" roll=\"%3\" offset_x=\"%4\" offset_y=\"%5\" focal=\"9\"/>"
                           "<thumbnail/></image>")
                       .arg(k * 10 + 1)
                       .arg(k * 10 + 2)
                       .arg(k * 10 + 3)
                       .arg(k * 10 + 4)
                       .arg(k * 10 + 5);
        xml += "</images><matches><match><thumbnail/></match><match/></matches>"
               "<projection><deep><thumbnail/></deep></projection></pano>";
    }
    if (output)
        xml += "<output file=\"old.mp4\" format=\"mp4\"><thumbnail/></output>";
    if (rules)
        xml += "<encodingrules><rule/></encodingrules>";
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
// The settings as the templates receive them in degrees: missing keys empty.
const QStringList storedAngles{"-0",  "0", "-90", "-20", "0",   "45",  "1.5", "-90",
                               "-20", "3", "",    "",    "-90", "-20", ""};

QDomElement root(const QString& path)
{
    QDomDocument doc;
    doc.setContent(TestSupport::readFile(path));
    return doc.documentElement();
}

QList<QDomElement> elements(const QDomElement& parent, const QString& tag)
{
    QList<QDomElement> list;
    for (QDomElement e = parent.firstChildElement(tag); !e.isNull(); e = e.nextSiblingElement(tag))
        list << e;
    return list;
}

// The attribute `name` of each element, or of each element's first `child`.
QStringList values(const QList<QDomElement>& list, const QString& name, const QString& child = {})
{
    QStringList result;
    for (const QDomElement& e : list)
        result << (child.isEmpty() ? e : e.firstChildElement(child)).attribute(name, "<none>");
    return result;
}

QStringList imageFiles(const QDomElement& pano)
{
    return values(elements(pano.firstChildElement("images"), "image"), "filename", "def");
}

// yaw, pitch, roll, offset_x and offset_y of each image's camera in turn.
QStringList cameraAngles(const QDomElement& pano)
{
    QStringList result;
    for (const QDomElement& image : elements(pano.firstChildElement("images"), "image"))
        for (const char* a : {"yaw", "pitch", "roll", "offset_x", "offset_y"})
            result << image.firstChildElement("camera").attribute(a, "<none>");
    return result;
}

QStringList fileNames(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

const QByteArray Declaration = "<?xml version='1.0' encoding='UTF-8'?>";

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
    void templateCopy_data();
    void templateCopy();
    void unusableTemplate_data();
    void unusableTemplate();
    void baseWithoutExtension();
    void racingCardWorkers_data();
    void racingCardWorkers();

private:
    QString chosenTemplate(const QByteArray& xml, const QString& name = "Rig.kava")
    {
        const QString path = QDir::cleanPath(m_folder + "/../chosen/" + name);
        TestSupport::writeFile(path, xml);
        return path;
    }

    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QString m_templates;
    QString m_folder; // the destination's DCIM/101
};

void TestTemplateWriter::initTestCase()
{
    // The templates folder lies below the user's folders: use folders of our own.
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (m_home.path() + "/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toUtf8());
}

void TestTemplateWriter::init()
{
    resetPathCaches();
    m_templates = templatesDirPath();
    QVERIFY2(m_templates.startsWith(m_home.path()), qPrintable(m_templates));
    QDir(m_templates).removeRecursively();
    static int run = 0;
    m_folder = QString("%1/run%2/DCIM/101").arg(m_work.path()).arg(++run);
    QVERIFY(QDir().mkpath(m_folder));
}

void TestTemplateWriter::videoProject_data()
{
    QTest::addColumn<QString>("project");
    QTest::addColumn<int>("collision");
    QTest::addColumn<QString>("projectFile");
    QTest::addColumn<QString>("stem"); // of the camera names and the rendered output

    QTest::newRow("no project") << "" << 0 << "V0042_autopano.kava"
                                << "V0042";
    QTest::newRow("project") << "Reef" << 0 << "V0042_Reef_autopano.kava"
                             << "V0042_Reef";
    // After a collision the copies carry the number and no project name.
    QTest::newRow("collision, project") << "Reef" << 1 << "V0042-1_Reef_autopano.kava"
                                        << "V0042-1";
    QTest::newRow("collision, no project") << "" << 2 << "V0042-2_autopano.kava"
                                           << "V0042-2";
}

void TestTemplateWriter::videoProject()
{
    QFETCH(QString, project);
    QFETCH(int, collision);
    QFETCH(QString, projectFile);
    QFETCH(QString, stem);

    const QString target = m_folder + "/V0042.MOV";
    const QString base = MediaNaming::basePath(target, ".MOV", collision);
    const QString templatePath = chosenTemplate(makeTemplate());
    QStringList videos, images;
    for (int k = 1; k <= 3; ++k) {
        // The project opens exactly the files under which the import copies.
        videos << QFileInfo(MediaNaming::cameraCopyName(target, ".MOV", k, project, collision))
                      .fileName();
        images << videos.last() + ".jpg";
    }
    QCOMPARE(videos[2], QString("%1_cam3.MOV").arg(stem));

    {
        LogCapture log;
        writeVideoTemplate(2, templatePath, base, project, calibration("0"), collision);
        QCOMPARE(log.lines().first(),
                 quoted("Card 2: wrote template file " + m_folder + "/" + projectFile + "."));
    }
    QCOMPARE(fileNames(m_folder), QStringList{projectFile});
    const QByteArray first = TestSupport::readFile(m_folder + "/" + projectFile);
    const QDomElement kava = root(m_folder + "/" + projectFile);
    QCOMPARE(kava.attribute("tag"), QString("keep"));

    const auto played = elements(kava.firstChildElement("videos"), "video");
    QCOMPARE(values(played, "file"), videos + QStringList{"old4"});
    QCOMPARE(values(played, "dt"), (QStringList{"0", "0", "0", "4.5"}));
    QCOMPARE(values(played, "audio"), (QStringList{"1", "2", "3", "4"}));
    for (const char* section : {"stabilization", "exposure"}) {
        const auto list = elements(kava.firstChildElement(section), "video");
        QCOMPARE(values(list, "file"), videos);
        QCOMPARE(values(list, "dt").join(""), QString(section[0] == 's' ? "333" : "444"));
    }

    const QDomElement pano = kava.firstChildElement("pano");
    QCOMPARE(imageFiles(pano), images);
    QCOMPARE(values(elements(pano.firstChildElement("images"), "image"), "lens", "def"),
             (QStringList{"fish", "fish", "fish"}));
    QCOMPARE(pano.elementsByTagName("thumbnail").size(), 0);
    QCOMPARE(pano.elementsByTagName("match").size(), 0);
    QVERIFY(!pano.firstChildElement("projection").firstChildElement("deep").isNull());
    // Thumbnails outside the panorama stay.
    QCOMPARE(kava.elementsByTagName("thumbnail").size(), 2);

    const QDomElement output = kava.firstChildElement("output");
    QStringList rendering;
    for (const char* a : {"file", "format", "presets", "quality", "profile", "framerateMode",
                          "vbitrate", "abitrate"})
        rendering << output.attribute(a);
    QCOMPARE(rendering, (QStringList{stem.section('_', 0, 0) + "_rendered.kava", "mp4", "4;", "1;",
                                     "2;", "0;", "100000000", "160000"}));
    QCOMPARE(kava.firstChildElement("encodingrules").attributes().size(), 0);

    // The other cards' calls for the same recording write and log nothing.
    LogCapture log;
    writeVideoTemplate(1, templatePath, base, project, calibration("1", "1"), collision);
    writeVideoTemplate(3, templatePath, base, project, calibration("1"), collision);
    QCOMPARE(log.lines(), QStringList());
    QCOMPARE(TestSupport::readFile(m_folder + "/" + projectFile), first);
    QCOMPARE(fileNames(m_folder), QStringList{projectFile});
}

void TestTemplateWriter::templateShapes_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<bool>("pano");
    QTest::addColumn<bool>("output");
    QTest::addColumn<bool>("rules");

    QTest::newRow("two images") << 2 << true << true << true;
    QTest::newRow("no images") << 0 << true << true << true;
    QTest::newRow("no encoding rules") << 3 << true << true << false;
    QTest::newRow("encoding rules, no output") << 3 << true << false << true;
    QTest::newRow("no pano") << 0 << false << true << true;
}

void TestTemplateWriter::templateShapes()
{
    QFETCH(int, images);
    QFETCH(bool, pano);
    QFETCH(bool, output);
    QFETCH(bool, rules);

    QByteArray xml = makeTemplate(images, pano, output, rules);
    if (images == 0)
        xml.replace("<images>", "").replace("</images>", "");
    writeVideoTemplate(1, chosenTemplate(xml), m_folder + "/V0007.MOV", "Reef", calibration("1"));

    const QDomElement kava = root(m_folder + "/V0007_Reef_autopano.kava");
    const QDomElement panoElement = kava.firstChildElement("pano");
    QCOMPARE(panoElement.isNull(), !pano);
    QStringList names;
    for (int k = 1; k <= images; ++k)
        names << QString("V0007_Reef_cam%1.MOV.jpg").arg(k);
    QCOMPARE(imageFiles(panoElement), names);
    QCOMPARE(cameraAngles(panoElement), storedAngles.mid(0, images * 5));
    QCOMPARE(panoElement.elementsByTagName("thumbnail").size(), 0);

    // The encoding settings go where the rendered file is named, and only there.
    const QDomElement out = kava.firstChildElement("output");
    QCOMPARE(out.isNull(), !output);
    QCOMPARE(out.attribute("vbitrate", "<none>"),
             QString(output && rules ? "100000000" : "<none>"));
    QCOMPARE(kava.firstChildElement("encodingrules").attributes().size(), 0);

    // The photo template is the panorama alone, or just the declaration line.
    const QByteArray photo = TestSupport::readFile(m_templates + "/Rig.pano");
    QVERIFY(photo.startsWith(Declaration + "\n"));
    if (pano)
        QCOMPARE(imageFiles(root(m_templates + "/Rig.pano")), names);
    else
        QCOMPARE(photo.trimmed(), Declaration);
}

void TestTemplateWriter::angles_data()
{
    QTest::addColumn<bool>("photo");
    QTest::addColumn<QVariant>("overwrite");
    QTest::addColumn<QVariant>("radians");
    QTest::addColumn<QStringList>("expected");

    const QStringList own{"11", "12", "13", "14", "15", "21", "22", "23",
                          "24", "25", "31", "32", "33", "34", "35"};
    // Single-precision radians in the variant's standard text; offsets as stored.
    const QString r90 = "-1.5707963705062866";
    const QStringList radians{
        "0", "0", r90, "-20", "0", "0.7853981852531433", "0.02617993950843811", r90, "-20", "3",
        "0", "0", r90, "-20", ""};
    for (bool photo : {false, true}) {
        const char* kind = photo ? "photo" : "video";
        QTest::addRow("%s, no switch", kind) << photo << QVariant() << QVariant("1") << own;
        QTest::addRow("%s, switch off", kind) << photo << QVariant("0") << QVariant("1") << own;
        QTest::addRow("%s, switch false", kind) << photo << QVariant("false") << QVariant() << own;
        QTest::addRow("%s, degrees", kind)
            << photo << QVariant("1") << QVariant("0") << storedAngles;
        QTest::addRow("%s, no radians key", kind)
            << photo << QVariant("1") << QVariant() << storedAngles;
        QTest::addRow("%s, radians", kind) << photo << QVariant("1") << QVariant("1") << radians;
    }
}

void TestTemplateWriter::angles()
{
    QFETCH(bool, photo);
    QFETCH(QVariant, overwrite);
    QFETCH(QVariant, radians);
    QFETCH(QStringList, expected);

    const QString templatePath = chosenTemplate(makeTemplate());
    const QVariantMap settings = calibration(overwrite, radians);
    QDomElement pano;
    if (photo) {
        writePhotoProject(3, templatePath, m_folder + "/P0001.JPG", "", settings);
        pano = root(m_folder + "/P0001_giga.JPG.pano");
    } else {
        writeVideoTemplate(3, templatePath, m_folder + "/V0001.MOV", "", settings);
        pano = root(m_folder + "/V0001_autopano.kava").firstChildElement("pano");
    }
    QCOMPARE(cameraAngles(pano), expected);
    QCOMPARE(pano.elementsByTagName("camera").item(2).toElement().attribute("focal"), QString("9"));
}

void TestTemplateWriter::photoProject_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("project");
    QTest::addColumn<int>("collision");
    QTest::addColumn<QString>("projectFile");
    QTest::addColumn<QString>("camera1");

    QTest::newRow("jpg, project") << "P0007.JPG"
                                  << "Reef" << 0 << "P0007_Reef_giga.JPG.pano"
                                  << "P0007_Reef_cam1.JPG";
    QTest::newRow("jpg") << "P0007.JPG"
                         << "" << 0 << "P0007_giga.JPG.pano"
                         << "P0007_cam1.JPG";
    QTest::newRow("dng, project") << "P0007.DNG"
                                  << "Reef" << 0 << "P0007_Reef_giga.DNG.pano"
                                  << "P0007_Reef_cam1.DNG";
    QTest::newRow("dng") << "P0007.DNG"
                         << "" << 0 << "P0007_giga.DNG.pano"
                         << "P0007_cam1.DNG";
    QTest::newRow("collision, project") << "P0007.JPG"
                                        << "Reef" << 1 << "P0007-1_Reef_giga.JPG.pano"
                                        << "P0007-1_cam1.JPG";
    QTest::newRow("dng collision") << "P0007.DNG"
                                   << "" << 3 << "P0007-3_giga.DNG.pano"
                                   << "P0007-3_cam1.DNG";
}

void TestTemplateWriter::photoProject()
{
    QFETCH(QString, target);
    QFETCH(QString, project);
    QFETCH(int, collision);
    QFETCH(QString, projectFile);
    QFETCH(QString, camera1);

    const QString targetPath = m_folder + "/" + target;
    const QString extension = MediaNaming::photoExtension(targetPath);
    const QString base = MediaNaming::basePath(targetPath, extension, collision);
    const QString templatePath = chosenTemplate(makeTemplate());
    const QString projectPath = m_folder + "/" + projectFile;
    {
        LogCapture log;
        writePhotoProject(1, templatePath, base, project, calibration("0"), collision);
        QCOMPARE(log.lines(),
                 QStringList{quoted("Card 1: wrote template file " + projectPath + ".")});
    }
    QStringList names;
    for (int k = 1; k <= 3; ++k)
        names << QFileInfo(
                     MediaNaming::cameraCopyName(targetPath, extension, k, project, collision))
                     .fileName();
    QCOMPARE(names[0], camera1);

    const QByteArray text = TestSupport::readFile(projectPath);
    QVERIFY(text.startsWith(Declaration + "\n<pano "));
    const QDomElement pano = root(projectPath);
    QCOMPARE(pano.attribute("fov"), QString("360"));
    QCOMPARE(imageFiles(pano), names);
    QCOMPARE(pano.elementsByTagName("thumbnail").size() + pano.elementsByTagName("match").size(),
             0);
    QVERIFY(!pano.firstChildElement("projection").firstChildElement("deep").isNull());

    // The other cards find the project and write nothing; photos touch no template.
    LogCapture log;
    writePhotoProject(2, templatePath, base, project, calibration("1"), collision);
    QCOMPARE(log.lines(), QStringList());
    QCOMPARE(TestSupport::readFile(projectPath), text);
    QCOMPARE(fileNames(m_folder), QStringList{projectFile});
    QCOMPARE(fileNames(m_templates), QStringList());
}

void TestTemplateWriter::templateCopy_data()
{
    QTest::addColumn<bool>("inTemplates"); // chosen from the templates folder itself
    QTest::addColumn<QString>("name");
    QTest::newRow("from another folder") << false << "Rig.kava";
    QTest::newRow("from the templates folder") << true << "Rig.kava";
    QTest::newRow("upper-case name, another folder") << false << "Rig.KAVA";
}

void TestTemplateWriter::templateCopy()
{
    QFETCH(bool, inTemplates);
    QFETCH(QString, name);

    const QByteArray xml = makeTemplate();
    const QString copyPath = m_templates + "/" + name;
    const QString panoPath = m_templates + "/Rig.pano";
    if (inTemplates)
        QVERIFY(TestSupport::writeFile(copyPath, xml));
    const QString templatePath = inTemplates ? copyPath : chosenTemplate(xml, name);

    LogCapture log;
    writeVideoTemplate(2, templatePath, m_folder + "/V0042.MOV", "Reef", calibration("1"));
    const QString projectPath = m_folder + "/V0042_Reef_autopano.kava";
    const QByteArray project = TestSupport::readFile(projectPath);

    QStringList expectedLog{quoted("Card 2: wrote template file " + projectPath + ".")};
    if (!inTemplates)
        expectedLog << quoted("Card 2: copied template file " + copyPath + ".");
    expectedLog << quoted("Card 2: wrote template file " + panoPath + ".");
    QCOMPARE(log.lines(), expectedLog);
    QCOMPARE(fileNames(m_templates), (QStringList{name, "Rig.pano"}));
    // A chosen template from the folder is left alone; others arrive as the first project.
    QCOMPARE(TestSupport::readFile(copyPath), inTemplates ? xml : project);

    // The photo template is the first recording's edited panorama.
    const QByteArray photo = TestSupport::readFile(panoPath);
    QVERIFY(photo.startsWith(Declaration + "\n<pano "));
    const QDomElement pano = root(panoPath);
    QCOMPARE(imageFiles(pano).value(0), QString("V0042_Reef_cam1.MOV.jpg"));
    QCOMPARE(cameraAngles(pano), storedAngles);
    QCOMPARE(pano.elementsByTagName("thumbnail").size(), 0);

    // A later recording leaves both as the first one made them.
    const QByteArray copy = TestSupport::readFile(copyPath);
    writeVideoTemplate(1, templatePath, m_folder + "/V0043.MOV", "Reef", calibration("0"));
    QVERIFY(QFileInfo::exists(m_folder + "/V0043_Reef_autopano.kava"));
    QCOMPARE(TestSupport::readFile(copyPath), copy);
    QCOMPARE(TestSupport::readFile(panoPath), photo);
}

void TestTemplateWriter::unusableTemplate_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no template file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("malformed") << QByteArray("<kava><videos></kava>");
}

void TestTemplateWriter::unusableTemplate()
{
    QFETCH(QByteArray, content);
    const QString templatePath = chosenTemplate(content);
    if (content.isEmpty())
        QFile::remove(templatePath);
    LogCapture log;
    writeVideoTemplate(1, templatePath, m_folder + "/V0001.MOV", "", calibration("1"));
    writePhotoProject(1, templatePath, m_folder + "/P0001.JPG", "", calibration("1"));

    // The recording gets its empty project and the photo set its declaration
    // line, but no empty template is planted in the templates folder.
    QCOMPARE(TestSupport::readFile(m_folder + "/V0001_autopano.kava"), QByteArray());
    QCOMPARE(TestSupport::readFile(m_folder + "/P0001_giga.JPG.pano").trimmed(), Declaration);
    QCOMPARE(fileNames(m_templates), QStringList());
    QCOMPARE(log.lines().count("Card 1: could not read template " + templatePath + "."), 2);
}

void TestTemplateWriter::baseWithoutExtension()
{
    // With no extension to replace, the project's name would be the base path itself.
    const QString templatePath = chosenTemplate(makeTemplate());
    writeVideoTemplate(1, templatePath, m_folder + "/V0001.mov", "Reef", calibration("1"));
    writePhotoProject(1, templatePath, m_folder + "/P0001.jpg", "Reef", calibration("1"));
    QCOMPARE(fileNames(m_folder), QStringList());
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
    // A bulky template keeps each writer busy between its check and its write.
    QByteArray bulk = "<history>";
    for (int i = 0; i < 2000; ++i)
        bulk += "<step n=\"" + QByteArray::number(i) + "\"/>";
    const QString templatePath =
        chosenTemplate(makeTemplate().replace("<projection>", bulk + "</history><projection>"));
    const int recordings = 20;

    LogCapture log;
    QSemaphore gates[3];
    QSemaphore done;
    QVector<QThread*> cards;
    for (int card = 1; card <= 3; ++card)
        cards << QThread::create([&, card] {
            for (int r = 0; r < recordings; ++r) {
                gates[card - 1].acquire();
                const QString base = QString("%1/R%2.").arg(m_folder).arg(r + 10);
                if (photo)
                    writePhotoProject(card, templatePath, base + "JPG", "Reef", calibration("1"));
                else
                    writeVideoTemplate(card, templatePath, base + "MOV", "Reef", calibration("1"));
                done.release();
            }
        });
    for (QThread* t : cards)
        t->start();
    for (int r = 0; r < recordings; ++r) { // the three cards reach each recording together
        for (QSemaphore& gate : gates)
            gate.release();
        done.acquire(3);
    }
    for (QThread* t : cards) {
        QVERIFY(t->wait(60000));
        delete t;
    }

    QStringList files;
    const QStringList lines = log.lines();
    for (int r = 0; r < recordings; ++r) {
        const QString name = QString("R%1").arg(r + 10);
        files << name + (photo ? "_Reef_giga.JPG.pano" : "_Reef_autopano.kava");
        const QString path = m_folder + "/" + files.last();
        int written = 0;
        for (int card = 1; card <= 3; ++card)
            written += lines.count(
                quoted(QString("Card %1: wrote template file %2.").arg(card).arg(path)));
        QCOMPARE(written, 1);
        const QDomElement pano = photo ? root(path) : root(path).firstChildElement("pano");
        QCOMPARE(imageFiles(pano).value(2),
                 name + (photo ? "_Reef_cam3.JPG" : "_Reef_cam3.MOV.jpg"));
        QCOMPARE(cameraAngles(pano), storedAngles);
    }
    QCOMPARE(fileNames(m_folder), files); // and no temporary files left behind
    if (!photo) {
        QCOMPARE(fileNames(m_templates), (QStringList{"Rig.kava", "Rig.pano"}));
        QCOMPARE(lines.filter("copied template file").size(), 1);
        QCOMPARE(root(m_templates + "/Rig.kava").tagName(), QString("kava"));
    }
}

QTEST_GUILESS_MAIN(TestTemplateWriter)
#include "tst_templatewriter.moc"
