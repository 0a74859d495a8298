#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// A stand-in for the rig's controller unit on the far side of a serial link.
//
// It opens the master side of a pseudo-terminal, serves it on a thread of its
// own and answers the "$PQVK" commands the way the unit does, with correct
// checksums. Clients open portPath() as an ordinary serial port.
//
//     ControllerSimulator sim;
//     QVERIFY(sim.start());
//     sim.setBattery(3.9);
//     PQVKComms comms;
//     QVERIFY(comms.open(sim.portPath()));
//     ...
//     QCOMPARE(sim.receivedCount("PQVKVER"), 1);
//
// Answers (fields after the sentence name, "clock" is the unit's clock):
//   PQVKBEEP              no answer
//   PQVKVER               $PQVKMSG,clock,PQVKVER,VERSION,firmware  then $PQVKBATTERY,volts
//   PQVKGETSETTINGS       $PQVKSETTINGS,recLedOn,videoMs,timeLapseMs,timeLapseTimeoutMin[,e1]
//   PQVKSETSETTINGS,a..e  stores the five values, answers like PQVKGETSETTINGS
//   PQVKFACTORYSETTINGS   restores 1,1000,5000,60 (E1 kept), answers like PQVKGETSETTINGS
//   PQVKSETRTC,secs       sets the clock, $PQVKCLOCK,Y,M,D,h,m,s,0,A (UTC)
//   PQVKNUMDUMP           $PQVKNUMDATA,records held
//   PQVKDUMP              every record sentence, then $PQVKMSG,clock,PQVKDUMP,DUMP,DATA END
//   PQVKFORMAT            erases the records, $PQVKMSG,clock,PQVKFORMAT,FORMAT,COMPLETE
//   PQVKOFF               $PQVKMSG,clock,PQVKOFF,POWER OFF,BYE
//   PQVKREBOOT            $PQVKMSG,clock,PQVKREBOOT,BOOTING,RESTART
// A command whose checksum does not verify, or that the unit does not know,
// is recorded but not answered. The clock does not run on its own, so answers
// are the same in every run.
//
// Every setter may be called at any time, also while a client is talking; it
// applies from the next command on. Thread-safe throughout.
class ControllerSimulator
{
public:
    ControllerSimulator();
    ~ControllerSimulator(); // stops serving and closes the device

    // Opens the pseudo-terminal and starts serving. False when no terminal
    // could be made (the reason goes to qWarning).
    bool start();
    // Stops serving and closes the device; clients then see it vanish.
    void stop();
    // The device path that clients open, e.g. "/dev/pts/7"; empty before start().
    QString portPath() const;

    // --- behaviour switches ---
    void setSilent(bool silent);           // read commands, answer nothing
    void setGarbleChecksums(bool garble);  // built answers carry a wrong checksum
    void setUnrelatedBefore(int count);    // this many unrelated sentences before each answer
    void setAnswerDelay(int milliseconds); // every answer (and a dump) starts this late
    // The answer to this one command (name without "$") starts this late
    // instead; a slow erase, say. A negative delay restores the common one.
    void setAnswerDelay(const QByteArray& command, int milliseconds);
    void setReportE1(bool report);            // settings answers carry the E1 field (default true)
    void setBattery(double volts);            // default 3.9
    void setClock(qint64 secondsSinceEpoch);  // default 1600000000
    void setFirmware(const QString& version); // default "2.4.1"
    // recLedOn, video logging ms, time-lapse ms, time-lapse time-out minutes, E1 version.
    void setSettings(quint32 recLedOn, quint32 videoMs, quint32 timeLapseMs,
                     quint32 timeLapseTimeoutMin, quint32 e1);
    // Replaces the answer to one command (name without "$", e.g. "PQVKFORMAT")
    // by these lines, sent exactly as given (CR LF added where missing); use
    // sentence() to build well-formed ones. An empty list restores the default.
    void setReply(const QByteArray& command, const QList<QByteArray>& lines);

    // --- records ---
    // Holds `datasets` datasets, each a start record followed by `records`
    // records (see datasetRecords()). Replaces any earlier records.
    void setDatasets(int datasets, int records);
    // Holds exactly these record lines (CR LF added where missing).
    void setRecordLines(const QList<QByteArray>& lines);
    // Records per second during a dump; 0 (default) sends as fast as the link takes.
    void setStreamRate(int recordsPerSecond);
    // During a dump, close the device after this many records; -1 (default) never.
    void setVanishAfter(int records);
    // NUMDUMP announces this many records instead of those held; -1 (default)
    // announces the truth.
    void setAnnouncedCount(int records);
    // Damage to the first `dumps` dumps (-1: every dump): the records at these
    // positions (from 0) go out with a wrong checksum, or not at all.
    void setDumpDamage(const QList<int>& garbled, const QList<int>& dropped, int dumps = -1);
    // What a dump sends after `afterRecords` records instead of the rest and
    // its end message. Endless tails go on until the next command arrives.
    enum class DumpTail
    {
        End,            // the rest and the end message (default)
        Silence,        // nothing more
        StatusLines,    // a status sentence every 20 ms
        Garbage,        // lines of random bytes, as fast as the link takes
        EndlessRecords, // records numbered on without end
        EndlessLine     // bytes without any line feed
    };
    void setDumpTail(DumpTail tail, int afterRecords = 0);
    // Record lines held right now (NUMDUMP reports their count).
    int recordCount() const;

    // --- direct actions ---
    void sendRaw(const QByteArray& bytes); // queued behind anything still unsent
    void vanish();                         // close the device now, as an unplugged unit

    // --- what the unit received ---
    // Every command line received, without its line end, in arrival order.
    QStringList receivedCommands() const;
    // The same lines exactly as they came, line ends included.
    QList<QByteArray> receivedLines() const;
    // How many commands of that name arrived (name without "$", e.g. "PQVKVER").
    int receivedCount(const QByteArray& name) const;
    void clearReceived();
    // Waits until at least `count` commands have arrived; false on time-out.
    bool waitForCommands(int count, int timeoutMs) const;

    // --- helpers ---
    // "$" + body + "*" + two upper-case hex digits + CR LF.
    static QByteArray sentence(const QByteArray& body);
    // The deterministic record lines of setDatasets(datasets, records):
    // record ids count from 1; dataset d (from 0) starts at
    // 1600000000 + d * 100000 (flags 1, full timestamp); its record k (from 1)
    // has flags 10 ("v") for odd k and 18 ("p") for even k, the low 16 bits of
    // start + 2 * k as timestamp, and readings depth k * 0.5,
    // temperature 20 + (k % 8) * 0.25, heading (k * 7) % 360, roll -1.5,
    // pitch 2.25, sixth 0.
    static QList<QByteArray> datasetRecords(int datasets, int records);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
