#pragma once

#include <QByteArray>
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
    // time-out / parameter texts) when the port cannot be opened.
    bool open(const QByteArray& name, quint32 baudRate);
    bool isOpen() const;
    // One line including its line feed, or what arrived before waitMs ran out.
    QByteArray readLine(int waitMs = 2000);
    qint64 write(const QByteArray& text);
    void close();

private:
    std::unique_ptr<QSerialPort> serial;
    QByteArray lineBuffer;
    QByteArray pending; // bytes read past the last line feed, kept for the next read
};
