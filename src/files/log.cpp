#include "files/log.h"

#include <cstdio>
#include <string>
#include <utility>

#include "files/exe_path.h"

namespace zobra {

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

void log_line(std::string_view text) {
    // Never destroyed: other threads may still log while the process ends.
    static DiagnosticLog* process_log =
        new DiagnosticLog([] { return diagnostics_file(log_file_name); });
    process_log->line(text);
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
