// What the library keeps of the C++ runtime's own state, which the module takes at load and gives back at
// unload (RuntimeSupportUnit.cpp replaces the runtime's pieces that would keep it otherwise).
#pragma once

namespace zorbex {

// Takes, at load, what raising and catching an error needs later: the TLS slot of the per-thread
// exception state. False when the process has no slot left: the load then fails, rather than an error
// raised later finding nowhere to keep its state.
bool ReserveRuntimeState() noexcept;

// Gives back, at unload, what the runtime keeps for the module's life: the emergency memory from which it
// raises std::bad_alloc when the heap is exhausted (allocated at every load, freed at none).
void ReleaseRuntimeState() noexcept;

} // namespace zorbex
