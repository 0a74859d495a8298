#include "controller/controllertasks.h"

#include "base/apppaths.h"
#include "settings/unitsettings.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <limits>
#include <utility>

namespace ControllerTasks {

const QString ClockFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString batteryLevelText(double volts)
{
    if (!(volts >= 0.5)) // NaN is no reading either
        return QStringLiteral("-");
    if (volts < 3.5)
        return QStringLiteral("Empty");
    static const double upperBounds[] = {3.57, 3.64, 3.71, 3.78, 3.85, 3.92, 3.99, 4.06, 4.13};
    int percent = 10;
    for (double bound : upperBounds) {
        if (volts < bound)
            return QStringLiteral("%1 %").arg(percent);
        percent += 10;
    }
    return QStringLiteral("100 %");
}

namespace {

// Truncation toward zero into the unit's unsigned fields, never out of range.
quint32 truncateToUnsigned(double value)
{
    if (!(value > 0.0)) // NaN and negatives
        return 0;
    // 2.01 * 1000 is 2009.9999999999998 in binary arithmetic: a value within a
    // rounding error of a whole number is that number, not the one below.
    const double nearest = std::round(value);
    if (std::abs(value - nearest) <= 1e-6)
        value = nearest;
    if (value >= static_cast<double>(std::numeric_limits<quint32>::max()))
        return std::numeric_limits<quint32>::max();
    return static_cast<quint32>(std::trunc(value));
}

} // namespace

quint32 secondsToMilliseconds(double seconds)
{
    return truncateToUnsigned(seconds * 1000.0);
}

quint32 wholeMinutes(double minutes)
{
    return truncateToUnsigned(minutes);
}

double millisecondsToSeconds(quint32 milliseconds)
{
    return milliseconds / 1000.0;
}

quint32 millisecondsToWholeSeconds(quint32 milliseconds)
{
    return milliseconds / 1000u;
}

quint32 shownE1FirmwareVersion(quint32 version)
{
    return version == 0 ? UnitSettings::DefaultE1FirmwareVersion : version;
}

std::optional<PQVKConfig> settingsToConfig(int recLedOn, double videoLoggingIntervalSeconds,
                                           double timelapseIntervalSeconds,
                                           double timelapseTimeoutMinutes, int e1FirmwareVersion,
                                           QString* problem)
{
    using namespace UnitSettings;
    const std::pair<const UnitSettingMeta&, double> given[] = {
        {UnitSettings::recLedOn(), recLedOn},
        {videoLoggingInterval(), videoLoggingIntervalSeconds},
        {timelapseInterval(), timelapseIntervalSeconds},
        {timelapseTimeout(), timelapseTimeoutMinutes},
        {UnitSettings::e1FirmwareVersion(), e1FirmwareVersion}};
    QString refused;
    for (const auto& setting : given) {
        if (!setting.first.validate(setting.first.label, setting.second, &refused)) {
            if (problem)
                *problem = refused;
            return std::nullopt;
        }
    }
    PQVKConfig cfg;
    cfg.recLedOn = static_cast<quint32>(recLedOn);
    cfg.videoLoggingInterval = secondsToMilliseconds(videoLoggingIntervalSeconds);
    cfg.timeLapseInterval = secondsToMilliseconds(timelapseIntervalSeconds);
    cfg.timeLapseTimeout = wholeMinutes(timelapseTimeoutMinutes);
    cfg.e1FirmwareVersion = static_cast<quint32>(e1FirmwareVersion);
    return cfg;
}

quint32 clockSeconds(const QString& text, const QDateTime& now)
{
    QDateTime clock = QDateTime::fromString(text, ClockFormat);
    clock.setTimeSpec(Qt::LocalTime);
    qint64 seconds = clock.isValid() ? clock.toSecsSinceEpoch() : -1;
    // The unit reports its clock as a signed 32-bit number: a time outside
    // that range would come back as a different date.
    if (seconds < 0 || seconds > std::numeric_limits<qint32>::max())
        seconds = now.toSecsSinceEpoch();
    return static_cast<quint32>(seconds);
}

QString clockText(qint32 secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::LocalTime).toString(ClockFormat);
}

QString bootloaderProgram()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("/bootloader.exe");
#else
    const QString name = QStringLiteral("/bootloader");
#endif
    // The administrator's copy comes first; the packaged folder is still
    // looked in, as before. Without either, the program belongs in the first.
    QStringList folders;
    const QString local = localUtilitiesDirPath();
    if (!local.isEmpty())
        folders << local;
    folders << utilitiesDirPath();
    for (const QString& folder : qAsConst(folders)) {
        if (QFileInfo(folder + name).isExecutable())
            return folder + name;
    }
    return folders.first() + name;
}

QStringList bootloaderArguments(const QString& port, const QString& filePath)
{
    // The blank makes the platform's process class quote "-p <port>" as one argument.
    return {QStringLiteral("-p %1").arg(port), QDir(firmwareDirPath()).absoluteFilePath(filePath)};
}

} // namespace ControllerTasks
