#include "simulator/controllersimulator.h"

#include <QDateTime>
#include <QHash>
#include <QtDebug>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

quint8 checksumOf(const QByteArray& body)
{
    quint8 sum = 0;
    for (char c : body)
        sum ^= quint8(c);
    return sum;
}

QByteArray framed(const QByteArray& body, bool garble)
{
    quint8 sum = checksumOf(body);
    if (garble)
        sum ^= 0x5A;
    char digits[3];
    qsnprintf(digits, sizeof digits, "%02X", unsigned(sum));
    return '$' + body + '*' + QByteArray(digits, 2) + "\r\n";
}

QByteArray withLineEnd(QByteArray line)
{
    if (!line.endsWith('\n'))
        line += "\r\n";
    return line;
}

// A command line as the unit checks it: "$" name [,fields] "*" hex hex.
bool commandVerifies(const QByteArray& line)
{
    const int star = line.indexOf('*');
    if (!line.startsWith('$') || star < 0 || star + 3 != line.size())
        return false;
    bool ok = false;
    const uint sum = line.mid(star + 1).toUInt(&ok, 16);
    return ok && sum == checksumOf(line.mid(1, star - 1));
}

struct Outgoing
{
    qint64 due = 0;
    QByteArray bytes;
    int offset = 0;
    bool vanish = false; // close the device once everything before it is read
};

} // namespace

struct ControllerSimulator::Private
{
    mutable std::mutex mutex;
    mutable std::condition_variable receivedChanged;

    // Guarded by mutex.
    bool silent = false;
    bool garble = false;
    int unrelated = 0;
    int delayMs = 0;
    bool reportE1 = true;
    double battery = 3.9;
    qint64 clock = 1600000000;
    QByteArray firmware = "2.4.1";
    quint32 recLedOn = 1, videoMs = 1000, timeLapseMs = 5000, timeLapseTimeout = 60, e1 = 29;
    QHash<QByteArray, QList<QByteArray>> replies;
    QList<QByteArray> records;
    int rate = 0;
    int vanishAfter = -1;
    QHash<QByteArray, int> commandDelays;
    int announced = -1;
    QList<int> garbledRecords, droppedRecords;
    int damagedDumps = -1;
    int dumps = 0;
    DumpTail tail = DumpTail::End;
    int tailAfter = 0;
    bool tailRunning = false; // an endless tail is being sent
    int tailNextId = 0;
    qint64 tailDue = 0;
    quint32 garbageSeed = 1;
    QStringList received;
    QList<QByteArray> receivedRaw;
    std::deque<Outgoing> queue;
    bool vanishNow = false;

    // Serving thread only (set up before it starts).
    int master = -1;
    int keeper = -1; // a slave descriptor held open so the terminal never hangs up between clients
    int wake[2] = {-1, -1};
    QString path;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    QByteArray input;
    qint64 lastWriteMs = 0;

    void poke() const
    {
        if (wake[1] >= 0) {
            const char c = 0;
            (void)::write(wake[1], &c, 1);
        }
    }
    void closeDevice()
    {
        if (master >= 0)
            ::close(master);
        if (keeper >= 0)
            ::close(keeper);
        master = keeper = -1;
    }

    void serve();
    void handleLine(const QByteArray& line);
    QList<QByteArray> answerFor(const QByteArray& name, const QList<QByteArray>& fields);
    QByteArray settingsBody() const;
    void enqueueDump(qint64 start);
    void continueTail(); // queues the next stretch of an endless tail
};

ControllerSimulator::ControllerSimulator() : d(new Private) {}

ControllerSimulator::~ControllerSimulator()
{
    stop();
}

bool ControllerSimulator::start()
{
    if (d->running)
        return true;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        qWarning() << "Simulator: no pseudo-terminal:" << strerror(errno);
        if (master >= 0)
            ::close(master);
        return false;
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    const int keeper = ::open(name, O_RDWR | O_NOCTTY);
    if (keeper < 0) {
        qWarning() << "Simulator: cannot open" << name << strerror(errno);
        ::close(master);
        return false;
    }
    // Raw on the terminal side: no echo, no CR/LF translation.
    termios tio;
    if (::tcgetattr(keeper, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(keeper, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    if (::pipe(d->wake) != 0) {
        ::close(keeper);
        ::close(master);
        return false;
    }
    ::fcntl(d->wake[0], F_SETFL, O_NONBLOCK);
    ::fcntl(d->wake[1], F_SETFL, O_NONBLOCK);
    d->master = master;
    d->keeper = keeper;
    d->path = QString::fromLocal8Bit(name);
    d->stopping = false;
    d->running = true;
    d->thread = std::thread([this] { d->serve(); });
    return true;
}

void ControllerSimulator::stop()
{
    if (d->thread.joinable()) {
        d->stopping = true;
        d->poke();
        d->thread.join();
    }
    d->closeDevice();
    for (int& fd : d->wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    d->running = false;
}

QString ControllerSimulator::portPath() const
{
    return d->path;
}

#define LOCKED std::lock_guard<std::mutex> lock(d->mutex)

void ControllerSimulator::setSilent(bool silent)
{
    LOCKED;
    d->silent = silent;
}
void ControllerSimulator::setGarbleChecksums(bool garble)
{
    LOCKED;
    d->garble = garble;
}
void ControllerSimulator::setUnrelatedBefore(int count)
{
    LOCKED;
    d->unrelated = qMax(0, count);
}
void ControllerSimulator::setAnswerDelay(int milliseconds)
{
    LOCKED;
    d->delayMs = qMax(0, milliseconds);
}
void ControllerSimulator::setAnswerDelay(const QByteArray& command, int milliseconds)
{
    LOCKED;
    if (milliseconds < 0)
        d->commandDelays.remove(command);
    else
        d->commandDelays.insert(command, milliseconds);
}
void ControllerSimulator::setAnnouncedCount(int records)
{
    LOCKED;
    d->announced = records;
}
void ControllerSimulator::setDumpDamage(const QList<int>& garbled, const QList<int>& dropped,
                                        int dumps)
{
    LOCKED;
    d->garbledRecords = garbled;
    d->droppedRecords = dropped;
    d->damagedDumps = dumps;
}
void ControllerSimulator::setDumpTail(DumpTail tail, int afterRecords)
{
    LOCKED;
    d->tail = tail;
    d->tailAfter = qMax(0, afterRecords);
}
void ControllerSimulator::setReportE1(bool report)
{
    LOCKED;
    d->reportE1 = report;
}
void ControllerSimulator::setBattery(double volts)
{
    LOCKED;
    d->battery = volts;
}
void ControllerSimulator::setClock(qint64 secondsSinceEpoch)
{
    LOCKED;
    d->clock = secondsSinceEpoch;
}
void ControllerSimulator::setFirmware(const QString& version)
{
    LOCKED;
    d->firmware = version.toUtf8();
}
void ControllerSimulator::setSettings(quint32 recLedOn, quint32 videoMs, quint32 timeLapseMs,
                                      quint32 timeLapseTimeoutMin, quint32 e1)
{
    LOCKED;
    d->recLedOn = recLedOn;
    d->videoMs = videoMs;
    d->timeLapseMs = timeLapseMs;
    d->timeLapseTimeout = timeLapseTimeoutMin;
    d->e1 = e1;
}
void ControllerSimulator::setReply(const QByteArray& command, const QList<QByteArray>& lines)
{
    LOCKED;
    if (lines.isEmpty())
        d->replies.remove(command);
    else
        d->replies.insert(command, lines);
}
void ControllerSimulator::setDatasets(int datasets, int records)
{
    const QList<QByteArray> lines = datasetRecords(datasets, records);
    LOCKED;
    d->records = lines;
}
void ControllerSimulator::setRecordLines(const QList<QByteArray>& lines)
{
    LOCKED;
    d->records.clear();
    for (const QByteArray& line : lines)
        d->records.append(withLineEnd(line));
}
void ControllerSimulator::setStreamRate(int recordsPerSecond)
{
    LOCKED;
    d->rate = qMax(0, recordsPerSecond);
}
void ControllerSimulator::setVanishAfter(int records)
{
    LOCKED;
    d->vanishAfter = records;
}
int ControllerSimulator::recordCount() const
{
    LOCKED;
    return d->records.size();
}
void ControllerSimulator::sendRaw(const QByteArray& bytes)
{
    {
        LOCKED;
        Outgoing out;
        out.due = nowMs();
        out.bytes = bytes;
        d->queue.push_back(out);
    }
    d->poke();
}
void ControllerSimulator::vanish()
{
    {
        LOCKED;
        d->vanishNow = true;
    }
    d->poke();
    if (d->thread.joinable())
        d->thread.join();
}
QStringList ControllerSimulator::receivedCommands() const
{
    LOCKED;
    return d->received;
}
QList<QByteArray> ControllerSimulator::receivedLines() const
{
    LOCKED;
    return d->receivedRaw;
}
int ControllerSimulator::receivedCount(const QByteArray& name) const
{
    const QString prefix = '$' + QString::fromLatin1(name);
    LOCKED;
    int count = 0;
    for (const QString& line : qAsConst(d->received)) {
        if (line == prefix || line.startsWith(prefix + ',') || line.startsWith(prefix + '*'))
            ++count;
    }
    return count;
}
void ControllerSimulator::clearReceived()
{
    LOCKED;
    d->received.clear();
    d->receivedRaw.clear();
}
bool ControllerSimulator::waitForCommands(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->receivedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return d->received.size() >= count; });
}

#undef LOCKED

QByteArray ControllerSimulator::sentence(const QByteArray& body)
{
    return framed(body, false);
}

QList<QByteArray> ControllerSimulator::datasetRecords(int datasets, int records)
{
    QList<QByteArray> lines;
    lines.reserve(datasets * (records + 1));
    int id = 1;
    for (int set = 0; set < datasets; ++set) {
        const qint64 start = 1600000000LL + set * 100000LL;
        lines.append(sentence("PQVKDATA," + QByteArray::number(id++) + ",1," +
                              QByteArray::number(start) + ",0,0,0,0,0,0"));
        for (int k = 1; k <= records; ++k) {
            const int flags = (k % 2) ? 10 : 18;
            const qint64 stamp = (start + 2 * k) & 0xFFFF;
            QByteArray body = "PQVKDATA," + QByteArray::number(id++) + ',' +
                              QByteArray::number(flags) + ',' + QByteArray::number(stamp) + ',';
            body += QByteArray::number(k * 0.5, 'g', 10) + ',';
            body += QByteArray::number(20 + (k % 8) * 0.25, 'g', 10) + ',';
            body += QByteArray::number((k * 7) % 360) + ",-1.5,2.25,0";
            lines.append(sentence(body));
        }
    }
    return lines;
}

QByteArray ControllerSimulator::Private::settingsBody() const
{
    QByteArray body = "PQVKSETTINGS," + QByteArray::number(recLedOn) + ',' +
                      QByteArray::number(videoMs) + ',' + QByteArray::number(timeLapseMs) + ',' +
                      QByteArray::number(timeLapseTimeout);
    if (reportE1)
        body += ',' + QByteArray::number(e1);
    return body;
}

// The answer lines to one verified command; applies its effect. Called locked.
QList<QByteArray> ControllerSimulator::Private::answerFor(const QByteArray& name,
                                                          const QList<QByteArray>& fields)
{
    auto field = [&](int i) { return i < fields.size() ? fields.at(i).toUInt() : 0u; };
    const QByteArray stamp = QByteArray::number(clock);
    auto message = [&](const QByteArray& rest) {
        return framed("PQVKMSG," + stamp + ',' + name + ',' + rest, garble);
    };
    QList<QByteArray> out;
    if (name == "PQVKVER") {
        out << message("VERSION," + firmware)
            << framed("PQVKBATTERY," + QByteArray::number(battery, 'g', 6), garble);
    } else if (name == "PQVKGETSETTINGS") {
        out << framed(settingsBody(), garble);
    } else if (name == "PQVKSETSETTINGS") {
        recLedOn = field(1);
        videoMs = field(2);
        timeLapseMs = field(3);
        timeLapseTimeout = field(4);
        e1 = field(5);
        out << framed(settingsBody(), garble);
    } else if (name == "PQVKFACTORYSETTINGS") {
        recLedOn = 1;
        videoMs = 1000;
        timeLapseMs = 5000;
        timeLapseTimeout = 60;
        out << framed(settingsBody(), garble);
    } else if (name == "PQVKSETRTC") {
        clock = field(1);
        const QDateTime t = QDateTime::fromSecsSinceEpoch(clock, Qt::UTC);
        out << framed("PQVKCLOCK," + t.toString("yyyy,M,d,h,m,s").toLatin1() + ",0,A", garble);
    } else if (name == "PQVKNUMDUMP") {
        const int count = announced >= 0 ? announced : records.size();
        out << framed("PQVKNUMDATA," + QByteArray::number(count), garble);
    } else if (name == "PQVKFORMAT") {
        records.clear();
        out << message("FORMAT,COMPLETE");
    } else if (name == "PQVKOFF") {
        out << message("POWER OFF,BYE");
    } else if (name == "PQVKREBOOT") {
        out << message("BOOTING,RESTART");
    }
    return out;
}

// A record line with its checksum digits changed.
static QByteArray garbled(QByteArray line)
{
    const int star = line.lastIndexOf('*');
    if (star >= 0 && star + 2 < line.size()) {
        line[star + 1] = line[star + 1] == '0' ? '1' : '0';
    }
    return line;
}

void ControllerSimulator::Private::enqueueDump(qint64 start)
{
    ++dumps;
    const bool damaged = damagedDumps < 0 || dumps <= damagedDumps;
    QList<QByteArray> lines;
    for (int i = 0; i < records.size(); ++i) {
        if (damaged && droppedRecords.contains(i))
            continue;
        lines.append(damaged && garbledRecords.contains(i) ? garbled(records.at(i))
                                                           : records.at(i));
    }
    const bool tailed = tail != DumpTail::End;
    int limit = lines.size();
    if (vanishAfter >= 0)
        limit = qMin(limit, vanishAfter);
    if (tailed)
        limit = qMin(limit, tailAfter);
    const bool endMessage = vanishAfter < 0 && !tailed;
    const QByteArray end =
        framed("PQVKMSG," + QByteArray::number(clock) + ",PQVKDUMP,DUMP,DATA END", garble);
    if (rate <= 0) {
        Outgoing out;
        out.due = start;
        qsizetype size = end.size();
        for (int i = 0; i < limit; ++i)
            size += lines.at(i).size();
        out.bytes.reserve(size);
        for (int i = 0; i < limit; ++i)
            out.bytes += lines.at(i);
        if (endMessage)
            out.bytes += end;
        queue.push_back(out);
    } else {
        for (int i = 0; i < limit; ++i) {
            Outgoing out;
            out.due = start + qint64(i) * 1000 / rate;
            out.bytes = lines.at(i);
            queue.push_back(out);
        }
        if (endMessage) {
            Outgoing out;
            out.due = start + qint64(limit) * 1000 / rate;
            out.bytes = end;
            queue.push_back(out);
        }
    }
    if (vanishAfter >= 0) {
        Outgoing out;
        out.due = start;
        out.vanish = true;
        queue.push_back(out);
    } else if (tailed && tail != DumpTail::Silence) {
        tailRunning = true;
        tailNextId = limit + 1;
        tailDue = start + (rate > 0 ? qint64(limit) * 1000 / rate : 0);
    }
}

void ControllerSimulator::Private::continueTail()
{
    Outgoing out;
    out.due = tailDue;
    switch (tail) {
    case DumpTail::StatusLines:
        out.bytes = framed("PQVKSTATUS," + QByteArray::number(clock) + ",BUSY", false);
        tailDue += 20;
        break;
    case DumpTail::Garbage:
        for (int line = 0; line < 32; ++line) {
            for (int i = 0; i < 60; ++i) {
                garbageSeed = garbageSeed * 1103515245u + 12345u;
                const char c = char(0x20 + (garbageSeed >> 16) % 0x5f);
                out.bytes += c;
            }
            out.bytes += "\r\n";
        }
        break;
    case DumpTail::EndlessRecords:
        for (int i = 0; i < 64; ++i, ++tailNextId)
            out.bytes += framed("PQVKDATA," + QByteArray::number(tailNextId) +
                                    ",10,4098,1.5,20,7,-1.5,2.25,0",
                                false);
        break;
    case DumpTail::EndlessLine:
        out.bytes = QByteArray(4096, 'A');
        break;
    default:
        tailRunning = false;
        return;
    }
    queue.push_back(out);
}

void ControllerSimulator::Private::handleLine(const QByteArray& raw)
{
    QByteArray line = raw;
    while (line.endsWith('\r') || line.endsWith('\n'))
        line.chop(1);
    if (line.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(mutex);
    received.append(QString::fromLatin1(line));
    receivedRaw.append(raw);
    receivedChanged.notify_all();
    // Any command ends an endless tail; what was queued of it still goes out.
    tailRunning = false;
    if (silent || !commandVerifies(line))
        return;
    const QList<QByteArray> fields = line.left(line.indexOf('*')).split(',');
    const QByteArray name = fields.first().mid(1);
    if (name == "PQVKBEEP")
        return;

    const qint64 due = nowMs() + commandDelays.value(name, delayMs);
    Outgoing out;
    out.due = due;
    for (int i = 0; i < unrelated; ++i)
        out.bytes += framed("PQVKSTATUS," + QByteArray::number(clock) + ",IDLE", false);

    const auto reply = replies.constFind(name);
    if (name == "PQVKDUMP" && reply == replies.constEnd()) {
        if (!out.bytes.isEmpty())
            queue.push_back(out);
        enqueueDump(due);
        return;
    }
    const QList<QByteArray> answer = answerFor(name, fields);
    if (reply != replies.constEnd()) {
        for (const QByteArray& l : *reply)
            out.bytes += withLineEnd(l);
    } else {
        if (answer.isEmpty())
            return;
        for (const QByteArray& l : answer)
            out.bytes += l;
    }
    queue.push_back(out);
}

void ControllerSimulator::Private::serve()
{
    char buffer[4096];
    for (;;) {
        if (stopping)
            break;
        bool wantWrite = false;
        bool vanishing = false;
        int timeout = 50;
        {
            std::lock_guard<std::mutex> lock(mutex);
            vanishing = vanishNow;
            if (queue.empty() && tailRunning)
                continueTail();
            if (!queue.empty()) {
                const Outgoing& head = queue.front();
                const qint64 wait = head.due - nowMs();
                if (wait > 0) {
                    timeout = int(qMin<qint64>(wait, 50));
                } else if (head.vanish) {
                    // Close only once the client has taken what was sent before.
                    int unread = 0;
                    ::ioctl(keeper, FIONREAD, &unread);
                    // Written bytes reach the terminal's queue a moment later.
                    if ((unread == 0 && nowMs() - lastWriteMs > 50) || nowMs() - head.due > 2000)
                        vanishing = true;
                    else
                        timeout = 5;
                } else {
                    wantWrite = true;
                }
            }
        }
        if (vanishing)
            break;

        pollfd fds[2] = {{master, short(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            while (::read(wake[0], buffer, sizeof buffer) > 0) {
            }
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                input.append(buffer, int(n));
                int nl;
                while ((nl = input.indexOf('\n')) >= 0) {
                    handleLine(input.left(nl + 1));
                    input.remove(0, nl + 1);
                }
            }
        }
        if (wantWrite && (fds[0].revents & POLLOUT)) {
            std::lock_guard<std::mutex> lock(mutex);
            // Write as much as the terminal takes, across queued items that are due.
            while (!queue.empty()) {
                Outgoing& head = queue.front();
                if (head.vanish || head.due > nowMs())
                    break;
                const ssize_t n = ::write(master, head.bytes.constData() + head.offset,
                                          size_t(head.bytes.size() - head.offset));
                if (n <= 0)
                    break;
                head.offset += int(n);
                lastWriteMs = nowMs();
                if (head.offset < head.bytes.size())
                    break;
                queue.pop_front();
            }
        }
    }
    if (!stopping)
        closeDevice(); // vanished: the client sees an unplugged device
    running = false;
}
