#include "apppaths.h"
#include "templatediscovery.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class TestTemplateDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void listTemplates_data();
    void listTemplates();
    void templateJpg_data();
    void templateJpg();

private:
    // Fills the templates folder: "name/" makes a folder, "name@" a link, others files.
    void populate(const QStringList& entries);

    QTemporaryDir m_home;
    QString m_templates;
};

void TestTemplateDiscovery::initTestCase()
{
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (m_home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + "/.config").toUtf8());
}

void TestTemplateDiscovery::init()
{
    resetPathCaches();
    m_templates = templatesDirPath();
    QVERIFY2(m_templates.startsWith(m_home.path()), qPrintable(m_templates));
    QDir(m_templates).removeRecursively();
}

void TestTemplateDiscovery::populate(const QStringList& entries)
{
    for (const QString& entry : entries) {
        if (entry.endsWith('/')) {
            QVERIFY(QDir().mkpath(m_templates + "/" + entry));
        } else if (entry.endsWith('@')) {
            const QString target = m_home.path() + "/elsewhere/" + entry.chopped(1);
            QVERIFY(TestSupport::writeFile(target, "<kava/>"));
            QVERIFY(QFile::link(target, m_templates + "/" + entry.chopped(1)));
        } else {
            QVERIFY(TestSupport::writeFile(m_templates + "/" + entry, "<kava/>"));
        }
    }
}

void TestTemplateDiscovery::listTemplates_data()
{
    QTest::addColumn<QStringList>("entries"); // empty list and no folder: see "missing folder"
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QStringList>("files");  // in the order returned
    QTest::addColumn<QStringList>("values"); // the names shown

    QTest::newRow("descending case-sensitive order")
        << QStringList{"A.kava", "b.kava", "C.kava"} << true
        << QStringList{"b.kava", "C.kava", "A.kava"} << QStringList{"b", "C", "A"};
    QTest::newRow("upper-case extension listed, name kept")
        << QStringList{"Rig.KAVA", "Rig.kava"} << true << QStringList{"Rig.kava", "Rig.KAVA"}
        << QStringList{"Rig", "Rig.KAVA"};
    QTest::newRow("only regular files matching")
        << QStringList{"a.kava",    "dir.kava/",  "link.kava@",
                       "notes.txt", "a.kava.jpg", "a.kava.pano"}
        << true << QStringList{"a.kava"} << QStringList{"a"};
    QTest::newRow("every .kava removed from the shown name")
        << QStringList{"x.kava.kava"} << true << QStringList{"x.kava.kava"} << QStringList{"x"};
    QTest::newRow("empty folder") << QStringList{} << true << QStringList{} << QStringList{};
    QTest::newRow("missing folder") << QStringList{} << false << QStringList{} << QStringList{};
}

void TestTemplateDiscovery::listTemplates()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, folder);
    QFETCH(QStringList, files);
    QFETCH(QStringList, values);

    if (folder)
        QVERIFY(QDir().mkpath(m_templates));
    populate(entries);

    if (files.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, "No templates found");
    for (const QString& file : files)
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable(QStringLiteral("Found template \"%1\"").arg(file)));

    const QVariantList list = ::listTemplates();
    QStringList keys, shown;
    for (const QVariant& entry : list) {
        const QJsonObject object = entry.toJsonObject();
        QCOMPARE(object.size(), 2);
        keys << object.value("key").toString();
        shown << object.value("value").toString();
    }
    QStringList expectedKeys;
    for (const QString& file : files)
        expectedKeys << QDir(m_templates).absoluteFilePath(file);
    QCOMPARE(keys, expectedKeys);
    QCOMPARE(shown, values);
}

void TestTemplateDiscovery::templateJpg_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("expected"); // file name, or empty

    QTest::newRow("last by name") << QStringList{"z.jpg", "a.jpg", "m.kava"} << "z.jpg";
    // Any case matches; the order is case-sensitive, so lower case comes last.
    QTest::newRow("case-sensitive order") << QStringList{"b.jpg", "C.JPG", "A.Jpg"} << "b.jpg";
    QTest::newRow("folders and links ignored")
        << QStringList{"a.jpg", "z.jpg/", "zz.jpg@"} << "a.jpg";
    QTest::newRow("no image") << QStringList{"Rig.kava", "Rig.png"} << "";
    QTest::newRow("missing folder") << QStringList{} << "";
}

void TestTemplateDiscovery::templateJpg()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, expected);
    populate(entries);
    QCOMPARE(::templateJpg(),
             expected.isEmpty() ? QString() : QDir(m_templates).absoluteFilePath(expected));
}

QTEST_GUILESS_MAIN(TestTemplateDiscovery)
#include "tst_templatediscovery.moc"
