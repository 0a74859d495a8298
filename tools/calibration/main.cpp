// qvk-calibration: serves calibrations by serial number for trying the
// download of the calibration dialog without the maker's service.
#include "calibration/calibrationservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvk-calibration"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Calibration service stand-in. Prints its address, then serves "
                       "GET /api/v1/vazizidadu/calibration/<serial> until stopped."));
    parser.addHelpOption();
    // 8765 is where the app looks when its settings name no service.
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0: any free port)."),
                                        QStringLiteral("port"), QStringLiteral("8765"));
    const QCommandLineOption dataOption(
        QStringLiteral("data"), QStringLiteral("JSON file of calibrations by serial number."),
        QStringLiteral("file"), QStringLiteral(QVK_CALIBRATION_DEFAULT_DATA));
    parser.addOption(portOption);
    parser.addOption(dataOption);
    parser.process(app);

    QTextStream err(stderr);
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        err << "Invalid port: " << parser.value(portOption) << "\n";
        return 2;
    }

    CalibrationService service;
    QString error;
    if (!service.loadFile(parser.value(dataOption), &error)) {
        err << "Cannot read " << parser.value(dataOption) << ": " << error << "\n";
        return 1;
    }
    if (!service.listen(static_cast<quint16>(port))) {
        err << "Cannot listen: " << service.errorString() << "\n";
        return 1;
    }
    QTextStream out(stdout);
    out << service.baseUrl().toString() << Qt::endl;
    return app.exec();
}
