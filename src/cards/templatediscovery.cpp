#include "cards/templatediscovery.h"

#include "base/apppaths.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <algorithm>

namespace {

// Regular files of the templates folder matching `pattern` in any case, sorted
// by name in case-sensitive ascending order.
QStringList templateFiles(const QDir& dir, const QString& pattern)
{
    QStringList names = dir.entryList({pattern}, QDir::Files | QDir::NoSymLinks, QDir::NoSort);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b) < 0; });
    return names;
}

} // namespace

QVariantList listTemplates()
{
    const QDir dir(templatesDirPath());
    QStringList names = templateFiles(dir, QStringLiteral("*.kava"));
    std::reverse(names.begin(), names.end());
    if (names.isEmpty())
        qWarning("No templates found");

    QVariantList entries;
    for (const QString& name : names) {
        qInfo() << "Found template" << name;
        QString key = dir.absoluteFilePath(name);
        QString value = name;
        QJsonObject entry;
        entry.insert(QStringLiteral("key"), key.remove(QStringLiteral("file://")));
        entry.insert(QStringLiteral("value"), value.remove(QStringLiteral(".kava")));
        entries.append(entry);
    }
    return entries;
}

QString templateJpg()
{
    const QDir dir(templatesDirPath());
    const QStringList names = templateFiles(dir, QStringLiteral("*.jpg"));
    return names.isEmpty() ? QString() : dir.absoluteFilePath(names.last());
}

QString templateSiblingPath(const QString& templatePath, const QString& extension)
{
    const QFileInfo info(templatePath);
    QString name = info.fileName();
    const QString kava = QStringLiteral(".kava");
    if (name.endsWith(kava, Qt::CaseInsensitive))
        name.chop(kava.size());
    return info.path() + QLatin1Char('/') + name + extension;
}
