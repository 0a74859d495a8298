#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>

// Placeholder bodies; the folder rules are being written.
const QString AppName = QStringLiteral("Pelorin QVK");
const QString AppVersion = QStringLiteral("1.8.3");

void updateAppDirPath(const QString&) {}
QString appDirPath() { return QCoreApplication::applicationDirPath(); }
QString dataDirPath() { return QDir::homePath() + QStringLiteral("/Pelorin QVK"); }
QString iniFilePath() { return dataDirPath() + QStringLiteral("/VazizidADU.ini"); }
QString logFilePath() { return dataDirPath() + QStringLiteral("/VazizidADU.log"); }
QString templatesDirPath() { return dataDirPath() + QStringLiteral("/templates"); }
QString utilitiesDirPath() { return appDirPath() + QStringLiteral("/utilities"); }
QString firmwareDirPath() { return appDirPath() + QStringLiteral("/firmware"); }
void removeLogFile() {}
void setLogFilePath(const QString&) {}
void resetPathCaches() {}
