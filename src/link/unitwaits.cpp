#include "link/unitwaits.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QBasicMutex defaultsMutex;

UnitWaits& current()
{
    static UnitWaits waits;
    return waits;
}

} // namespace

UnitWaits UnitWaits::defaults()
{
    QMutexLocker lock(&defaultsMutex);
    return current();
}

void UnitWaits::setDefaults(const UnitWaits& waits)
{
    QMutexLocker lock(&defaultsMutex);
    current() = waits;
}
