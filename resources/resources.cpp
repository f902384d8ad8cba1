#include "resources/resources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initKelvoraResources() { Q_INIT_RESOURCE(kelvora); }

namespace kelvora {

void InitResources()
{
    static std::once_flag registered;
    std::call_once(registered, initKelvoraResources);
}

} // namespace kelvora
