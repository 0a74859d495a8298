#include "winserialport.h"

#include <QSerialPort>

// Placeholder bodies; the serial port is being written.
WinSerialPort::WinSerialPort() = default;
WinSerialPort::~WinSerialPort() = default;
bool WinSerialPort::open(const QByteArray&, quint32) { return false; }
bool WinSerialPort::isOpen() const { return false; }
QByteArray WinSerialPort::readLine(int) { return {}; }
qint64 WinSerialPort::write(const QByteArray&) { return 0; }
void WinSerialPort::close() {}
