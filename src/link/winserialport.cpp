#include "link/winserialport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSerialPort>
#include <QSet>

#include <climits>
#include <cstring>
#include <stdexcept>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

constexpr int WriteWaitMs = 5000;
// What a read takes from the port at most at once.
constexpr qint64 ReadPiece = 16384;

// Ports open in this process. The platform's exclusive open does not stop a
// second open from the same process everywhere (a privileged process passes
// TIOCEXCL), so two tasks of ours are kept apart here as well.
QMutex openPortsMutex;
QSet<QString> openPorts;

QString portKey(const QString& name)
{
#ifdef Q_OS_WIN
    return name.toUpper();
#else
    QString path = name;
    if (!name.startsWith(QLatin1Char('/')) && !name.startsWith(QLatin1String("./")) &&
        !name.startsWith(QLatin1String("../")))
        path = QStringLiteral("/dev/") + name;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
#endif
}

// A device that refuses us although we may use it is held by another program:
// its lock file, an exclusive open, or (on Windows, which reports nothing
// else for a held port) access denied.
PortOpenError::Reason openFailureReason(const QSerialPort& port, const QString& path)
{
    if (port.error() != QSerialPort::PermissionError)
        return PortOpenError::CannotOpen;
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return PortOpenError::InUseElsewhere;
#else
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0
               ? PortOpenError::InUseElsewhere
               : PortOpenError::CannotOpen;
#endif
}

} // namespace

WinSerialPort::WinSerialPort() = default;

WinSerialPort::~WinSerialPort()
{
    close();
}

bool WinSerialPort::open(const QByteArray& name, quint32 baudRate)
{
    close();
    const QString portName = QString::fromUtf8(name);
    const QString key = portKey(portName);
    {
        QMutexLocker lock(&openPortsMutex);
        if (name.isEmpty())
            throw PortOpenError(PortOpenError::CannotOpen, "ERROR: Could not open com port");
        if (openPorts.contains(key))
            throw PortOpenError(PortOpenError::InUseHere, "ERROR: Could not open com port");
        openPorts.insert(key);
    }
    heldPath = key;

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(portName);
    if (!port->open(QIODevice::ReadWrite)) {
        const PortOpenError::Reason reason = openFailureReason(*port, key);
        close();
        throw PortOpenError(reason, "ERROR: Could not open com port");
    }
    const bool set = port->setBaudRate(qint32(baudRate)) && port->setDataBits(QSerialPort::Data8) &&
                     port->setParity(QSerialPort::NoParity) &&
                     port->setStopBits(QSerialPort::OneStop) &&
                     port->setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        port->close();
        close();
        throw PortOpenError(PortOpenError::CannotConfigure,
                            "ERROR: Could not set com port parameters");
    }
    // Raised while open. A pseudo-terminal has no modem lines; that is no failure.
    port->setDataTerminalReady(true);
    port->setRequestToSend(true);
    port->clearError();

    serial = std::move(port);
    pending.clear();
    pendingPos = 0;
    return true;
}

bool WinSerialPort::isOpen() const
{
    return serial && serial->isOpen();
}

QByteArray WinSerialPort::readLine(QDeadlineTimer deadline, int maxBytes)
{
    if (!isOpen())
        return QByteArray();
    maxBytes = qMax(1, maxBytes);
    for (;;) {
        const char* start = pending.constData() + pendingPos;
        const int unread = pending.size() - pendingPos;
        const char* newline =
            static_cast<const char*>(std::memchr(start, '\n', size_t(qMin(unread, maxBytes))));
        if (newline || unread >= maxBytes) {
            const int length = newline ? int(newline + 1 - start) : maxBytes;
            pendingPos += length;
            // The line where it lies, not a copy: a download reads one per record.
            return QByteArray::fromRawData(start, length);
        }
        // Take what the port has in large pieces rather than byte by byte;
        // the buffer never holds more than one piece and an unfinished line.
        if (serial->bytesAvailable() > 0) {
            if (pendingPos > 0) { // the lines handed out before are done with
                pending.remove(0, pendingPos);
                pendingPos = 0;
            }
            const qint64 wanted = qMin<qint64>(serial->bytesAvailable(), ReadPiece);
            const int size = pending.size();
            pending.resize(size + int(wanted));
            const qint64 got = serial->read(pending.data() + size, wanted);
            pending.resize(size + int(qMax<qint64>(got, 0)));
            continue;
        }
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            break;
        // False on time-out and when the device failed (unplugged): either way
        // the wait is over.
        if (!serial->waitForReadyRead(remaining < 0 ? -1 : int(qMin<qint64>(remaining, INT_MAX))) &&
            serial->bytesAvailable() <= 0)
            break;
    }
    QByteArray rest = pending.mid(pendingPos);
    pending.clear();
    pendingPos = 0;
    return rest;
}

bool WinSerialPort::settle(int quietMs, QDeadlineTimer deadline)
{
    pending.clear();
    pendingPos = 0;
    if (!isOpen())
        return true;
    for (;;) {
        serial->readAll();
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            return false;
        const int wait = remaining < 0 ? quietMs : int(qMin<qint64>(remaining, quietMs));
        if (serial->waitForReadyRead(wait) || serial->bytesAvailable() > 0)
            continue;
        return wait == quietMs; // quiet for the whole of quietMs
    }
}

qint64 WinSerialPort::write(const QByteArray& text)
{
    if (!isOpen() || text.isEmpty())
        return 0;
    const qint64 queued = serial->write(text);
    if (queued <= 0)
        return 0;
    const QDeadlineTimer deadline(WriteWaitMs);
    while (serial->bytesToWrite() > 0) {
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0 || !serial->waitForBytesWritten(int(remaining)))
            break;
    }
    const qint64 unwritten = serial->bytesToWrite();
    if (unwritten > 0)
        serial->clear(QSerialPort::Output); // never sent later, behind the next command
    return queued - unwritten;
}

void WinSerialPort::close()
{
    if (serial) {
        serial->close();
        serial.reset();
    }
    if (!heldPath.isEmpty()) {
        QMutexLocker lock(&openPortsMutex);
        openPorts.remove(heldPath);
        heldPath.clear();
    }
}
