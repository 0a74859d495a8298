#pragma once

#include "base/transfermeter.h"
#include "cli/qvkctlarguments.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

class AppController;
class LiveLines;
class QJsonDocument;
class QTextStream;

// The command-line companion: runs one operation of AppController (the very
// same task bodies the app runs), prints its progress texts to the error
// stream as they arrive and turns the outcome the task ends with into an exit
// status. Argument parsing lies in qvkctlarguments.cpp, the runner of each
// command in qvkctlcommands.cpp, the output in qvkctloutput.cpp.
class QvkCtl : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus
    {
        Success = 0,
        Failure = 1,
        UsageError = 2
    };

    // Results go to `out`, progress texts and messages to `err`.
    QvkCtl(QTextStream& out, QTextStream& err, QObject* parent = nullptr);
    ~QvkCtl() override;

    // Runs the command line (program name first) and returns the exit status.
    int run(const QStringList& arguments);

    // Whether a run installs the app's message handler with a log of its own
    // ("qvkctl.log" in the user data folder); on by default. Only warnings
    // and worse are echoed to standard error, which carries the progress
    // texts. The handler in place before the run is restored afterwards.
    void setOwnLog(bool enabled);

    // Standard error is a terminal `columns()` wide: the progress of an import
    // (one line per card) and of a data export (the records received) is
    // shown in lines that change in place. Otherwise every report is a line
    // of its own, as scripts read them.
    void setTerminal(std::function<int()> columns);

    // Gives the process the app's application name, so that the user data
    // folder, the settings file and the templates folder are the app's,
    // whatever this program is called. Call after creating the application.
    static void configureApplication();

    static QString usageText();
    static QString ownLogFileName(); // "qvkctl.log"

private slots:
    void onCardProgress(QVariant cardNumber, QVariant progressFrom, QVariant progressTo,
                        QVariant progressValue, QVariant progressText);
    void onCardBytes(QVariant cardNumber, QVariant bytesCopied, QVariant bytesTotal);
    void onProgress(QVariant progressFrom, QVariant progressTo, QVariant progressValue,
                    QVariant progressText);
    void onCameraSettings(QVariant firmware, QVariant battery, QVariant date, QVariant recLedOn,
                          QVariant videoLoggingInterval, QVariant timelapseInterval,
                          QVariant timelapseTimeout, QVariant e1FirmwareVersion);
    void onCardOutcome(QVariant cardNumber, QVariant outcome);
    void onImportOutcome(QVariant outcome);
    void onOutcome(QVariant outcome);
    void onDataRecords(QVariant recordsReceived, QVariant recordsAnnounced);

private:
    struct Report
    {
        int from = 0;
        int to = 0;
        int value = 0;
        QString text;
        bool countsRecords = false; // the records of a data export received so far
    };

    int usageError(const QString& what);
    // A run refused before it started: the reason, and the usage error status.
    int refuse(const QString& why);
    int fail(const QString& what);
    void printLine(const QString& line); // on standard error, above any live lines
    // Whether the report went into a live line rather than a line of its own.
    bool showLive(int channel, const Report& report);
    void showCard(int card);
    void record(int channel, const QVariant& from, const QVariant& to, const QVariant& value,
                const QVariant& text);
    void waitForTasks();
    void startOwnLog(const QStringList& arguments);
    void stopOwnLog();
    void connectController();

    // One runner per command; each returns the exit status.
    using Runner = int (QvkCtl::*)(const QvkCtlCommand&);
    static Runner runnerOf(const QString& command);
    int runDevices(const QvkCtlCommand& command);
    int runDrives(const QvkCtlCommand& command);
    int runTemplates(const QvkCtlCommand& command);
    int runSettingsRead(const QvkCtlCommand& command);
    int runSettingsSave(const QvkCtlCommand& command);
    int runSettingsReset(const QvkCtlCommand& command);
    int runDataExport(const QvkCtlCommand& command);
    int runDataErase(const QvkCtlCommand& command);
    int runOff(const QvkCtlCommand& command);
    int runFirmware(const QvkCtlCommand& command);
    int runImport(const QvkCtlCommand& command);
    int runPrepare(const QvkCtlCommand& command);
    // The import itself, once its arguments are found fit.
    int importCards(const QvkCtlCommand& command, const QString& templatePath);
    // Rows of fields: each a line of fields separated by tabs, or with --json
    // an array of objects, each field under its key.
    int printTable(const QVector<QStringList>& rows, const QStringList& jsonKeys);
    // The values of a settings read: name=value lines, or with --json an object.
    void printSettings(const QVariantList& values);
    void printJson(const QJsonDocument& document);
    // The exit status of the controller-unit task that ran: from its outcome.
    int taskStatus();

    QTextStream& out;
    QTextStream& err;
    bool ownLog = true;
    bool json = false; // results as one JSON document
    bool logInstalled = false;
    bool previousEcho = true;
    QtMessageHandler previousHandler = nullptr;
    AppController* controller = nullptr;
    QMap<int, QVector<Report>> reports;  // channel 0: the controller tasks; 1-3: the cards
    QMap<int, QVariant> outcomes;        // by channel, as reports
    QMap<int, int> reportsBeforeOutcome; // of each card, when its outcome came
    QVariant importOutcome;              // the import run's
    bool recordReport = false;           // the next report of channel 0 counts records
    qint64 recordsReceived = 0;
    qint64 recordsAnnounced = 0;
    QVariantList cameraSettings;
    std::function<int()> terminalColumns; // set when standard error is a terminal
    std::unique_ptr<LiveLines> live;
    QString records; // the data export's live line

    // An import's live lines, one per card.
    struct CardLine
    {
        TransferMeter meter;
        QString root; // the card's folder
        QString text; // the card's last report
        bool done = false;
    };
    CardLine cardLines[3];
    bool liveImport = false;
    QElapsedTimer clock; // for the meters' speeds
};
