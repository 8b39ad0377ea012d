// The library's class registry: its four class factories, created at load in a fixed order.
#pragma once

namespace zorbex {

// Creates the four factories; raises when the type library does not describe a class.
void CreateClassFactories();
// Frees the factories and the library's window classes (at unload).
void DestroyClassFactories();

} // namespace zorbex
