#include "program/crash.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "core/panic.h"
#include "files/crash_report.h"
#include "files/exe_path.h"
#include "files/log.h"
#include "platform/platform.h"

namespace zobra {

namespace {

// The crash path runs where the process may be broken in any way: inside a
// signal handler, with the allocator's or the log's lock held by the thread
// that crashed. So it builds no strings and takes no lock it could wait on
// for ever: whatever it needs is prepared when the handler is installed, and
// it writes with plain system calls. The error box, which needs the window
// system, is shown by a fresh copy of the game started for just that; the
// crashed process ends as soon as it has started it, and that copy inherits
// nothing of the game but its standard streams (no save lock, no window).

constexpr char box_variable[] = "ZOBRA_ERROR_BOX";
constexpr char box_assignment[] = "ZOBRA_ERROR_BOX=1";
constexpr char own_executable[] = "/proc/self/exe";

constexpr int backtrace_depth = 32;
constexpr std::size_t max_environment = 512;
constexpr std::size_t description_capacity = 512;
// How long a second crashing thread waits for the first to end the process.
constexpr int second_crash_wait_s = 10;

struct Prepared {
    char report_path[PATH_MAX] = {};  // empty when there is no place for it
    char* box_argv[2] = {};
    char* box_environment[max_environment + 2] = {};
    char box_program_name[8] = "zobra";
    char box_variable_text[sizeof box_assignment] = {};
};
Prepared prepared;

std::atomic<bool> crash_underway{false};
thread_local bool handling_crash = false;

// The main thread's signal stack, so that running out of stack still ends
// with a report.
constexpr std::size_t signal_stack_size = 64 * 1024;
alignas(16) char signal_stack[signal_stack_size];

// Writes all of `text`; false when the file took less.
bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Where the attachment writes: the report file, two line feeds before its
// first text, so that an attachment with nothing to say leaves no trace.
struct AttachmentTarget {
    int fd = -1;
    bool started = false;
};

void write_attachment(void* context, const char* text, std::size_t size) {
    auto* target = static_cast<AttachmentTarget*>(context);
    if (!target->started) write_all(target->fd, "\n\n");
    target->started = true;
    write_all(target->fd, std::string_view(text, size));
}

// Text built in place, cut short when it fills the buffer.
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
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(SIGABRT, &default_action, nullptr);
    sigset_t abort_only;
    sigemptyset(&abort_only);
    sigaddset(&abort_only, SIGABRT);
    ::pthread_sigmask(SIG_UNBLOCK, &abort_only, nullptr);
    ::raise(SIGABRT);
    ::_exit(128 + SIGABRT);
}

bool display_known() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

// The environment of the box's process: the game's own, which may have
// changed since start-up, and the variable that makes it a box.
char** box_environment() {
    std::size_t n = 0;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (n == max_environment) break;
        const std::string_view text(*entry);
        if (text.substr(0, sizeof box_variable) ==
            std::string_view(box_assignment, sizeof box_variable))
            continue;
        prepared.box_environment[n++] = *entry;
    }
    prepared.box_environment[n++] = prepared.box_variable_text;
    prepared.box_environment[n] = nullptr;
    return prepared.box_environment;
}

// The error box's text: the report, and where it was saved when it was.
void write_message(int fd, std::string_view description, std::string_view saved_path) {
    write_all(fd, crash_report_opening());
    write_all(fd, description);
    write_all(fd, crash_report_closing());
    if (!saved_path.empty()) {
        write_all(fd, crash_saved_at);
        write_all(fd, saved_path);
    }
}

// Starts the game's executable as the error box with the message on its
// standard input; false when no process could be started. The new process
// keeps only its standard streams: every other descriptor is closed before
// it starts, whatever flags it was opened with.
bool start_box(std::string_view description, std::string_view saved_path) {
    int message[2];
    if (::pipe2(message, O_CLOEXEC) != 0) return false;
    char** environment = box_environment();
    const pid_t box = ::_Fork();
    if (box == 0) {
        if (::dup2(message[0], STDIN_FILENO) < 0) ::_exit(127);
        ::close_range(STDERR_FILENO + 1, ~0U, 0);
        ::execve(own_executable, prepared.box_argv, environment);
        ::_exit(127);
    }
    ::close(message[0]);
    if (box < 0) {
        ::close(message[1]);
        return false;
    }
    // A message too long for the pipe is cut short rather than waited on.
    ::fcntl(message[1], F_SETFL, O_NONBLOCK);
    write_message(message[1], description, saved_path);
    ::close(message[1]);
    return true;
}

// The report file: the report text, the attachment after two line feeds
// and, for a fatal signal, the backtrace. True when the report text was
// written whole.
bool write_report(std::string_view description, void* const* frames, int frame_count) {
    if (prepared.report_path[0] == '\0') return false;
    int fd = ::open(prepared.report_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = write_all(fd, crash_report_opening()) && write_all(fd, description) &&
                         write_all(fd, crash_report_closing());
    if (CrashAttachment attachment = crash_attachment()) {
        AttachmentTarget target{fd};
        attachment(&write_attachment, &target);
    }
    if (frame_count > 0) {
        write_all(fd, "\n\nBacktrace:\n");
        ::backtrace_symbols_fd(frames, frame_count, fd);
    }
    ::close(fd);
    return written;
}

// Writes the report, logs the stop, starts the error box (or writes its text
// to the error stream where there is no display) and ends the process. A
// report that cannot be written only drops the "Gespeichert in" line.
[[noreturn]] void stop(std::string_view description, void* const* frames = nullptr,
                       int frame_count = 0) {
    if (handling_crash) end_abnormally();  // the handler itself broke
    handling_crash = true;
    if (crash_underway.exchange(true)) {
        // Another thread is on its way to end the process.
        const timespec wait{second_crash_wait_s, 0};
        ::nanosleep(&wait, nullptr);
        end_abnormally();
    }

    const bool saved = write_report(description, frames, frame_count);
    log_line_from_crash({"start: stopped: ", description});

    const std::string_view saved_path = saved ? prepared.report_path : "";
    if (!display_known() || !start_box(description, saved_path)) {
        write_message(STDERR_FILENO, description, saved_path);
        write_all(STDERR_FILENO, "\n");
    }
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

std::string_view signal_name(int signal_number) {
    switch (signal_number) {
        case SIGSEGV:
            return "fatal signal SIGSEGV (invalid memory access)";
        case SIGBUS:
            return "fatal signal SIGBUS (bus error)";
        case SIGFPE:
            return "fatal signal SIGFPE (arithmetic error)";
        case SIGILL:
            return "fatal signal SIGILL (illegal instruction)";
        case SIGABRT:
            return "fatal signal SIGABRT (aborted)";
    }
    return "fatal signal";
}

// Where the thread was when the signal came, when the machine is known.
std::uintptr_t program_counter(void* context) {
    const auto* machine = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(machine->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(machine->uc_mcontext.pc);
#else
    (void)machine;
    return 0;
#endif
}

// "panicked at" the faulting instruction, the signal and, for a fault the
// system found, the address it was about.
void on_fatal_signal(int signal_number, siginfo_t* info, void* context) {
    void* frames[backtrace_depth];
    const int frame_count = ::backtrace(frames, backtrace_depth);

    FixedText<description_capacity> description;
    description.add("panicked at ");
    description.add_hex(program_counter(context));
    description.add(":\n");
    description.add(signal_name(signal_number));
    const bool fault = signal_number == SIGSEGV || signal_number == SIGBUS ||
                       signal_number == SIGFPE || signal_number == SIGILL;
    if (fault && info != nullptr && info->si_code > 0) {
        description.add(" at address ");
        description.add_hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    }
    // The first frame is this handler; the signal's own frame follows.
    const int skipped = frame_count > 1 ? 1 : 0;
    stop(description.view(), frames + skipped, frame_count - skipped);
}

}  // namespace

void install_crash_handler() {
    if (std::optional<std::filesystem::path> path = diagnostics_file(crash_file_name)) {
        const std::string& text = path->native();
        if (text.size() < sizeof prepared.report_path)
            std::memcpy(prepared.report_path, text.c_str(), text.size() + 1);
    }
    prepared.box_argv[0] = prepared.box_program_name;
    std::memcpy(prepared.box_variable_text, box_assignment, sizeof box_assignment);
    // The first backtrace loads the unwinder, which allocates: not in a
    // signal handler, then.
    void* frame = nullptr;
    ::backtrace(&frame, 1);

    set_panic_handler(&handle_crash);
    std::set_terminate(&on_terminate);

    stack_t stack{};
    stack.ss_sp = signal_stack;
    stack.ss_size = signal_stack_size;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = &on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        ::sigaction(signal_number, &action, nullptr);
}

bool error_box_wanted() { return std::getenv(box_variable) != nullptr; }

int run_error_box() {
    ::unsetenv(box_variable);
    std::string message;
    char chunk[4096];
    for (ssize_t n; (n = ::read(STDIN_FILENO, chunk, sizeof chunk)) > 0;)
        message.append(chunk, static_cast<std::size_t>(n));
    if (!show_error_box(message)) {
        message += '\n';
        write_all(STDERR_FILENO, message);
    }
    return 0;
}

}  // namespace zobra
