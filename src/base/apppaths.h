#pragma once

#include <QString>

// The program's name and version as shown to the user and stored in the settings file.
extern const QString AppName;    // "Pelorin QVK"
extern const QString AppVersion; // "1.8.3"

// Where the program keeps its files. Every path is computed once and cached;
// all functions may be called from any thread once start-up has filled the caches.
void updateAppDirPath(const QString& executablePath);
QString appDirPath();
QString dataDirPath();
QString iniFilePath();
QString logFilePath();
QString templatesDirPath();
QString utilitiesDirPath();
// Where the administrator puts tools that a package does not bring (the rig
// maker's boot-loader): for an application folder under /usr, the same
// folder's "utilities" under /usr/local; empty for any other folder.
QString localUtilitiesDirPath();
QString firmwareDirPath();
void removeLogFile();

// The command-line companion keeps a log of its own run instead of the app's.
void setLogFilePath(const QString& path);
// Changes whenever the log file's path changes or the file is removed, so the
// message handler, which keeps the file open, knows to open it anew.
int logFileGeneration();
// Tests start each case from empty caches.
void resetPathCaches();
