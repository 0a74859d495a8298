#include "controller/shellcommand.h"

#include <QDebug>
#include <QMetaEnum>

namespace {

// The program's output as lines; CR LF line ends lose their CR whatever the
// platform's process class did with them.
QStringList outputLines(const QByteArray& bytes)
{
    QStringList lines = QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

template <typename Enum> const char* enumName(Enum value)
{
    const char* key = QMetaEnum::fromType<Enum>().valueToKey(value);
    return key ? key : "Unknown";
}

} // namespace

ShellCommand::ShellCommand(QObject* parent) : QObject(parent) {}

ShellCommand::~ShellCommand()
{
    if (process)
        process->deleteLater();
}

bool ShellCommand::start(const QString& program, const QStringList& arguments)
{
    running = false;
    succeeded = false;
    outputRest.clear();
    errorLine.clear();
    lastOutput.start();
    qInfo("Starting firmware update");

    if (process) {
        process->disconnect(this);
        process->deleteLater();
    }
    process = new QProcess(this);
    connect(process, &QProcess::readyReadStandardOutput, this, &ShellCommand::onStdoutAvailable);
    connect(process, &QProcess::readyReadStandardError, this, &ShellCommand::onStderrAvailable);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &ShellCommand::onFinished);
    connect(process, &QProcess::errorOccurred, this, &ShellCommand::onError);
    connect(process, &QProcess::stateChanged, this, &ShellCommand::onStateChanged);

    process->start(program, arguments, QIODevice::ReadWrite | QIODevice::Text);
    if (process->waitForStarted(30000)) {
        qInfo("Firmware update started");
        emit newMessage(QStringLiteral("Firmware update started"));
        running = true;
    } else {
        qWarning("Firmware update failed to start");
        emit newMessage(QStringLiteral("Firmware update failed to start"));
        running = false;
        if (process)
            process->deleteLater();
    }
    return running;
}

void ShellCommand::wait(int ms)
{
    if (!running)
        return;
    if (!process) {
        running = false;
        return;
    }
    // Waiting on the process delivers its output and its end to the slots on
    // this thread, with or without an event loop.
    if (!process->waitForFinished(ms) && running && process &&
        process->state() == QProcess::NotRunning) {
        // Ended without a finished notification: never wait for it forever.
        qWarning("Firmware update process ended without an exit status");
        running = false;
    }
}

void ShellCommand::stop()
{
    if (process && process->state() != QProcess::NotRunning) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(5000);
        process->deleteLater();
    }
    running = false;
    succeeded = false;
}

void ShellCommand::onStdoutAvailable()
{
    lastOutput.restart();
    if (!process)
        return;
    const QByteArray bytes = process->readAllStandardOutput();
    qInfo() << outputLines(bytes);
    // Lines may arrive in pieces; each goes out once it is whole.
    QStringList lines = outputLines(bytes);
    lines.first().prepend(outputRest);
    outputRest = lines.takeLast();
    for (const QString& line : qAsConst(lines))
        if (!line.trimmed().isEmpty())
            emit outputLine(line.trimmed());
}

void ShellCommand::onStderrAvailable()
{
    lastOutput.restart();
    if (!process)
        return;
    const QStringList lines = outputLines(process->readAllStandardError());
    qWarning() << lines;
    for (const QString& line : lines)
        if (!line.trimmed().isEmpty())
            errorLine = line.trimmed();
}

void ShellCommand::onError(QProcess::ProcessError error)
{
    qWarning() << "Process error:" << enumName(error);
}

void ShellCommand::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qInfo().noquote() << QStringLiteral("Firmware update completed with code %1 and status %2")
                             .arg(exitCode)
                             .arg(static_cast<int>(exitStatus));
    // Only a boot-loader that ended normally and said so by its exit code has
    // written the firmware.
    succeeded = exitStatus == QProcess::NormalExit && exitCode == 0;
    running = false;
    if (process)
        process->deleteLater();
}

void ShellCommand::onStateChanged(QProcess::ProcessState state)
{
    qInfo() << "Process state:" << enumName(state);
}
