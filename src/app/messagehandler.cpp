#include "messagehandler.h"

// Placeholder body; the message handler is being written.
void messageHandler(QtMsgType, const QMessageLogContext&, const QString&) {}
