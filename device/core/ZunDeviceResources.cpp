#include "ZunDeviceResources.h"

#include <QtGlobal>

#include <mutex>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initSystemResources()
{
    Q_INIT_RESOURCE(zundevice_system);
}

void initDeviceResources()
{
    static std::once_flag once;
    std::call_once(once, initSystemResources);
}
