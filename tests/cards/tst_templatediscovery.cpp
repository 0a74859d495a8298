#include "base/apppaths.h"
#include "cards/templatediscovery.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class TestTemplateDiscovery : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void discovery_data()
    {
        // In the templates folder "name/" is a folder, others are files.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("listed"); // the names shown, in the order returned
        QTest::addColumn<QString>("jpg");        // the preview chosen, or empty

        QTest::newRow("case-sensitive descending order")
            << QStringList{"A.kava", "b.kava", "C.kava", "A.JPG", "C.Jpg"}
            << QStringList{"b", "C", "A"} << "C.Jpg";
        QTest::newRow("upper-case extension kept in the name")
            << QStringList{"Rig.KAVA", "Rig.kava", "B.Jpg", "a.jpg"}
            << QStringList{"Rig", "Rig.KAVA"} << "a.jpg";
        QTest::newRow("only regular files")
            << QStringList{"a.kava", "d.kava/", "a.kava.pano", "a.jpg", "z.jpg/"}
            << QStringList{"a"} << "a.jpg";
        QTest::newRow("nothing") << QStringList{} << QStringList{} << "";
    }

    void discovery()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, listed);
        QFETCH(QString, jpg);

        qputenv("HOME", m_home.path().toUtf8()); // never the user's own templates
        qputenv("XDG_DATA_HOME", (m_home.path() + "/share").toUtf8());
        resetPathCaches();
        const QDir dir(templatesDirPath());
        QVERIFY2(dir.path().startsWith(m_home.path()), qPrintable(dir.path()));
        QDir(dir).removeRecursively();
        for (const QString& entry : entries)
            QVERIFY(entry.endsWith('/') ? dir.mkpath(entry)
                                        : TestSupport::writeFile(dir.filePath(entry), "<kava/>"));

        QStringList shown;
        for (const QVariant& entry : listTemplates()) {
            const QJsonObject object = entry.toJsonObject();
            shown << object.value("value").toString();
            const QString key = object.value("key").toString(); // the file's own full path
            QVERIFY2(QFileInfo(key).isFile() && key.startsWith(dir.filePath(shown.last())),
                     qPrintable(key));
        }
        QCOMPARE(shown, listed);
        QCOMPARE(templateJpg(), jpg.isEmpty() ? QString() : dir.absoluteFilePath(jpg));
    }
};

QTEST_GUILESS_MAIN(TestTemplateDiscovery)
#include "tst_templatediscovery.moc"
