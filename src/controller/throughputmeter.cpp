#include "controller/throughputmeter.h"

void ThroughputMeter::reset()
{
    meters.clear();
}

QString ThroughputMeter::describe(int card, double copied, double total, double msec)
{
    TransferMeter& meter = meters[card];
    meter.update(qint64(msec), qint64(copied), qint64(total));
    const double speed = meter.bytesPerSecond();
    const qint64 left = meter.secondsLeft();
    if (copied >= total || speed <= 0 || left < 0)
        return QString();
    return TransferMeter::sizeText(qint64(speed), qint64(speed)) + QStringLiteral("/s, ") +
           durationText(left) + QStringLiteral(" left");
}

QString ThroughputMeter::durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min %2 s").arg(minutes).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min")
        .arg(minutes / 60)
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
