#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

class StitchTemplate;

// Writes the ".kava" project of one recording from a template (once per
// recording), plus the template copy and the ".pano" photo template in the
// templates folder. `collision` is the collision number the import gave the
// copies (0 for none); the project then names the copies as they really are.
// Each returns the paths of the files it created (none when all were there).
QStringList writeVideoTemplate(int cardIndex, const StitchTemplate& stitchTemplate,
                               const QString& basePath, const QString& projectName,
                               const QVariantMap& settings, int collision = 0);

// Writes the ".pano" project of one photo set (once per set).
QStringList writePhotoProject(int cardIndex, const StitchTemplate& stitchTemplate,
                              const QString& basePath, const QString& projectName,
                              const QVariantMap& settings, int collision = 0);

// The same for one project, the template read for it; an unusable template
// writes nothing (a warning names it).
QStringList writeVideoTemplate(int cardIndex, const QString& templatePath, const QString& basePath,
                               const QString& projectName, const QVariantMap& settings,
                               int collision = 0);
QStringList writePhotoProject(int cardIndex, const QString& templatePath, const QString& basePath,
                              const QString& projectName, const QVariantMap& settings,
                              int collision = 0);
