#pragma once

namespace kelvora {

// Registers the program's pictures (":/images/...") with Qt's resource system;
// needed once per process because they live in a static library.
void InitResources();

} // namespace kelvora
