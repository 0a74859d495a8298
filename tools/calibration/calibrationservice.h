#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

// A small HTTP server on the loopback interface that answers
//     GET /api/v1/vazizidadu/calibration/<percent-encoded serial>
// with {"success": true, "data": {...}, "message": "..."} for a known serial
// and {"success": false, "message": "..."} otherwise. Each connection carries
// one request and is closed after the answer.
class CalibrationService : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
    };

    explicit CalibrationService(QObject* parent = nullptr);

    // Listens on 127.0.0.1; port 0 takes any free port.
    bool listen(quint16 port = 0);
    // "http://127.0.0.1:<port>" once listening.
    QUrl baseUrl() const;
    Q_INVOKABLE QString address() const { return baseUrl().toString(); }
    QString errorString() const;

    // Known calibrations: an object whose members are serial numbers, each
    // holding the calibration members the service returns as "data".
    void setCalibrations(const QJsonObject& bySerial);
    // Reads the calibrations from a JSON file; false (with a reason) when the
    // file cannot be read or is not such an object.
    bool loadFile(const QString& path, QString* error = nullptr);
    // Makes the service answer this serial with the given status and body as
    // is, e.g. an error page, to try how a client copes with it.
    void setVerbatimResponse(const QString& serial, int status, const QByteArray& body);

    // The answer to one request line's method and target; no I/O.
    Response answer(const QByteArray& method, const QByteArray& target) const;

    // Request targets received so far, in arrival order, as sent.
    Q_INVOKABLE QStringList requestTargets() const { return targets; }

signals:
    void requestServed(const QString& target, int status);

private:
    void serve(class QTcpSocket* socket);

    QTcpServer server;
    QJsonObject calibrations;
    QHash<QString, Response> verbatim;
    QStringList targets;
};
