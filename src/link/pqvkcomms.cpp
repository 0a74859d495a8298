#include "pqvkcomms.h"

// Placeholder bodies; the protocol client is being written.
PQVKComms::PQVKComms(QObject* parent) : QObject(parent) {}
PQVKComms::~PQVKComms() = default;
bool PQVKComms::writeLine(const QString&) { return false; }
QString PQVKComms::readLine(int, int) { return QString(); }
bool PQVKComms::open(QString) { return false; }
bool PQVKComms::isOpen() { return false; }
void PQVKComms::close() {}
bool PQVKComms::getSettings() { return false; }
bool PQVKComms::getVersion() { return false; }
QVariantList PQVKComms::getDevices() { return {}; }
bool PQVKComms::readConfig() { return false; }
bool PQVKComms::countData() { return false; }
bool PQVKComms::setConfig(uint, uint, uint, uint, uint, uint) { return false; }
bool PQVKComms::readData(QStringList&) { return false; }
bool PQVKComms::eraseData() { return false; }
bool PQVKComms::off() { return false; }
bool PQVKComms::beep() { return false; }
bool PQVKComms::reboot() { return false; }
bool PQVKComms::reset() { return false; }
bool PQVKComms::setTime(uint) { return false; }
