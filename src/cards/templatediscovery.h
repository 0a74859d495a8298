#pragma once

#include <QString>
#include <QVariantList>

// Template entries {"key": path, "value": shown name} of the templates folder,
// in descending name order.
QVariantList listTemplates();
// The last preview image (by name) of the templates folder, or empty.
QString templateJpg();
