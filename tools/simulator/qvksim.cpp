// Serves a simulated controller unit on a pseudo-terminal until stopped, so
// the app can be tried without the rig: pick the printed port in the app.
#include "simulator/controllersimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName("qvk-sim");
    QCommandLineParser parser;
    parser.setApplicationDescription("Simulated controller unit on a pseudo-terminal.");
    parser.addHelpOption();
    const QCommandLineOption datasets("datasets", "Datasets held (default 2).", "n", "2");
    const QCommandLineOption records("records", "Records per dataset (default 20).", "m", "20");
    const QCommandLineOption battery("battery", "Battery voltage (default 3.9).", "volts", "3.9");
    const QCommandLineOption rate("rate", "Records per second during a download (0: no limit).",
                                  "n", "0");
    const QCommandLineOption link("link", "Also make a symbolic link to the port at this path.",
                                  "path");
    parser.addOptions({datasets, records, battery, rate, link});
    parser.process(app);

    // Block the stop signals before the serving thread starts, then wait for one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ControllerSimulator sim;
    sim.setDatasets(parser.value(datasets).toInt(), parser.value(records).toInt());
    sim.setBattery(parser.value(battery).toDouble());
    sim.setStreamRate(parser.value(rate).toInt());
    if (!sim.start()) {
        std::fprintf(stderr, "qvk-sim: could not create a pseudo-terminal\n");
        return 1;
    }
    const QByteArray path = sim.portPath().toLocal8Bit();
    const QByteArray linkPath = parser.value(link).toLocal8Bit();
    if (!linkPath.isEmpty()) {
        ::unlink(linkPath.constData());
        if (::symlink(path.constData(), linkPath.constData()) != 0)
            std::fprintf(stderr, "qvk-sim: could not link %s\n", linkPath.constData());
    }
    std::printf("%s\n", path.constData());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    sim.stop();
    if (!linkPath.isEmpty())
        ::unlink(linkPath.constData());
    return 0;
}
