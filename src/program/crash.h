#pragma once
// The crash handler: every internal error, uncaught exception and fatal
// signal, on any thread, ends here.

namespace zobra {

// Installs the handler for panics, std::terminate and the fatal signals.
void install_crash_handler();

// The crash handler shows its error box from a new process of the game's own
// executable, marked by an environment variable: then `main` runs only the
// box, with the message read from standard input, and returns its status.
bool error_box_wanted();
int run_error_box();

}  // namespace zobra
