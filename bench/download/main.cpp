// Downloads the unit's records from the simulator over a pseudo-terminal with
// the protocol client, and reads the same stream with a plain buffered line
// reader in the same run; prints both rates and their ratio.
//
// The client logs every line it reads at info level; here the messages go to a
// handler that drops them (they are still formatted, as in the app), so the
// figures show the link code and not a terminal's speed. With --app-log the
// app's own handler appends every line to that log file instead, as the app
// does (without the echo on standard error, which a desktop app has nowhere).
#include "base/apppaths.h"
#include "base/messagehandler.h"
#include "link/pqvkcomms.h"
#include "simulator/controllersimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// Sends the dump command and collects the record lines until the end message,
// reading 64 KiB at a time: a plain line reader that hands out each line, as
// the client does. Returns the records seen, -1 on failure.
long plainRead(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios tio;
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const QByteArray command = ControllerSimulator::sentence("PQVKDUMP");
    if (::write(fd, command.constData(), size_t(command.size())) != command.size()) {
        ::close(fd);
        return -1;
    }
    std::vector<char> buffer(1 << 16);
    std::string line;
    std::vector<std::string> lines;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        const char* p = buffer.data();
        const char* end = p + n;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl) {
                line.append(p, end);
                break;
            }
            line.append(p, nl + 1);
            p = nl + 1;
            if (line.compare(0, 9, "$PQVKDATA") == 0) {
                lines.push_back(std::move(line));
            } else if (line.find("DATA END") != std::string::npos) {
                ::close(fd);
                return long(lines.size());
            }
            line.clear();
        }
    }
    ::close(fd);
    return -1;
}

long clientRead(const QString& path, long* messages)
{
    PQVKComms comms;
    if (!comms.open(path) || !comms.countData())
        return -1;
    QObject::connect(&comms, &PQVKComms::newMessage, [messages](const QString&) { ++*messages; });
    QStringList lines;
    if (!comms.readData(lines))
        return -1;
    return lines.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption recordsOption("records", "Records to download.", "n", "100000");
    const QCommandLineOption roundsOption("rounds", "Rounds of each reader.", "n", "3");
    const QCommandLineOption clientOnlyOption("client-only",
                                              "Run only the client (for profiling).");
    const QCommandLineOption appLogOption("app-log", "Log through the app's handler into FILE.",
                                          "FILE");
    parser.addOptions({recordsOption, roundsOption, clientOnlyOption, appLogOption});
    parser.process(app);
    const int total = parser.value(recordsOption).toInt();
    const int rounds = qMax(1, parser.value(roundsOption).toInt());

    if (parser.isSet(appLogOption)) {
        setLogFilePath(parser.value(appLogOption));
        removeLogFile();
        setMessageEcho(false);
        qInstallMessageHandler(messageHandler);
    } else {
        qInstallMessageHandler(dropMessage);
    }
    ControllerSimulator sim;
    // Ten datasets; each has a start record.
    sim.setDatasets(10, total / 10 - 1);
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const long expected = sim.recordCount();

    std::vector<double> plainRates, clientRates;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        const long plain = parser.isSet(clientOnlyOption) ? expected : plainRead(sim.portPath());
        const double plainSeconds = timer.nsecsElapsed() / 1e9;
        long messages = 0;
        timer.restart();
        const long client = clientRead(sim.portPath(), &messages);
        const double clientSeconds = timer.nsecsElapsed() / 1e9;
        if (plain != expected || client != expected || messages != expected) {
            std::fprintf(stderr,
                         "round %d: expected %ld records, plain %ld, client %ld (%ld messages)\n",
                         round + 1, expected, plain, client, messages);
            return 1;
        }
        plainRates.push_back(plain / plainSeconds);
        clientRates.push_back(client / clientSeconds);
        std::printf(
            "round %d: plain reader %.0f records/s (%.3f s), client %.0f records/s (%.3f s)\n",
            round + 1, plainRates.back(), plainSeconds, clientRates.back(), clientSeconds);
    }
    std::sort(plainRates.begin(), plainRates.end());
    std::sort(clientRates.begin(), clientRates.end());
    const double plainMedian = plainRates[plainRates.size() / 2];
    const double clientMedian = clientRates[clientRates.size() / 2];
    std::printf("records per download: %ld, rounds: %d\n", expected, rounds);
    std::printf("plain buffered reader: median %.0f records/s, best %.0f records/s\n", plainMedian,
                plainRates.back());
    std::printf("PQVKComms::readData:   median %.0f records/s, best %.0f records/s\n", clientMedian,
                clientRates.back());
    std::printf("ratio client/plain: median %.2f, best %.2f (goal >= 0.50)\n",
                clientMedian / plainMedian, clientRates.back() / plainRates.back());
    return 0;
}
