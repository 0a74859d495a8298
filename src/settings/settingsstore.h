#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// The settings file "VazizidADU.ini" as a map of texts. Each call opens the
// file anew, so the functions may run on any thread.

// Writes the defaults of the known keys that are missing, then returns every
// key. A map without "OverwriteAngles" holds no saved calibration: the
// stitching projects then keep the template's angles.
QVariantMap getSettings();
// Writes the given keys; others keep their stored values.
void updateSettings(const QVariantMap& settings);
// The map the stitching writers use: the nine camera angles in radians when
// "RadiansAngles" is set, otherwise unchanged.
QVariantMap anglesForTemplate(const QVariantMap& settings);

// Device entries (name, description, location, manufacturer, serial) for the
// existing ports listed in "ExtraSerialPorts".
QVariantList configuredSerialPortEntries();
