// The file-system seam on Windows: every call at the boundary is a wide one,
// fed from and read back into UTF-8, so that a player whose user folder is
// C:\Users\Jürgen keeps a save and a log like anybody else.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>
#include <utility>
#include <vector>

#include "files/os.h"

namespace zobra::os {

namespace {

namespace fs = std::filesystem;

HANDLE handle_of(const OpenFile& file) { return reinterpret_cast<HANDLE>(file.handle()); }

OpenFile owning(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? OpenFile()
                                          : OpenFile(reinterpret_cast<std::intptr_t>(handle));
}

std::string utf8_of_wide(const wchar_t* wide, int length) {
    if (length == 0) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), size, nullptr, nullptr);
    return text;
}

std::wstring wide_of_utf8(std::string_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), size);
    return wide;
}

// The system's own words for an error, in UTF-8 and without the line break
// it ends them with.
std::string error_text(DWORD error) {
    wchar_t* words = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::string text = length > 0 ? utf8_of_wide(words, static_cast<int>(length))
                                  : "system error " + std::to_string(error);
    ::LocalFree(words);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool missing_error(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Whether an open handle is a plain file on a disk, not a folder, a pipe, a
// console or a device.
bool regular_file(HANDLE file) {
    if (::GetFileType(file) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) == 0) return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool write_whole(HANDLE file, std::string_view text) {
    while (!text.empty()) {
        const DWORD chunk =
            text.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(text.size());
        DWORD written = 0;
        if (::WriteFile(file, text.data(), chunk, &written, nullptr) == 0 || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

}  // namespace

OpenFile::~OpenFile() {
    if (is_open()) ::CloseHandle(handle_of(*this));
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (is_open()) ::CloseHandle(handle_of(*this));
        handle_ = other.handle_;
        other.handle_ = closed;
    }
    return *this;
}

std::optional<std::string> environment(const char* name) {
    const std::wstring wide_name = wide_of_utf8(name);
    const DWORD size = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) {
        // An empty variable is set all the same.
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    if (length >= size) return std::nullopt;  // changed in between
    return utf8_of_wide(value.c_str(), static_cast<int>(length));
}

std::uint64_t process_id() { return ::GetCurrentProcessId(); }

std::optional<fs::path> executable_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) return std::nullopt;
        if (length < size) return fs::path(std::wstring(buffer.data(), length));
        if (buffer.size() >= 32768) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

bool folder_writable(const fs::path& folder) {
    // Access lists decide on Windows and no flag tells them in advance: the
    // one true answer is a file made there, which goes again on closing.
    const fs::path probe =
        folder / (L"zobra-write-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool make_private_folders(const fs::path& folder) {
    // A folder inherits the access list of its parent, which under the
    // player's profile already admits only the player.
    std::error_code error;
    if (fs::is_directory(folder, error)) return true;
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !make_private_folders(parent)) return false;
    return ::CreateDirectoryW(folder.c_str(), nullptr) != 0 ||
           ::GetLastError() == ERROR_ALREADY_EXISTS;
}

ReadResult read_regular_file(const fs::path& path, std::size_t max_bytes) {
    ReadResult result;
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        result.missing = missing_error(error);
        if (!result.missing) result.error = error_text(error);
        return result;
    }
    const OpenFile closer = owning(handle);
    if (!regular_file(handle)) {
        result.error = "not a regular file";
        return result;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(handle, &size) == 0) {
        result.error = error_text(::GetLastError());
        return result;
    }
    result.too_large = true;
    if (static_cast<std::uint64_t>(size.QuadPart) > max_bytes) return result;
    std::string text;
    char chunk[4096];
    while (text.size() <= max_bytes) {
        DWORD got = 0;
        if (::ReadFile(handle, chunk, sizeof chunk, &got, nullptr) == 0) {
            result.too_large = false;
            result.error = error_text(::GetLastError());
            return result;
        }
        if (got == 0) {
            result.too_large = false;
            result.text = std::move(text);
            return result;
        }
        text.append(chunk, got);
    }
    return result;
}

std::optional<std::string> write_synced(const fs::path& path, std::string_view bytes, bool fresh) {
    // A link there is opened as itself and then refused as no regular file.
    HANDLE handle =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, fresh ? CREATE_NEW : OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return error_text(::GetLastError());
    const OpenFile file = owning(handle);
    if (!regular_file(handle)) return "not a regular file";
    if (::SetEndOfFile(handle) == 0 || !write_whole(handle, bytes) ||
        ::FlushFileBuffers(handle) == 0)
        return error_text(::GetLastError());
    return std::nullopt;
}

std::error_code replace_file(const fs::path& from, const fs::path& to) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

void sync_folder(const fs::path&) {
    // MOVEFILE_WRITE_THROUGH has already made the rename last.
}

OpenFile create_for_writing(const fs::path& path) {
    // Others may read the log while the game writes it.
    return owning(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void write_gathered(const OpenFile& file, std::initializer_list<std::string_view> parts,
                    std::string_view end) {
    // One write, as writev gives elsewhere, from a buffer on the stack; an
    // entry longer than it is cut short, but keeps its end.
    constexpr std::size_t parts_max = 8;
    char buffer[4096];
    std::size_t used = 0;
    std::size_t count = 0;
    const std::size_t room = sizeof buffer - (end.size() < sizeof buffer ? end.size() : 0);
    for (std::string_view part : parts) {
        if (count++ == parts_max) break;
        const std::size_t n = part.size() < room - used ? part.size() : room - used;
        std::memcpy(buffer + used, part.data(), n);
        used += n;
    }
    const std::size_t n = end.size() < sizeof buffer - used ? end.size() : sizeof buffer - used;
    std::memcpy(buffer + used, end.data(), n);
    used += n;
    DWORD written = 0;
    ::WriteFile(handle_of(file), buffer, static_cast<DWORD>(used), &written, nullptr);
}

void pause_nanoseconds(long nanoseconds) {
    ::Sleep(static_cast<DWORD>((nanoseconds + 999'999) / 1'000'000));
}

bool write_all(const OpenFile& file, std::string_view text) {
    return write_whole(handle_of(file), text);
}

LockAttempt lock_file(const fs::path& path) {
    LockAttempt attempt;
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        attempt.error = error_text(::GetLastError());
        return attempt;
    }
    OpenFile file = owning(handle);
    // The lock covers the first byte, which need not exist; it goes with the
    // handle, also when the process ends without closing it.
    OVERLAPPED at{};
    if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        attempt.state = LockState::Held;
        attempt.file = std::move(file);
    } else if (const DWORD error = ::GetLastError(); error == ERROR_LOCK_VIOLATION) {
        attempt.state = LockState::HeldElsewhere;
    } else {
        attempt.error = error_text(error);
    }
    return attempt;
}

}  // namespace zobra::os
