#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QSerialPort;

// The byte channel to the controller unit: fixed line settings, exclusive
// open, line reads with a wait limit, whole-text writes. Used by one thread.
class WinSerialPort
{
public:
    WinSerialPort();
    virtual ~WinSerialPort();

    // Throws std::runtime_error with "ERROR: Could not open com port" (or the
    // time-out / parameter texts) when the port cannot be opened. A bare name
    // ("ttyUSB0", "COM3") is resolved the platform's way; a path is used as given.
    bool open(const QByteArray& name, quint32 baudRate);
    bool isOpen() const;
    // One line including its line feed, or what arrived before waitMs ran out
    // or the device failed (possibly nothing). Bytes after the line feed are
    // kept for the next read.
    QByteArray readLine(int waitMs = 2000);
    // Writes the whole text; returns the bytes written (0 on failure or for an
    // empty text).
    qint64 write(const QByteArray& text);
    void close();

private:
    std::unique_ptr<QSerialPort> serial;
    QByteArray lineBuffer;
    QByteArray pending; // bytes read past the last line feed, kept for the next read
    int pendingPos = 0; // start of the unread part of pending
    QString heldPath;   // this port's entry in the process-wide list of open ports
};
