#pragma once

#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// Stands in for AppController behind the view: serves the lists and the
// settings map a test gives it and records every call the view makes.
class FakeController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList drives MEMBER drives)
    Q_PROPERTY(QVariantList devices MEMBER devices)
    Q_PROPERTY(QVariantList templates MEMBER templates)
    Q_PROPERTY(QVariantMap storedSettings MEMBER storedSettings)
    Q_PROPERTY(QString moviesLocation MEMBER moviesLocation)
    Q_PROPERTY(QStringList calls MEMBER calls)
    Q_PROPERTY(int settingsUpdates MEMBER settingsUpdates)

public:
    explicit FakeController(QObject* parent = nullptr) : QObject(parent) { reset(); }

    // Empty lists, the settings a first start writes, no calls.
    Q_INVOKABLE void reset()
    {
        drives.clear();
        devices.clear();
        templates.clear();
        moviesLocation = QStringLiteral("/home/user/Videos");
        storedSettings = {
            {"Serialnumber", "000000"}, {"OverwriteAngles", "1"},  {"RadiansAngles", "0"},
            {"Camera1Pitch", "0"},      {"Camera1Roll", "-90"},    {"Camera1Yaw", "-0"},
            {"Camera1OffsetX", "-20"},  {"Camera1OffsetY", "0"},   {"Camera2Pitch", "0"},
            {"Camera2Roll", "-90"},     {"Camera2Yaw", "-0"},      {"Camera2OffsetX", "-20"},
            {"Camera2OffsetY", "0"},    {"Camera3Pitch", "0"},     {"Camera3Roll", "-90"},
            {"Camera3Yaw", "-0"},       {"Camera3OffsetX", "-20"}, {"Camera3OffsetY", "0"},
            {"AppVersion", "1.8.3"},    {"AppName", "Pelorin QVK"}};
        calls.clear();
        settingsUpdates = 0;
    }
    // Lets a test put its own events (signals seen) in line with the calls.
    Q_INVOKABLE void note(const QString& event) { calls << event; }

public slots:
    QVariantList getDrives()
    {
        calls << QStringLiteral("getDrives");
        return drives;
    }
    QVariantList getDevices()
    {
        calls << QStringLiteral("getDevices");
        return devices;
    }
    QVariantList getTemplates()
    {
        calls << QStringLiteral("getTemplates");
        return templates;
    }
    QVariantMap getSettings()
    {
        calls << QStringLiteral("getSettings");
        return storedSettings;
    }
    void updateSettings(QVariantMap settings)
    {
        calls << QStringLiteral("updateSettings");
        ++settingsUpdates;
        for (auto it = settings.cbegin(); it != settings.cend(); ++it)
            storedSettings.insert(it.key(), it.value());
    }
    QVariant getMoviesLocation()
    {
        calls << QStringLiteral("getMoviesLocation");
        return moviesLocation;
    }
    QVariant getVersion() { return QStringLiteral("1.8.3"); }
    void setPort(QVariant port) { calls << QStringLiteral("setPort:") + port.toString(); }
    void updateFirmware(QString port, QString filePath)
    {
        calls << QStringLiteral("updateFirmware:") + port + QLatin1Char('|') + filePath;
    }

private:
    QVariantList drives;
    QVariantList devices;
    QVariantList templates;
    QVariantMap storedSettings;
    QString moviesLocation;
    QStringList calls;
    int settingsUpdates = 0;
};
