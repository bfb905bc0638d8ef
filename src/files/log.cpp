#include "files/log.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <utility>

#include "files/exe_path.h"

namespace zobra {

namespace {

// How long the crash path waits for the log's lock: another thread may be
// writing an entry, or the crashed thread itself may hold it.
constexpr int crash_lock_tries = 100;
constexpr long crash_lock_pause_ns = 5'000'000;

// The process's log once it exists; the crash path must not create it.
std::atomic<DiagnosticLog*> process_log_made{nullptr};

}  // namespace

DiagnosticLog::DiagnosticLog(std::function<std::optional<std::filesystem::path>()> locate)
    : locate_(std::move(locate)) {}

void DiagnosticLog::line(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (status_ == Status::NotYetOpened) {
        status_ = Status::Unavailable;
        if (std::optional<std::filesystem::path> path = locate_()) {
            file_ = os::create_for_writing(*path);
            if (file_.is_open()) {
                status_ = Status::Open;
                os::write_all(file_, std::string(log_header) + '\n');
            }
        }
        count_ = 1;
    } else {
        if (count_ < UINT32_MAX) ++count_;
        if (count_ > log_max_entries) return;
    }
    if (status_ == Status::Open) {
        // One write per entry, so that a crash never leaves half a line.
        std::string entry(text);
        entry += '\n';
        os::write_all(file_, entry);
    }
}

void DiagnosticLog::line_from_crash(std::initializer_list<std::string_view> parts) {
    bool locked = mutex_.try_lock();
    for (int i = 1; !locked && i < crash_lock_tries; ++i) {
        os::pause_nanoseconds(crash_lock_pause_ns);
        locked = mutex_.try_lock();
    }
    if (!locked) return;
    std::lock_guard lock(mutex_, std::adopt_lock);
    if (status_ == Status::NotYetOpened) return;
    if (count_ < UINT32_MAX) ++count_;
    if (count_ > log_max_entries || status_ != Status::Open) return;

    // One write for the whole entry, as `line` does.
    os::write_gathered(file_, parts, "\n");
}

void log_line(std::string_view text) {
    // Never destroyed: other threads may still log while the process ends.
    static DiagnosticLog* process_log = [] {
        auto* made = new DiagnosticLog([] { return diagnostics_file(log_file_name); });
        process_log_made.store(made);
        return made;
    }();
    process_log->line(text);
}

void log_line_from_crash(std::initializer_list<std::string_view> parts) {
    if (DiagnosticLog* log = process_log_made.load()) log->line_from_crash(parts);
}

void log_start(std::string_view text) {
    std::string entry = "start: ";
    entry += text;
    log_line(entry);
}

void report_error(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}

}  // namespace zobra
