#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// The values of "settings save", checked against what the app's Settings tab
// offers.
struct SettingsToSave
{
    QString date;
    int recLed = 0;
    double videoInterval = 0;
    double photoInterval = 0;
    double photoTimeout = 0;
    int e1 = 0;
};

// One command line of qvkctl, checked: what runs and with what. Paths are
// absolute already (finding the application folder makes it the working
// directory).
struct QvkCtlCommand
{
    QString name; // "devices", "settings read", ...
    QString port;
    QString dest;
    QStringList dests; // import: every --dest, in the order given
    QString project;
    QStringList cards;        // --card1 to --card3, as many as given
    QString templateArgument; // --template as given
    QString templatePath;     // the file it names, if it names one
    QString firmwareFile;
    SettingsToSave settings;
    bool json = false;
    bool force = false;
    bool erase = false;
    bool syncConfig = false;
    bool reverify = false;
    bool skipImported = false;
    int copies = 0; // prepare --copies; 0: as the app's settings say
};

namespace QvkCtlArguments {

enum class Parsed
{
    Command, // `command` holds what to run
    Help,
    Version,
    UsageError, // `error` says why
};

// Parses the command line (program name first).
Parsed parse(const QStringList& arguments, QvkCtlCommand* command, QString* error);

// The settings to save from the parsed options: the usage error, or empty
// when every value lies within the ranges of the app's Settings tab.
QString settingsToSave(const QCommandLineParser& parser, SettingsToSave* settings);

// "qvkctl", as its own lines begin.
QString programName();

// A path given on the command line, made absolute against the working directory.
QString absolutePath(const QString& path);

} // namespace QvkCtlArguments
