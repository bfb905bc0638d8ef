#include "core/panic.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zobra {

namespace {
std::atomic<PanicHandler> installed_handler{nullptr};
}

void set_panic_handler(PanicHandler handler) { installed_handler.store(handler); }

std::string panic_description(std::string_view message, const std::source_location& where) {
    std::string text = "panicked at ";
    text += where.file_name();
    text += ':' + std::to_string(where.line()) + ':' + std::to_string(where.column());
    if (!message.empty()) {
        text += ":\n";
        text += message;
    }
    return text;
}

void panic(std::string_view message, const std::source_location& where) {
    const std::string description = panic_description(message, where);
    if (PanicHandler handler = installed_handler.load()) handler(description);
    // No handler, or one that came back: there is nothing sane left to do.
    std::fputs(description.c_str(), stderr);
    std::fputc('\n', stderr);
    std::abort();
}

}  // namespace zobra
