#pragma once

// What the protocol client's transport (pqvktransport.cpp: lines, answers,
// deadlines) and its commands (pqvkcomms.cpp: one strict parse per answer)
// share. Only those two files include it.

#include <QLoggingCategory>
#include <QString>
#include <QtDebug>

namespace PQVKTransport {

constexpr int MaxReads = 4;

const char* const CommunicationError = "Communication error. Please try again.";

// Every received line is logged; the download reads many thousands, so the
// text is only formatted when info messages are on.
inline void logReceived(const QString& text)
{
    if (QLoggingCategory::defaultCategory()->isInfoEnabled())
        qInfo() << "readLine:" << text;
}

} // namespace PQVKTransport
