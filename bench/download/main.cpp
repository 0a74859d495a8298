// A whole data export from the simulator over a pseudo-terminal (count,
// download, CSV files, progress reports, every message through the app's own
// log handler into a log file) against a plain buffered reader of the same
// dump stream in the same run; prints both times and their ratio. The goal is
// an export that takes at most twice as long as the raw read: the link, not
// the program, should be the limit.
//
// Also prints the protocol client's download and the writing of the CSV
// files alone, which show where the time goes.
#include "base/apppaths.h"
#include "base/messagehandler.h"
#include "controller/appcontroller.h"
#include "controller/datasetfiles.h"
#include "link/pqvkcomms.h"
#include "simulator/controllersimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Sends the dump command and collects the record lines until the end message,
// reading 64 KiB at a time: a plain line reader that keeps each line.
// Returns the records seen, -1 on failure.
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

RecordDownload clientRead(const QString& path)
{
    PQVKComms comms;
    if (!comms.open(path) || !comms.countData())
        return RecordDownload();
    return comms.download();
}

// The export as the app runs it; the records written, -1 on failure.
long exportRead(const QString& path, const QString& dest, long* reports)
{
    AppController controller;
    QString last;
    QObject::connect(&controller, &AppController::updateDataProgress,
                     [&](QVariant, QVariant, QVariant, QVariant text) {
                         ++*reports;
                         last = text.toString();
                     });
    QMetaObject::invokeMethod(&controller, "copyDataWorker", Qt::DirectConnection,
                              Q_ARG(QString, path), Q_ARG(QString, dest),
                              Q_ARG(QString, QString()));
    if (!last.startsWith(QLatin1String("Wrote "))) {
        std::fprintf(stderr, "export: %s\n", qPrintable(last));
        return -1;
    }
    return last.section(QLatin1Char(' '), 1, 1).toLong();
}

// Processor time of the whole process (this thread, the simulator's, the
// kernel's work for both), seconds: less disturbed than the clock on a
// machine shared with other work.
double processorSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The fastest round: on a machine shared with other work, the one least disturbed.
double best(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption recordsOption("records", "Records to download.", "n", "100000");
    const QCommandLineOption roundsOption("rounds", "Rounds of each reader.", "n", "5");
    const QCommandLineOption profileOption(
        "profile", "Only run one part many times, for a profiler: client, csv or export.", "part");
    parser.addOptions({recordsOption, roundsOption, profileOption});
    parser.process(app);
    const int total = parser.value(recordsOption).toInt();
    const int rounds = qMax(1, parser.value(roundsOption).toInt());

    QTemporaryDir work;
    setLogFilePath(work.filePath(QStringLiteral("bench.log")));
    removeLogFile();
    setMessageEcho(false); // a desktop app's standard error goes nowhere
    qInstallMessageHandler(messageHandler);

    ControllerSimulator sim;
    // Ten datasets; each has a start record.
    sim.setDatasets(10, total / 10 - 1);
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const long expected = sim.recordCount();

    if (parser.isSet(profileOption)) {
        const QString part = parser.value(profileOption);
        const RecordDownload records = clientRead(sim.portPath());
        for (int round = 0; round < rounds; ++round) {
            long reports = 0;
            if (part == QLatin1String("client"))
                clientRead(sim.portPath());
            else if (part == QLatin1String("csv"))
                DatasetFiles::write(records, work.filePath(QString::number(round)), QString(),
                                    false);
            else
                exportRead(sim.portPath(), work.filePath(QString::number(round)), &reports);
            QDir().mkpath(work.filePath(QString::number(round + 1)));
        }
        return 0;
    }

    std::vector<double> plainTimes, clientTimes, csvTimes, exportTimes, plainCpu, exportCpu;
    long reports = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        double cpu = processorSeconds();
        timer.start();
        const long plain = plainRead(sim.portPath());
        plainTimes.push_back(timer.nsecsElapsed() / 1e9);
        plainCpu.push_back(processorSeconds() - cpu);

        timer.restart();
        const RecordDownload records = clientRead(sim.portPath());
        clientTimes.push_back(timer.nsecsElapsed() / 1e9);
        const long client = records.isWhole() ? records.count() : -1;

        const QString csvDest = work.filePath(QStringLiteral("csv%1").arg(round));
        QDir().mkpath(csvDest);
        timer.restart();
        const DatasetFiles::Written files = DatasetFiles::write(records, csvDest, QString(), false);
        csvTimes.push_back(timer.nsecsElapsed() / 1e9);

        const QString dest = work.filePath(QStringLiteral("round%1").arg(round));
        QDir().mkpath(dest);
        reports = 0;
        cpu = processorSeconds();
        timer.restart();
        const long exported = exportRead(sim.portPath(), dest, &reports);
        exportTimes.push_back(timer.nsecsElapsed() / 1e9);
        exportCpu.push_back(processorSeconds() - cpu);

        if (plain != expected || client != expected || exported != expected ||
            files.filesWritten != 10) {
            std::fprintf(stderr,
                         "round %d: expected %ld records, plain %ld, client %ld, export %ld\n",
                         round + 1, expected, plain, client, exported);
            return 1;
        }
        std::printf("round %d: raw read %.3f s, client download %.3f s, CSV files %.3f s, "
                    "whole export %.3f s (%ld progress reports)\n",
                    round + 1, plainTimes.back(), clientTimes.back(), csvTimes.back(),
                    exportTimes.back(), reports);
    }
    const qint64 logSize = QFileInfo(logFilePath()).size();
    std::printf("records per download: %ld, rounds: %d, log after all rounds: %lld bytes\n",
                expected, rounds, static_cast<long long>(logSize));
    auto line = [expected](const char* what, const std::vector<double>& times) {
        std::printf("%-22s median %.3f s, best %.3f s (%.0f records/s)\n", what, median(times),
                    best(times), expected / best(times));
    };
    line("raw buffered read:", plainTimes);
    line("client download:", clientTimes);
    line("CSV files alone:", csvTimes);
    line("whole export with log:", exportTimes);
    std::printf("processor time, simulator included: raw read median %.3f s, whole export "
                "median %.3f s\n",
                median(plainCpu), median(exportCpu));
    std::printf("ratio export/raw read: clock median %.2f, clock best %.2f, processor time "
                "median %.2f (goal <= 2.00)\n",
                median(exportTimes) / median(plainTimes), best(exportTimes) / best(plainTimes),
                median(exportCpu) / median(plainCpu));
    qInstallMessageHandler(nullptr);
    return 0;
}
