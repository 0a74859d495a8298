#include "link/recorddownload.h"

namespace {

constexpr int GapsNamed = 3;

QString plural(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

RecordDownload::RecordDownload(qint64 announced) : announcedCount(announced) {}

bool RecordDownload::addRecord(const QByteArray& line, qint32 number, bool opensDataset)
{
    if (ends.size() >= announcedCount) {
        fail(QStringLiteral("the unit sent more records than the %1 it announced")
                 .arg(announcedCount));
        return false;
    }
    if (bytes.size() + line.size() > MaxBytes) {
        fail(QStringLiteral("the records outgrew %1 MiB").arg(MaxBytes / (1024 * 1024)));
        return false;
    }
    if (ends.isEmpty()) {
        // Room for what was announced, within reason: the count may be wrong.
        bytes.reserve(int(qMin<qint64>(announcedCount * 80, 8 * 1024 * 1024)));
        ends.reserve(int(qMin<qint64>(announcedCount, 100000)));
    } else if (number <= lastNumber) {
        if (disorderTexts.size() < GapsNamed)
            disorderTexts
                << QStringLiteral("record %1 came after record %2").arg(number).arg(lastNumber);
        ++disorders;
    } else if (number != lastNumber + 1) {
        if (gapTexts.size() < GapsNamed)
            gapTexts << (number == lastNumber + 2
                             ? QStringLiteral("record %1 missing").arg(lastNumber + 1)
                             : QStringLiteral("records %1 to %2 missing")
                                   .arg(lastNumber + 1)
                                   .arg(number - 1));
        ++gapCount;
    }
    lastNumber = number;
    if (opensDataset)
        starts.append(ends.size());
    else if (starts.isEmpty())
        ++beforeFirstStart;
    // Without white space at either end, the line end included.
    const char* begin = line.constData();
    const char* end = begin + line.size();
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (begin < end && blank(*begin))
        ++begin;
    while (end > begin && blank(end[-1]))
        --end;
    bytes.append(begin, int(end - begin));
    ends.append(bytes.size());
    return true;
}

void RecordDownload::fail(const QString& reason)
{
    if (failureReason.isEmpty())
        failureReason = reason;
}

QByteArray RecordDownload::line(int i) const
{
    const int start = i == 0 ? 0 : ends.at(i - 1);
    return QByteArray::fromRawData(bytes.constData() + start, ends.at(i) - start);
}

QStringList RecordDownload::problems() const
{
    QStringList list;
    if (!failureReason.isEmpty())
        list << failureReason;
    else if (!endSeen)
        list << QStringLiteral("no end message");
    if (ends.size() < announcedCount)
        list << QStringLiteral("%1 of %2 records arrived").arg(ends.size()).arg(announcedCount);
    if (garbled > 0)
        list << plural(garbled, "line", "lines") + QStringLiteral(" with a bad checksum");
    list << disorderTexts;
    if (disorders > disorderTexts.size())
        list << plural(disorders - disorderTexts.size(), "more record out of order",
                       "more records out of order");
    // A gap in the numbers tells which records went missing, but it is a
    // loss only when fewer records arrived than announced.
    if (ends.size() < announcedCount) {
        list << gapTexts;
        if (gapCount > gapTexts.size())
            list << plural(gapCount - gapTexts.size(), "more gap", "more gaps");
    }
    if (beforeFirstStart > 0)
        list << plural(beforeFirstStart, "record", "records") +
                    QStringLiteral(" before the first start record");
    return list;
}

QString RecordDownload::summary() const
{
    return problems().join(QStringLiteral("; "));
}
