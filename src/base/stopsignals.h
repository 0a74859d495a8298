#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill or logout, a closed
// terminal) into a request to stop, delivered by the event loop: the handler only writes the
// signal's number to a pipe, which a socket notifier reads on this object's thread. The first
// signal of each kind is taken; a second one ends the program as it would without this object.
// While the object lives, its handlers are installed; the ones before are
// restored afterwards. Unix only: elsewhere it never signals.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(const QString& signalName);

private:
    void readPipe();

    QSocketNotifier* notifier = nullptr;
};
