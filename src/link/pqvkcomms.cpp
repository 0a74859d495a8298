#include "link/pqvkcomms.h"

#include "link/datarecord.h"
#include "link/nmeasentence.h"
#include "link/pqvktransport.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QtDebug>

#include <algorithm>
#include <limits>

using namespace PQVKTransport;

namespace {

constexpr int CountAttempts = 4;
constexpr int ConfigAttempts = 5;
constexpr quint32 DefaultE1Version = UnitSettings::DefaultE1FirmwareVersion;
// Progress reports of a download: about ten a second, however fast it runs.
constexpr int ProgressIntervalMs = 100;
// While the unit is quiet, a download looks this often whether to stop.
constexpr int StopPollMs = 100;
// Lines of a download that are no record, logged one by one up to this many.
constexpr int UnusualLinesLogged = 20;

// A phrase as a sentence of its own: capital first letter, full stop.
QString asSentence(const QString& phrase)
{
    if (phrase.isEmpty() || phrase.endsWith(QLatin1Char('.')))
        return phrase;
    return phrase.at(0).toUpper() + phrase.mid(1) + QLatin1Char('.');
}

bool fieldStarts(const NmeaSentence& s, int index, const char* text)
{
    return s.fieldCount() >= index && s.fieldStartsWith(index, text);
}

bool fieldIs(const NmeaSentence& s, int index, const char* text)
{
    return s.fieldCount() >= index && s.fieldEquals(index, text);
}

// A value of a settings or version answer as the unit meant it: a number
// that converts, within what the setting can hold. Otherwise `problem` says
// which value and what came.
bool checkedInt(const NmeaSentence& s, int index, const char* name, qint64 minimum, qint64 maximum,
                qint32* value, QString* problem)
{
    bool ok = false;
    *value = s.getInt(index, &ok);
    if (ok && *value >= minimum && *value <= maximum)
        return true;
    if (problem->isEmpty())
        *problem = QStringLiteral("The unit reported a value out of range for the %1: \"%2\".")
                       .arg(QLatin1String(name), QString::fromLatin1(s.getString(index)));
    return false;
}

// The record count as the unit meant it: decimal digits only, within what
// the count can hold. A sign, a blank or a substitute for a number that did
// not convert is no count: it would read as an empty unit or a huge one.
bool recordCount(const NmeaSentence& s, qint32* count)
{
    const QByteArray field = s.getString(1);
    bool ok = !field.isEmpty() && std::all_of(field.cbegin(), field.cend(),
                                              [](char c) { return c >= '0' && c <= '9'; });
    *count = ok ? field.toInt(&ok) : 0;
    return ok;
}

} // namespace

void PQVKComms::takeSettings(const NmeaSentence& answer)
{
    config.recLedOn = quint32(answer.getInt(1));
    config.videoLoggingInterval = quint32(answer.getInt(2));
    config.timeLapseInterval = quint32(answer.getInt(3));
    config.timeLapseTimeout = quint32(answer.getInt(4));
}

// The settings of a read must be values the unit can hold: a negative
// interval or a number the parser had to replace is no setting to show.
QString PQVKComms::takeCheckedSettings(const NmeaSentence& answer)
{
    constexpr qint64 any = std::numeric_limits<qint32>::max();
    QString problem;
    qint32 led = 0, video = 0, timeLapse = 0, timeout = 0, e1 = qint32(DefaultE1Version);
    // The LED flag is shown as the unit reports it, whatever number it is.
    checkedInt(answer, 1, "record LED", std::numeric_limits<qint32>::min(), any, &led, &problem);
    checkedInt(answer, 2, "video logging interval", 0, any, &video, &problem);
    checkedInt(answer, 3, "time-lapse interval", 0, any, &timeLapse, &problem);
    checkedInt(answer, 4, "time-lapse time-out", 0, any, &timeout, &problem);
    if (answer.fieldCount() >= 5)
        checkedInt(answer, 5, "E1 firmware version", 0, any, &e1, &problem);
    if (!problem.isEmpty())
        return problem;
    config.recLedOn = quint32(led);
    config.videoLoggingInterval = quint32(video);
    config.timeLapseInterval = quint32(timeLapse);
    config.timeLapseTimeout = quint32(timeout);
    config.e1FirmwareVersion = quint32(e1);
    return problem;
}

bool PQVKComms::getSettings()
{
    if (!requireOpen() || !sendCommand("GETSETTINGS"))
        return false;
    QString problem;
    const bool answered = awaitAnswer([this, &problem](const NmeaSentence& s) {
        if (!fieldStarts(s, 0, "$PQVKSETTINGS") || s.fieldCount() < 4)
            return false;
        problem = takeCheckedSettings(s);
        qInfo() << "PQVKSETTINGS response";
        return true;
    });
    return answered && valuesAccepted(problem);
}

bool PQVKComms::valuesAccepted(const QString& problem)
{
    valueRefused = !problem.isEmpty();
    if (problem.isEmpty())
        return true;
    lastError = problem;
    qWarning() << lastError;
    return false;
}

bool PQVKComms::getVersion()
{
    if (!requireOpen() || !sendCommand("VER"))
        return false;
    QString problem;
    const bool answered = awaitAnswer([this, &problem](const NmeaSentence& s) {
        if (fieldStarts(s, 0, "$PQVKMSG") && fieldStarts(s, 2, "PQVKVER") && s.fieldCount() >= 4) {
            config.firmware = QString::fromUtf8(s.getString(4));
            bool ok = false;
            config.date = s.getInt(1, &ok);
            if (!ok && problem.isEmpty())
                problem = QStringLiteral("The unit reported a value out of range for the clock: "
                                         "\"%1\".")
                              .arg(QString::fromLatin1(s.getString(1)));
            qInfo() << "PQVKVER response";
            return false; // the battery answer follows
        }
        if (fieldStarts(s, 0, "$PQVKBATTERY") && s.fieldCount() >= 1) {
            bool ok = false;
            const double volts = s.getDouble(1, &ok);
            config.battery = volts > 0.5 ? volts : 0.0;
            if (!ok && problem.isEmpty())
                problem = QStringLiteral("The unit reported a value out of range for the battery "
                                         "voltage: \"%1\".")
                              .arg(QString::fromLatin1(s.getString(1)));
            qInfo() << "PQVKBATTERY response";
            return true;
        }
        return false;
    });
    return answered && valuesAccepted(problem);
}

bool PQVKComms::readConfig()
{
    lastError.clear();
    bool version = false;
    for (int attempt = 0; attempt < ConfigAttempts && !version && !silentTooLong(); ++attempt)
        version = getVersion();
    bool settings = false;
    for (int attempt = 0; attempt < ConfigAttempts && !settings && !silentTooLong(); ++attempt)
        settings = getSettings();
    return version && settings;
}

bool PQVKComms::countData()
{
    lastError.clear();
    valueRefused = false;
    for (int attempt = 0; attempt < CountAttempts; ++attempt) {
        config.dataCount = 0;
        if (!requireOpen())
            return false;
        if (!sendCommand("NUMDUMP"))
            continue;
        QString problem;
        const bool counted = awaitAnswer([this, &problem](const NmeaSentence& s) {
            if (!fieldStarts(s, 0, "$PQVKNUMDATA") || s.fieldCount() < 1)
                return false;
            if (!recordCount(s, &config.dataCount))
                problem = QStringLiteral("Counting records: the unit's record count could not "
                                         "be read; it answered \"%1\".")
                              .arg(QString::fromLatin1(s.getString(1)));
            return true;
        });
        if (counted)
            return valuesAccepted(problem);
        if (silentTooLong())
            break;
    }
    return false;
}

bool PQVKComms::setConfig(uint secondsSinceEpochUtc, uint recLedOn, uint videoLoggingInterval,
                          uint timeLapseInterval, uint timeLapseTimeout, uint e1FirmwareVersion)
{
    lastError.clear();
    bool settingsSet =
        sendCommand("SETSETTINGS", {recLedOn, videoLoggingInterval, timeLapseInterval,
                                    timeLapseTimeout, e1FirmwareVersion});
    if (settingsSet) {
        settingsSet = awaitAnswer([this](const NmeaSentence& s) {
            if (!fieldStarts(s, 0, "$PQVKSETTINGS") || s.fieldCount() < 4)
                return false;
            takeSettings(s);
            qInfo() << "PQVKSETTINGS response";
            return true;
        });
    }
    // The clock is set even when the settings step failed.
    if (!sendCommand("SETRTC", {secondsSinceEpochUtc}))
        return false;
    const bool clockSet = awaitAnswer([](const NmeaSentence& s) {
        if (fieldStarts(s, 0, "$PQVKCLOCK") && fieldStarts(s, 8, "A")) {
            qInfo() << "PQVKCLOCK response";
            return true;
        }
        if (fieldStarts(s, 0, "$PQVKMSG") && fieldIs(s, 4, "TIME SET")) {
            qInfo() << "PQVKMSG TIME SET response";
            return true;
        }
        return false;
    });
    return settingsSet && clockSet;
}

bool PQVKComms::readData(QStringList& resultStrings)
{
    const RecordDownload records = download();
    if (!records.isWhole())
        return false;
    resultStrings.reserve(resultStrings.size() + records.count());
    for (int i = 0; i < records.count(); ++i)
        resultStrings.append(QString::fromLatin1(records.line(i)));
    return true;
}

RecordDownload PQVKComms::download()
{
    lastError.clear();
    RecordDownload records(config.dataCount);
    if (!sendCommand("DUMP")) {
        records.fail(QStringLiteral("the request could not be sent"));
        lastError = asSentence(records.summary());
        return records;
    }
    // The unit has this long for each record; lines that are no record do
    // not buy it more time.
    QDeadlineTimer recordDeadline(waits.recordMs);
    QElapsedTimer sinceReport;
    qint64 lastReportMs = std::numeric_limits<qint64>::min() / 2;
    int linesBeforeRecords = 0;
    int unusualLogged = 0;
    bool anything = false;
    bool silent = false;
    auto logUnusual = [&](const QByteArray& line) {
        // A unit that babbles must not bury the log.
        if (unusualLogged < UnusualLinesLogged)
            logReceived(QString::fromLatin1(line));
        else if (unusualLogged == UnusualLinesLogged)
            qWarning("Download: further lines that are no record are not logged");
        ++unusualLogged;
    };

    QByteArray partial; // a line whose wait a look for a stop cut short
    for (;;) {
        if (stopRequested && stopRequested()) {
            records.setStopped();
            break;
        }
        QDeadlineTimer wait = recordDeadline;
        const QDeadlineTimer poll(StopPollMs);
        if (stopRequested && poll < recordDeadline)
            wait = poll;
        QByteArray line = port.readLine(wait, MaxLineBytes - partial.size());
        if (!partial.isEmpty()) {
            partial.append(line);
            line = partial;
        }
        if (!line.endsWith('\n') && line.size() < MaxLineBytes && wait.hasExpired() &&
            !recordDeadline.hasExpired()) {
            partial = QByteArray(line.constData(), line.size()); // the port's bytes move on
            continue;
        }
        partial.clear();
        anything = anything || !line.isEmpty();
        if (!line.endsWith('\n')) {
            if (line.size() >= MaxLineBytes) {
                logUnusual(line);
                records.fail(
                    QStringLiteral("the unit sent a line longer than %1 bytes").arg(MaxLineBytes));
            } else if (!recordDeadline.hasExpired()) {
                records.fail(
                    QStringLiteral("port %1 failed or the unit was disconnected").arg(openedName));
            } else if (!anything) {
                silent = true;
                records.fail(QStringLiteral("no answer on port %1").arg(openedName));
            } else {
                records.fail(QStringLiteral("the unit sent no record for %1 s")
                                 .arg(waits.recordMs / 1000.0));
            }
            break;
        }
        const NmeaSentence sentence(line);
        if (!sentence.verifyChecksum()) {
            records.addGarbledLine();
            logUnusual(line);
        } else {
            heard();
            if (fieldStarts(sentence, 0, "$PQVKDATA") && sentence.fieldCount() >= 1) {
                const qint32 number = sentence.getInt(1);
                if (number <= 0) { // not a record of the log
                    logUnusual(line);
                    continue;
                }
                if (records.count() == 0)
                    logReceived(QString::fromLatin1(line));
                if (!records.addRecord(line, number, DataRecord::opensDataset(sentence)))
                    break;
                // One look at the clock per record serves both the next
                // record's deadline and the progress report.
                sinceReport.restart();
                recordDeadline.setDeadline(sinceReport.msecsSinceReference() + waits.recordMs);
                if (sinceReport.msecsSinceReference() - lastReportMs >= ProgressIntervalMs) {
                    lastReportMs = sinceReport.msecsSinceReference();
                    emit recordsReceived(records.count(), records.announced());
                }
                continue;
            }
            if (fieldStarts(sentence, 0, "$PQVKMSG") && fieldStarts(sentence, 4, "DATA END")) {
                logReceived(QString::fromLatin1(line));
                records.setEnded();
                qInfo() << "All data read";
                break;
            }
            logUnusual(line);
        }
        if (records.count() == 0 && ++linesBeforeRecords >= MaxReads) {
            records.fail(QStringLiteral("no record among the first %1 lines").arg(MaxReads));
            break;
        }
    }
    if (records.count() > 1 && QLoggingCategory::defaultCategory()->isInfoEnabled())
        qInfo() << "Download: last record"
                << QString::fromLatin1(records.line(records.count() - 1));
    if (records.count() > 0)
        emit recordsReceived(records.count(), records.announced());

    qInfo().noquote() << QStringLiteral("Download: %1 of %2 records")
                             .arg(records.count())
                             .arg(records.announced());
    if (records.isWhole() && !records.gaps().isEmpty())
        qInfo().noquote() << QStringLiteral("Download: the unit's numbers skip (%1); every "
                                            "announced record arrived.")
                                 .arg(records.gaps().join(QStringLiteral("; ")));
    if (!records.isWhole()) {
        // Silence, or nothing but other sentences: the unit did not take the
        // request (the log names which).
        lastError = records.count() == 0 && (silent || linesBeforeRecords >= MaxReads)
                        ? QString::fromLatin1(CommunicationError)
                        : asSentence(records.summary());
        qWarning() << "Download:" << records.summary();
    }
    return records;
}

bool PQVKComms::eraseData()
{
    lastError.clear();
    if (!sendCommand("FORMAT"))
        return false;
    return awaitAnswer(
        [](const NmeaSentence& s) {
            if (!fieldIs(s, 0, "$PQVKMSG") || !fieldIs(s, 2, "PQVKFORMAT") ||
                !fieldIs(s, 4, "COMPLETE"))
                return false;
            qInfo() << "PQVKFORMAT response";
            return true;
        },
        Wait::SlowAnswer);
}

bool PQVKComms::off()
{
    lastError.clear();
    if (!sendCommand("OFF"))
        return false;
    return awaitAnswer([](const NmeaSentence& s) {
        return fieldStarts(s, 0, "$PQVKMSG") && fieldIs(s, 3, "POWER OFF");
    });
}

bool PQVKComms::beep()
{
    return sendCommand("BEEP");
}

bool PQVKComms::reboot()
{
    lastError.clear();
    if (!sendCommand("REBOOT"))
        return false;
    return awaitAnswer([](const NmeaSentence& s) {
        if (!fieldStarts(s, 0, "$PQVKMSG") || !fieldStarts(s, 3, "BOOT"))
            return false;
        qInfo() << "PQVKMSG response";
        return true;
    });
}

bool PQVKComms::reset()
{
    lastError.clear();
    if (!sendCommand("FACTORYSETTINGS"))
        return false;
    return awaitAnswer(
        [this](const NmeaSentence& s) {
            if (!fieldStarts(s, 0, "$PQVKSETTINGS") || s.fieldCount() < 4)
                return false;
            takeSettings(s);
            qInfo() << "PQVKSETTINGS response";
            return true;
        },
        Wait::SlowAnswer);
}

bool PQVKComms::setTime(uint secondsSinceEpochUtc)
{
    lastError.clear();
    if (!sendCommand("SETRTC", {secondsSinceEpochUtc}))
        return false;
    return awaitAnswer([](const NmeaSentence& s) {
        if (!fieldStarts(s, 0, "$PQVKCLOCK") || !fieldStarts(s, 8, "A"))
            return false;
        qInfo() << "PQVKCLOCK response";
        return true;
    });
}
