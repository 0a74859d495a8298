#include "link/datarecord.h"

#include "link/nmeasentence.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

enum Flags
{
    StartFlag = 1,
    TypedFlag = 2,
    VideoFlag = 8,
    PhotoFlag = 16
};

// One CSV row being put together on the stack: the export writes one per
// record, and appending to the file's buffer piece by piece costs more than
// the formatting itself. No row comes near its size.
struct Row
{
    char data[320];
    char* p = data;

    void put(char c) { *p++ = c; }
    void put(const char* text, int length)
    {
        std::memcpy(p, text, size_t(length));
        p += length;
    }
    void put(const char* text) { put(text, int(std::strlen(text))); }
    void fill(int count, char c)
    {
        std::memset(p, c, size_t(count));
        p += count;
    }
    void number(qint64 value) { p = std::to_chars(p, data + sizeof data, value).ptr; }
    void twoDigits(int value)
    {
        put(char('0' + value / 10));
        put(char('0' + value % 10));
    }
};

// Readings mostly have a few decimals: a value that is exactly the double of
// a decimal with at most six digits, between 1e-4 and 1e6, is written from
// that decimal, which is what six significant digits give for it.
bool putShortDecimal(Row& row, double value)
{
    const double magnitude = std::abs(value);
    if (!(magnitude >= 1e-4 && magnitude < 1e6))
        return false;
    double scale = 1;
    for (int decimals = 0; decimals <= 10; ++decimals, scale *= 10) {
        const double scaled = magnitude * scale;
        if (scaled >= 999999.5)
            return false; // more than six digits
        const double digits = std::round(scaled);
        if (digits / scale != magnitude)
            continue;
        char text[16];
        const int length = int(std::to_chars(text, text + sizeof text, qint64(digits)).ptr - text);
        if (value < 0)
            row.put('-');
        if (decimals == 0) {
            row.put(text, length);
        } else if (length > decimals) {
            row.put(text, length - decimals);
            row.put('.');
            row.put(text + length - decimals, decimals);
        } else {
            row.put("0.", 2);
            row.fill(decimals - length, '0');
            row.put(text, length);
        }
        return true;
    }
    return false;
}

// General format with six significant digits, trailing zeros dropped, as
// QString::number(value, 'g', 6) writes it. A value whose shortest exact form
// has six digits or fewer is written from those digits; others (rare among
// sensor readings) go the framework's way, which rounds ties away from zero.
void putReading(Row& row, double value)
{
    if (value == 0) {
        row.put('0'); // also for -0, as the framework writes it
        return;
    }
    if (putShortDecimal(row, value))
        return;
    char text[32];
    const char* const end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
    const char* p = text;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    char digits[24];
    int count = 0;
    for (; p < end && *p != 'e'; ++p) {
        if (*p != '.' && count < int(sizeof digits))
            digits[count++] = *p;
    }
    if (count > 6 || p == end || std::abs(value) < DBL_MIN) {
        const QByteArray framework = QByteArray::number(value, 'g', 6);
        row.put(framework.constData(), framework.size());
        return;
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    if (negative)
        row.put('-');
    if (exponent < -4 || exponent >= 6) {
        row.put(digits[0]);
        if (count > 1) {
            row.put('.');
            row.put(digits + 1, count - 1);
        }
        row.put(exponent < 0 ? "e-" : "e+", 2);
        if (std::abs(exponent) < 10)
            row.put('0');
        row.number(std::abs(exponent));
    } else if (exponent < 0) {
        row.put("0.", 2);
        row.fill(-exponent - 1, '0');
        row.put(digits, count);
    } else if (exponent >= count - 1) {
        row.put(digits, count);
        row.fill(exponent - (count - 1), '0');
    } else {
        row.put(digits, exponent + 1);
        row.put('.');
        row.put(digits + exponent + 1, count - exponent - 1);
    }
}

// "yyyy-MM-dd hh:mm:ss" in local time, straight from the C library, which the
// framework's own local time uses too; only without its time zone reload per
// call. Times before 1970 go the framework's way, which treats them apart.
void putLocalTime(Row& row, qint32 seconds)
{
    std::tm local{};
    const std::time_t t = seconds;
#ifdef Q_OS_WIN
    const bool converted = seconds >= 0 && localtime_s(&local, &t) == 0;
#else
    const bool converted = seconds >= 0 && localtime_r(&t, &local) != nullptr;
#endif
    if (!converted) {
        const QByteArray framework = QDateTime::fromSecsSinceEpoch(seconds)
                                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                         .toLatin1();
        row.put(framework.constData(), framework.size());
        return;
    }
    row.number(local.tm_year + 1900);
    row.put('-');
    row.twoDigits(local.tm_mon + 1);
    row.put('-');
    row.twoDigits(local.tm_mday);
    row.put(' ');
    row.twoDigits(local.tm_hour);
    row.put(':');
    row.twoDigits(local.tm_min);
    row.put(':');
    row.twoDigits(local.tm_sec);
}

} // namespace

DataRecord::DataRecord(const QString& line) : DataRecord(line.toUtf8()) {}

namespace {

// A record needs the values it exports (fields 1 to 8); anything less stays a
// record of zeros.
bool decodes(const NmeaSentence& sentence)
{
    return sentence.verifyChecksum() && sentence.fieldEquals(0, "$PQVKDATA") &&
           sentence.fieldCount() >= 8;
}

} // namespace

bool DataRecord::opensDataset(const NmeaSentence& sentence)
{
    return decodes(sentence) && (sentence.getInt(2) & StartFlag);
}

DataRecord::DataRecord(const QByteArray& line)
{
    const NmeaSentence sentence(line);
    // The sixth reading is read only when present.
    if (!decodes(sentence))
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
}

void DataRecord::setStartTime(quint32 startTime)
{
    start = startTime;
    quint32 merged = (startTime & 0xFFFF0000u) | (quint32(Timestamp) & 0x0000FFFFu);
    if ((quint32(Timestamp) & 0xFFFFu) < (startTime & 0xFFFFu))
        merged += 0x10000u; // the 16-bit counter wrapped since the start
    Timestamp = qint32(merged);
}

void DataRecord::appendCsvRow(QByteArray& out) const
{
    Row row;
    row.number(Number);
    row.put(',');
    row.number(Id);
    row.put(',');
    putLocalTime(row, Timestamp);
    row.put(',');
    row.number(Timestamp);
    row.put(',');
    row.number(qint64(Timestamp) - qint64(start));
    row.put(',');
    if (!Type.isNull())
        row.put(Type.toLatin1());
    for (double reading : {depth, temperature, heading, roll, pitch}) {
        row.put(',');
        putReading(row, reading);
    }
    row.put("\r\n", 2);
    out.append(row.data, int(row.p - row.data));
}

QString DataRecord::toCsvRow() const
{
    QByteArray row;
    appendCsvRow(row);
    return QString::fromLatin1(row);
}

QString DataRecord::csvHeader()
{
    return QStringLiteral(
        "Number,Id,Datetime,Timestamp,Runtime,Type,Depth,Temperature,Heading,Roll,Pitch\r\n");
}
