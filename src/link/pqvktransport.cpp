#include "link/pqvkcomms.h"

#include "link/nmeasentence.h"
#include "link/pqvktransport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtDebug>

#include <stdexcept>

using namespace PQVKTransport;

namespace {

constexpr int MaxPortLines = 3;
constexpr quint32 BaudRate = 115200;

} // namespace

PQVKComms::PQVKComms(QObject* parent) : QObject(parent) {}

PQVKComms::~PQVKComms()
{
    close();
}

bool PQVKComms::writeLine(const QString& sentence)
{
    qInfo() << "writeLine:" << sentence;
    const QByteArray bytes = (sentence.trimmed() + QStringLiteral("\r\n")).toUtf8();
    if (port.write(bytes) != bytes.size()) {
        qWarning() << "writeLine error, bytes don't match.";
        return false;
    }
    return true;
}

QByteArray PQVKComms::readPortLines(QDeadlineTimer deadline, int maxLines)
{
    QByteArray text;
    for (int lines = 0; lines < maxLines; ++lines) {
        const QByteArray piece = port.readLine(deadline, MaxLineBytes);
        if (piece.isEmpty())
            break;     // nothing more within the wait, or the device is gone
        text += piece; // a copy: the piece lives only until the next read
        if (text.endsWith('\n'))
            break;
    }
    return text;
}

QString PQVKComms::readLine(int waitMs, int maxLines)
{
    // Each port line has the whole wait: a line that comes in pieces with a
    // pause between them is still one line.
    QByteArray bytes;
    for (int lines = 0; lines < maxLines && !bytes.endsWith('\n'); ++lines) {
        const QByteArray piece = port.readLine(QDeadlineTimer(waitMs), MaxLineBytes);
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    const QString text = QString::fromUtf8(bytes);
    logReceived(text);
    return text;
}

bool PQVKComms::sendCommand(const char* type, std::initializer_list<quint32> fields)
{
    NmeaSentence sentence(QByteArray("$PQVK") + type);
    for (quint32 field : fields)
        sentence.appendField(field);
    sentence.appendChecksum();
    return writeLine(QString::fromLatin1(sentence.text()));
}

QDeadlineTimer PQVKComms::answerDeadline() const
{
    const qint64 left = qMax<qint64>(0, qint64(waits.silenceMs) - unansweredMs);
    return QDeadlineTimer(qMin<qint64>(waits.answerMs, left));
}

// Reads at most four lines, passing over empty, garbled and unwanted ones,
// until `accept` takes one as the end of the exchange; all within one deadline.
bool PQVKComms::awaitAnswer(const std::function<bool(const NmeaSentence&)>& accept, Wait wait)
{
    const QDeadlineTimer deadline =
        wait == Wait::SlowAnswer ? QDeadlineTimer(waits.slowAnswerMs) : answerDeadline();
    QElapsedTimer waited;
    waited.start();
    bool anything = false;
    for (int read = 0; read < MaxReads; ++read) {
        const QByteArray line = readPortLines(deadline, MaxPortLines);
        logReceived(QString::fromUtf8(line));
        anything = anything || !line.isEmpty();
        const NmeaSentence answer(line);
        if (answer.verifyChecksum()) {
            heard();
            waited.restart();
            if (accept(answer))
                return true;
        }
        if (deadline.hasExpired())
            break;
    }
    unansweredMs += waited.elapsed();
    if (anything)
        communicationError();
    else
        noAnswer();
    return false;
}

bool PQVKComms::requireOpen()
{
    if (port.isOpen())
        return true;
    lastError = QStringLiteral("Please open serial port first.");
    qWarning() << lastError;
    return false;
}

void PQVKComms::communicationError()
{
    lastError = QString::fromLatin1(CommunicationError);
    qWarning() << lastError;
}

// The log tells silence from a garbled answer; the user gets the usual text.
void PQVKComms::noAnswer()
{
    qWarning().noquote() << QStringLiteral("No answer on port %1.").arg(openedName);
    communicationError();
}

bool PQVKComms::open(QString name)
{
    qInfo() << "Opening port" << name;
    if (port.isOpen()) {
        qInfo() << "Port is already open.";
        return true;
    }
    try {
        port.open(name.toUtf8(), BaudRate);
        openedName = name;
        unansweredMs = 0;
        answered = false;
        return true;
    } catch (const PortOpenError& error) {
        qWarning() << error.what();
        openFailure = error.reason();
        return false;
    }
}

bool PQVKComms::isOpen()
{
    return port.isOpen();
}

void PQVKComms::close()
{
    if (port.isOpen()) {
        port.close();
        qInfo() << "Closing port: Port closed.";
    } else {
        qInfo() << "Closing port: Port already closed.";
    }
}

QVariantList PQVKComms::deviceEntries(const QList<SerialPortEntry>& ports)
{
    if (ports.isEmpty())
        qWarning() << "No serial ports found";
    static const char* const excluded[] = {"dev/cu", "NERD", "iPhone", "Bluetooth"};
    QVariantList result;
    for (const SerialPortEntry& port : ports) {
        qInfo() << QStringLiteral("Found serial port: name=%1, description=%2, location=%3, "
                                  "manufacturer=%4, serial=%5")
                       .arg(port.name, port.description, port.location, port.manufacturer,
                            port.serial);
        bool skip = false;
        for (const char* marker : excluded)
            skip = skip || port.location.contains(QLatin1String(marker), Qt::CaseSensitive);
        if (skip)
            continue;
        // Never a null string: the view compares these texts.
        auto text = [](const QString& value) { return value.isNull() ? QString("") : value; };
        QVariantMap entry;
        entry.insert(QStringLiteral("name"), text(port.name));
        entry.insert(QStringLiteral("description"), text(port.description));
        entry.insert(QStringLiteral("location"), text(port.location));
        entry.insert(QStringLiteral("manufacturer"), text(port.manufacturer));
        entry.insert(QStringLiteral("serial"), text(port.serial));
        result.append(entry);
    }
    return result;
}

QVariantList PQVKComms::getDevices()
{
    QList<SerialPortEntry> ports;
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : available) {
        ports.append({info.portName(), info.description(), info.systemLocation(),
                      info.manufacturer(), info.serialNumber()});
    }
    return deviceEntries(ports);
}

QString PQVKComms::unitIdentity(const QString& port)
{
#ifdef Q_OS_WIN
    const QString device = port.toUpper();
#else
    // A bare name is a device under /dev, as the port opens it.
    QString device = port;
    if (!port.startsWith(QLatin1Char('/')) && !port.startsWith(QLatin1String("./")) &&
        !port.startsWith(QLatin1String("../")))
        device = QStringLiteral("/dev/") + port;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (!canonical.isEmpty())
        device = canonical;
#endif
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : available) {
#ifdef Q_OS_WIN
        const bool same = info.portName().toUpper() == device;
#else
        const QString location = QFileInfo(info.systemLocation()).canonicalFilePath();
        const bool same = info.systemLocation() == device || location == device;
#endif
        if (same && !info.serialNumber().isEmpty())
            return QStringLiteral("usb %1:%2 serial %3")
                .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                .arg(info.serialNumber());
    }
    return device;
}
