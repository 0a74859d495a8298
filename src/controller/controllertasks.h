#pragma once

#include "link/pqvkconfig.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// Helpers of the controller-unit tasks: the conversions between the view's
// units and the unit's, the battery level text and the boot-loader's command
// line. Free of the serial link, so tests reach them directly.
namespace ControllerTasks {

// The clock text the view shows and sends.
extern const QString ClockFormat; // "yyyy-MM-dd hh:mm:ss"

// "-" without a reading (below 0.5 V), "Empty" below 3.5 V, then steps of
// 0.07 V from "10 %" up to "100 %" from 4.13 V on.
QString batteryLevelText(double volts);

// Seconds from the view to whole milliseconds, truncated toward zero. A
// product that lands a rounding error below a whole number (2.01 * 1000)
// counts as that number; values below 0 give 0.
quint32 secondsToMilliseconds(double seconds);
// Minutes truncated toward zero, with the same care for rounding errors.
quint32 wholeMinutes(double minutes);
// The video logging interval goes to the view as a fraction of seconds...
double millisecondsToSeconds(quint32 milliseconds);
// ...the time-lapse interval as whole seconds.
quint32 millisecondsToWholeSeconds(quint32 milliseconds);
// A unit that reports E1 firmware 0 has the default version 29.
quint32 shownE1FirmwareVersion(quint32 version);

// The settings record the save task hands to the unit; none when a value is
// not one the unit's settings take (UnitSettings), and `problem` says which.
std::optional<PQVKConfig> settingsToConfig(int recLedOn, double videoLoggingIntervalSeconds,
                                           double timelapseIntervalSeconds,
                                           double timelapseTimeoutMinutes, int e1FirmwareVersion,
                                           QString* problem = nullptr);

// The clock text as seconds since the epoch (local time). A text that does
// not parse, or a time the unit's clock cannot hold (before 1970, after
// 2038-01-19), gives `now` instead.
quint32 clockSeconds(const QString& text, const QDateTime& now = QDateTime::currentDateTime());
// The unit's clock as the view shows it, local time.
QString clockText(qint32 secondsSinceEpoch);

// The boot-loader: the first executable one of the local utilities folder
// (/usr/local/lib/pelorin-qvk/utilities for an installed app) and the
// application's utilities folder; where neither has one, the path in the
// first of them.
QString bootloaderProgram();
// "-p <port>" as one argument, then the firmware file: a bare or relative
// name is looked for in the firmware folder, an absolute path stays as given.
QStringList bootloaderArguments(const QString& port, const QString& filePath);

} // namespace ControllerTasks
