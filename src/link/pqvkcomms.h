#pragma once

#include "pqvkconfig.h"
#include "winserialport.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

// Protocol client of the controller unit: sends "$PQVK" sentences, waits for
// the matching answers and keeps what the unit reported in `config`.
class PQVKComms : public QObject
{
    Q_OBJECT

public:
    explicit PQVKComms(QObject* parent = nullptr);
    ~PQVKComms() override;

    bool writeLine(const QString& sentence);
    QString readLine(int waitMs, int maxLines);

    WinSerialPort port;
    PQVKConfig config;
    QString lastError;

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
    bool readData(QStringList& resultStrings);
    bool eraseData();
    bool off();
    bool beep();
    bool reboot();
    bool reset();
    bool setTime(uint secondsSinceEpochUtc);
};
