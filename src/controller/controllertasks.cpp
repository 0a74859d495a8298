// Bodies of the controller-unit tasks of AppController (placeholders for now).
#include "appcontroller.h"

void AppController::saveCameraSettings(QString, QString, int, double, double, double, int) {}
void AppController::turnOffWorker(QString) {}
void AppController::copyDataWorker(QString, QString, QString) {}
void AppController::readSettingsWorker(QString) {}
void AppController::resetCameraSettingsWorker(QString) {}
void AppController::eraseMemoryWorker(QString) {}
void AppController::saveCameraSettingsWorker(QString, QString, PQVKConfig) {}
void AppController::updateFirmwareWorker(QString, QString) {}
