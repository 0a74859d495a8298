#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

// What each of the controller unit's settings may hold, in the units the
// window and qvkctl use (seconds, minutes), said once: the Settings tab's
// controls, qvkctl's checks and the save task all read these descriptions.
struct UnitSettingMeta
{
    QString name;       // as the window's save signal names the value: "videoLoggingInterval"
    QString label;      // in messages: "video interval"
    QString unit;       // "seconds", "minutes"; empty for a choice
    QString unitSymbol; // "s", "min"
    double defaultValue = 0;
    double minimum = 0;
    double maximum = 0;
    double step = 0;         // 0: the value moves freely
    QVector<int> choices;    // empty: any number from minimum to maximum
    QStringList choiceTexts; // as the window lists the choices

    // True when the setting takes `text` (a number, or a choice as written),
    // then *value holds it; otherwise `problem` says why not, after `name`:
    // "--e1 must be 26, 29 or 30, not '27'".
    bool validate(const QString& name, const QString& text, double* value, QString* problem) const;
    bool validate(const QString& name, double value, QString* problem) const;

    // "0.2-10 s", or the choices: "26, 29 or 30".
    QString rangeText() const;
    // For the view: defaultValue, minimum, maximum, step, unit, choices, choiceTexts.
    QVariantMap toVariantMap() const;
};

namespace UnitSettings {

// A unit that does not report its E1 firmware version has this one.
constexpr quint32 DefaultE1FirmwareVersion = 29;

const UnitSettingMeta& recLedOn();
const UnitSettingMeta& videoLoggingInterval();
const UnitSettingMeta& timelapseInterval();
const UnitSettingMeta& timelapseTimeout();
const UnitSettingMeta& e1FirmwareVersion();

// Every setting's description (toVariantMap) under its name.
QVariantMap schema();

} // namespace UnitSettings
