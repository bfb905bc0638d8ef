#include "e2e/process.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace zobra::e2e {

namespace fs = std::filesystem;

GameFolder::GameFolder() {
    char pattern[] = "/tmp/zobra-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
    path_ = pattern;
    fs::copy_file(ZOBRA_EXE, executable());
}

GameFolder::~GameFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> read_lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool logged(const GameFolder& folder, const std::string& entry) {
    const std::vector<std::string> log = read_lines(folder.log_file());
    return std::find(log.begin(), log.end(), entry) != log.end();
}

std::vector<std::string> start_entries(const fs::path& log_file) {
    std::vector<std::string> entries;
    for (std::string& line : read_lines(log_file))
        if (line.rfind("start: ", 0) == 0) entries.push_back(std::move(line));
    return entries;
}

namespace {

void make_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void read_available(int fd, std::string& into) {
    if (fd < 0) return;
    char buffer[4096];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        into.append(buffer, static_cast<std::size_t>(n));
    }
}

Ending ending_of(int status) {
    Ending e;
    if (WIFEXITED(status)) {
        e.exited = true;
        e.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        e.signal = WTERMSIG(status);
    }
    return e;
}

// Starts `argv` in a child with exactly the given environment (plus PATH and
// HOME unless given), standard output and error into the two pipe ends.
pid_t spawn(const std::vector<std::string>& argv, std::map<std::string, std::string> env,
            const fs::path& working_dir, int out_fd, int err_fd) {
    if (!env.count("PATH")) env["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    if (!env.count("HOME")) env["HOME"] = working_dir.string();
    std::vector<std::string> env_text;
    for (const auto& [key, value] : env) env_text.push_back(key + "=" + value);
    std::vector<char*> env_ptrs, arg_ptrs;
    for (auto& s : env_text) env_ptrs.push_back(s.data());
    env_ptrs.push_back(nullptr);
    std::vector<std::string> args = argv;
    for (auto& s : args) arg_ptrs.push_back(s.data());
    arg_ptrs.push_back(nullptr);

    const pid_t test = getpid();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // The child dies with the test, however the test ends: a crash, an
        // abort or the test runner's kill after a time-out run no
        // destructors, and a game or Xvfb left behind would run for ever.
        // A test that died before this line leaves the child to end itself.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != test) _exit(125);
        if (chdir(working_dir.c_str()) != 0) _exit(126);
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        setpgid(0, 0);
        execvpe(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

Process::Process(const fs::path& program, const std::map<std::string, std::string>& env,
                 const fs::path& working_dir)
    : Process(std::vector<std::string>{program.string()}, env, working_dir) {}

Process::Process(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const fs::path& working_dir) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = spawn(argv, env, working_dir, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
    make_nonblocking(out_fd_);
    make_nonblocking(err_fd_);
}

Process::~Process() {
    if (!ending_ && pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

void Process::drain() {
    read_available(out_fd_, out_);
    read_available(err_fd_, err_);
}

bool Process::running() {
    if (ending_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ending_ = ending_of(status);
        drain();
        return false;
    }
    return true;
}

Ending Process::wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
        drain();
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            ending_ = ending_of(status);
            ending_->timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    drain();
    return *ending_;
}

std::string Process::output() {
    drain();
    return out_;
}

std::string Process::error_output() {
    drain();
    return err_;
}

Result run_to_end(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& env, const fs::path& working_dir,
                  std::chrono::milliseconds limit) {
    Process process(argv, env, working_dir);
    Result result;
    result.ending = process.wait(limit);
    result.out = process.output();
    result.err = process.error_output();
    return result;
}

Xvfb::Xvfb() {
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1280x1024x24",
                  "-nolisten", "tcp"},
                 {}, "/tmp", null_fd, null_fd);
    close(ready[1]);
    close(null_fd);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd p{ready[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0) {
        char c[16];
        ssize_t n = ::read(ready[0], c, sizeof c);
        if (n <= 0) break;
        number.append(c, static_cast<std::size_t>(n));
    }
    close(ready[0]);
    if (number.empty()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + number.substr(0, number.find('\n'));
}

Xvfb::~Xvfb() {
    // A server that does not go on request within five seconds is killed.
    kill(pid_, SIGTERM);
    const bool ended =
        eventually([&] { return waitpid(pid_, nullptr, WNOHANG) != 0; }, std::chrono::seconds(5));
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::map<std::string, std::string> Xvfb::environment() const {
    // Without a session bus, SDL's D-Bus library would start one for the
    // display: it forks while the game's other threads run, and in the
    // address-sanitizer build the forked child can hang for ever on the
    // allocator lock another thread held. A bus address that does not
    // exist makes it give up at once, and leaves no bus daemon behind.
    return {{"DISPLAY", display_},
            {"SDL_VIDEODRIVER", "x11"},
            {"SDL_AUDIODRIVER", "dummy"},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zobra-test-bus"}};
}

namespace {

std::optional<WindowInfo> search(Display* x, Window w, const std::string& title) {
    XWindowAttributes attributes;
    char* name = nullptr;
    if (XFetchName(x, w, &name) && name) {
        const bool match = title == name;
        XFree(name);
        if (match && XGetWindowAttributes(x, w, &attributes) && attributes.map_state == IsViewable)
            return WindowInfo{w, attributes.width, attributes.height};
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    std::optional<WindowInfo> found;
    if (XQueryTree(x, w, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) found = search(x, children[i], title);
        if (children) XFree(children);
    }
    return found;
}

}  // namespace

std::optional<WindowInfo> find_window(const std::string& display, const std::string& title,
                                      std::chrono::milliseconds limit) {
    Display* x = XOpenDisplay(display.c_str());
    if (x == nullptr) return std::nullopt;
    std::optional<WindowInfo> found;
    eventually([&] { return (found = search(x, DefaultRootWindow(x), title)).has_value(); }, limit);
    XCloseDisplay(x);
    return found;
}

void request_close(const std::string& display, unsigned long window) {
    Display* x = XOpenDisplay(display.c_str());
    if (x == nullptr) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, window, False, NoEventMask, &event);
    XFlush(x);
    XCloseDisplay(x);
}

std::uint32_t Picture::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
        return 0;
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(x)) *
                          3;
    return (std::uint32_t{rgb[i]} << 16) | (std::uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
}

Picture screenshot(const std::string& display, unsigned long window) {
    char pattern[] = "/tmp/zobra-shot-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    const std::string file = pattern;
    run_to_end({"import", "-window", std::to_string(window), "-depth", "8", "ppm:" + file},
               {{"DISPLAY", display}}, "/tmp", std::chrono::seconds(30));
    const std::string data = read_file(file);
    unlink(file.c_str());

    // A binary PPM: "P6", width, height, maximum, one blank, then the pixels.
    Picture picture;
    std::istringstream header(data);
    std::string magic;
    int maximum = 0;
    header >> magic >> picture.width >> picture.height >> maximum;
    if (magic != "P6" || maximum != 255) return {};
    const auto start = static_cast<std::size_t>(header.tellg()) + 1;
    const std::size_t size =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3;
    if (data.size() < start + size) return {};
    picture.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(start),
                       data.begin() + static_cast<std::ptrdiff_t>(start + size));
    return picture;
}

bool xdotool(const std::string& display, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Result r = run_to_end(argv, {{"DISPLAY", display}}, "/tmp", std::chrono::seconds(30));
    return r.ending.exited && r.ending.status == 0;
}

Grabber::Grabber(const std::string& display, unsigned long window)
    : display_(XOpenDisplay(display.c_str())), window_(window) {}

Grabber::~Grabber() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

Picture Grabber::grab() {
    Picture picture;
    if (display_ == nullptr) return picture;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0) return picture;
    XImage* image = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return picture;
    picture.width = attributes.width;
    picture.height = attributes.height;
    picture.rgb.resize(static_cast<std::size_t>(picture.width * picture.height) * 3);
    std::size_t at = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            picture.rgb[at++] = static_cast<std::uint8_t>((p & image->red_mask) >> 16);
            picture.rgb[at++] = static_cast<std::uint8_t>((p & image->green_mask) >> 8);
            picture.rgb[at++] = static_cast<std::uint8_t>(p & image->blue_mask);
        }
    XDestroyImage(image);
    return picture;
}

void press_keys(const std::string& display, unsigned long window,
                const std::vector<std::string>& keys) {
    std::vector<std::string> arguments{"windowfocus", "--sync",  std::to_string(window),
                                       "key",         "--delay", "60"};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    xdotool(display, arguments);
}

}  // namespace zobra::e2e
