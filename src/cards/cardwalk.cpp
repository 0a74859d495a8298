#include "cards/cardwalk.h"

#include "cards/volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>
#include <vector>
#endif

#ifdef Q_OS_WIN
// Qt reads the access rights of NTFS files only while this is non-zero.
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;
#endif

namespace {

#ifdef Q_OS_UNIX

// A name's bytes for a message: what is not printable ASCII as \xNN.
QString visibleName(const QByteArray& name)
{
    QString text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

class Walker
{
public:
    Walker(CardWalk::Result& result, CardWalk::Scope scope) : result(result), scope(scope) {}

    void walkFolder(const QString& folder)
    {
        // The folders on the way down, to notice a loop that a mount made.
        struct stat folderStat;
        if (::stat(QFile::encodeName(folder).constData(), &folderStat) != 0) {
            problem(folder, QStringLiteral("cannot be opened: %1").arg(qt_error_string(errno)));
            return;
        }
        if (path.empty())
            cardDevice = folderStat.st_dev;
        const bool wipe = scope == CardWalk::Scope::Wipe;
        const std::pair<dev_t, ino_t> id{folderStat.st_dev, folderStat.st_ino};
        if (std::find(path.begin(), path.end(), id) != path.end()) {
            problem(folder, QStringLiteral("leads back to a folder above it; not entered"));
            return;
        }

        struct Entry
        {
            QByteArray name;
            QString path;
            bool folder = false;
            bool regular = false;
        };
        std::vector<Entry> entries;
        DIR* dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir) {
            problem(folder, QStringLiteral("cannot be listed: %1").arg(qt_error_string(errno)));
            return;
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (!entry) {
                if (errno != 0)
                    problem(folder, QStringLiteral("could not be listed to its end: %1")
                                        .arg(qt_error_string(errno)));
                break;
            }
            const QByteArray name(entry->d_name);
            if (name == "." || name == ".." || (name.startsWith('.') && !wipe))
                continue;
            const QString decoded = QFile::decodeName(name);
            const QString entryPath = folder + QLatin1Char('/') + decoded;
            if (QFile::encodeName(decoded) != name) {
                problem(folder + QLatin1Char('/') + visibleName(name),
                        QStringLiteral("has a name that the system's encoding cannot represent"));
                continue;
            }
            struct stat st;
            if (::fstatat(::dirfd(dir), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                problem(entryPath,
                        QStringLiteral("cannot be opened: %1").arg(qt_error_string(errno)));
                continue;
            }
            // What the wipe leaves: links, other volumes, the file system's own folders.
            if (wipe &&
                (S_ISLNK(st.st_mode) || st.st_dev != cardDevice ||
                 (path.empty() && S_ISDIR(st.st_mode) && Volumes::isVolumeManagedFolder(decoded))))
                continue;
            if (S_ISLNK(st.st_mode)) {
                if (::fstatat(::dirfd(dir), name.constData(), &st, 0) != 0) {
                    problem(entryPath, QStringLiteral("is a link that leads nowhere: %1")
                                           .arg(qt_error_string(errno)));
                    continue;
                }
                if (S_ISDIR(st.st_mode)) {
                    problem(entryPath, QStringLiteral("is a link to a folder; not followed"));
                    continue;
                }
            }
            entries.push_back({name, entryPath, S_ISDIR(st.st_mode), S_ISREG(st.st_mode)});
        }
        ::closedir(dir);

        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
        path.push_back(id);
        for (const Entry& entry : entries) {
            if (entry.folder)
                walkFolder(entry.path);
            else
                result.files.append({entry.path, entry.regular});
        }
        path.pop_back();
    }

private:
    void problem(const QString& at, const QString& reason) { result.problems.append({at, reason}); }

    CardWalk::Result& result;
    CardWalk::Scope scope;
    dev_t cardDevice = 0;
    std::vector<std::pair<dev_t, ino_t>> path;
};

#else // Qt's own listing, with an explicit check that each folder can be read

class Walker
{
public:
    Walker(CardWalk::Result& result, CardWalk::Scope scope) : result(result), scope(scope) {}

    void walkFolder(const QString& folder, bool top = true)
    {
        const bool wipe = scope == CardWalk::Scope::Wipe;
        if (top)
            Volumes::deviceOf(folder, &cardDevice);
        const QFileInfo info(folder);
#ifdef Q_OS_WIN
        ++qt_ntfs_permission_lookup;
        const bool readable = info.isReadable();
        --qt_ntfs_permission_lookup;
#else
        const bool readable = info.isReadable();
#endif
        if (!readable) {
            result.problems.append({folder, QStringLiteral("cannot be listed")});
            return;
        }
        const QFileInfoList entries = QDir(folder).entryInfoList(
            QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
            QDir::Name | QDir::DirsLast);
        for (const QFileInfo& entry : entries) {
            if (entry.fileName().startsWith(QLatin1Char('.')) && !wipe)
                continue;
            quint64 device = 0;
            if (wipe &&
                (entry.isSymLink() || !Volumes::deviceOf(entry.filePath(), &device) ||
                 device != cardDevice ||
                 (top && entry.isDir() && Volumes::isVolumeManagedFolder(entry.fileName()))))
                continue;
            if (entry.isSymLink() && !entry.exists())
                result.problems.append(
                    {entry.filePath(), QStringLiteral("is a link that leads nowhere")});
            else if (entry.isSymLink() && entry.isDir())
                result.problems.append(
                    {entry.filePath(), QStringLiteral("is a link to a folder; not followed")});
            else if (entry.isDir())
                walkFolder(entry.filePath(), false);
            else
                result.files.append({entry.filePath(), entry.isFile()});
        }
    }

private:
    CardWalk::Result& result;
    CardWalk::Scope scope;
    quint64 cardDevice = 0;
};

#endif

} // namespace

CardWalk::Result CardWalk::walk(const QString& root, Scope scope)
{
    Result result;
    Walker(result, scope).walkFolder(QDir::cleanPath(root));
    return result;
}
