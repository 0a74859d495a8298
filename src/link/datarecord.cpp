#include "link/datarecord.h"

#include "link/nmeasentence.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

enum Flags
{
    StartFlag = 1,
    TypedFlag = 2,
    VideoFlag = 8,
    PhotoFlag = 16
};

void appendNumber(QByteArray& out, qint64 value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, int(end - digits));
}

// Readings mostly have a few decimals: a value that is exactly the double of
// a decimal with at most six digits, between 1e-4 and 1e6, is written from
// that decimal, which is what six significant digits give for it.
bool appendShortDecimal(QByteArray& out, double value)
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
        char* end = std::to_chars(text, text + sizeof text, qint64(digits)).ptr;
        int length = int(end - text);
        if (value < 0)
            out += '-';
        if (decimals == 0) {
            out.append(text, length);
        } else if (length > decimals) {
            out.append(text, length - decimals);
            out += '.';
            out.append(text + length - decimals, decimals);
        } else {
            out += "0.";
            out.append(decimals - length, '0');
            out.append(text, length);
        }
        return true;
    }
    return false;
}

// General format with six significant digits, trailing zeros dropped, as
// QString::number(value, 'g', 6) writes it. A value whose shortest exact form
// has six digits or fewer is written from those digits; others (rare among
// sensor readings) go the framework's way, which rounds ties away from zero.
void appendReading(QByteArray& out, double value)
{
    if (value == 0) {
        out += '0'; // also for -0, as the framework writes it
        return;
    }
    if (appendShortDecimal(out, value))
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
        out += QByteArray::number(value, 'g', 6);
        return;
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    if (negative)
        out += '-';
    if (exponent < -4 || exponent >= 6) {
        out += digits[0];
        if (count > 1) {
            out += '.';
            out.append(digits + 1, count - 1);
        }
        out += exponent < 0 ? "e-" : "e+";
        if (std::abs(exponent) < 10)
            out += '0';
        appendNumber(out, std::abs(exponent));
    } else if (exponent < 0) {
        out += "0.";
        out.append(-exponent - 1, '0');
        out.append(digits, count);
    } else if (exponent >= count - 1) {
        out.append(digits, count);
        out.append(exponent - (count - 1), '0');
    } else {
        out.append(digits, exponent + 1);
        out += '.';
        out.append(digits + exponent + 1, count - exponent - 1);
    }
}

void appendTwoDigits(QByteArray& out, int value)
{
    out += char('0' + value / 10);
    out += char('0' + value % 10);
}

// "yyyy-MM-dd hh:mm:ss" in local time, straight from the C library, which the
// framework's own local time uses too; only without its time zone reload per
// call. Times before 1970 go the framework's way, which treats them apart.
void appendLocalTime(QByteArray& out, qint32 seconds)
{
    std::tm local{};
    const std::time_t t = seconds;
#ifdef Q_OS_WIN
    const bool converted = seconds >= 0 && localtime_s(&local, &t) == 0;
#else
    const bool converted = seconds >= 0 && localtime_r(&t, &local) != nullptr;
#endif
    if (!converted) {
        out += QDateTime::fromSecsSinceEpoch(seconds)
                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                   .toLatin1();
        return;
    }
    appendNumber(out, local.tm_year + 1900);
    out += '-';
    appendTwoDigits(out, local.tm_mon + 1);
    out += '-';
    appendTwoDigits(out, local.tm_mday);
    out += ' ';
    appendTwoDigits(out, local.tm_hour);
    out += ':';
    appendTwoDigits(out, local.tm_min);
    out += ':';
    appendTwoDigits(out, local.tm_sec);
}

} // namespace

DataRecord::DataRecord(const QString& line) : DataRecord(line.toUtf8()) {}

DataRecord::DataRecord(const QByteArray& line)
{
    const NmeaSentence sentence(line);
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
    appendNumber(out, Number);
    out += ',';
    appendNumber(out, Id);
    out += ',';
    appendLocalTime(out, Timestamp);
    out += ',';
    appendNumber(out, Timestamp);
    out += ',';
    appendNumber(out, qint64(Timestamp) - qint64(start));
    out += ',';
    if (!Type.isNull())
        out += Type.toLatin1();
    for (double reading : {depth, temperature, heading, roll, pitch}) {
        out += ',';
        appendReading(out, reading);
    }
    out += "\r\n";
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
