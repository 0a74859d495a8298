#pragma once

#include <QString>

// A real file system for a test: an image file formatted and mounted through
// a loop device (root only). The destructor unmounts it lazily, so a test
// that fails half-way leaves no mount behind; the image goes with its folder.
class LoopVolume
{
public:
    LoopVolume() = default;
    ~LoopVolume();
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;

    // Formats `image` (created, `megabytes` large) as `type` ("ext4", "vfat";
    // through FUSE: "exfat" by exfat-fuse, "fusefat" by fusefat, "ntfs" by ntfs-3g) with the label
    // and mounts it at `mountPoint` (created). False, with the reason in error(), when this machine
    // cannot: tests end with SKIP_SAFETY then.
    bool mount(const QString& image, const QString& mountPoint, const QString& type = "ext4",
               const QString& label = QString(), int megabytes = 8);
    // Mounts the formatted image again, at `mountPoint` (created).
    bool mountImage(const QString& image, const QString& mountPoint, const QString& type = "ext4");
    // Shows the folder `from` also at `mountPoint` (created): a bind mount.
    bool bind(const QString& from, const QString& mountPoint);
    // Unmounts now (lazily); true when it was mounted.
    bool unmount();

    QString mountPoint() const { return point; }
    QString error() const { return reason; }

private:
    bool fail(const QString& why);
    // As root, with the mount point made; else false with the reason.
    bool canMountAt(const QString& mountPoint);

    QString point;
    QString loopDevice; // set up for a FUSE mount, detached with it
    QString reason;
};
