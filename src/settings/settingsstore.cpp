#include "settings/settingsstore.h"

#include "base/apppaths.h"

#include <QFileInfo>
#include <QSettings>
#include <utility>

namespace {

// The keys every settings map carries, with the text written when missing,
// in the order they are checked. The calibration (the switch "OverwriteAngles"
// and the cameras' angles and offsets) is not among them: a file gets it only
// when a calibration is saved or downloaded. Until then the stitching projects
// keep the template's own angles, rather than three cameras at one yaw.
const std::pair<const char*, const char*> defaults[] = {
    {"Serialnumber", "000000"},    {"RadiansAngles", "0"},     {"EnableAutoScale", "0"},
    {"EnableHighDpiScaling", "1"}, {"EnableScaleFactor", "1"},
};

const char* const angleKeys[] = {
    "Camera1Yaw",  "Camera1Pitch", "Camera1Roll",  "Camera2Yaw",  "Camera2Pitch",
    "Camera2Roll", "Camera3Yaw",   "Camera3Pitch", "Camera3Roll",
};

const QString extraSerialPortsKey = QStringLiteral("ExtraSerialPorts");
const QString backupDirKey = QStringLiteral("BackupDir");
const QString copiesBeforeWipeKey = QStringLiteral("CopiesBeforeWipe");

// An INI value holding a comma comes back from QSettings as a list; the map
// hands every value over as the text that is stored.
QString storedText(const QVariant& value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QString readStoredText(const QString& key)
{
    QSettings settings(iniFilePath(), QSettings::IniFormat);
    return storedText(settings.value(key));
}

} // namespace

QVariantMap getSettings()
{
    QSettings settings(iniFilePath(), QSettings::IniFormat);
    const QStringList present = settings.allKeys();
    for (const auto& entry : defaults) {
        const QString key = QLatin1String(entry.first);
        if (!present.contains(key, Qt::CaseSensitive))
            settings.setValue(key, QString::fromLatin1(entry.second));
    }
    settings.sync();

    QVariantMap result;
    const QStringList keys = settings.allKeys();
    for (const QString& key : keys)
        result.insert(key, storedText(settings.value(key)));
    return result;
}

void updateSettings(const QVariantMap& values)
{
    QSettings settings(iniFilePath(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

QVariantMap anglesForTemplate(const QVariantMap& settings)
{
    QVariantMap result = settings;
    if (!result.value(QStringLiteral("RadiansAngles"), false).toBool())
        return result;
    for (const char* name : angleKeys) {
        const QString key = QLatin1String(name);
        const float degrees = result.value(key, 0).toFloat();
        // Single precision on purpose: the templates have always carried this product.
        const float radians = degrees * 0.017453292f;
        result.insert(key, QVariant(radians));
    }
    return result;
}

QVariantList configuredSerialPortEntries()
{
    QVariantList entries;
    QStringList seen;
    const QStringList paths = readStoredText(extraSerialPortsKey).split(QLatin1Char(','));
    for (const QString& item : paths) {
        const QString path = item.trimmed();
        if (path.isEmpty() || seen.contains(path) || !QFileInfo::exists(path))
            continue;
        seen.append(path);
        QVariantMap entry;
        entry.insert(QStringLiteral("name"), path);
        entry.insert(QStringLiteral("description"), QStringLiteral("Configured port"));
        entry.insert(QStringLiteral("location"), path);
        entry.insert(QStringLiteral("manufacturer"), QString());
        entry.insert(QStringLiteral("serial"), QString());
        entries.append(entry);
    }
    return entries;
}

QString backupDir()
{
    return readStoredText(backupDirKey).trimmed();
}

void setBackupDir(const QString& folder)
{
    updateSettings({{backupDirKey, folder.trimmed()}});
}

int copiesBeforeWipe()
{
    QSettings settings(iniFilePath(), QSettings::IniFormat);
    QVariantMap values;
    for (const QString& key : {backupDirKey, copiesBeforeWipeKey})
        if (settings.contains(key))
            values.insert(key, storedText(settings.value(key)));
    return copiesBeforeWipe(values);
}

int copiesBeforeWipe(const QVariantMap& settings)
{
    bool number = false;
    const int stored = settings.value(copiesBeforeWipeKey).toString().trimmed().toInt(&number);
    if (number)
        return qBound(MinCopiesBeforeWipe, stored, MaxCopiesBeforeWipe);
    return settings.value(backupDirKey).toString().trimmed().isEmpty() ? 1 : 2;
}
