#include "core/panic.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zobra {

namespace {
std::atomic<PanicHandler> installed_handler{nullptr};
std::atomic<CrashAttachment> installed_attachment{nullptr};
static_assert(std::atomic<CrashAttachment>::is_always_lock_free);
}  // namespace

void set_panic_handler(PanicHandler handler) { installed_handler.store(handler); }

void set_crash_attachment(CrashAttachment attachment) { installed_attachment.store(attachment); }

CrashAttachment crash_attachment() { return installed_attachment.load(); }

std::string panic_description(std::string_view message, const SourcePosition& where) {
    std::string text = "panicked at ";
    text += where.file;
    text += ':' + std::to_string(where.line) + ':' + std::to_string(where.column);
    if (!message.empty()) {
        text += ":\n";
        text += message;
    }
    return text;
}

void panic(std::string_view message, const SourcePosition& where) {
    const std::string description = panic_description(message, where);
    if (PanicHandler handler = installed_handler.load()) handler(description);
    // No handler, or one that came back: there is nothing sane left to do.
    std::fputs(description.c_str(), stderr);
    std::fputc('\n', stderr);
    std::abort();
}

}  // namespace zobra
