#include "cards/volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <atomic>

namespace {

// On Linux the operating system is spread over more than the root mount;
// none of these may ever be offered or prepared as a card.
bool isSystemMountPoint(const QString& rootPath)
{
#if defined(Q_OS_LINUX)
    static const QStringList systemMounts = {
        QStringLiteral("/boot"), QStringLiteral("/boot/efi"), QStringLiteral("/efi"),
        QStringLiteral("/usr"),  QStringLiteral("/var"),      QStringLiteral("/home"),
        QStringLiteral("/opt"),  QStringLiteral("/srv"),
    };
    return systemMounts.contains(QDir::cleanPath(rootPath));
#else
    Q_UNUSED(rootPath)
    return false;
#endif
}

class SystemVolumeProvider : public VolumeProvider
{
public:
    QList<VolumeInfo> mountedVolumes() const override
    {
        QList<VolumeInfo> result;
        const QList<QStorageInfo> storages = QStorageInfo::mountedVolumes();
        for (const QStorageInfo& storage : storages)
            result.append(VolumeInfo::fromStorageInfo(storage));
        return result;
    }

    VolumeInfo volumeForPath(const QString& path) const override
    {
        if (path.isEmpty())
            return {};
        return VolumeInfo::fromStorageInfo(QStorageInfo(path));
    }
};

const SystemVolumeProvider systemProvider;
std::atomic<const VolumeProvider*> currentProvider{nullptr};

const VolumeProvider& provider()
{
    const VolumeProvider* p = currentProvider.load();
    return p ? *p : systemProvider;
}

} // namespace

VolumeInfo VolumeInfo::fromStorageInfo(const QStorageInfo& storage)
{
    VolumeInfo info;
    info.valid = storage.isValid();
    info.ready = storage.isReady();
    info.readOnly = storage.isReadOnly();
    info.rootPath = storage.rootPath();
    info.root = storage.isRoot() || isSystemMountPoint(info.rootPath);
    info.bytesTotal = storage.bytesTotal();
    info.name = storage.name();
    info.displayName = storage.displayName();
    info.fileSystemType = QString::fromLatin1(storage.fileSystemType());
    return info;
}

VolumeProvider::~VolumeProvider() = default;

FolderVolumeProvider::FolderVolumeProvider(const QList<VolumeInfo>& volumes) : volumes(volumes) {}

VolumeInfo FolderVolumeProvider::folderVolume(const QString& folder, const QString& label,
                                              qint64 bytesTotal)
{
    VolumeInfo info;
    info.valid = true;
    info.ready = true;
    info.rootPath = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    info.name = label;
    info.displayName = label.isEmpty() ? info.rootPath : label;
    info.bytesTotal = bytesTotal;
    info.fileSystemType = QStringLiteral("vfat");
    return info;
}

void FolderVolumeProvider::add(const VolumeInfo& volume)
{
    volumes.append(volume);
}

QList<VolumeInfo> FolderVolumeProvider::mountedVolumes() const
{
    return volumes;
}

VolumeInfo FolderVolumeProvider::volumeForPath(const QString& path) const
{
    if (path.isEmpty())
        return {};
    const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    VolumeInfo best;
    int bestLength = -1;
    for (const VolumeInfo& volume : volumes) {
        const QString root = QDir::cleanPath(volume.rootPath);
        const bool inside = target == root || root == QLatin1String("/") ||
                            target.startsWith(root + QLatin1Char('/'));
        if (inside && root.size() > bestLength) {
            best = volume;
            bestLength = root.size();
        }
    }
    return best;
}

QList<VolumeInfo> Volumes::mountedVolumes()
{
    return provider().mountedVolumes();
}

VolumeInfo Volumes::volumeForPath(const QString& path)
{
    return provider().volumeForPath(path);
}

void Volumes::setProvider(const VolumeProvider* provider)
{
    currentProvider.store(provider);
}

bool Volumes::isPseudoFileSystem(const QString& fileSystemType)
{
    static const QStringList pseudo = {
        QStringLiteral("tmpfs"),         QStringLiteral("devtmpfs"),
        QStringLiteral("ramfs"),         QStringLiteral("rootfs"),
        QStringLiteral("proc"),          QStringLiteral("sysfs"),
        QStringLiteral("overlay"),       QStringLiteral("aufs"),
        QStringLiteral("squashfs"),      QStringLiteral("devpts"),
        QStringLiteral("mqueue"),        QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),       QStringLiteral("securityfs"),
        QStringLiteral("pstore"),        QStringLiteral("bpf"),
        QStringLiteral("autofs"),        QStringLiteral("fusectl"),
        QStringLiteral("configfs"),      QStringLiteral("hugetlbfs"),
        QStringLiteral("binfmt_misc"),   QStringLiteral("efivarfs"),
        QStringLiteral("nsfs"),          QStringLiteral("rpc_pipefs"),
        QStringLiteral("selinuxfs"),     QStringLiteral("nfsd"),
        QStringLiteral("devfs"),         QStringLiteral("fuse.gvfsd-fuse"),
        QStringLiteral("fuse.portal"),   QStringLiteral("fuse.lxcfs"),
        QStringLiteral("fuse.snapfuse"), QStringLiteral("none"),
    };
    const QString type = fileSystemType.trimmed().toLower();
    return type.startsWith(QLatin1String("cgroup")) || pseudo.contains(type);
}
