#include "drivediscovery.h"
#include "volumes.h"

#include <QDir>
#include <QJsonObject>
#include <QtTest>

Q_DECLARE_METATYPE(VolumeInfo)

namespace {

VolumeInfo volume(const QString& rootPath, const QString& label = QString())
{
    VolumeInfo info;
    info.valid = info.ready = true;
    info.rootPath = rootPath;
    info.name = label;
    info.displayName = label;
    info.bytesTotal = 64LL << 30;
    info.fileSystemType = "vfat";
    return info;
}

QStringList entries(const QVariantList& drives)
{
    QStringList result;
    for (const QVariant& drive : drives) {
        const QJsonObject entry = drive.toJsonObject();
        result << entry.value("key").toString() + "=" + entry.value("value").toString();
    }
    return result;
}

} // namespace

class TestDriveDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Volumes::setProvider(nullptr); }

    void oneVolume_data()
    {
        QTest::addColumn<VolumeInfo>("info");
        QTest::addColumn<QStringList>("expected");
        VolumeInfo card = volume("/media/u/CARD", "QVK_01");
        QTest::newRow("card") << card << QStringList{"/media/u/CARD=QVK_01"};
        VolumeInfo v = card;
        v.readOnly = true;
        QTest::newRow("read-only") << v << QStringList();
        v = card;
        v.ready = false;
        QTest::newRow("not ready") << v << QStringList();
        v = card;
        v.valid = false;
        QTest::newRow("invalid") << v << QStringList();
        v = card;
        v.root = true;
        QTest::newRow("root volume") << v << QStringList();
        for (const char* type : {"tmpfs", "devtmpfs", "proc", "sysfs", "overlay", "squashfs",
                                 "cgroup2", "TMPFS", "fuse.portal"}) {
            v = card;
            v.fileSystemType = type;
            QTest::newRow(type) << v << QStringList();
        }
        for (const char* type : {"exfat", "ntfs3", "fuseblk", "ext4", ""}) {
            v = card;
            v.fileSystemType = type;
            QTest::newRow(qPrintable(QString("real %1").arg(type)))
                << v << QStringList{"/media/u/CARD=QVK_01"};
        }
        QTest::newRow("no label") << volume("/media/u/8A3F-11C2")
                                  << QStringList{"/media/u/8A3F-11C2=/media/u/8A3F-11C2"};
        QTest::newRow("file scheme removed")
            << volume("file:///mnt/card", "C") << QStringList{"/mnt/card=C"};
    }

    void oneVolume()
    {
        QFETCH(VolumeInfo, info);
        QFETCH(QStringList, expected);
        FolderVolumeProvider provider({info});
        Volumes::setProvider(&provider);
        QCOMPARE(entries(listDrives()), expected);
    }

    void orderedByKey()
    {
        VolumeInfo system = volume("/");
        system.root = true;
        FolderVolumeProvider provider({volume("/media/u/c", "QVK_03"), system,
                                       volume("/media/u/a", "QVK_01"),
                                       volume("/media/u/b", "QVK_02")});
        Volumes::setProvider(&provider);
        QCOMPARE(entries(listDrives()),
                 (QStringList{"/media/u/a=QVK_01", "/media/u/b=QVK_02", "/media/u/c=QVK_03"}));
        Volumes::setProvider(nullptr);
        FolderVolumeProvider none;
        Volumes::setProvider(&none);
        QVERIFY(listDrives().isEmpty());
    }

    void folderVolumeForPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expectedRoot"); // empty: no volume
        QTest::newRow("the root itself") << "/cards/one"
                                         << "/cards/one";
        QTest::newRow("below") << "/cards/one/DCIM/x"
                               << "/cards/one";
        QTest::newRow("trailing slash") << "/cards/one/"
                                        << "/cards/one";
        QTest::newRow("nested volume wins") << "/cards/one/inner/f"
                                            << "/cards/one/inner";
        QTest::newRow("name prefix is no parent") << "/cards/onetwo"
                                                  << "";
        QTest::newRow("outside") << "/elsewhere"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void folderVolumeForPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expectedRoot);
        FolderVolumeProvider provider({FolderVolumeProvider::folderVolume("/cards/one"),
                                       FolderVolumeProvider::folderVolume("/cards/one/inner")});
        Volumes::setProvider(&provider);
        const VolumeInfo info = Volumes::volumeForPath(path);
        QCOMPARE(info.valid, !expectedRoot.isEmpty());
        QCOMPARE(info.rootPath, expectedRoot);
    }

    void systemVolumes()
    {
        // The system's own volume is known as such and never offered.
        QVERIFY(Volumes::volumeForPath(QDir::rootPath()).root);
        QVERIFY(Volumes::volumeForPath(QDir::rootPath()).valid);
        QVERIFY(!Volumes::volumeForPath(QString()).valid);
        for (const QString& drive : entries(listDrives()))
            QVERIFY2(!drive.startsWith(QDir::rootPath() + "="), qPrintable(drive));
    }
};

QTEST_GUILESS_MAIN(TestDriveDiscovery)
#include "tst_drivediscovery.moc"
