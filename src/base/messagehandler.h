#pragma once

#include <QString>
#include <QtGlobal>

class QException;

// Process-wide Qt message handler: a time-stamped line on standard error and
// appended to the log file (Qt's hints to developers stay out of the file).
// Safe to enter from several threads at once: every line reaches the log whole.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Whether debug and info lines also reach standard error (on by default);
// warnings and worse always do. The log file gets every line either way.
// Returns the previous setting.
bool setMessageEcho(bool enabled);

// The log line for a message without its line end, e.g.
// "2018-01-24 02:38:47.015 Info: Application start".
QString formatLogLine(QtMsgType type, const QString& message);

// What a caught framework exception says about itself, "Unknown exception"
// when it says nothing.
QString exceptionDescription(const QException& e);
