#include "base/outcome.h"

namespace {

struct Count
{
    const char* name;
    qint64 Outcome::*wide;
    int Outcome::*narrow;
};

const Count counts[] = {
    {"videos", nullptr, &Outcome::videos},
    {"videosCopied", nullptr, &Outcome::videosCopied},
    {"photos", nullptr, &Outcome::photos},
    {"photosCopied", nullptr, &Outcome::photosCopied},
    {"alreadyImported", nullptr, &Outcome::alreadyImported},
    {"unreadable", nullptr, &Outcome::unreadable},
    {"unrecorded", nullptr, &Outcome::unrecorded},
    {"unverified", nullptr, &Outcome::unverified},
    {"records", &Outcome::records, nullptr},
    {"recordsWritten", &Outcome::recordsWritten, nullptr},
    {"files", nullptr, &Outcome::files},
};

const Outcome::Status statuses[] = {Outcome::Status::Succeeded, Outcome::Status::Incomplete,
                                    Outcome::Status::Refused, Outcome::Status::Stopped,
                                    Outcome::Status::Failed};

} // namespace

QString Outcome::statusName(Status status)
{
    switch (status) {
    case Status::Succeeded:
        return QStringLiteral("succeeded");
    case Status::Incomplete:
        return QStringLiteral("incomplete");
    case Status::Refused:
        return QStringLiteral("refused");
    case Status::Stopped:
        return QStringLiteral("stopped");
    case Status::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QVariantMap Outcome::toVariant() const
{
    QVariantMap map;
    map.insert(QStringLiteral("status"), statusName(status));
    map.insert(QStringLiteral("reason"), reason);
    for (const Count& count : counts) {
        map.insert(QLatin1String(count.name),
                   count.wide ? QVariant(this->*count.wide) : QVariant(this->*count.narrow));
    }
    if (!destinations.isEmpty()) {
        QVariantList list;
        for (const Destination& d : destinations)
            list << QVariantMap{{QStringLiteral("path"), d.path},
                                {QStringLiteral("videosCopied"), d.videosCopied},
                                {QStringLiteral("photosCopied"), d.photosCopied},
                                {QStringLiteral("unrecorded"), d.unrecorded}};
        map.insert(QStringLiteral("destinations"), list);
    }
    return map;
}

Outcome Outcome::fromVariant(const QVariant& value)
{
    const QVariantMap map = value.toMap();
    Outcome outcome; // an unknown status reads as a failure
    const QString name = map.value(QStringLiteral("status")).toString();
    for (Status status : statuses) {
        if (statusName(status) == name)
            outcome.status = status;
    }
    outcome.reason = map.value(QStringLiteral("reason")).toString();
    for (const Count& count : counts) {
        const QVariant v = map.value(QLatin1String(count.name));
        if (count.wide)
            outcome.*count.wide = v.toLongLong();
        else
            outcome.*count.narrow = v.toInt();
    }
    for (const QVariant& entry : map.value(QStringLiteral("destinations")).toList()) {
        const QVariantMap d = entry.toMap();
        outcome.destinations.append({d.value(QStringLiteral("path")).toString(),
                                     d.value(QStringLiteral("videosCopied")).toInt(),
                                     d.value(QStringLiteral("photosCopied")).toInt(),
                                     d.value(QStringLiteral("unrecorded")).toInt()});
    }
    return outcome;
}
