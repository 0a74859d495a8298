#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

class QStorageInfo;

// What drive discovery and card preparation need to know about one mounted volume.
struct VolumeInfo
{
    bool valid = false;
    bool ready = false;
    bool readOnly = false;
    // The volume that holds the operating system (never a card).
    bool root = false;
    qint64 bytesTotal = 0;
    // Mount point ("/media/user/CARD", "E:/").
    QString rootPath;
    // The label; empty when the volume has none.
    QString name;
    // The label, or the root path when there is no label.
    QString displayName;
    QString fileSystemType;
    // The folder of its file system that the volume shows at its root path:
    // "/" for a whole file system, the folder for a bind mount of one; empty
    // when unknown.
    QString mountRoot;
    // What the mount table names as the volume's source: its device, or the
    // image file of a FUSE mount; empty when unknown.
    QString source;
    // The file system's own identity from its superblock (a UUID, or the
    // volume serial of FAT and exFAT), read from the source; empty when it
    // cannot be read (no device, no right to read it, a platform without
    // probing). Only volumeForPath() reads it: listing volumes stays quick.
    QString fileSystemId;

    // A whole file system, not a folder of one mounted elsewhere: the only
    // kind of volume that may be prepared as a card.
    bool isFileSystemRoot() const { return mountRoot == QLatin1String("/"); }

    static VolumeInfo fromStorageInfo(const QStorageInfo& storage);
};

// One line of Linux's mount table (/proc/self/mountinfo), its fields decoded.
struct MountInfoEntry
{
    QString root;       // the mounted folder of its file system ("/" for all of it)
    QString mountPoint; // where it is mounted
    QString fileSystemType;
    QString source;
};

// The source of volume information. The system's is backed by QStorageInfo;
// tests install one that presents folders as volumes.
class VolumeProvider
{
public:
    virtual ~VolumeProvider();
    virtual QList<VolumeInfo> mountedVolumes() const = 0;
    // The volume that holds the path; an invalid one when there is none.
    virtual VolumeInfo volumeForPath(const QString& path) const = 0;
};

// The system's volumes: QStorageInfo's, and the card file systems it leaves
// out for reporting no size (as FAT through FUSE does) when their device is
// removable. `sysRoot` is where the kernel's device tree lies ("/sys"): the
// devices' removable flags are read there.
class SystemVolumeProvider : public VolumeProvider
{
public:
    explicit SystemVolumeProvider(const QString& sysRoot = QStringLiteral("/sys"));
    QList<VolumeInfo> mountedVolumes() const override;
    VolumeInfo volumeForPath(const QString& path) const override;

private:
    // The disk behind the device file `source` can be taken out: its
    // removable flag is set, or it is a memory card slot.
    bool removableDevice(const QString& source) const;

    QString sysRoot;
};

// Presents folders as volumes: a path belongs to the volume whose root path is
// its longest leading folder. Paths outside every volume give an invalid one.
class FolderVolumeProvider : public VolumeProvider
{
public:
    explicit FolderVolumeProvider(const QList<VolumeInfo>& volumes = {});
    // A valid, ready, writable, non-root volume on the folder, a whole file
    // system of its own, as a card looks.
    static VolumeInfo folderVolume(const QString& folder, const QString& label = QString(),
                                   qint64 bytesTotal = 32LL * 1024 * 1024 * 1024);

    void add(const VolumeInfo& volume);
    QList<VolumeInfo> mountedVolumes() const override;
    VolumeInfo volumeForPath(const QString& path) const override;

private:
    QList<VolumeInfo> volumes;
};

// The volume queries of the program, one seam for all of them.
class Volumes
{
public:
    static QList<VolumeInfo> mountedVolumes();
    static VolumeInfo volumeForPath(const QString& path);

    // Replaces the system's volumes; nullptr brings them back. The provider
    // is not owned and must outlive its use. Meant for tests; not thread-safe
    // against queries running at the same time.
    static void setProvider(const VolumeProvider* provider);

    // File systems that never hold user data (kernel, memory and container
    // mounts); they are never offered as cards.
    static bool isPseudoFileSystem(const QString& fileSystemType);

    // A volume that may be a card: valid, ready, writable, not the system's,
    // not a pseudo file system. Drive discovery offers these; card
    // preparation touches no other.
    static bool isCardCandidate(const VolumeInfo& volume);

    // A folder at a volume's root that the file system itself keeps
    // ("lost+found", "System Volume Information"): never the user's, a wipe
    // leaves it.
    static bool isVolumeManagedFolder(const QString& name);

    // The device that holds the entry itself (a link's own, never its
    // target's): entries on another device are another volume mounted there.
    // False when the entry cannot be read. Where the platform gives no
    // devices every entry has device 0.
    static bool deviceOf(const QString& path, quint64* device);

    // The lines of a mountinfo text. Fields that hold a space, tab, line feed
    // or backslash carry it as an octal escape ("\040"); they are decoded.
    static QList<MountInfoEntry> parseMountInfo(const QByteArray& text);
};
