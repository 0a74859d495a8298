#include "settingsstore.h"

// Placeholder bodies; the settings store is being written.
QVariantMap getSettings() { return {}; }
void updateSettings(const QVariantMap&) {}
QVariantMap anglesForTemplate(const QVariantMap& settings) { return settings; }
QVariantList configuredSerialPortEntries() { return {}; }
