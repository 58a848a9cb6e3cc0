// Handles that the platform gives out and the logic only passes on: the
// program's module instance, the console's window, a prompt's event and an
// open registry key. They are opaque here; only the platform's own files know
// what stands behind them.
#pragma once

namespace kalvora {

using InstanceHandle = void*;
using WindowHandle = void*;
using EventHandle = void*;
using RegistryKey = void*;

}  // namespace kalvora
