#pragma once
// Support for tests that run the real `zobra` executable: a temporary folder
// with a copy of it (the log and crash report go beside the executable), a
// private Xvfb server, child processes with a clean environment, and a few X
// requests (find the window, ask it to close, take its picture).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;  // Xlib's Display

namespace zobra::e2e {

// A fresh folder under /tmp holding a copy of the game; removed at the end.
class GameFolder {
  public:
    GameFolder();
    ~GameFolder();
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path executable() const { return path_ / "zobra"; }
    std::filesystem::path log_file() const { return path_ / "zobra-controller.txt"; }
    std::filesystem::path crash_file() const { return path_ / "zobra-crash.txt"; }

  private:
    std::filesystem::path path_;
};

// The log's lines, without their line feeds; empty when there is no log.
std::vector<std::string> read_lines(const std::filesystem::path& file);
std::string read_file(const std::filesystem::path& file);
// Whether the game's log holds this entry, whole, as one of its lines.
bool logged(const GameFolder& folder, const std::string& entry);
// The log's start-up entries ("start: …") in order; other threads' lines
// (gamepads, Pro Controllers) may fall between them at any time.
std::vector<std::string> start_entries(const std::filesystem::path& log_file);

// How a child process ended.
struct Ending {
    bool exited = false;     // ended through exit()
    int status = -1;         // exit status when exited
    int signal = 0;          // the signal that ended it otherwise
    bool timed_out = false;  // killed by the test after its time ran out
};

// A child process with its own environment: only PATH, HOME and what the
// test gives it, so that the tester's display or save never leaks in. It
// is killed with the test: by the destructor when the test fails or ends,
// and by the system when the test process itself dies (every process this
// file starts, Xvfb and the tools included, is tied to the test that way).
class Process {
  public:
    Process(const std::filesystem::path& program, const std::map<std::string, std::string>& env,
            const std::filesystem::path& working_dir);
    // The same with arguments: argv[0] is the program, looked up on PATH.
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::filesystem::path& working_dir);
    ~Process();  // kills a process that still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // Waits until the process ends or the time runs out (then kills it).
    Ending wait(std::chrono::milliseconds limit);
    bool running();
    std::string output();        // everything written to standard output so far
    std::string error_output();  // everything written to standard error so far

  private:
    void drain();
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_, err_;
    std::optional<Ending> ending_;
};

// Runs a program to its end and gives back how it ended and what it wrote.
struct Result {
    Ending ending;
    std::string out, err;
};
Result run_to_end(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env,
                  const std::filesystem::path& working_dir, std::chrono::milliseconds limit);

// A private X server on a free display, stopped by its process id.
class Xvfb {
  public:
    Xvfb();  // fails the test (via exception) when Xvfb cannot start
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }  // ":N"
    pid_t pid() const { return pid_; }
    // The environment a game under this server needs: DISPLAY and drivers.
    std::map<std::string, std::string> environment() const;

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// One X window found by its title.
struct WindowInfo {
    unsigned long id = 0;
    int width = 0, height = 0;
};
// Waits up to `limit` for a mapped window with this exact title.
std::optional<WindowInfo> find_window(const std::string& display, const std::string& title,
                                      std::chrono::milliseconds limit);
// Asks the window to close the way a window manager does (WM_DELETE_WINDOW).
void request_close(const std::string& display, unsigned long window);

// The window's current picture, three bytes a pixel, taken with ImageMagick's
// `import` (so it is what the X server really shows).
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    std::uint32_t at(int x, int y) const;  // 0xRRGGBB; black outside the picture
};
Picture screenshot(const std::string& display, unsigned long window);

// Grabs a window's picture straight from the X server over a connection of
// its own, much quicker than a screenshot through ImageMagick.
class Grabber {
  public:
    Grabber(const std::string& display, unsigned long window);
    ~Grabber();
    Grabber(const Grabber&) = delete;
    Grabber& operator=(const Grabber&) = delete;

    // The window's pixels, or an empty picture when it cannot be read.
    Picture grab();

  private:
    ::_XDisplay* display_;
    unsigned long window_;
};

// Polls `condition` every 20 ms until it holds or `limit` passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit);

// Types keys into the window with xdotool (focuses it first), e.g. "Return".
void press_keys(const std::string& display, unsigned long window,
                const std::vector<std::string>& keys);
// Runs xdotool with these arguments against the display; true when it succeeded.
bool xdotool(const std::string& display, const std::vector<std::string>& arguments);

}  // namespace zobra::e2e

#include <thread>

template <typename Condition>
bool zobra::e2e::eventually(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
