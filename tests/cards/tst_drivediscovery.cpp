#include "cards/drivediscovery.h"
#include "cards/volumes.h"
#include "support/loopvolume.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using VolumeList = QList<VolumeInfo>;
Q_DECLARE_METATYPE(VolumeList)

static QString entries(const QVariantList& drives)
{
    QStringList result;
    for (const QVariant& drive : drives)
        result << drive.toJsonObject().value("key").toString() + "=" +
                      drive.toJsonObject().value("value").toString();
    return result.join(' ');
}

class TestDriveDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Volumes::setProvider(nullptr); }

    void listed_data()
    {
        QTest::addColumn<VolumeList>("volumes");
        QTest::addColumn<QString>("expected");
        const auto volume = &FolderVolumeProvider::folderVolume;
        const VolumeInfo card = volume("/m/c", "QVK_03", 1LL << 36);
        QTest::newRow("ordered by key")
            << VolumeList{card, volume("/m/a", "QVK_01", 1), volume("/m/b", "QVK_02", 1)}
            << "/m/a=QVK_01 /m/b=QVK_02 /m/c=QVK_03";
        QTest::newRow("no label") << VolumeList{volume("/m/8A3F", {}, 1)} << "/m/8A3F=/m/8A3F";
        const char* const names[] = {"read-only", "not ready", "invalid", "root", "tmpfs"};
        VolumeInfo out[] = {card, card, card, card, card};
        out[0].readOnly = true;
        out[1].ready = false;
        out[2].valid = false;
        out[3].root = true;
        out[4].fileSystemType = "tmpfs";
        for (int i = 0; i < 5; ++i)
            QTest::newRow(names[i]) << VolumeList{out[i]} << QString();
    }

    void listed()
    {
        QFETCH(VolumeList, volumes);
        QFETCH(QString, expected);
        FolderVolumeProvider provider(volumes);
        Volumes::setProvider(&provider);
        QCOMPARE(entries(listDrives()), expected);
    }

    void systemVolumeNeverOffered()
    {
        QVERIFY(Volumes::volumeForPath(QDir::rootPath()).valid);
        QVERIFY(Volumes::volumeForPath(QDir::rootPath()).root);
        QVERIFY(!(" " + entries(listDrives())).contains(" " + QDir::rootPath() + "="));
    }

    void cardsKnownByTheirDevices_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("fileSystem"); // as the device's superblock names it
        QTest::addColumn<bool>("removable");     // as the device says
        QTest::addColumn<bool>("listed");
        // FAT32 through FUSE reports no size: only its device tells a card.
        QTest::newRow("FAT32 through FUSE, removable") << "fusefat"
                                                       << "vfat" << true << true;
        QTest::newRow("FAT32 through FUSE, a fixed disk") << "fusefat"
                                                          << "vfat" << false << false;
        QTest::newRow("exFAT through FUSE") << "exfat"
                                            << "exfat" << false << true;
        QTest::newRow("NTFS through FUSE") << "ntfs"
                                           << "ntfs" << false << true;
    }

    // Where the system keeps no links to labels, a card still goes by its
    // label, and its kind of file system is known.
    void cardsKnownByTheirDevices()
    {
        QFETCH(QString, type);
        QFETCH(QString, fileSystem);
        QFETCH(bool, removable);
        QFETCH(bool, listed);
        QTemporaryDir dir;
        LoopVolume card;
        const QString point = dir.filePath("card");
        if (!card.mount(dir.filePath("card.img"), point, type, "QVK_02"))
            SKIP_SAFETY(card.error());
        // The kernel's device tree as it shows the card's device; loop
        // devices are never removable themselves.
        struct stat device = {};
        for (const MountInfoEntry& mount :
             Volumes::parseMountInfo(TestSupport::readFile("/proc/self/mountinfo")))
            if (mount.mountPoint == point)
                QCOMPARE(::stat(QFile::encodeName(mount.source).constData(), &device), 0);
        const QString flag = dir.filePath(QString("sys/dev/block/%1:%2/removable")
                                              .arg(major(device.st_rdev))
                                              .arg(minor(device.st_rdev)));
        QVERIFY(TestSupport::writeFile(flag, removable ? "1\n" : "0\n"));
        SystemVolumeProvider system(dir.filePath("sys"));
        Volumes::setProvider(&system);
        QCOMPARE((" " + entries(listDrives()) + " ").contains(" " + point + "=QVK_02 "), listed);
        for (const VolumeInfo& volume : Volumes::mountedVolumes())
            if (volume.rootPath == point)
                QCOMPARE(volume.fileSystemType, fileSystem);
    }
};

QTEST_GUILESS_MAIN(TestDriveDiscovery)
#include "tst_drivediscovery.moc"
