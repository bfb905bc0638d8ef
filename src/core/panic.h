#pragma once
// Internal errors: a broken invariant, a missing sprite, a fatal start-up
// failure. The game does not try to recover from them; `panic` hands the
// description to the installed handler (the crash report in the program, an
// exception in tests), which never comes back.

#include <cstddef>
#include <string>
#include <string_view>
#if __has_include(<source_location>)
#include <source_location>
#endif

namespace zobra {

// Where in the source an internal error was raised, filled in at the call
// site: through std::source_location where the library has it, through the
// compiler's builtins otherwise (clang 14 with libstdc++ 12, and the web
// build's libc++, which has no <source_location> yet).
struct SourcePosition {
    const char* file = "";
    unsigned line = 0;
    unsigned column = 0;

#if defined(__cpp_lib_source_location)
    static constexpr SourcePosition current(
        std::source_location where = std::source_location::current()) {
        return {where.file_name(), where.line(), where.column()};
    }
#else
    static constexpr SourcePosition current(const char* file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE(),
                                            unsigned column = __builtin_COLUMN()) {
        return {file, line, column};
    }
#endif
};

// Receives "panicked at FILE:LINE:COLUMN:\nmessage" and must not return.
using PanicHandler = void (*)(const std::string& description);

// Installs the handler every later panic goes to, on any thread.
void set_panic_handler(PanicHandler handler);

// Receives text for the crash report file; safe to call from a signal handler.
using CrashTextSink = void (*)(void* context, const char* text, std::size_t size);
// Writes extra text into the crash report through the sink; it must not
// allocate, lock or throw (it may run in a signal handler).
using CrashAttachment = void (*)(CrashTextSink sink, void* context);
// Sets (or with nullptr removes) the attachment; any thread, lock-free. The
// crash report file then holds the report, two line feeds and whatever the
// attachment writes; the error box and the log do not show it.
void set_crash_attachment(CrashAttachment attachment);
CrashAttachment crash_attachment();

// "panicked at FILE:LINE:COLUMN", then ":\n" and the message when there is one.
std::string panic_description(std::string_view message, const SourcePosition& where);

[[noreturn]] void panic(std::string_view message,
                        const SourcePosition& where = SourcePosition::current());

}  // namespace zobra
