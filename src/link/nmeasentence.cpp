#include "nmeasentence.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace {

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == '\0';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The white space that C's number conversions skip.
bool isCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void conversionFailed(bool outOfRange, const char* conversion)
{
    // One call, so lines from several threads never mix.
    std::fprintf(stderr, "%s%s\n", outOfRange ? "Out of range:" : "Invalid argument:", conversion);
}

} // namespace

NmeaSentence::NmeaSentence(const QByteArray& text) : m_text(text)
{
    for (int i = 0; i < m_text.size(); ++i) {
        if (isLineEnd(m_text.at(i))) {
            m_text.truncate(i);
            break;
        }
    }
    split();
}

void NmeaSentence::split()
{
    m_fields.clear();
    const char* data = m_text.constData();
    int start = 0;
    for (int i = 0; i < m_text.size(); ++i) {
        if (data[i] == ',' || data[i] == '*') {
            m_fields.append({start, i - start});
            start = i + 1;
        }
    }
}

void NmeaSentence::appendField(quint32 value)
{
    m_text += ',';
    m_text += QByteArray::number(qint32(value));
    split();
}

void NmeaSentence::appendChecksum()
{
    static const char digits[] = "0123456789ABCDEF";
    const quint8 sum = computeChecksum(m_text);
    m_text += '*';
    m_text += digits[sum >> 4];
    m_text += digits[sum & 0xF];
    split();
}

quint8 NmeaSentence::computeChecksum(const QByteArray& text)
{
    quint8 sum = 0;
    int i = text.startsWith('$') ? 1 : 0;
    for (; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '*' || isLineEnd(c))
            break;
        sum ^= quint8(c);
    }
    return sum;
}

bool NmeaSentence::verifyChecksum() const
{
    const int star = m_text.indexOf('*');
    if (star < 0 || star + 1 >= m_text.size())
        return false;
    // All digits after "*" form one number; any other byte means no checksum.
    bool tooLarge = false;
    unsigned value = 0;
    for (int i = star + 1; i < m_text.size(); ++i) {
        const int digit = hexValue(m_text.at(i));
        if (digit < 0)
            return false;
        value = value * 16 + unsigned(digit);
        if (value > 0xFF)
            tooLarge = true; // keep checking the remaining bytes are digits
        value &= 0xFFF;
    }
    return !tooLarge && value == computeChecksum(m_text);
}

int NmeaSentence::fieldCount() const
{
    return m_fields.size() < 2 ? 0 : m_fields.size() - 1;
}

QByteArray NmeaSentence::getString(int index) const
{
    if (index < 0 || index >= m_fields.size())
        return QByteArray();
    return m_text.mid(m_fields[index].start, m_fields[index].length);
}

qint32 NmeaSentence::getInt(int index) const
{
    constexpr qint32 substitute = std::numeric_limits<qint32>::max();
    const QByteArray field = getString(index);
    const char* p = field.constData();
    const char* end = p + field.size();
    while (p < end && isCSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = (*p++ == '-');
    if (p == end || *p < '0' || *p > '9') {
        conversionFailed(false, "stoi");
        return substitute;
    }
    // Accumulate in 64 bits so the range check sees the true value.
    qint64 value = 0;
    bool outOfRange = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > qint64(1) << 32)
            outOfRange = true, value = qint64(1) << 32;
    }
    if (negative)
        value = -value;
    if (outOfRange || value > std::numeric_limits<qint32>::max() ||
        value < std::numeric_limits<qint32>::min()) {
        conversionFailed(true, "stoi");
        return substitute;
    }
    return qint32(value);
}

double NmeaSentence::getDouble(int index) const
{
    constexpr double substitute = std::numeric_limits<double>::max();
    const QByteArray field = getString(index);
    const char* p = field.constData();
    const char* end = p + field.size();
    while (p < end && isCSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = (*p++ == '-');
    // Decimal notation only: a digit or a point followed by a digit must come first
    // (no "inf", "nan" or hexadecimal forms).
    const bool startsNumber = p < end && ((*p >= '0' && *p <= '9') ||
                                          (*p == '.' && p + 1 < end && p[1] >= '0' && p[1] <= '9'));
    if (!startsNumber) {
        conversionFailed(false, "stod");
        return substitute;
    }
    double value = 0;
    // from_chars ignores the locale, so a decimal point is always "."
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        conversionFailed(true, "stod");
        return substitute;
    }
    if (result.ec != std::errc()) {
        conversionFailed(false, "stod");
        return substitute;
    }
    return negative ? -value : value;
}

char NmeaSentence::getChar(int index) const
{
    if (index < 0 || index >= m_fields.size() || m_fields[index].length == 0)
        return 0;
    return m_text.at(m_fields[index].start);
}
