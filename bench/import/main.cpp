// Times the media import of three cards (two large videos and twenty photos
// each) against three parallel `cp -r` of the same cards followed by `sync`,
// taking turns, and prints both times and their ratio.
#include "controller/appcontroller.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qint64 MiB = 1024 * 1024;

void warningsOnly(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtInfoMsg && type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Media-like content: no runs of zeros a file system could skip.
bool writeMediaFile(const QString& path, qint64 size, quint64 seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::vector<quint64> block(4 * MiB / sizeof(quint64));
    quint64 x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (qint64 written = 0; written < size;) {
        for (quint64& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const qint64 n = std::min<qint64>(size - written, qint64(block.size() * sizeof(quint64)));
        if (file.write(reinterpret_cast<const char*>(block.data()), n) != n)
            return false;
        written += n;
    }
    return true;
}

void settle(bool dropCaches)
{
    ::sync();
    if (dropCaches) {
        QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
        if (drop.open(QIODevice::WriteOnly))
            drop.write("3\n");
    }
    QThread::sleep(1);
}

double runImport(const QStringList& cards, const QString& destination, bool* ok)
{
    AppController controller;
    QStringList summaries;
    QObject::connect(&controller, &AppController::updateCardProgress, &controller,
                     [&](QVariant, QVariant, QVariant to, QVariant, QVariant text) {
                         const QString t = text.toString();
                         if (to.toInt() == 1 || t.startsWith(QLatin1String("Error")))
                             summaries << t;
                     });
    QElapsedTimer timer;
    timer.start();
    controller.copyFiles(cards[0], cards[1], cards[2], destination, QString(), QString());
    QThreadPool::globalInstance()->waitForDone();
    const double seconds = timer.nsecsElapsed() / 1e9;
    QCoreApplication::processEvents();
    *ok = summaries.size() == 3 && summaries.count(summaries.first()) == 3 &&
          summaries.first().startsWith(QLatin1String("Copied 2/2 videos and 20/20 photos."));
    if (!*ok)
        std::fprintf(stderr, "import: %s\n", qPrintable(summaries.join(QLatin1String(" | "))));
    return seconds;
}

double runCopy(const QStringList& cards, const QString& destination, bool* ok)
{
    QDir().mkpath(destination);
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < cards.size(); ++i) {
        copies.emplace_back(new QProcess);
        copies.back()->start(QStringLiteral("cp"),
                             {QStringLiteral("-r"), cards[i],
                              QDir(destination).filePath(QStringLiteral("card%1").arg(i + 1))});
    }
    *ok = true;
    for (auto& copy : copies)
        *ok = copy->waitForFinished(-1) && copy->exitCode() == 0 && *ok;
    *ok = QProcess::execute(QStringLiteral("sync"), {}) == 0 && *ok;
    return timer.nsecsElapsed() / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(warningsOnly);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Media import of three cards against three parallel cp -r and sync."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Work folder (default: system temp)."),
                                       QStringLiteral("path"), QDir::tempPath());
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds of both sides, even (default 4)."),
                                          QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption videoOption(QStringLiteral("video-mib"),
                                         QStringLiteral("Size of each video (default 512)."),
                                         QStringLiteral("MiB"), QStringLiteral("512"));
    const QCommandLineOption dropOption(QStringLiteral("drop-caches"),
                                        QStringLiteral("Drop the page cache before each side."));
    const QCommandLineOption noWarmupOption(QStringLiteral("no-warmup"),
                                            QStringLiteral("Count the first round too."));
    parser.addOptions({dirOption, roundsOption, videoOption, dropOption, noWarmupOption});
    parser.process(app);

    // The side that runs first in a round pays for the previous round's
    // clean-up on this disk, so the sides take turns over an even number of
    // rounds and the ratio compares total times.
    int rounds = std::max(2, parser.value(roundsOption).toInt());
    rounds += rounds % 2;
    const qint64 videoSize = parser.value(videoOption).toLongLong() * MiB;
    const qint64 photoSize = 10 * MiB;
    const bool dropCaches = parser.isSet(dropOption);
    const bool warmup = !parser.isSet(noWarmupOption);

    QTemporaryDir work(
        QDir(parser.value(dirOption)).filePath(QStringLiteral("bench_import-XXXXXX")));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n",
                     qPrintable(parser.value(dirOption)));
        return 1;
    }

    QStringList cards;
    qint64 total = 0;
    for (int n = 1; n <= 3; ++n) {
        const QString card = work.filePath(QStringLiteral("card%1").arg(n));
        cards << card;
        for (int v = 1; v <= 2; ++v) {
            const QString path =
                QStringLiteral("%1/DCIM/100QVK/V%2.MOV").arg(card).arg(v, 4, 10, QLatin1Char('0'));
            if (!writeMediaFile(path, videoSize, quint64(n * 100 + v)))
                return 1;
            total += videoSize;
        }
        for (int p = 1; p <= 20; ++p) {
            const QString path =
                QStringLiteral("%1/DCIM/100QVK/P%2.JPG").arg(card).arg(p, 4, 10, QLatin1Char('0'));
            if (!writeMediaFile(path, photoSize, quint64(n * 1000 + p)))
                return 1;
            total += photoSize;
        }
    }
    std::printf("work folder: %s\n", qPrintable(work.path()));
    std::printf("cards: 3 x (2 x %lld MiB videos + 20 x %lld MiB photos) = %.2f GiB, %d rounds%s\n",
                videoSize / MiB, photoSize / MiB, total / double(1024 * MiB), rounds,
                dropCaches ? ", page cache dropped before each side" : "");
    std::fflush(stdout);

    std::vector<double> importTimes;
    std::vector<double> copyTimes;
    const QString destination = work.filePath(QStringLiteral("dest"));
    // Round 0 warms up (fresh disk blocks, caches) and is not counted.
    for (int round = warmup ? 0 : 1; round <= rounds; ++round) {
        double importSeconds = 0;
        double copySeconds = 0;
        // Take turns so that neither side always runs first.
        for (int side = 0; side < 2; ++side) {
            const bool import = (side == 0) == (round % 2 == 1);
            settle(dropCaches);
            bool ok = false;
            if (import)
                importSeconds = runImport(cards, destination, &ok);
            else
                copySeconds = runCopy(cards, destination, &ok);
            if (!ok) {
                std::fprintf(stderr, "%s failed\n", import ? "import" : "cp");
                return 1;
            }
            QDir(destination).removeRecursively();
        }
        if (round > 0) {
            importTimes.push_back(importSeconds);
            copyTimes.push_back(copySeconds);
        }
        std::printf("%s %d: import %.2f s (%.0f MiB/s), cp -r + sync %.2f s (%.0f MiB/s), "
                    "ratio %.3f\n",
                    round > 0 ? "round" : "warm-up round", round, importSeconds,
                    total / MiB / importSeconds, copySeconds, total / MiB / copySeconds,
                    importSeconds / copySeconds);
        std::fflush(stdout);
    }

    const double importMedian = median(importTimes);
    const double copyMedian = median(copyTimes);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const double importTotal = std::accumulate(importTimes.begin(), importTimes.end(), 0.0);
    const double copyTotal = std::accumulate(copyTimes.begin(), copyTimes.end(), 0.0);
    std::printf("median: import %.2f s, cp -r + sync %.2f s\n", importMedian, copyMedian);
    std::printf("total over %d rounds: import %.2f s, cp -r + sync %.2f s\n", rounds, importTotal,
                copyTotal);
    std::printf("ratio import / (cp -r + sync): %.3f (goal <= 1.10)\n", importTotal / copyTotal);
    std::printf("peak memory of this process: %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
