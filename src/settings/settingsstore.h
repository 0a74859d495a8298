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

// The folder each import also copies to, beside its destination
// ("BackupDir"); empty (the default) for none.
QString backupDir();
void setBackupDir(const QString& folder);

// How many verified copies, each in a destination of its own, every media
// file of a card needs before the card may be wiped ("CopiesBeforeWipe").
// It is never written as a default: while the key is absent it follows
// "BackupDir", 1 without a backup folder and 2 with one, so that choosing a
// backup folder raises it. A stored whole number holds, brought into the
// range; other text counts as absent.
constexpr int MinCopiesBeforeWipe = 1;
constexpr int MaxCopiesBeforeWipe = 3;
int copiesBeforeWipe();
int copiesBeforeWipe(const QVariantMap& settings);
