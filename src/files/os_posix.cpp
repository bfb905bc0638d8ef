#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "files/os.h"

namespace zobra::os {

namespace {

namespace fs = std::filesystem;

int fd_of(const OpenFile& file) { return static_cast<int>(file.handle()); }

std::string error_text(int error) { return std::strerror(error); }

}  // namespace

OpenFile::~OpenFile() {
    if (is_open()) ::close(fd_of(*this));
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (is_open()) ::close(fd_of(*this));
        handle_ = other.handle_;
        other.handle_ = closed;
    }
    return *this;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

std::optional<fs::path> executable_path() {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return std::nullopt;
    return exe;
}

bool folder_writable(const fs::path& folder) {
    // The effective ids decide, as they do for the open that follows; a
    // folder the player may not enter counts as not writable either.
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool make_private_folders(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) return true;
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !make_private_folders(parent)) return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

ReadResult read_regular_file(const fs::path& path, std::size_t max_bytes) {
    ReadResult result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.missing = errno == ENOENT || errno == ENOTDIR;
        if (!result.missing) result.error = error_text(errno);
        return result;
    }
    const OpenFile closer(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        result.error = error_text(errno);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = "not a regular file";
        return result;
    }
    result.too_large = true;
    if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) return result;
    // The file may still grow while it is read; one byte past the limit is
    // enough to know.
    std::string text;
    char chunk[4096];
    while (text.size() <= max_bytes) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result.too_large = false;
            result.error = error_text(errno);
            return result;
        }
        if (got == 0) {
            result.too_large = false;
            result.text = std::move(text);
            return result;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return result;
}

std::optional<std::string> write_synced(const fs::path& path, std::string_view bytes, bool fresh) {
    const int flags =
        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (fresh ? O_EXCL : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return error_text(errno);
    // Every way out closes the descriptor; the first error met is the one
    // told.
    int error = 0;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return "not a regular file";
    }
    while (!bytes.empty() && error == 0) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0)
            error = written < 0 ? errno : EIO;
        else
            bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) return error_text(error);
    return std::nullopt;
}

std::error_code replace_file(const fs::path& from, const fs::path& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return {};
    return std::error_code(errno, std::generic_category());
}

void sync_folder(const fs::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

OpenFile create_for_writing(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? OpenFile() : OpenFile(fd);
}

void write_gathered(const OpenFile& file, std::initializer_list<std::string_view> parts,
                    std::string_view end) {
    constexpr std::size_t parts_max = 8;
    iovec pieces[parts_max + 1];
    int used = 0;
    for (std::string_view part : parts) {
        if (used == static_cast<int>(parts_max)) break;
        pieces[used++] = {const_cast<char*>(part.data()), part.size()};
    }
    pieces[used++] = {const_cast<char*>(end.data()), end.size()};
    [[maybe_unused]] const ssize_t ignored = ::writev(fd_of(file), pieces, used);
}

void pause_nanoseconds(long nanoseconds) {
    const timespec pause{0, nanoseconds};
    ::nanosleep(&pause, nullptr);
}

bool write_all(const OpenFile& file, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd_of(file), text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

LockAttempt lock_file(const fs::path& path) {
    LockAttempt attempt;
    const int fd = ::open(path.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        attempt.error = error_text(errno);
        return attempt;
    }
    OpenFile file(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        attempt.state = LockState::Held;
        attempt.file = std::move(file);
    } else if (errno == EWOULDBLOCK) {
        attempt.state = LockState::HeldElsewhere;
    } else {
        attempt.error = error_text(errno);
    }
    return attempt;
}

}  // namespace zobra::os
