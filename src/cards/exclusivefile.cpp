#include "cards/exclusivefile.h"

#include "cards/runlock.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN

bool syncToDisk(QFile& file)
{
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
}

// MoveFileEx without MOVEFILE_REPLACE_EXISTING refuses an existing target atomically.
ExclusiveFile::Outcome moveNoReplace(const QString& from, const QString& to, QString* error)
{
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(nativeFrom.utf16()),
                    reinterpret_cast<const wchar_t*>(nativeTo.utf16()), MOVEFILE_WRITE_THROUGH))
        return ExclusiveFile::Created;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return ExclusiveFile::AlreadyExists;
    *error = QStringLiteral("Cannot rename %1 to %2 (error %3)").arg(from, to).arg(code);
    return ExclusiveFile::Failed;
}

ExclusiveFile::Outcome moveReplacing(const QString& from, const QString& to, QString* error)
{
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(nativeFrom.utf16()),
                    reinterpret_cast<const wchar_t*>(nativeTo.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ExclusiveFile::Created;
    *error = QStringLiteral("Cannot rename %1 to %2 (error %3)").arg(from, to).arg(GetLastError());
    return ExclusiveFile::Failed;
}

#else

bool syncToDisk(QFile& file)
{
    return ::fsync(file.handle()) == 0;
}

bool linksUnsupported(int error)
{
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS ||
           error == EXDEV;
}

// Gives `from` the name `to` unless `to` exists. QFile::rename is not used: when
// its own rename fails it falls back to a copy that truncates the target.
ExclusiveFile::Outcome moveNoReplace(const QString& from, const QString& to, QString* error)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    auto failed = [&](int code) {
        *error = QStringLiteral("Cannot rename %1 to %2: %3")
                     .arg(from, to, QString::fromLocal8Bit(std::strerror(code)));
        return ExclusiveFile::Failed;
    };
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return ExclusiveFile::Created;
    if (errno == EEXIST)
        return ExclusiveFile::AlreadyExists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return failed(errno);
#endif
    // A hard link cannot replace an existing name either.
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return ExclusiveFile::Created;
    }
    if (errno == EEXIST)
        return ExclusiveFile::AlreadyExists;
    if (!linksUnsupported(errno))
        return failed(errno);
    // A file system with neither (exFAT, FAT): the name is checked and taken
    // under the lock every program of ours holds for it there. No empty
    // file ever stands in for the name, so a crash leaves none behind.
    RunLock::NameLock lock(QFileInfo(to).absolutePath());
    if (!lock.locked()) {
        *error =
            QStringLiteral("Cannot rename %1 to %2 safely: %3").arg(from, to, lock.errorString());
        return ExclusiveFile::Failed;
    }
    struct stat st;
    if (::lstat(dst.constData(), &st) == 0)
        return ExclusiveFile::AlreadyExists;
    if (errno != ENOENT)
        return failed(errno);
    if (::rename(src.constData(), dst.constData()) == 0)
        return ExclusiveFile::Created;
    return failed(errno);
}

// rename(2) replaces the target in one step. QFile::rename is not used: it
// refuses an existing target.
ExclusiveFile::Outcome moveReplacing(const QString& from, const QString& to, QString* error)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return ExclusiveFile::Created;
    *error = QStringLiteral("Cannot rename %1 to %2: %3")
                 .arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return ExclusiveFile::Failed;
}

#endif

} // namespace

ExclusiveFile::ExclusiveFile(const QString& path) : m_path(path) {}

ExclusiveFile::~ExclusiveFile()
{
    discard();
}

ExclusiveFile::Outcome ExclusiveFile::fail(const QString& error)
{
    m_error = error;
    m_outcome = Failed;
    discard();
    return Failed;
}

bool ExclusiveFile::open()
{
    discard();
    m_error.clear();
    const QFileInfo target(m_path);
    if (!m_replace && (target.exists() || target.isSymLink())) {
        m_outcome = AlreadyExists;
        return false;
    }
    // Hidden, and ending neither in the target's extension nor in any media
    // extension, so nothing that lists the folder takes it for a real file;
    // named after this program, so that only a killed one's is cleaned up.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString tempPath = RunLock::temporaryName(target.absoluteFilePath());
        m_temp.setFileName(tempPath);
        if (m_temp.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_outcome = Created;
            return true;
        }
        if (!QFileInfo::exists(tempPath))
            break;
    }
    fail(QStringLiteral("Cannot create a file beside %1: %2").arg(m_path, m_temp.errorString()));
    return false;
}

ExclusiveFile::Outcome ExclusiveFile::commit()
{
    if (!m_temp.isOpen())
        return fail(QStringLiteral("%1 was not opened for writing").arg(m_path));
    if (!m_temp.flush() || m_temp.error() != QFileDevice::NoError || !syncToDisk(m_temp))
        return fail(QStringLiteral("Cannot write %1: %2").arg(m_path, m_temp.errorString()));
    const QString tempPath = m_temp.fileName();
    m_temp.close();
    if (m_temp.error() != QFileDevice::NoError)
        return fail(QStringLiteral("Cannot write %1: %2").arg(m_path, m_temp.errorString()));
    m_outcome = m_replace ? moveReplacing(tempPath, m_path, &m_error)
                          : moveNoReplace(tempPath, m_path, &m_error);
    QFile::remove(tempPath);
    m_temp.setFileName(QString());
    return m_outcome;
}

void ExclusiveFile::discard()
{
    if (m_temp.fileName().isEmpty())
        return;
    m_temp.close();
    QFile::remove(m_temp.fileName());
    m_temp.setFileName(QString());
}

ExclusiveFile::Outcome ExclusiveFile::writeWhole(ExclusiveFile& out, const QByteArray& content,
                                                 QString* errorString)
{
    if (out.open()) {
        if (out.file().write(content) == content.size())
            out.commit();
        else
            out.fail(
                QStringLiteral("Cannot write %1: %2").arg(out.path(), out.file().errorString()));
    }
    if (errorString)
        *errorString = out.errorString();
    return out.outcome();
}

ExclusiveFile::Outcome ExclusiveFile::write(const QString& path, const QByteArray& content,
                                            QString* errorString)
{
    ExclusiveFile out(path);
    return writeWhole(out, content, errorString);
}

ExclusiveFile::Outcome ExclusiveFile::replace(const QString& path, const QByteArray& content,
                                              QString* errorString)
{
    ExclusiveFile out(path);
    out.m_replace = true;
    return writeWhole(out, content, errorString);
}

ExclusiveFile::Outcome ExclusiveFile::renameNoReplace(const QString& from, const QString& to,
                                                      QString* errorString)
{
    QString error;
    const Outcome outcome = moveNoReplace(from, to, &error);
    if (errorString)
        *errorString = error;
    return outcome;
}
