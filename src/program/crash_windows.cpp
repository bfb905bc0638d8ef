// The crash handler on Windows. A fault (an access violation, a division by
// zero, a stack overflow) reaches it through the unhandled-exception filter,
// abort() through the C library's SIGABRT, panics and uncaught exceptions
// through the game's own handler and std::terminate. (The C library would
// turn faults into its SIGSEGV, SIGFPE and SIGILL too, but only for threads
// it started itself and without the fault's address: they are left to the
// filter.) All of them write the report, log the stop, show the
// error box on the failing thread and end the process, always.

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "core/panic.h"
#include "files/crash_report.h"
#include "files/exe_path.h"
#include "files/log.h"
#include "files/os.h"
#include "program/crash.h"

namespace zobra {

namespace {

// As on other systems, the crash path builds no strings on the heap, which
// may be what broke: its texts are put together in buffers made ready when
// the handler is installed.

// The exit status of a process the handler ended, the one abort() gives.
constexpr UINT crash_exit_code = 3;
constexpr std::size_t description_capacity = 512;
constexpr std::size_t message_capacity = 8192;
// How long a second crashing thread waits for the first to end the process.
constexpr DWORD second_crash_wait_ms = 10'000;

struct Prepared {
    os::OpenFile report;  // opened only when a crash happens
    std::filesystem::path report_path;
    char report_path_text[MAX_PATH * 3] = {};  // UTF-8, for the box
    wchar_t message[message_capacity] = {};
};
Prepared* prepared = nullptr;

std::atomic<bool> crash_underway{false};
thread_local bool handling_crash = false;

template <std::size_t Capacity>
class FixedText {
  public:
    void add(std::string_view text) {
        const std::size_t room = Capacity - size_;
        const std::size_t n = text.size() < room ? text.size() : room;
        std::memcpy(data_ + size_, text.data(), n);
        size_ += n;
    }
    void add_hex(std::uintptr_t value) {
        char digits[2 + 2 * sizeof value];
        digits[0] = '0';
        digits[1] = 'x';
        for (std::size_t i = 0; i < 2 * sizeof value; ++i)
            digits[sizeof digits - 1 - i] = "0123456789abcdef"[(value >> (4 * i)) & 0xf];
        add(std::string_view(digits, sizeof digits));
    }
    std::string_view view() const { return {data_, size_}; }

  private:
    char data_[Capacity] = {};
    std::size_t size_ = 0;
};

[[noreturn]] void end_abnormally() {
    ::TerminateProcess(::GetCurrentProcess(), crash_exit_code);
    std::_Exit(static_cast<int>(crash_exit_code));
}

struct AttachmentTarget {
    const os::OpenFile* file = nullptr;
    bool started = false;
};

void write_attachment(void* context, const char* text, std::size_t size) {
    auto* target = static_cast<AttachmentTarget*>(context);
    if (!target->started) os::write_all(*target->file, "\n\n");
    target->started = true;
    os::write_all(*target->file, std::string_view(text, size));
}

// The report file: the report text and the attachment after two line feeds.
// True when the report text was written whole.
bool write_report(std::string_view description) {
    if (prepared->report_path.empty()) return false;
    const os::OpenFile file = os::create_for_writing(prepared->report_path);
    if (!file.is_open()) return false;
    const bool written = os::write_all(file, crash_report_opening()) &&
                         os::write_all(file, description) &&
                         os::write_all(file, crash_report_closing());
    if (CrashAttachment attachment = crash_attachment()) {
        AttachmentTarget target{&file};
        attachment(&write_attachment, &target);
    }
    return written;
}

// The box's text: the report, and where it was saved when it was.
FixedText<message_capacity>& message_text(std::string_view description, bool saved) {
    static FixedText<message_capacity> text;
    text.add(crash_report_opening());
    text.add(description);
    text.add(crash_report_closing());
    if (saved) {
        text.add(crash_saved_at);
        text.add(prepared->report_path_text);
    }
    return text;
}

// Shows the message in the system's error box, owned by no window; false
// when there is no desktop to show it on. The message goes to the error
// stream as well, for whoever started the game from a console.
void tell_player(std::string_view message) {
    const HANDLE error_stream = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (error_stream != nullptr && error_stream != INVALID_HANDLE_VALUE) {
        ::WriteFile(error_stream, message.data(), static_cast<DWORD>(message.size()), &written,
                    nullptr);
        ::WriteFile(error_stream, "\n", 1, &written, nullptr);
    }
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, message.data(), static_cast<int>(message.size()),
                              prepared->message, static_cast<int>(message_capacity - 1));
    prepared->message[length > 0 ? length : 0] = L'\0';
    ::MessageBoxW(nullptr, prepared->message, L"Zobra",
                  MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

[[noreturn]] void stop(std::string_view description) {
    if (handling_crash || prepared == nullptr) end_abnormally();  // the handler itself broke
    handling_crash = true;
    if (crash_underway.exchange(true)) {
        // Another thread is on its way to end the process.
        ::Sleep(second_crash_wait_ms);
        end_abnormally();
    }
    const bool saved = write_report(description);
    log_line_from_crash({"start: stopped: ", description});
    tell_player(message_text(description, saved).view());
    end_abnormally();
}

[[noreturn]] void handle_crash(const std::string& description) { stop(description); }

void on_terminate() {
    std::string message = "the program was terminated";
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            message = std::string("uncaught exception: ") + e.what();
        } catch (...) {
            message = "uncaught exception of an unknown type";
        }
    }
    panic(message);
}

std::string_view exception_name(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
            return "EXCEPTION_ACCESS_VIOLATION (invalid memory access)";
        case EXCEPTION_STACK_OVERFLOW:
            return "EXCEPTION_STACK_OVERFLOW (out of stack)";
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
            return "EXCEPTION_INT_DIVIDE_BY_ZERO (arithmetic error)";
        case EXCEPTION_ILLEGAL_INSTRUCTION:
            return "EXCEPTION_ILLEGAL_INSTRUCTION (illegal instruction)";
        case EXCEPTION_IN_PAGE_ERROR:
            return "EXCEPTION_IN_PAGE_ERROR (bus error)";
    }
    return "unhandled exception";
}

// "panicked at" the faulting instruction, the exception and, for a memory
// fault, the address it was about.
LONG WINAPI on_exception(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    FixedText<description_capacity> description;
    description.add("panicked at ");
    description.add_hex(reinterpret_cast<std::uintptr_t>(record->ExceptionAddress));
    description.add(":\n");
    description.add(exception_name(record->ExceptionCode));
    description.add(" ");
    description.add_hex(record->ExceptionCode);
    if ((record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
         record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record->NumberParameters >= 2) {
        description.add(" at address ");
        description.add_hex(static_cast<std::uintptr_t>(record->ExceptionInformation[1]));
    }
    stop(description.view());
}

void on_abort(int) { stop("panicked at abort:\nfatal signal SIGABRT (aborted)"); }

}  // namespace

void install_crash_handler() {
    // Never freed: the handler may run while the process ends.
    prepared = new Prepared;
    if (std::optional<std::filesystem::path> path = diagnostics_file(crash_file_name)) {
        const std::string text = os::utf8_of(*path);
        if (text.size() < sizeof prepared->report_path_text) {
            prepared->report_path = *path;
            std::memcpy(prepared->report_path_text, text.c_str(), text.size() + 1);
        }
    }
    set_panic_handler(&handle_crash);
    std::set_terminate(&on_terminate);
    ::SetUnhandledExceptionFilter(&on_exception);
    std::signal(SIGABRT, &on_abort);
    // A stack overflow leaves the filter this much stack to run on.
    ULONG guarantee = 64 * 1024;
    ::SetThreadStackGuarantee(&guarantee);
}

// The error box is shown by the crashed process itself on Windows.
bool error_box_wanted() { return false; }
int run_error_box() { return 0; }

}  // namespace zobra
