#include "drivediscovery.h"

// Placeholder bodies; drive discovery is being written.
QVariantList listDrives() { return {}; }
QString moviesLocation() { return {}; }
