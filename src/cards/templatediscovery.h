#pragma once

#include <QString>
#include <QVariantList>

// Template entries {"key": path, "value": shown name} of the templates folder,
// in descending name order.
QVariantList listTemplates();
// The last preview image (by name) of the templates folder, or empty.
QString templateJpg();
// The file beside a template named as it is, with `extension` in place of its
// own ".kava" (in any case): "x.kava/Rig.KAVA" gives "x.kava/Rig.jpg" for
// ".jpg", its preview image, and "x.kava/Rig.pano" for ".pano". Only the name
// changes, never a folder.
QString templateSiblingPath(const QString& templatePath, const QString& extension);
