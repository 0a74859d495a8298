#include "settings/unitsettings.h"

#include <QVariantList>

#include <cmath>

namespace {

UnitSettingMeta choice(const char* name, const char* label, double defaultValue,
                       const QVector<int>& choices, const QStringList& texts = {})
{
    UnitSettingMeta meta;
    meta.name = QLatin1String(name);
    meta.label = QLatin1String(label);
    meta.defaultValue = defaultValue;
    meta.minimum = choices.first();
    meta.maximum = choices.last();
    meta.choices = choices;
    meta.choiceTexts = texts;
    return meta;
}

UnitSettingMeta range(const char* name, const char* label, const char* unit, const char* symbol,
                      double defaultValue, double minimum, double maximum, double step)
{
    UnitSettingMeta meta;
    meta.name = QLatin1String(name);
    meta.label = QLatin1String(label);
    meta.unit = QLatin1String(unit);
    meta.unitSymbol = QLatin1String(symbol);
    meta.defaultValue = defaultValue;
    meta.minimum = minimum;
    meta.maximum = maximum;
    meta.step = step;
    return meta;
}

} // namespace

bool UnitSettingMeta::validate(const QString& name, const QString& text, double* value,
                               QString* problem) const
{
    const QString given = text.trimmed();
    if (choices.isEmpty()) {
        bool number = false;
        const double parsed = given.toDouble(&number);
        if (!validate(name, number ? parsed : std::nan(""), problem))
            return false;
        *value = parsed;
        return true;
    }
    // Only a choice as it is written: "29.0" is none.
    for (int choice : choices) {
        if (given == QString::number(choice)) {
            *value = choice;
            return true;
        }
    }
    *problem = QStringLiteral("%1 must be %2, not '%3'").arg(name, rangeText(), given);
    return false;
}

bool UnitSettingMeta::validate(const QString& name, double value, QString* problem) const
{
    if (choices.isEmpty()) {
        if (std::isfinite(value) && value >= minimum && value <= maximum)
            return true;
        *problem = QStringLiteral("%1 must be a number of %2 from %3 to %4")
                       .arg(name, unit, QString::number(minimum), QString::number(maximum));
        return false;
    }
    for (int choice : choices) {
        if (value == choice)
            return true;
    }
    *problem =
        QStringLiteral("%1 must be %2, not '%3'").arg(name, rangeText(), QString::number(value));
    return false;
}

QString UnitSettingMeta::rangeText() const
{
    if (choices.isEmpty())
        return QStringLiteral("%1-%2 %3")
            .arg(QString::number(minimum), QString::number(maximum), unitSymbol);
    QStringList texts;
    for (int choice : choices)
        texts << QString::number(choice);
    const QString last = texts.takeLast();
    return texts.isEmpty() ? last
                           : texts.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QVariantMap UnitSettingMeta::toVariantMap() const
{
    QVariantList values;
    for (int choice : choices)
        values << choice;
    return {{QStringLiteral("defaultValue"), defaultValue},
            {QStringLiteral("minimum"), minimum},
            {QStringLiteral("maximum"), maximum},
            {QStringLiteral("step"), step},
            {QStringLiteral("unit"), unit},
            {QStringLiteral("choices"), values},
            {QStringLiteral("choiceTexts"), choiceTexts}};
}

namespace UnitSettings {

const UnitSettingMeta& recLedOn()
{
    static const UnitSettingMeta meta = choice("recLedOn", "record LED", 1, {0, 1});
    return meta;
}

const UnitSettingMeta& videoLoggingInterval()
{
    static const UnitSettingMeta meta =
        range("videoLoggingInterval", "video interval", "seconds", "s", 1, 0.2, 10, 0.1);
    return meta;
}

const UnitSettingMeta& timelapseInterval()
{
    static const UnitSettingMeta meta =
        range("timelapseInterval", "photo interval", "seconds", "s", 5, 5, 120, 1);
    return meta;
}

const UnitSettingMeta& timelapseTimeout()
{
    static const UnitSettingMeta meta =
        range("timelapseTimeout", "photo timeout", "minutes", "min", 90, 5, 360, 5);
    return meta;
}

const UnitSettingMeta& e1FirmwareVersion()
{
    static const UnitSettingMeta meta =
        choice("e1FirmwareVersion", "E1 firmware", DefaultE1FirmwareVersion, {26, 29, 30},
               {QStringLiteral("0.26"), QStringLiteral("0.29"),
                QStringLiteral("0.30 (in beta, not officially supported)")});
    return meta;
}

QVariantMap schema()
{
    QVariantMap map;
    for (const UnitSettingMeta* meta : {&recLedOn(), &videoLoggingInterval(), &timelapseInterval(),
                                        &timelapseTimeout(), &e1FirmwareVersion()})
        map.insert(meta->name, meta->toVariantMap());
    return map;
}

} // namespace UnitSettings
