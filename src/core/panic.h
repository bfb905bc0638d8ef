#pragma once
// Internal errors: a broken invariant, a missing sprite, a fatal start-up
// failure. The game does not try to recover from them; `panic` hands the
// description to the installed handler (the crash report in the program, an
// exception in tests), which never comes back.

#include <source_location>
#include <string>
#include <string_view>

namespace zobra {

// Receives "panicked at FILE:LINE:COLUMN:\nmessage" and must not return.
using PanicHandler = void (*)(const std::string& description);

// Installs the handler every later panic goes to, on any thread.
void set_panic_handler(PanicHandler handler);

// "panicked at FILE:LINE:COLUMN", then ":\n" and the message when there is one.
std::string panic_description(std::string_view message, const std::source_location& where);

[[noreturn]] void panic(std::string_view message,
                        const std::source_location& where = std::source_location::current());

}  // namespace zobra
