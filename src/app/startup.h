#pragma once

class AppController;
class QQuickWindow;
class QSettings;
class StopSignals;

// The fixed scale factor of the settings file, 0 when absent or not a number.
double readScaleFactorSetting(const QSettings& settings);

// The display switches of the settings file: each read with Qt's rules for
// turning a value into a bool, applied to the environment and the application
// attributes, and written back as "1" or "0"; then the program's name and
// version are stored and the file is flushed. Runs before the GUI application
// exists.
void applyStartupSettings(QSettings& settings, double scaleFactor);

// The shut-down after the event loop: waits until no task of the global thread
// pool runs any more (they use the controller), then turns the controller unit
// off on this thread if the view named a port, unless that unit answered
// nothing when last asked in this run.
void shutDownController(AppController& controller);

// SIGTERM, SIGINT and SIGHUP close the window as the user would: while work
// runs, closing is refused as usual and the window closes once it is done.
// The event loop then ends and the normal shut-down follows.
void closeOnStopSignals(StopSignals& stopSignals, QQuickWindow& window);
