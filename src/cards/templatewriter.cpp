#include "templatewriter.h"

// Placeholder bodies; the stitching project writers are being written.
void writeVideoTemplate(int, const QString&, const QString&, const QString&, const QVariantMap&, int) {}
void writePhotoProject(int, const QString&, const QString&, const QString&, const QVariantMap&, int) {}
