// The library's class registry: its four class factories, created at load in a fixed order (the order
// registration writes them in) and freed at unload with the window classes of the forms layer. It is
// the one place that knows every co-class, which is why it sits on top of every other layer.
#pragma once

namespace zorbex {

// Creates the four factories; raises when the type library does not describe a class.
void CreateClassFactories();
// Frees the factories and the library's window classes (at unload).
void DestroyClassFactories();

} // namespace zorbex
