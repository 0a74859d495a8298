#pragma once

#include <QByteArray>
#include <QVarLengthArray>

// One "$PQVK" protocol sentence: built field by field for sending, or taken
// apart after receiving. Field 0 is the name with its "$"; the checksum digits
// after "*" never become a field.
class NmeaSentence
{
public:
    // Takes the text as the sentence; a received line ends at its first CR,
    // LF or NUL.
    explicit NmeaSentence(const QByteArray& text = QByteArray());

    // Appends "," and the value, written as a signed 32-bit number.
    void appendField(quint32 value);
    // Appends "*" and the two upper-case hex digits of the checksum.
    void appendChecksum();
    // True when the sentence carries a checksum and it matches its text.
    bool verifyChecksum() const;

    QByteArray text() const { return m_text.left(m_size); }
    // Number of data fields (fields after the name).
    int fieldCount() const;

    // Field access; an index beyond the fields reads as an empty field.
    QByteArray getString(int index) const;
    // Base-10 integer; 2147483647 (and a warning "Invalid argument:stoi" or
    // "Out of range:stoi") when the field holds no number or one out of range.
    // Text after the digits is ignored. `ok` tells a number from the substitute.
    qint32 getInt(int index, bool* ok = nullptr) const;
    // Real number in decimal notation; the largest double (and a warning
    // "...:stod") when the field holds none or one out of range.
    double getDouble(int index, bool* ok = nullptr) const;
    // First character, 0 for an empty field.
    char getChar(int index) const;

    // Comparisons without copying the field; false for a missing field.
    bool fieldStartsWith(int index, const char* prefix) const;
    bool fieldEquals(int index, const char* text) const;

    // Exclusive-or of the bytes after a leading "$" up to the first "*", CR,
    // LF or NUL.
    static quint8 computeChecksum(const QByteArray& text);

private:
    void parse();
    void dropLineEnd();
    const char* fieldData(int index, int* length) const
    {
        if (index < 0 || index >= m_fields.size()) {
            *length = 0;
            return m_text.constData();
        }
        *length = m_fields[index].length;
        return m_text.constData() + m_fields[index].start;
    }
    const char* numberStart(int index, const char** end, bool* negative) const;

    struct Span
    {
        int start;
        int length;
    };
    QByteArray m_text; // shared with the caller's bytes; the sentence is its first m_size
    int m_size = 0;
    int m_star = -1;  // first "*" within the sentence
    quint8 m_sum = 0; // checksum of the bytes before it
    QVarLengthArray<Span, 16> m_fields;
};
