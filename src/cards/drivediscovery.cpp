#include "cards/drivediscovery.h"

#include "cards/volumes.h"

#include <QJsonObject>
#include <QStandardPaths>
#include <algorithm>

QVariantList listDrives()
{
    QList<QJsonObject> entries;
    const QList<VolumeInfo> volumes = Volumes::mountedVolumes();
    for (const VolumeInfo& volume : volumes) {
        if (!Volumes::isCardCandidate(volume))
            continue;
        QString key = volume.rootPath;
        key.remove(QStringLiteral("file://"), Qt::CaseSensitive);
        QJsonObject entry;
        entry.insert(QStringLiteral("key"), key);
        // A volume without a label goes by its root path.
        entry.insert(QStringLiteral("value"),
                     volume.displayName.isEmpty() ? key : volume.displayName);
        entries.append(entry);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const QJsonObject& a, const QJsonObject& b) {
                         return a.value(QStringLiteral("key")).toString() <
                                b.value(QStringLiteral("key")).toString();
                     });

    QVariantList result;
    for (const QJsonObject& entry : entries)
        result.append(QVariant(entry));
    return result;
}

QString moviesLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
}
