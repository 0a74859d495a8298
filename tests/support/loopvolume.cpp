#include "support/loopvolume.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

namespace {

// Runs a program to its end; its error output when it fails, else its output.
QString runTool(const QString& program, const QStringList& arguments, QString* output = nullptr)
{
    const QString path =
        QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    if (path.isEmpty())
        return program + " is not installed";
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return program + " failed: " + QString::fromLocal8Bit(process.readAllStandardError());
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return QString();
}

} // namespace

LoopVolume::~LoopVolume()
{
    unmount();
}

bool LoopVolume::fail(const QString& why)
{
    reason = why;
    return false;
}

bool LoopVolume::canMountAt(const QString& mountPoint)
{
    if (geteuid() != 0)
        return fail("mounting needs root");
    return QDir().mkpath(mountPoint) || fail("cannot create " + mountPoint);
}

bool LoopVolume::mount(const QString& image, const QString& mountPoint, const QString& type,
                       const QString& label, int megabytes)
{
    if (!canMountAt(mountPoint))
        return false;
    // FAT32, as on the cameras' cards: it needs 33 MiB at least (sparse).
    if (type == "fusefat")
        megabytes = std::max(megabytes, 40);
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !file.resize(qint64(megabytes) * 1024 * 1024))
        return fail("cannot create the image " + image);
    file.close();
    QString problem;
    if ((type == "exfat" || type == "fusefat" || type == "ntfs") && !QFile::exists("/dev/fuse"))
        return fail("FUSE is missing here (no /dev/fuse): cannot mount " + type);
    if (type == "exfat")
        problem =
            runTool("mkfs.exfat", (label.isEmpty() ? QStringList() : QStringList{"-L", label}) +
                                      QStringList{image});
    else if (type == "ntfs")
        problem = runTool("mkfs.ntfs",
                          QStringList{"-Q", "-F", "-L", label.isEmpty() ? "NTFS" : label, image});
    else if (type == "vfat" || type == "fusefat")
        problem =
            runTool("mkfs.vfat", (type == "fusefat" ? QStringList{"-F", "32"} : QStringList()) +
                                     QStringList{"-n", label.isEmpty() ? "NO NAME" : label, image});
    else
        problem = runTool("mkfs." + type,
                          QStringList{"-q", "-F"} +
                              (label.isEmpty() ? QStringList() : QStringList{"-L", label}) +
                              QStringList{image});
    if (!problem.isEmpty())
        return fail(problem);
    return mountImage(image, mountPoint, type);
}

bool LoopVolume::mountImage(const QString& image, const QString& mountPoint, const QString& type)
{
    if (!canMountAt(mountPoint))
        return false;
    QString problem;
    // "fusefat": FAT through FUSE, as on a machine whose kernel has no FAT
    // driver; the loop device is named as the mount's source, as the
    // kernel's own would be. fusefat cannot shorten a file, and serves one
    // request at a time (-s): with several at once (three card workers) it
    // writes directory entries into other files' data.
    const bool fuseFat = type == "fusefat";
    if (type == "exfat" || fuseFat || type == "ntfs") {
        // The FUSE drivers are given a block device, which names the mount.
        problem = runTool("losetup", {"--find", "--show", image}, &loopDevice);
        if (problem.isEmpty() && type == "exfat")
            problem = runTool("mount.exfat-fuse", {loopDevice, mountPoint});
        else if (problem.isEmpty() && type == "ntfs")
            problem = runTool("ntfs-3g", {loopDevice, mountPoint});
        else if (problem.isEmpty())
            problem =
                runTool("fusefat", {"-s", "-o", "rw+,fsname=" + loopDevice + ",subtype=fusefat",
                                    loopDevice, mountPoint});
    } else {
        problem = runTool("mount", {"-o", "loop", "-t", type, image, mountPoint});
    }
    if (!problem.isEmpty()) {
        if (!loopDevice.isEmpty())
            runTool("losetup", {"-d", loopDevice});
        loopDevice.clear();
        return fail("cannot mount a loop device here: " + problem);
    }
    point = mountPoint;
    return true;
}

bool LoopVolume::bind(const QString& from, const QString& mountPoint)
{
    if (!canMountAt(mountPoint))
        return false;
    if (::mount(QFile::encodeName(from).constData(), QFile::encodeName(mountPoint).constData(),
                nullptr, MS_BIND, nullptr) != 0)
        return fail("cannot bind-mount here: " + QString::fromLocal8Bit(strerror(errno)));
    point = mountPoint;
    return true;
}

bool LoopVolume::unmount()
{
    if (point.isEmpty())
        return false;
    // Lazily: a file still open in a failed test must not keep the mount.
    ::umount2(QFile::encodeName(point).constData(), MNT_DETACH);
    // Detached once the FUSE mount lets go of it.
    if (!loopDevice.isEmpty())
        runTool("losetup", {"-d", loopDevice});
    loopDevice.clear();
    point.clear();
    return true;
}
