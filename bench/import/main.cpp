// Times the verified media import of three cards (two videos and twenty
// photos each) against the same assurance built from standard tools, three
// cards in parallel: `cp -r`, `sync`, `xxhsum -H64` of every card file, each
// copy's cache dropped (`dd iflag=nocache count=0`) and `xxhsum -c` of the
// copies; and against plain `cp -r` + `sync`. The sides take turns; it prints
// every round, min/median/max of each side and the ratios.
#include "base/apppaths.h"
#include "controller/appcontroller.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
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

long peakMemoryMiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

double runImport(const QStringList& cards, const QString& destination, const QString& expected,
                 bool* ok)
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
    *ok = summaries.size() == 3 && summaries.count(expected) == 3 &&
          QDir(destination + QStringLiteral("/ascmhl"))
                  .entryList({QStringLiteral("*.mhl")}, QDir::Files)
                  .size() == 1;
    if (!*ok)
        std::fprintf(stderr, "import: %s\n", qPrintable(summaries.join(QLatin1String(" | "))));
    return seconds;
}

// Runs one shell script per card at once; the time until all three have ended.
double runScripts(const QString& script, const QStringList& cards, const QString& destination,
                  bool* ok)
{
    QDir().mkpath(destination);
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> scripts;
    for (int i = 0; i < cards.size(); ++i) {
        scripts.emplace_back(new QProcess);
        scripts.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString copy = QDir(destination).filePath(QStringLiteral("card%1").arg(i + 1));
        const QString sums = QDir(destination).filePath(QStringLiteral("card%1.xxh64").arg(i + 1));
        scripts.back()->start(QStringLiteral("sh"), {QStringLiteral("-c"), script,
                                                     QStringLiteral("sh"), cards[i], copy, sums});
    }
    *ok = true;
    for (auto& process : scripts)
        *ok = process->waitForFinished(-1) && process->exitStatus() == QProcess::NormalExit &&
              process->exitCode() == 0 && *ok;
    return timer.nsecsElapsed() / 1e9;
}

// The same assurance as the import, from standard tools: the copy, on the
// disk, hashes of the card files, the copies read back from the disk and
// checked against them. (xxhsum's hashing pass draws progress on standard
// error; its exit status still counts.)
const char* const ToolsScript =
    "set -e\n"
    "cp -r \"$1\" \"$2\"\n"
    "sync\n"
    "(cd \"$1\" && find . -type f -exec xxhsum -H64 {} + 2>/dev/null) > \"$3\"\n"
    "find \"$2\" -type f -exec dd iflag=nocache count=0 status=none if={} \\;\n"
    "(cd \"$2\" && xxhsum -c --quiet \"$3\")\n";

const char* const CopyScript = "set -e\n"
                               "cp -r \"$1\" \"$2\"\n"
                               "sync\n";

struct Figures
{
    std::vector<double> values;
    double at(double fraction) const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const double index = fraction * double(sorted.size() - 1);
        const size_t low = size_t(index);
        const size_t high = std::min(low + 1, sorted.size() - 1);
        return sorted[low] + (index - double(low)) * (sorted[high] - sorted[low]);
    }
    double min() const { return at(0); }
    double median() const { return at(0.5); }
    double max() const { return at(1); }
};

void printFigures(const char* name, const Figures& f, const char* unit)
{
    std::printf("  %-34s min %7.3f  median %7.3f  max %7.3f %s\n", name, f.min(), f.median(),
                f.max(), unit);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(warningsOnly);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Verified import of three cards against cp -r + sync + xxhsum (hash, drop cache, check) "
        "and against plain cp -r + sync."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Work folder (default: system temp)."),
                                       QStringLiteral("path"), QDir::tempPath());
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Counted rounds (default 5)."),
                                          QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption videoOption(QStringLiteral("video-mib"),
                                         QStringLiteral("Size of each video (default 48)."),
                                         QStringLiteral("MiB"), QStringLiteral("48"));
    const QCommandLineOption photoOption(QStringLiteral("photo-mib"),
                                         QStringLiteral("Size of each photo (default 4)."),
                                         QStringLiteral("MiB"), QStringLiteral("4"));
    const QCommandLineOption dropOption(QStringLiteral("drop-caches"),
                                        QStringLiteral("Drop the page cache before each side."));
    const QCommandLineOption noWarmupOption(QStringLiteral("no-warmup"),
                                            QStringLiteral("Count the first round too."));
    parser.addOptions(
        {dirOption, roundsOption, videoOption, photoOption, dropOption, noWarmupOption});
    parser.process(app);

    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const qint64 videoSize = parser.value(videoOption).toLongLong() * MiB;
    const qint64 photoSize = parser.value(photoOption).toLongLong() * MiB;
    const bool dropCaches = parser.isSet(dropOption);
    const bool warmup = !parser.isSet(noWarmupOption);

    for (const char* tool : {"cp", "sync", "xxhsum", "dd", "find"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "%s is missing (xxhsum: Debian package xxhash)\n", tool);
            return 1;
        }
    }

    QTemporaryDir work(
        QDir(parser.value(dirOption)).filePath(QStringLiteral("bench_import-XXXXXX")));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n",
                     qPrintable(parser.value(dirOption)));
        return 1;
    }
    // The import's ledger and log stay in the work folder, away from the user's.
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toLocal8Bit());
    resetPathCaches();
    setLogFilePath(work.filePath(QStringLiteral("bench.log")));

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
    const QString expected = QStringLiteral("Copied 2/2 videos and 20/20 photos.");
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    const QByteArray load =
        loadAverage.open(QIODevice::ReadOnly) ? loadAverage.readLine().trimmed() : "?";
    std::printf("work folder: %s, %d cores, load average %s\n", qPrintable(work.path()),
                QThread::idealThreadCount(), load.constData());
    std::printf("cards: 3 x (2 x %lld MiB videos + 20 x %lld MiB photos) = %lld MiB, %d rounds%s\n",
                videoSize / MiB, photoSize / MiB, total / MiB, rounds,
                dropCaches ? ", page cache dropped before each side" : "");
    std::fflush(stdout);

    enum Side
    {
        Import,
        Tools,
        Copy,
        Sides
    };
    const char* const names[Sides] = {"verified import", "cp+sync+xxhsum+dd nocache+xxhsum -c",
                                      "cp -r + sync"};
    Figures times[Sides];
    Figures toTools;
    Figures toCopy;
    const QString destination = work.filePath(QStringLiteral("dest"));
    long importMemory = 0;
    // Round 0 warms up (fresh disk blocks, caches) and is not counted.
    for (int round = warmup ? 0 : 1; round <= rounds; ++round) {
        double seconds[Sides] = {};
        // Each side runs first, second and third in turn: the side after
        // another pays for its write-back and clean-up.
        for (int k = 0; k < Sides; ++k) {
            const Side side = Side((k + round) % Sides);
            settle(dropCaches);
            bool ok = false;
            switch (side) {
            case Import:
                seconds[side] = runImport(cards, destination, expected, &ok);
                importMemory = std::max(importMemory, peakMemoryMiB());
                break;
            case Tools:
                seconds[side] =
                    runScripts(QString::fromLatin1(ToolsScript), cards, destination, &ok);
                break;
            case Copy:
                seconds[side] =
                    runScripts(QString::fromLatin1(CopyScript), cards, destination, &ok);
                break;
            case Sides:
                break;
            }
            if (!ok) {
                std::fprintf(stderr, "%s failed\n", names[side]);
                return 1;
            }
            QDir(destination).removeRecursively();
        }
        std::printf("%s %d: import %.2f s (%.0f MiB/s), tools %.2f s, cp -r + sync %.2f s; "
                    "ratios %.3f and %.3f\n",
                    round > 0 ? "round" : "warm-up round", round, seconds[Import],
                    total / MiB / seconds[Import], seconds[Tools], seconds[Copy],
                    seconds[Import] / seconds[Tools], seconds[Import] / seconds[Copy]);
        std::fflush(stdout);
        if (round > 0) {
            for (int side = 0; side < Sides; ++side)
                times[side].values.push_back(seconds[side]);
            toTools.values.push_back(seconds[Import] / seconds[Tools]);
            toCopy.values.push_back(seconds[Import] / seconds[Copy]);
        }
    }

    std::printf("over %d rounds:\n", rounds);
    for (int side = 0; side < Sides; ++side)
        printFigures(names[side], times[side], "s");
    printFigures("import / tools (goal <= 1.00)", toTools, "");
    printFigures("import / (cp -r + sync)", toCopy, "");
    std::printf("ratio of medians: import / tools %.3f, import / (cp -r + sync) %.3f\n",
                times[Import].median() / times[Tools].median(),
                times[Import].median() / times[Copy].median());
    std::printf("peak memory of this process (the import runs in it): %ld MiB "
                "(files of %lld MiB)\n",
                importMemory, std::max(videoSize, photoSize) / MiB);
    return 0;
}
