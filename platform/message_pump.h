#pragma once

namespace kelvora {

// Processes every event that is waiting, then returns (never blocks).
void ProcessMessages();

} // namespace kelvora
