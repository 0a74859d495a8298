#pragma once

#include "link/pqvkconfig.h"
#include "link/recorddownload.h"
#include "link/unitwaits.h"
#include "link/winserialport.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class NmeaSentence;

// What the platform reports about one serial port.
struct SerialPortEntry
{
    QString name;
    QString description;
    QString location;
    QString manufacturer;
    QString serial;
};

// Protocol client of the controller unit: sends "$PQVK" sentences, waits for
// the matching answers and keeps what the unit reported in `config`.
class PQVKComms : public QObject
{
    Q_OBJECT

public:
    explicit PQVKComms(QObject* parent = nullptr);
    ~PQVKComms() override;

    bool writeLine(const QString& sentence);
    // Up to maxLines port lines, until one ends in a line feed; each port
    // line may take waitMs. What came by then (possibly nothing).
    QString readLine(int waitMs, int maxLines);

    // The candidate ports among those listed: each logged, those whose location
    // marks a modem, phone or Bluetooth link left out, in the order given.
    static QVariantList deviceEntries(const QList<SerialPortEntry>& ports);
    // What tells this unit from others across runs: the USB serial number of
    // the port (with its vendor and product ids) where the device list gives
    // one, else the port's canonical device path (the name on Windows).
    static QString unitIdentity(const QString& port);

    WinSerialPort port;
    PQVKConfig config;
    QString lastError;
    // The last command failed because the unit answered with a value it
    // cannot mean (a negative count, a number that does not convert), not
    // because it was silent: what depends on that value must not go on.
    bool valueRefused = false;

    UnitWaits waits = UnitWaits::defaults();
    // Asked from the downloading thread; may be empty.
    std::function<bool()> stopRequested;
    // The unit said something valid since the port was opened.
    bool hasAnswered() const { return answered; }
    // It was waited for and said nothing valid at all: a silent unit.
    bool foundSilent() const { return !answered && unansweredMs > 0; }
    // Why the last open failed.
    PortOpenError::Reason openFailure = PortOpenError::CannotOpen;
    // The longest line the unit may send; anything longer is garbage.
    static constexpr int MaxLineBytes = 512;

    // Sends "$PQVKDUMP" and takes the records until the end message, checking
    // them against `config.dataCount` (set by countData). Ends early when no
    // record comes within the record wait, when more records come than were
    // announced, or when a line runs longer than MaxLineBytes. A dump that is
    // not whole leaves its summary in lastError. Ends, stopped, at the next
    // record or within a fraction of a second once `stopRequested` says so.
    RecordDownload download();
    // Drops what the unit still sends of an earlier answer until the port has
    // been quiet for a moment; false when it never went quiet.
    bool settle() { return port.settle(waits.settleMs, QDeadlineTimer(waits.settleLimitMs)); }

signals:
    void newMessage(QString message);
    // During a download, about ten times a second and once at its end.
    void recordsReceived(int received, qint64 announced);

public slots:
    bool open(QString name);
    bool isOpen();
    void close();
    bool getSettings();
    bool getVersion();
    QVariantList getDevices();
    bool readConfig();
    bool countData();
    bool setConfig(uint secondsSinceEpochUtc, uint recLedOn, uint videoLoggingInterval,
                   uint timeLapseInterval, uint timeLapseTimeout, uint e1FirmwareVersion);
    // download(), appending one line per record when the dump is whole. False,
    // and nothing appended, for any other dump.
    bool readData(QStringList& resultStrings);
    bool eraseData();
    bool off();
    bool beep();
    bool reboot();
    bool reset();
    bool setTime(uint secondsSinceEpochUtc);

private:
    enum class Wait
    {
        Answer,    // an ordinary command
        SlowAnswer // the unit answers only once it has done the work
    };

    QByteArray readPortLines(QDeadlineTimer deadline, int maxLines);
    bool sendCommand(const char* type, std::initializer_list<quint32> fields = {});
    bool awaitAnswer(const std::function<bool(const NmeaSentence&)>& accept,
                     Wait wait = Wait::Answer);
    bool requireOpen();
    void communicationError();
    // Nothing came back at all: the usual error, and the log names the port.
    void noAnswer();
    // The time spent waiting on the unit since it last said something valid
    // reached the silence limit: retries are pointless.
    bool silentTooLong() const { return unansweredMs >= qint64(waits.silenceMs); }
    // The wait for an ordinary answer, cut short where the silence limit ends it.
    QDeadlineTimer answerDeadline() const;
    void heard()
    {
        unansweredMs = 0;
        answered = true;
    }
    void takeSettings(const NmeaSentence& answer);
    // Empty when every value of the answer is one the unit can hold; then they
    // are taken into `config`. Otherwise what is wrong, and nothing is taken.
    QString takeCheckedSettings(const NmeaSentence& answer);
    // False with `problem` as the last error (logged) when there is one.
    bool valuesAccepted(const QString& problem);

    QString openedName;
    qint64 unansweredMs = 0;
    bool answered = false;
};
