#include "templatediscovery.h"

// Placeholder bodies; template discovery is being written.
QVariantList listTemplates() { return {}; }
QString templateJpg() { return {}; }
