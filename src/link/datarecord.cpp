#include "link/datarecord.h"

#include "link/nmeasentence.h"

namespace {

enum Flags
{
    StartFlag = 1,
    TypedFlag = 2,
    VideoFlag = 8,
    PhotoFlag = 16
};

QString reading(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

DataRecord::DataRecord(const QString& line)
{
    dateTime = QDateTime::fromSecsSinceEpoch(0);
    const NmeaSentence sentence(line.toUtf8());
    // A record needs the values it exports (fields 1 to 8); anything less
    // stays a record of zeros. The sixth reading is read only when present.
    if (!sentence.verifyChecksum() || !sentence.fieldEquals(0, "$PQVKDATA") ||
        sentence.fieldCount() < 8)
        return;
    valid = true;
    Id = Number = sentence.getInt(1);
    flags = sentence.getInt(2);
    Timestamp = sentence.getInt(3);
    depth = sentence.getDouble(4);
    temperature = sentence.getDouble(5);
    heading = sentence.getDouble(6);
    roll = sentence.getDouble(7);
    pitch = sentence.getDouble(8);
    if (sentence.fieldCount() >= 9)
        sixth = sentence.getDouble(9);
    if (flags & StartFlag) {
        start = quint32(Timestamp);
        Type = QLatin1Char('s');
    } else if (flags & TypedFlag) {
        if (flags & VideoFlag)
            Type = QLatin1Char('v');
        else if (flags & PhotoFlag)
            Type = QLatin1Char('p');
    }
    dateTime = QDateTime::fromSecsSinceEpoch(Timestamp);
}

void DataRecord::setStartTime(quint32 startTime)
{
    start = startTime;
    quint32 merged = (startTime & 0xFFFF0000u) | (quint32(Timestamp) & 0x0000FFFFu);
    if ((quint32(Timestamp) & 0xFFFFu) < (startTime & 0xFFFFu))
        merged += 0x10000u; // the 16-bit counter wrapped since the start
    Timestamp = qint32(merged);
    dateTime = QDateTime::fromSecsSinceEpoch(Timestamp);
}

QString DataRecord::toCsvRow() const
{
    const qint64 runtime = qint64(Timestamp) - qint64(start);
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11\r\n")
        .arg(Number)
        .arg(Id)
        .arg(dateTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
        .arg(Timestamp)
        .arg(runtime)
        .arg(Type.isNull() ? QString() : QString(Type))
        .arg(reading(depth), reading(temperature), reading(heading), reading(roll), reading(pitch));
}

QString DataRecord::csvHeader()
{
    return QStringLiteral(
        "Number,Id,Datetime,Timestamp,Runtime,Type,Depth,Temperature,Heading,Roll,Pitch\r\n");
}
