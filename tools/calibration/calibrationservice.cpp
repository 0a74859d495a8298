#include "calibration/calibrationservice.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTcpSocket>

namespace {

const QByteArray requestPrefix = "/api/v1/vazizidadu/calibration/";
// A request whose header grows beyond this is not one of ours.
const int maxHeaderBytes = 16 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

CalibrationService::Response jsonResponse(int status, const QJsonObject& object)
{
    CalibrationService::Response response;
    response.status = status;
    response.contentType = "application/json";
    response.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return response;
}

CalibrationService::Response failure(int status, const QString& message)
{
    return jsonResponse(status, {{"success", false}, {"message", message}});
}

QByteArray httpMessage(const CalibrationService::Response& response)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                       reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    return bytes + response.body;
}

} // namespace

CalibrationService::CalibrationService(QObject* parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection())
            serve(socket);
    });
}

bool CalibrationService::listen(quint16 port)
{
    return server.listen(QHostAddress::LocalHost, port);
}

QUrl CalibrationService::baseUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(server.serverPort());
    return url;
}

QString CalibrationService::errorString() const
{
    return server.errorString();
}

void CalibrationService::setCalibrations(const QJsonObject& bySerial)
{
    calibrations = bySerial;
}

bool CalibrationService::loadFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError
                         ? parseError.errorString()
                         : QStringLiteral("the file does not hold a JSON object");
        return false;
    }
    calibrations = document.object();
    return true;
}

void CalibrationService::setVerbatimResponse(const QString& serial, int status,
                                             const QByteArray& body)
{
    Response response;
    response.status = status;
    response.contentType = "text/html";
    response.body = body;
    verbatim.insert(serial, response);
}

CalibrationService::Response CalibrationService::answer(const QByteArray& method,
                                                        const QByteArray& target) const
{
    if (method != "GET")
        return failure(405, QStringLiteral("Only GET is served."));
    // A query or a further path segment is no serial of ours.
    if (!target.startsWith(requestPrefix) || target.contains('?') || target.contains('#'))
        return failure(404, QStringLiteral("Not found."));
    const QByteArray encoded = target.mid(requestPrefix.size());
    if (encoded.isEmpty() || encoded.contains('/'))
        return failure(404, QStringLiteral("Not found."));

    const QString serial = QUrl::fromPercentEncoding(encoded);
    const auto asIs = verbatim.constFind(serial);
    if (asIs != verbatim.constEnd())
        return asIs.value();
    const QJsonValue data = calibrations.value(serial);
    if (!data.isObject())
        return failure(
            404, QStringLiteral("No calibration is known for the serial number %1.").arg(serial));
    return jsonResponse(
        200, {{"success", true},
              {"data", data},
              {"message", QStringLiteral("Calibration for serial number %1 found.").arg(serial)}});
}

void CalibrationService::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket->property("answered").toBool())
            return;
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        Response response;
        QByteArray target;
        const int headerEnd = request.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (request.size() <= maxHeaderBytes) {
                socket->setProperty("request", request);
                return;
            }
            response = failure(431, QStringLiteral("Request too large."));
        } else {
            const QList<QByteArray> parts = request.left(request.indexOf("\r\n")).split(' ');
            if (parts.size() != 3 || !parts.at(2).startsWith("HTTP/")) {
                response = failure(400, QStringLiteral("Bad request."));
            } else {
                target = parts.at(1);
                response = answer(parts.at(0), target);
            }
        }
        socket->setProperty("answered", true);
        targets << QString::fromLatin1(target);
        qInfo().noquote() << "Calibration request" << target << "->" << response.status;
        socket->write(httpMessage(response));
        socket->disconnectFromHost();
        emit requestServed(QString::fromLatin1(target), response.status);
    });
}
