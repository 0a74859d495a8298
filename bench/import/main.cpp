// Times the verified media import of three cards (two videos and twenty
// photos each) against the same assurance built from standard tools, three
// cards in parallel: `cp -r`, `sync`, `xxhsum -H64` of every card file, each
// copy's cache dropped (`dd iflag=nocache count=0`) and `xxhsum -c` of the
// copies; and against plain `cp -r` + `sync`. The sides take turns; it prints
// every round, min/median/max of each side and the ratios.
//
// With --card-speed MiB/s (root) the cards are ext4 images on loop devices
// whose reads the block-I/O throttle of a cgroup (v1 blkio or v2 io.max)
// limits, as a card reader would; the page cache is dropped before each side,
// and the import is set against reading the three cards once (`cat`) and
// against `cp -r` + `sync`.
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
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

double runImport(const QStringList& cards, const QStringList& destinations, const QString& expected,
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
    controller.copyFilesTo(cards, destinations, QString(), QString());
    QThreadPool::globalInstance()->waitForDone();
    const double seconds = timer.nsecsElapsed() / 1e9;
    QCoreApplication::processEvents();
    *ok = summaries.size() == 3 && (destinations.size() > 1 || summaries.count(expected) == 3);
    for (const QString& destination : destinations)
        *ok = *ok && QDir(destination + QStringLiteral("/ascmhl"))
                             .entryList({QStringLiteral("*.mhl")}, QDir::Files)
                             .size() == 1;
    if (!*ok)
        std::fprintf(stderr, "import: %s\n", qPrintable(summaries.join(QLatin1String(" | "))));
    return seconds;
}

// The same import run by a qvkctl program (this tree's or another's).
double runProgram(const QString& program, const QStringList& cards, const QStringList& destinations,
                  bool* ok)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = {QStringLiteral("import"),
                             QStringLiteral("--card1"),
                             cards[0],
                             QStringLiteral("--card2"),
                             cards[1],
                             QStringLiteral("--card3"),
                             cards[2]};
    for (const QString& destination : destinations)
        arguments << QStringLiteral("--dest") << destination;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    *ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
          process.exitCode() == 0;
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!*ok)
        std::fprintf(stderr, "%s", process.readAll().constData());
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

// What the card reader allows at best: every card file read once.
const char* const ReadScript = "find \"$1\" -type f -exec cat {} + > /dev/null\n";

bool shell(const QString& command)
{
    return QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command}) == 0;
}

// Three ext4 card images on loop devices, mounted, their reads limited to
// `mibPerSecond` for every process of a cgroup this process joins (its
// children too); undone when it goes.
class CardReaders
{
public:
    bool setUp(const QString& work, qint64 cardBytes, int mibPerSecond)
    {
        const qint64 imageMiB = cardBytes * 11 / 10 / MiB + 64;
        QStringList limits;
        for (int n = 1; n <= 3; ++n) {
            const QString image = QStringLiteral("%1/card%2.img").arg(work).arg(n);
            const QString mountPoint = QStringLiteral("%1/card%2").arg(work).arg(n);
            QDir().mkpath(mountPoint);
            QProcess losetup;
            if (!shell(QStringLiteral("truncate -s %1M '%2' && mkfs.ext4 -q -F '%2'")
                           .arg(imageMiB)
                           .arg(image)))
                return false;
            losetup.start(QStringLiteral("losetup"),
                          {QStringLiteral("--find"), QStringLiteral("--show"), image});
            if (!losetup.waitForFinished() || losetup.exitCode() != 0)
                return false;
            const QString device =
                QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
            devices << device;
            if (!shell(QStringLiteral("mount '%1' '%2'").arg(device, mountPoint)))
                return false;
            mounts << mountPoint;
            struct stat info;
            if (::stat(QFile::encodeName(device).constData(), &info) != 0)
                return false;
            limits << QStringLiteral("%1:%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev));
        }
        // cgroup v1 has a blkio hierarchy; v2 one unified tree with io.max.
        const qint64 bps = qint64(mibPerSecond) * MiB;
        if (QFileInfo::exists(QStringLiteral("/sys/fs/cgroup/blkio"))) {
            group = QStringLiteral("/sys/fs/cgroup/blkio/pqvk-bench-%1").arg(::getpid());
            if (!QDir().mkpath(group))
                return false;
            for (const QString& device : qAsConst(limits))
                if (!writeTo(group + QStringLiteral("/blkio.throttle.read_bps_device"),
                             QStringLiteral("%1 %2").arg(device).arg(bps)))
                    return false;
            version = QStringLiteral("cgroup v1 blkio.throttle.read_bps_device");
        } else {
            group = QStringLiteral("/sys/fs/cgroup/pqvk-bench-%1").arg(::getpid());
            writeTo(QStringLiteral("/sys/fs/cgroup/cgroup.subtree_control"), QStringLiteral("+io"));
            if (!QDir().mkpath(group))
                return false;
            for (const QString& device : qAsConst(limits))
                if (!writeTo(group + QStringLiteral("/io.max"),
                             QStringLiteral("%1 rbps=%2").arg(device).arg(bps)))
                    return false;
            version = QStringLiteral("cgroup v2 io.max");
        }
        return writeTo(group + QStringLiteral("/cgroup.procs"), QString::number(::getpid()));
    }

    ~CardReaders()
    {
        if (!group.isEmpty()) {
            // Back to the root group, which has no limit, so this one can go.
            const QString root = QFileInfo(group).path();
            writeTo(root + QStringLiteral("/cgroup.procs"), QString::number(::getpid()));
            ::rmdir(QFile::encodeName(group).constData());
        }
        for (const QString& mountPoint : qAsConst(mounts))
            shell(QStringLiteral("umount '%1'").arg(mountPoint));
        for (const QString& device : qAsConst(devices))
            shell(QStringLiteral("losetup -d '%1'").arg(device));
    }

    QStringList mounts;
    QString version;

private:
    static bool writeTo(const QString& path, const QString& text)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toLatin1() + '\n') > 0;
    }

    QStringList devices;
    QString group;
};

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
                                         QStringLiteral("Size of each photo (default 4; "
                                                        "0.004 for 4 KiB)."),
                                         QStringLiteral("MiB"), QStringLiteral("4"));
    const QCommandLineOption videosOption(QStringLiteral("videos"),
                                          QStringLiteral("Videos per card (default 2)."),
                                          QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption photosOption(QStringLiteral("photos"),
                                          QStringLiteral("Photos per card (default 20)."),
                                          QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption dropOption(QStringLiteral("drop-caches"),
                                        QStringLiteral("Drop the page cache before each side."));
    const QCommandLineOption noWarmupOption(QStringLiteral("no-warmup"),
                                            QStringLiteral("Count the first round too."));
    const QCommandLineOption speedOption(
        QStringLiteral("card-speed"),
        QStringLiteral("Cards on loop devices read at most this fast (root); set against "
                       "reading them once and cp -r + sync."),
        QStringLiteral("MiB/s"));
    const QCommandLineOption backupOption(
        QStringLiteral("backup-dir"),
        QStringLiteral("Also time the import into two destinations, the second in this folder "
                       "(best on another disk)."),
        QStringLiteral("path"));
    const QCommandLineOption programOption(
        QStringLiteral("qvkctl"),
        QStringLiteral("Run the import with this qvkctl program instead of in this process."),
        QStringLiteral("path"));
    parser.addOptions({dirOption, roundsOption, videoOption, photoOption, videosOption,
                       photosOption, dropOption, noWarmupOption, speedOption, backupOption,
                       programOption});
    parser.process(app);

    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const qint64 videoSize = qint64(parser.value(videoOption).toDouble() * MiB);
    const qint64 photoSize = qint64(parser.value(photoOption).toDouble() * MiB);
    const int videos = parser.value(videosOption).toInt();
    const int photos = parser.value(photosOption).toInt();
    const int cardSpeed = parser.value(speedOption).toInt();
    const bool dropCaches = parser.isSet(dropOption) || cardSpeed > 0;
    const bool warmup = !parser.isSet(noWarmupOption);
    const QString program = parser.value(programOption);

    for (const char* tool : {"cp", "sync", "xxhsum", "dd", "find", "cat"}) {
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

    const qint64 cardBytes = videos * videoSize + photos * photoSize;
    CardReaders readers;
    if (cardSpeed > 0 && !readers.setUp(work.path(), cardBytes, cardSpeed)) {
        std::fprintf(stderr, "cannot set up the throttled card images (root, losetup, "
                             "mkfs.ext4 and a cgroup block-I/O throttle are needed)\n");
        return 1;
    }
    QStringList cards;
    for (int n = 1; n <= 3; ++n) {
        const QString card = work.filePath(QStringLiteral("card%1").arg(n));
        cards << card;
        for (int v = 1; v <= videos; ++v) {
            const QString path =
                QStringLiteral("%1/DCIM/100QVK/V%2.MOV").arg(card).arg(v, 4, 10, QLatin1Char('0'));
            if (!writeMediaFile(path, videoSize, quint64(n * 100000 + v)))
                return 1;
        }
        for (int p = 1; p <= photos; ++p) {
            const QString path =
                QStringLiteral("%1/DCIM/100QVK/P%2.JPG").arg(card).arg(p, 4, 10, QLatin1Char('0'));
            if (!writeMediaFile(path, photoSize, quint64(n * 1000000 + p)))
                return 1;
        }
    }
    const qint64 total = 3 * cardBytes;
    const QString expected =
        QStringLiteral("Copied %1/%1 videos and %2/%2 photos.").arg(videos).arg(photos);
    const auto loadAverage = [] {
        QFile file(QStringLiteral("/proc/loadavg"));
        return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray("?");
    };
    std::printf("work folder: %s, %d cores, load average %s\n", qPrintable(work.path()),
                QThread::idealThreadCount(), loadAverage().constData());
    std::printf("cards: 3 x (%d x %.3f MiB videos + %d x %.3f MiB photos) = %.0f MiB, %d "
                "rounds%s\n",
                videos, double(videoSize) / MiB, photos, double(photoSize) / MiB,
                double(total) / MiB, rounds,
                dropCaches ? ", page cache dropped before each side" : "");
    if (cardSpeed > 0)
        std::printf("cards read at most %d MiB/s each (ext4 on loop devices, %s)\n", cardSpeed,
                    qPrintable(readers.version));
    std::printf("import: %s\n", program.isEmpty() ? "in this process" : qPrintable(program));
    std::fflush(stdout);

    // The import against the others; at card speed the cards read once
    // stand for the tools' verified copy (no verified copy can beat it).
    struct Side
    {
        const char* name;
        const char* script; // null: the import
        bool twoDestinations;
    };
    std::vector<Side> sides =
        cardSpeed > 0
            ? std::vector<Side>{{"verified import", nullptr, false},
                                {"cards read once (cat)", ReadScript, false},
                                {"cp -r + sync", CopyScript, false}}
            : std::vector<Side>{{"verified import", nullptr, false},
                                {"cp+sync+xxhsum+dd nocache+xxhsum -c", ToolsScript, false},
                                {"cp -r + sync", CopyScript, false}};
    QStringList destinations = {work.filePath(QStringLiteral("dest"))};
    if (parser.isSet(backupOption)) {
        sides.push_back({"verified import, two destinations", nullptr, true});
        destinations << QDir(parser.value(backupOption))
                            .filePath(QStringLiteral("bench_import-%1").arg(::getpid()));
    }
    const size_t count = sides.size();
    std::vector<Figures> times(count), ratios(count);
    long importMemory = 0;
    // Round 0 warms up (fresh disk blocks, caches) and is not counted.
    for (int round = warmup ? 0 : 1; round <= rounds; ++round) {
        std::vector<double> seconds(count);
        // Each side runs first, second and third in turn: the side after
        // another pays for its write-back and clean-up.
        for (size_t k = 0; k < count; ++k) {
            const size_t side = (k + size_t(round)) % count;
            settle(dropCaches);
            bool ok = false;
            if (sides[side].script) {
                seconds[side] = runScripts(QString::fromLatin1(sides[side].script), cards,
                                           destinations.first(), &ok);
            } else {
                const QStringList into =
                    sides[side].twoDestinations ? destinations : destinations.mid(0, 1);
                seconds[side] = program.isEmpty() ? runImport(cards, into, expected, &ok)
                                                  : runProgram(program, cards, into, &ok);
                if (program.isEmpty())
                    importMemory = std::max(importMemory, peakMemoryMiB());
            }
            if (!ok) {
                std::fprintf(stderr, "%s failed\n", sides[side].name);
                return 1;
            }
            for (const QString& folder : qAsConst(destinations))
                QDir(folder).removeRecursively();
        }
        std::printf("%s %d: import %.2f s (%.0f MiB/s)", round > 0 ? "round" : "warm-up round",
                    round, seconds[0], double(total) / MiB / seconds[0]);
        for (size_t side = 1; side < count; ++side)
            std::printf(", %s %.2f s (ratio %.3f)", sides[side].name, seconds[side],
                        seconds[0] / seconds[side]);
        std::printf("\n");
        std::fflush(stdout);
        if (round > 0) {
            for (size_t side = 0; side < count; ++side) {
                times[side].values.push_back(seconds[side]);
                ratios[side].values.push_back(seconds[0] / seconds[side]);
            }
        }
    }

    std::printf("over %d rounds (load average now %s):\n", rounds, loadAverage().constData());
    for (size_t side = 0; side < count; ++side)
        printFigures(sides[side].name, times[side], "s");
    for (size_t side = 1; side < count; ++side)
        std::printf("ratio of medians: import / %s %.3f\n", sides[side].name,
                    times[0].median() / times[side].median());
    if (parser.isSet(backupOption))
        std::printf("two destinations / one: %.3f (goal <= 1.10)\n",
                    times[count - 1].median() / times[0].median());
    if (cardSpeed > 0)
        std::printf("goals: import / cards read once <= 1.05 (videos and photos), <= 1.10 "
                    "(time-lapse)\n");
    else
        std::printf("goal: import / tools <= 1.00\n");
    if (program.isEmpty())
        std::printf("peak memory of this process (the import runs in it): %ld MiB "
                    "(files of %lld MiB)\n",
                    importMemory, std::max(videoSize, photoSize) / MiB);
    return 0;
}
