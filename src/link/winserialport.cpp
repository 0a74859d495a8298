#include "link/winserialport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMutex>
#include <QSerialPort>
#include <QSet>

#include <cstring>
#include <stdexcept>

namespace {

constexpr int WriteWaitMs = 5000;

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
        if (name.isEmpty() || openPorts.contains(key))
            throw std::runtime_error("ERROR: Could not open com port");
        openPorts.insert(key);
    }
    heldPath = key;

    auto port = std::make_unique<QSerialPort>();
    port->setPortName(portName);
    if (!port->open(QIODevice::ReadWrite)) {
        close();
        throw std::runtime_error("ERROR: Could not open com port");
    }
    const bool set = port->setBaudRate(qint32(baudRate)) && port->setDataBits(QSerialPort::Data8) &&
                     port->setParity(QSerialPort::NoParity) &&
                     port->setStopBits(QSerialPort::OneStop) &&
                     port->setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        port->close();
        close();
        throw std::runtime_error("ERROR: Could not set com port parameters");
    }
    // Raised while open. A pseudo-terminal has no modem lines; that is no failure.
    port->setDataTerminalReady(true);
    port->setRequestToSend(true);
    port->clearError();

    serial = std::move(port);
    lineBuffer.clear();
    pending.clear();
    pendingPos = 0;
    return true;
}

bool WinSerialPort::isOpen() const
{
    return serial && serial->isOpen();
}

QByteArray WinSerialPort::readLine(int waitMs)
{
    if (!isOpen()) {
        lineBuffer.clear();
        return lineBuffer;
    }
    QDeadlineTimer deadline; // started only when the read has to wait
    bool waiting = false;
    for (;;) {
        const char* start = pending.constData() + pendingPos;
        const char* newline =
            static_cast<const char*>(std::memchr(start, '\n', size_t(pending.size() - pendingPos)));
        if (newline) {
            lineBuffer = QByteArray(start, int(newline + 1 - start));
            pendingPos += lineBuffer.size();
            if (pendingPos == pending.size()) {
                pending.clear();
                pendingPos = 0;
            }
            return lineBuffer;
        }
        // Take everything the port has in one go rather than byte by byte.
        if (serial->bytesAvailable() > 0) {
            if (pendingPos > 0) {
                pending.remove(0, pendingPos);
                pendingPos = 0;
            }
            const qint64 available = serial->bytesAvailable();
            const int size = pending.size();
            pending.resize(size + int(available));
            const qint64 got = serial->read(pending.data() + size, available);
            pending.resize(size + int(qMax<qint64>(got, 0)));
            continue;
        }
        if (!waiting) {
            deadline.setRemainingTime(qMax(0, waitMs));
            waiting = true;
        }
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            break;
        // False on time-out and when the device failed (unplugged): either way
        // the wait is over.
        if (!serial->waitForReadyRead(int(remaining)) && serial->bytesAvailable() <= 0)
            break;
    }
    lineBuffer = pending.mid(pendingPos);
    pending.clear();
    pendingPos = 0;
    return lineBuffer;
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
