#pragma once

#include "link/pqvkconfig.h"
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
    // Up to maxLines port lines, until one ends in a line feed. Each port read
    // waits at most waitMs; a read that brings nothing ends the call.
    QString readLine(int waitMs, int maxLines);

    // The candidate ports among those listed: each logged, those whose location
    // marks a modem, phone or Bluetooth link left out, in the order given.
    static QVariantList deviceEntries(const QList<SerialPortEntry>& ports);

    WinSerialPort port;
    PQVKConfig config;
    QString lastError;

    // Wait per read of an answer, and per read during the dataset download.
    int commandWaitMs = 2000;
    int downloadWaitMs = 10000;

signals:
    void newMessage(QString message);

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
    // Appends one line per record. False when nothing came within four reads,
    // or when the unit fell silent or vanished before the end message; then
    // the list keeps nothing from this call.
    bool readData(QStringList& resultStrings);
    bool eraseData();
    bool off();
    bool beep();
    bool reboot();
    bool reset();
    bool setTime(uint secondsSinceEpochUtc);

private:
    QByteArray readPortLines(int waitMs, int maxLines);
    bool sendCommand(const char* type, std::initializer_list<quint32> fields = {});
    bool awaitAnswer(const std::function<bool(const NmeaSentence&)>& accept);
    bool requireOpen();
    void communicationError();
    void takeSettings(const NmeaSentence& answer);
    // Empty when every value of the answer is one the unit can hold; then they
    // are taken into `config`. Otherwise what is wrong, and nothing is taken.
    QString takeCheckedSettings(const NmeaSentence& answer);
    // False with `problem` as the last error (logged) when there is one.
    bool valuesAccepted(const QString& problem);
};
