#include "link/nmeasentence.h"

#include <QtGlobal>

#include <charconv>
#include <cstring>
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

enum ByteClass : quint8
{
    Plain,
    Separator,
    Star,
    LineEnd
};

struct ByteClasses
{
    ByteClass of[256];
    constexpr ByteClasses() : of()
    {
        of[quint8(',')] = Separator;
        of[quint8('*')] = Star;
        of[quint8('\r')] = of[quint8('\n')] = of[0] = LineEnd;
    }
};
constexpr ByteClasses byteClasses;

// Through the log handler, so the line lands in the log with the rest.
void conversionFailed(bool outOfRange, const char* conversion)
{
    qWarning("%s%s", outOfRange ? "Out of range:" : "Invalid argument:", conversion);
}

} // namespace

NmeaSentence::NmeaSentence(const QByteArray& text) : m_text(text)
{
    parse();
}

void NmeaSentence::dropLineEnd()
{
    if (m_size < m_text.size())
        m_text.truncate(m_size);
}

// One pass over the bytes (the download takes apart a sentence per record):
// the line end, the fields and the first "*".
void NmeaSentence::parse()
{
    m_fields.clear();
    m_star = -1;
    const char* data = m_text.constData();
    const int size = m_text.size();
    int start = 0;
    int i = 0;
    // The checksum of the bytes before the first "*" on the way.
    quint8 sum = 0;
    quint8 summing = 0xFF;
    for (; i < size; ++i) {
        const quint8 byte = quint8(data[i]);
        const ByteClass kind = byteClasses.of[byte];
        if (kind == Plain) {
            sum ^= byte & summing;
            continue;
        }
        if (kind == LineEnd)
            break;
        if (kind == Star && m_star < 0) {
            m_star = i;
            summing = 0;
        }
        sum ^= byte & summing;
        m_fields.append({start, i - start});
        start = i + 1;
    }
    m_size = i;
    if (size > 0 && data[0] == '$' && m_star != 0)
        sum ^= quint8('$'); // the "$" does not count
    m_sum = sum;
}

void NmeaSentence::appendField(quint32 value)
{
    dropLineEnd();
    m_text += ',';
    m_text += QByteArray::number(qint32(value));
    parse();
}

void NmeaSentence::appendChecksum()
{
    static const char digits[] = "0123456789ABCDEF";
    dropLineEnd();
    const quint8 sum = computeChecksum(m_text);
    m_text += '*';
    m_text += digits[sum >> 4];
    m_text += digits[sum & 0xF];
    parse();
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
    if (m_star < 0 || m_star + 1 >= m_size)
        return false;
    const char* data = m_text.constData();
    // All digits after "*" form one number; any other byte means no checksum.
    bool tooLarge = false;
    unsigned value = 0;
    for (int i = m_star + 1; i < m_size; ++i) {
        const int digit = hexValue(data[i]);
        if (digit < 0)
            return false;
        value = value * 16 + unsigned(digit);
        if (value > 0xFF)
            tooLarge = true; // keep checking that the remaining bytes are digits
        value &= 0xFFF;
    }
    return !tooLarge && value == m_sum;
}

int NmeaSentence::fieldCount() const
{
    return m_fields.size() < 2 ? 0 : m_fields.size() - 1;
}

QByteArray NmeaSentence::getString(int index) const
{
    int length = 0;
    const char* data = fieldData(index, &length);
    return QByteArray(data, length);
}

bool NmeaSentence::fieldStartsWith(int index, const char* prefix) const
{
    if (index < 0 || index >= m_fields.size())
        return false;
    int length = 0;
    const char* data = fieldData(index, &length);
    const size_t prefixLength = std::strlen(prefix);
    return size_t(length) >= prefixLength && std::memcmp(data, prefix, prefixLength) == 0;
}

bool NmeaSentence::fieldEquals(int index, const char* text) const
{
    if (index < 0 || index >= m_fields.size())
        return false;
    int length = 0;
    const char* data = fieldData(index, &length);
    return size_t(length) == std::strlen(text) && std::memcmp(data, text, size_t(length)) == 0;
}

// Where a number in the field begins: after leading white space and an
// optional sign, as the standard conversions read it.
const char* NmeaSentence::numberStart(int index, const char** end, bool* negative) const
{
    int length = 0;
    const char* p = fieldData(index, &length);
    *end = p + length;
    while (p < *end && isCSpace(*p))
        ++p;
    *negative = false;
    if (p < *end && (*p == '+' || *p == '-'))
        *negative = (*p++ == '-');
    return p;
}

qint32 NmeaSentence::getInt(int index, bool* ok) const
{
    constexpr qint32 substitute = std::numeric_limits<qint32>::max();
    if (ok)
        *ok = false;
    const char* end = nullptr;
    bool negative = false;
    const char* p = numberStart(index, &end, &negative);
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
    if (ok)
        *ok = true;
    return qint32(value);
}

double NmeaSentence::getDouble(int index, bool* ok) const
{
    constexpr double substitute = std::numeric_limits<double>::max();
    if (ok)
        *ok = false;
    const char* end = nullptr;
    bool negative = false;
    const char* p = numberStart(index, &end, &negative);
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
    if (ok)
        *ok = true;
    return negative ? -value : value;
}

char NmeaSentence::getChar(int index) const
{
    if (index < 0 || index >= m_fields.size() || m_fields[index].length == 0)
        return 0;
    return m_text.at(m_fields[index].start);
}
