// Bodies of the media import of AppController (placeholders for now).
#include "appcontroller.h"

void AppController::copyFilesWorker(int, QString, QString, QString, QString) {}
int AppController::copyVideoFile(QString, int, int, int, QDir, QDir, QString, QString) { return 0; }
int AppController::copyPhotoFile(QString, int, int, int, QDir, QDir, QString, QString) { return 0; }
