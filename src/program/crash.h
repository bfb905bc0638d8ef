#pragma once
// The crash handler: every internal error, uncaught exception and fatal
// signal, on any thread, ends here.

namespace zobra {

// Installs the handler for panics, std::terminate and the fatal signals.
void install_crash_handler();

}  // namespace zobra
