#pragma once

#include <QString>
#include <QtGlobal>

// Process-wide Qt message handler: a time-stamped line on standard error and
// appended to the log file. Safe to enter from several threads at once.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);
