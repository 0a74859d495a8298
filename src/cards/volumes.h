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

    static VolumeInfo fromStorageInfo(const QStorageInfo& storage);
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

// Presents folders as volumes: a path belongs to the volume whose root path is
// its longest leading folder. Paths outside every volume give an invalid one.
class FolderVolumeProvider : public VolumeProvider
{
public:
    explicit FolderVolumeProvider(const QList<VolumeInfo>& volumes = {});
    // A valid, ready, writable, non-root volume on the folder, as a card looks.
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
};
