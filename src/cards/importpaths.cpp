#include "cards/importpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPair>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
constexpr Qt::CaseSensitivity PathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity PathCase = Qt::CaseSensitive;
#endif

// The file system's own identity of a folder: two names of one folder (a
// link, a bind mount) give the same.
bool identity(const QString& path, QPair<quint64, quint64>* id)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *id = {quint64(st.st_dev), quint64(st.st_ino)};
    return true;
#else
    Q_UNUSED(path)
    Q_UNUSED(id)
    return false;
#endif
}

bool sameFolder(const QString& a, const QString& b)
{
    if (a.compare(b, PathCase) == 0)
        return true;
    QPair<quint64, quint64> first, second;
    return identity(a, &first) && identity(b, &second) && first == second;
}

// `path` is `folder` or lies below it, both resolved already: by name, or
// by the identity of `path` or one of the folders above it.
bool inside(const QString& path, const QString& folder)
{
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (path.compare(folder, PathCase) == 0 || path.startsWith(prefix, PathCase))
        return true;
    QPair<quint64, quint64> target;
    if (!identity(folder, &target))
        return false;
    for (QString above = path;;) {
        QPair<quint64, quint64> id;
        if (identity(above, &id) && id == target)
            return true;
        const int slash = above.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0 || above == QDir::rootPath())
            return false;
        above = above.left(slash);
    }
}

// Each part of an existing, canonical path as its folder holds it: a file
// system that ignores case (exFAT, FAT) finds "DCIM" by "dcim" and would
// keep the name as typed.
QString storedSpelling(const QString& canonical)
{
    if (!canonical.startsWith(QLatin1Char('/')))
        return canonical;
    QString spelled;
    for (const QString& part : canonical.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QDir folder(spelled.isEmpty() ? QStringLiteral("/") : spelled);
        const QStringList names =
            folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QString name = part;
        if (!names.contains(part)) {
            for (const QString& held : names) {
                if (held.compare(part, Qt::CaseInsensitive) == 0) {
                    name = held;
                    break;
                }
            }
        }
        spelled += QLatin1Char('/') + name;
    }
    return spelled.isEmpty() ? canonical : spelled;
}

} // namespace

QString ImportPaths::resolved(const QString& path)
{
    QString existing = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    QString rest;
    for (;;) {
        const QString canonical = storedSpelling(QFileInfo(existing).canonicalFilePath());
        if (!canonical.isEmpty())
            return rest.isEmpty() ? canonical : QDir(canonical).filePath(rest);
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || existing == QDir::rootPath())
            return QDir::cleanPath(QDir::current().absoluteFilePath(path));
        const QString name = existing.mid(slash + 1);
        rest = rest.isEmpty() ? name : name + QLatin1Char('/') + rest;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
        if (existing.endsWith(QLatin1Char(':'))) // a drive letter
            existing += QLatin1Char('/');
    }
}

bool ImportPaths::within(const QString& path, const QString& folder)
{
    const QFileInfo info(path);
    const auto plain = [](const QString& p) {
        return QDir::cleanPath(QDir::current().absoluteFilePath(p));
    };
    if (inside(plain(path), plain(folder)))
        return true; // as the copies are recorded: nothing to read
    // A file's own folder may be large: only the folders above it are spelled out.
    const QString resolvedPath =
        info.isDir() ? resolved(path)
                     : QDir(resolved(info.absolutePath())).filePath(info.fileName());
    return inside(resolvedPath, resolved(folder));
}

QString ImportPaths::problem(const QStringList& cards, const QString& targetDir)
{
    QStringList resolvedCards;
    for (const QString& card : cards)
        resolvedCards << (card.isEmpty() || !QFileInfo(card).isDir() ? QString() : resolved(card));
    const QString destination = targetDir.isEmpty() ? QString() : resolved(targetDir);

    for (int i = 0; i < resolvedCards.size(); ++i) {
        const QString& card = resolvedCards.at(i);
        if (card.isEmpty())
            continue;
        const QString number = QString::number(i + 1);
        if (!destination.isEmpty()) {
            if (inside(destination, card))
                return QStringLiteral("The destination %1 lies on card %2 (%3)")
                    .arg(targetDir, number, card);
        }
        for (int j = 0; j < resolvedCards.size(); ++j) {
            const QString& other = resolvedCards.at(j);
            if (j == i || other.isEmpty())
                continue;
            const QString otherNumber = QString::number(j + 1);
            const bool same = sameFolder(card, other);
            if (j > i && same)
                return QStringLiteral("Cards %1 and %2 are the same folder (%3)")
                    .arg(number, otherNumber, card);
            if (!same && inside(card, other))
                return QStringLiteral("Card %1 (%2) lies inside card %3 (%4)")
                    .arg(number, card, otherNumber, other);
        }
    }
    return QString();
}
