#pragma once

#include "base/transfermeter.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QtQml/qqml.h>

// The window's figures of an import: per card, its speed and time left from
// the byte reports, measured as qvkctl's live lines measure them
// (TransferMeter), so both show the same for the same import. The view
// creates one ("import Pelorin 1.0") and shows what it says.
class ThroughputMeter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Makes the type known to QML; once, before the view is loaded. Inline:
    // only the programs that load a view link Qt Qml.
    static void registerType()
    {
        qmlRegisterType<ThroughputMeter>("Pelorin", 1, 0, "ThroughputMeter");
    }

    // A new import: every card is measured afresh.
    Q_INVOKABLE void reset();
    // "25.0 MB/s, 36 s left" for a report of card `card` at `msec` (a steady
    // clock), or empty while it is too early to tell and once the card is done.
    Q_INVOKABLE QString describe(int card, double copied, double total, double msec);

    static QString durationText(qint64 seconds); // "36 s", "1 min 25 s", "2 h 46 min"

private:
    QHash<int, TransferMeter> meters;
};
