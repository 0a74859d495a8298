#include "cards/volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#include <atomic>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

#if defined(Q_OS_LINUX)
#include <sys/sysmacros.h>
#endif

#if defined(Q_OS_LINUX)
#include <blkid.h>
#endif

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

QList<MountInfoEntry> systemMountTable()
{
#if defined(Q_OS_LINUX)
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    // A proc file has no size: read it to its end.
    if (file.open(QIODevice::ReadOnly))
        return Volumes::parseMountInfo(file.readAll());
#endif
    return {};
}

// The mount seen at `rootPath`: the last one on a mount point. Where the
// platform has no mount table, volumes are drive roots: whole file systems.
MountInfoEntry mountAt(const QString& rootPath, const QList<MountInfoEntry>& table)
{
#if defined(Q_OS_LINUX)
    const QString wanted = QDir::cleanPath(rootPath);
    MountInfoEntry seen;
    for (const MountInfoEntry& entry : table)
        if (QDir::cleanPath(entry.mountPoint) == wanted)
            seen = entry;
    return seen;
#else
    Q_UNUSED(table)
    MountInfoEntry whole;
    whole.root = QStringLiteral("/");
    whole.mountPoint = rootPath;
    return whole;
#endif
}

struct FileSystemIdentity
{
    QString id;
    QString label;
    QString type;     // "exfat", "vfat", "ntfs", ...
    qint64 size = -1; // of the device or image, bytes
};

// What the file system on `source` (a block device or an image file) says of
// itself in its superblock. Nothing for a source that names no file ("tmpfs",
// "server:/share") or that this user may not read.
FileSystemIdentity probeIdentity(const QString& source)
{
    FileSystemIdentity identity;
#if defined(Q_OS_LINUX)
    if (!QDir::isAbsolutePath(source) || !QFileInfo::exists(source))
        return identity;
    blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(source).constData());
    if (!probe)
        return identity;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe,
                                      BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe) == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0 && value)
            identity.id = QString::fromUtf8(value);
        if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && value)
            identity.label = QString::fromUtf8(value);
        if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && value)
            identity.type = QString::fromUtf8(value);
        identity.size = qint64(blkid_probe_get_size(probe));
    }
    blkid_free_probe(probe);
#else
    Q_UNUSED(source)
#endif
    return identity;
}

// The file systems cameras write their cards with.
bool isCardFileSystem(const QString& type)
{
    return type == QLatin1String("vfat") || type == QLatin1String("exfat");
}

VolumeInfo fromStorage(const QStorageInfo& storage, const QList<MountInfoEntry>& table)
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
    if (info.valid) {
        const MountInfoEntry mount = mountAt(info.rootPath, table);
        info.mountRoot = mount.root;
        info.source =
            mount.source.isEmpty() ? QString::fromLocal8Bit(storage.device()) : mount.source;
    }
    return info;
}

// One field of a mountinfo line: "\ooo" stands for the byte with that octal value.
QString unescapeMountField(const QByteArray& field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size() && field.at(i + 1) >= '0' && field.at(i + 1) <= '3' &&
            field.at(i + 2) >= '0' && field.at(i + 2) <= '7' && field.at(i + 3) >= '0' &&
            field.at(i + 3) <= '7') {
            bytes.append(char(((field.at(i + 1) - '0') << 6) | ((field.at(i + 2) - '0') << 3) |
                              (field.at(i + 3) - '0')));
            i += 3;
        } else {
            bytes.append(c);
        }
    }
    return QFile::decodeName(bytes);
}

const SystemVolumeProvider systemProvider;
std::atomic<const VolumeProvider*> currentProvider{nullptr};

const VolumeProvider& provider()
{
    const VolumeProvider* p = currentProvider.load();
    return p ? *p : systemProvider;
}

} // namespace

SystemVolumeProvider::SystemVolumeProvider(const QString& sysRoot) : sysRoot(sysRoot) {}

bool SystemVolumeProvider::removableDevice(const QString& source) const
{
#if defined(Q_OS_LINUX)
    struct stat st;
    if (::stat(QFile::encodeName(source).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    // A partition's flag is its whole disk's, one folder up.
    QString device = QFileInfo(QStringLiteral("%1/dev/block/%2:%3")
                                   .arg(sysRoot)
                                   .arg(major(st.st_rdev))
                                   .arg(minor(st.st_rdev)))
                         .canonicalFilePath();
    if (device.isEmpty())
        return false;
    if (QFileInfo::exists(device + QStringLiteral("/partition")))
        device = QFileInfo(device).path();
    // Card slots of their own say they are fixed: the card in them is not.
    if (QFileInfo(device).fileName().startsWith(QLatin1String("mmcblk")))
        return true;
    QFile flag(device + QStringLiteral("/removable"));
    return flag.open(QIODevice::ReadOnly) && flag.read(1) == "1";
#else
    Q_UNUSED(source)
    return false;
#endif
}

QList<VolumeInfo> SystemVolumeProvider::mountedVolumes() const
{
    QList<VolumeInfo> result;
    const QList<MountInfoEntry> table = systemMountTable();
    const QList<QStorageInfo> storages = QStorageInfo::mountedVolumes();
    QList<QStorageInfo> all = storages;
    // Qt leaves out volumes that report no size, as FAT32 through FUSE
    // does: a card's kind of file system on a removable device is listed
    // whatever its size reports.
    for (const MountInfoEntry& mount : table) {
        const bool listed = std::any_of(all.cbegin(), all.cend(), [&](const QStorageInfo& s) {
            return s.rootPath() == mount.mountPoint;
        });
        if (!listed && mount.source.startsWith(QLatin1String("/dev/")) &&
            removableDevice(mount.source) && isCardFileSystem(probeIdentity(mount.source).type))
            all.append(QStorageInfo(mount.mountPoint));
    }
    for (const QStorageInfo& storage : qAsConst(all)) {
        VolumeInfo info = fromStorage(storage, table);
        // Without udev's links the system knows no labels, and a FUSE
        // driver names no file system: the device's superblock tells.
        if (info.valid && info.name.isEmpty() &&
            (info.fileSystemType.startsWith(QLatin1String("fuse")) ||
             info.source.startsWith(QLatin1String("/dev/")))) {
            const FileSystemIdentity identity = probeIdentity(info.source);
            if (!identity.label.isEmpty())
                info.name = info.displayName = identity.label;
            if (!identity.type.isEmpty())
                info.fileSystemType = identity.type;
            if (info.bytesTotal <= 0 && identity.size > 0)
                info.bytesTotal = identity.size;
        }
        result.append(info);
    }
    return result;
}

VolumeInfo SystemVolumeProvider::volumeForPath(const QString& path) const
{
    if (path.isEmpty())
        return {};
    VolumeInfo info = VolumeInfo::fromStorageInfo(QStorageInfo(path));
    if (info.valid) {
        const FileSystemIdentity identity = probeIdentity(info.source);
        info.fileSystemId = identity.id;
        // Without udev the system knows no labels; the superblock does.
        if (info.name.isEmpty() && !identity.label.isEmpty()) {
            info.name = identity.label;
            info.displayName = identity.label;
        }
    }
    return info;
}

VolumeInfo VolumeInfo::fromStorageInfo(const QStorageInfo& storage)
{
    return fromStorage(storage, systemMountTable());
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
    info.mountRoot = QStringLiteral("/");
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

bool Volumes::isCardCandidate(const VolumeInfo& volume)
{
    return volume.valid && volume.ready && !volume.root && !volume.readOnly &&
           !isPseudoFileSystem(volume.fileSystemType);
}

QList<MountInfoEntry> Volumes::parseMountInfo(const QByteArray& text)
{
    // id parent major:minor root mount-point options [optional fields...] - type source
    // super-options
    QList<MountInfoEntry> entries;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const int separator = fields.indexOf(QByteArrayLiteral("-"), 6);
        if (fields.size() < 6 || separator < 0 || separator + 2 >= fields.size())
            continue;
        MountInfoEntry entry;
        entry.root = unescapeMountField(fields.at(3));
        entry.mountPoint = unescapeMountField(fields.at(4));
        entry.fileSystemType = unescapeMountField(fields.at(separator + 1));
        entry.source = unescapeMountField(fields.at(separator + 2));
        entries.append(entry);
    }
    return entries;
}

bool Volumes::deviceOf(const QString& path, quint64* device)
{
#if defined(Q_OS_UNIX)
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    *device = quint64(info.st_dev);
#else
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return false;
    *device = 0;
#endif
    return true;
}

bool Volumes::isVolumeManagedFolder(const QString& name)
{
    return name == QLatin1String("lost+found") ||
           name == QLatin1String("System Volume Information");
}
