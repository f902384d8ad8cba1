#include "resources/resources.h"

#include <QtGlobal>

static void initKelvoraResources() { Q_INIT_RESOURCE(kelvora); }

namespace kelvora {

void InitResources()
{
    initKelvoraResources();
}

} // namespace kelvora
