#include "cards/importpaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
constexpr Qt::CaseSensitivity PathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity PathCase = Qt::CaseSensitive;
#endif

// `path` is `folder` or lies below it, both resolved already.
bool inside(const QString& path, const QString& folder)
{
    if (path.compare(folder, PathCase) == 0)
        return true;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.startsWith(prefix, PathCase);
}

} // namespace

QString ImportPaths::resolved(const QString& path)
{
    QString existing = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    QString rest;
    for (;;) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
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
    return inside(resolved(path), resolved(folder));
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
            if (j > i && card.compare(other, PathCase) == 0)
                return QStringLiteral("Cards %1 and %2 are the same folder (%3)")
                    .arg(number, otherNumber, card);
            if (card.compare(other, PathCase) != 0 && inside(card, other))
                return QStringLiteral("Card %1 (%2) lies inside card %3 (%4)")
                    .arg(number, card, otherNumber, other);
        }
    }
    return QString();
}
