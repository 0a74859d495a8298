#pragma once

#include "base/outcome.h"
#include "link/pqvkconfig.h"

#include <QObject>
#include <QString>
#include <QVariant>

// The controller-unit tasks: settings, data export, memory erase, power-off
// and the firmware update. Each call runs to its end on the calling thread
// (a pool thread, or the GUI thread for the power-off at exit) and opens the
// unit anew. Reports go out as signals emitted on that thread, in the form
// the view takes: (from, to, value, text); each returns how it ended, the
// outcome that goes with its last report. The unit's own messages go out as
// the ...Message signals, delivered on the thread this object lives on.
class UnitTasks : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Outcome readSettings(const QString& port);
    Outcome saveSettings(const QString& port, const QString& date, const PQVKConfig& cfg);
    Outcome resetSettings(const QString& port);
    // Succeeded also when the unit holds no records; Incomplete when the
    // files written are "_incomplete" ones.
    // Stopped, with no file written and nothing recorded, when asked to by
    // requestExportStop() during the download.
    Outcome copyData(const QString& port, const QString& targetDir, const QString& projectName);
    // The running export (from any thread) stops at the next record; false
    // clears a stop asked for an earlier run.
    static void requestExportStop(bool stop = true);
    static bool exportStopRequested();
    // Erases only what is saved: an empty unit, or one whose records a
    // complete export recorded in ExportLedger saved in files still there
    // (Refused otherwise, with the reason). A record count that is no count
    // is refused too, with no records. `force` erases anyway, with a warning
    // in the log; only a unit that does not answer is never erased.
    Outcome eraseMemory(const QString& port, bool force = false);
    // `reached` (if given) tells whether the unit could be opened at all.
    Outcome turnOff(const QString& port, bool* reached = nullptr);
    Outcome updateFirmware(const QString& port, const QString& filePath);
    // Whether the unit on `port`, when a task last asked it something in this
    // run, answered nothing at all (a failed Connect to a silent unit).
    static bool foundSilent(const QString& port);
    // Why the firmware cannot be updated here: no boot-loader program where
    // it belongs (named, with what to do); empty when there is one.
    static QString bootloaderProblem();

signals:
    void updateDataProgress(QVariant progressFrom, QVariant progressTo, QVariant progressValue,
                            QVariant progressText);
    void updateCameraSettingsProgress(QVariant progressFrom, QVariant progressTo,
                                      QVariant progressValue, QVariant progressText);
    void updateFirmwareProgress(QVariant progressFrom, QVariant progressTo, QVariant progressValue,
                                QVariant progressText);
    void updateCameraSettings(QVariant firmware, QVariant battery, QVariant date, QVariant recLedOn,
                              QVariant videoLoggingInterval, QVariant timelapseInterval,
                              QVariant timelapseTimeout, QVariant e1FirmwareVersion);
    // The records of a download received so far of those announced, just
    // before the report that counts them.
    void dataRecords(QVariant recordsReceived, QVariant recordsAnnounced);
    void dataMessage(QString message);
    void settingsMessage(QString message);
    void firmwareMessage(QString message);
};
