#include "base/transfermeter.h"

#include <cmath>

namespace {

constexpr qint64 WindowMs = 5000; // the speed's stretch of time

} // namespace

void TransferMeter::update(qint64 nowMs, qint64 bytesCopied, qint64 bytesTotal)
{
    if (firstMs < 0)
        firstMs = nowMs;
    copied = qMax<qint64>(0, bytesCopied);
    total = qMax<qint64>(0, bytesTotal);
    recent.append({nowMs, copied});
    while (recent.size() > 2 && nowMs - recent.at(1).ms >= WindowMs)
        recent.removeFirst();
}

int TransferMeter::percent() const
{
    if (total <= 0)
        return 0;
    // Never 100 before the last byte: a rounded-up 100% that then waits
    // would read as a stall.
    const int share = int(copied * 100 / total);
    return copied >= total ? 100 : qMin(share, 99);
}

double TransferMeter::bytesPerSecond() const
{
    if (recent.size() < 2)
        return 0;
    const bool done = total > 0 && copied >= total;
    const Sample first = done ? Sample{firstMs, 0} : recent.first();
    const Sample last = recent.last();
    const qint64 ms = last.ms - first.ms;
    if (ms < MinimumMs)
        return 0;
    return double(last.bytes - (done ? 0 : first.bytes)) * 1000.0 / double(ms);
}

qint64 TransferMeter::secondsLeft() const
{
    const double speed = bytesPerSecond();
    if (speed <= 0 || total <= 0)
        return -1;
    return qint64(double(total - copied) / speed + 0.999);
}

QString TransferMeter::sizeText(qint64 bytes, qint64 scale)
{
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    double divisor = 1;
    while (unit < 4 && double(scale) >= divisor * 1000)
        divisor *= 1000, ++unit;
    const int decimals = unit == 0 || double(bytes) / divisor >= 100 ? 0 : 1;
    // Rounded down: what is shown has been copied.
    const double step = decimals ? 10.0 : 1.0;
    const double value = std::floor(double(bytes) / divisor * step) / step;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString TransferMeter::durationText(qint64 seconds)
{
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString TransferMeter::text() const
{
    if (recent.isEmpty() || total <= 0)
        return QString(); // nothing to copy: no figures
    const bool done = copied >= total;
    const QString whole = sizeText(total, total);
    QString line = QStringLiteral("%1%").arg(percent(), 3);
    if (done) // "1.2 of 2.9 GB": both in the total's unit
        line += QStringLiteral("  ") + whole;
    else
        line += QStringLiteral("  %1 of %2")
                    .arg(sizeText(copied, total).section(QLatin1Char(' '), 0, 0), whole);
    const double speed = bytesPerSecond();
    line += QStringLiteral("  ") +
            (speed > 0 ? sizeText(qint64(speed), qint64(speed)) : QStringLiteral("--")) +
            QStringLiteral("/s");
    if (!done) {
        const qint64 left = secondsLeft();
        line += QStringLiteral("  ") + (left >= 0 ? durationText(left) : QStringLiteral("-:--")) +
                QStringLiteral(" left");
    }
    return line;
}
