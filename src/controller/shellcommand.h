#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs one external program (the boot-loader), logs what it prints and its
// state, and tells the waiting task when it has ended and whether it succeeded.
class ShellCommand : public QObject
{
    Q_OBJECT

public:
    explicit ShellCommand(QObject* parent = nullptr);
    ~ShellCommand() override;

    // True when the process started; it then runs until onFinished.
    bool start(const QString& program, const QStringList& arguments);
    // Lets the process's notifications run on the calling thread for up to
    // `ms` milliseconds. The caller needs no event loop: the task waits on a
    // pool thread and calls this until isRunning() turns false.
    void wait(int ms);

    // Ends the process at once; the run has not succeeded.
    void stop();

    bool isRunning() const { return running; }
    // Milliseconds since the process started or last printed anything.
    qint64 quietFor() const { return lastOutput.elapsed(); }
    // A normal exit with code 0.
    bool hasSucceeded() const { return succeeded; }
    // The last line the program printed on its standard error, where it says
    // what went wrong; empty when it printed none.
    QString lastErrorLine() const { return errorLine; }

signals:
    void newMessage(QString message);
    // Each whole line of the program's standard output, as it comes.
    void outputLine(QString line);

public slots:
    void onStdoutAvailable();
    void onStderrAvailable();
    void onError(QProcess::ProcessError error);
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onStateChanged(QProcess::ProcessState state);

private:
    bool running = false;
    bool succeeded = false;
    QPointer<QProcess> process;
    QElapsedTimer lastOutput;
    QString outputRest; // a line not yet ended
    QString errorLine;
};
