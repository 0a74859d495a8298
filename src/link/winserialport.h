#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <memory>
#include <stdexcept>

class QSerialPort;

// Why a port could not be opened; what() is one of the fixed texts
// "ERROR: Could not open com port", "... time-outs", "... parameters".
class PortOpenError : public std::runtime_error
{
public:
    enum Reason
    {
        CannotOpen,     // no such port, access denied, or the device failed
        InUseElsewhere, // another program holds it
        InUseHere,      // another task of this program holds it
        CannotConfigure // opened, but the line settings were refused
    };
    PortOpenError(Reason reason, const char* text) : std::runtime_error(text), m_reason(reason) {}
    Reason reason() const { return m_reason; }

private:
    Reason m_reason;
};

// The byte channel to the controller unit: fixed line settings, exclusive
// open, line reads with a wait limit, whole-text writes. Used by one thread.
class WinSerialPort
{
public:
    WinSerialPort();
    virtual ~WinSerialPort();

    // Throws PortOpenError when the port cannot be opened. A bare name
    // ("ttyUSB0", "COM3") is resolved the platform's way; a path is used as given.
    bool open(const QByteArray& name, quint32 baudRate);
    bool isOpen() const;
    // One line including its line feed, or what arrived before the deadline
    // or the device failed (possibly nothing). Bytes after the line feed are
    // kept for the next read. A line longer than maxBytes comes back in pieces
    // of maxBytes, so no read holds more than that however long a line runs.
    // The bytes of a whole line stay valid until the next read or close only:
    // keep a copy (QByteArray(line.constData(), line.size())) to keep them longer.
    QByteArray readLine(QDeadlineTimer deadline, int maxBytes = DefaultMaxLineBytes);
    QByteArray readLine(int waitMs = 2000) { return readLine(QDeadlineTimer(waitMs)); }
    // Reads and drops whatever arrives until nothing has come for quietMs, or
    // until the deadline. True when the port went quiet.
    bool settle(int quietMs, QDeadlineTimer deadline);
    // Writes the whole text; returns the bytes written (0 on failure or for an
    // empty text).
    qint64 write(const QByteArray& text);
    void close();

    // Far longer than any sentence of the unit, and small enough to hold.
    static constexpr int DefaultMaxLineBytes = 4096;

private:
    std::unique_ptr<QSerialPort> serial;
    QByteArray pending; // bytes read from the port; lines are handed out of it
    int pendingPos = 0; // start of the unread part of pending
    QString heldPath;   // this port's entry in the process-wide list of open ports
};
