#include "cli/qvkctl.h"

#include "cli/livelines.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

using QvkCtlArguments::programName;

int QvkCtl::usageError(const QString& what)
{
    printLine(programName() + QStringLiteral(": ") + what);
    printLine(QStringLiteral("Run '%1 --help' for the commands.").arg(programName()));
    return UsageError;
}

int QvkCtl::refuse(const QString& why)
{
    printLine(programName() + QStringLiteral(": ") + why);
    return UsageError;
}

int QvkCtl::fail(const QString& what)
{
    printLine(programName() + QStringLiteral(": ") + what);
    return Failure;
}

void QvkCtl::printLine(const QString& line)
{
    if (live) {
        live->print(line);
        return;
    }
    err << line << '\n';
    err.flush();
}

void QvkCtl::printJson(const QJsonDocument& document)
{
    out << QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    out.flush();
}

int QvkCtl::printTable(const QVector<QStringList>& rows, const QStringList& jsonKeys)
{
    QJsonArray array;
    for (const QStringList& fields : rows) {
        QJsonObject object;
        for (int i = 0; i < jsonKeys.size(); ++i)
            object.insert(jsonKeys.at(i), fields.value(i));
        array.append(object);
        if (!json)
            out << fields.join(QLatin1Char('\t')) << '\n';
    }
    if (json)
        printJson(QJsonDocument(array));
    out.flush();
    return Success;
}

void QvkCtl::printSettings(const QVariantList& values)
{
    static const char* const names[] = {"firmware",
                                        "battery",
                                        "date",
                                        "recLedOn",
                                        "videoLoggingInterval",
                                        "timelapseInterval",
                                        "timelapseTimeout",
                                        "e1FirmwareVersion"};
    QJsonObject object;
    for (int i = 0; i < values.size() && i < 8; ++i) {
        object.insert(QLatin1String(names[i]), QJsonValue::fromVariant(values.at(i)));
        if (!json)
            out << names[i] << '=' << values.at(i).toString() << '\n';
    }
    if (json)
        printJson(QJsonDocument(object));
    out.flush();
}

bool QvkCtl::showLive(int channel, const Report& report)
{
    if (channel == 0) {
        // The records of a data export: one line that counts them.
        if (!report.countsRecords) {
            if (!records.isEmpty()) // its last count stays, above what follows
                live->setLine(0, records);
            records.clear();
            live->retire();
            return false;
        }
        records = QStringLiteral("Receiving records: %1 of %2 (%3%)")
                      .arg(recordsReceived)
                      .arg(recordsAnnounced)
                      .arg(recordsAnnounced > 0 ? recordsReceived * 100 / recordsAnnounced : 0);
        // The export reports about ten times a second, so each is drawn.
        live->setLine(0, records);
        return true;
    }
    if (!liveImport)
        return false;
    // A card of an import: its line shows its figures and its last report.
    CardLine& line = cardLines[channel - 1];
    line.text = report.text;
    line.done = report.value >= report.to;
    // A trouble on the way stays on the screen, above the lines: display
    // only, the card's outcome decides the exit status.
    if (!line.done && (report.text.startsWith(QLatin1String("Error")) ||
                       report.text.startsWith(QLatin1String("Warning"))))
        live->print(QStringLiteral("[card %1] %2").arg(channel).arg(report.text));
    showCard(channel);
    if (std::all_of(std::begin(cardLines), std::end(cardLines),
                    [](const CardLine& c) { return c.done; }))
        live->retire();
    return true;
}

void QvkCtl::showCard(int card)
{
    const CardLine& line = cardLines[card - 1];
    const QString figures = line.meter.text();
    // The card's own paths need no folder: the line has room for the file.
    QString text = line.text;
    if (!line.root.isEmpty())
        text.replace(line.root + QLatin1Char('/'), QString());
    live->setLine(card - 1, QStringLiteral("[card %1] %2%3%4")
                                .arg(card)
                                .arg(figures)
                                .arg(figures.isEmpty() ? QString() : QStringLiteral("  "))
                                .arg(text));
}
