#pragma once

#include "settings/unitsettings.h"

#include <QMetaType>
#include <QString>

// What the controller unit last reported, or the user's new settings on their
// way to the save task (then only the five settings fields are filled).
struct PQVKConfig
{
    QString firmware;
    qint32 date = 0;                  // controller clock, seconds since the epoch
    quint32 recLedOn = 0;             // record LED switch
    quint32 videoLoggingInterval = 0; // milliseconds
    quint32 timeLapseInterval = 0;    // milliseconds
    quint32 timeLapseTimeout = 0;     // minutes
    qint32 dataCount = 0;             // dataset records held by the unit
    quint32 e1FirmwareVersion = UnitSettings::DefaultE1FirmwareVersion; // when not reported
    double battery = 0.0; // volts; readings not above 0.5 V are stored as 0
};

Q_DECLARE_METATYPE(PQVKConfig)
