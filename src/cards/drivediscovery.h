#pragma once

#include <QVariant>
#include <QVariantList>

// Drive entries {"key": root path, "value": display name} of the volumes that
// can be cards: valid, ready, writable, not the system volume, not a pseudo
// file system; ordered by key.
QVariantList listDrives();
// The user's movies folder, the default destination.
QString moviesLocation();
