#include "procon/procon.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <system_error>
#include <thread>

namespace zobra {

namespace {

using Instant = ProconClock::Instant;

// The wake-up sequence: two handshakes around a switch to the fast rate,
// then "USB only" (so the controller stops waiting for Bluetooth) and the
// subcommand that asks for full input reports (id 01, packet counter 01,
// neutral rumble, subcommand 03 with argument 30).
struct WakeStep {
    std::string_view name;
    std::span<const std::uint8_t> bytes;
};
constexpr std::array<std::uint8_t, 2> handshake{0x80, 0x02};
constexpr std::array<std::uint8_t, 2> fast_rate{0x80, 0x03};
constexpr std::array<std::uint8_t, 2> usb_only{0x80, 0x04};
constexpr std::array<std::uint8_t, 12> full_reports{0x01, 0x01, 0x00, 0x01, 0x40, 0x40,
                                                    0x00, 0x01, 0x40, 0x40, 0x03, 0x30};
constexpr std::array<WakeStep, 5> wake_sequence{{
    {"handshake", handshake},
    {"fast rate", fast_rate},
    {"handshake", handshake},
    {"usb only", usb_only},
    {"full reports", full_reports},
}};

constexpr std::uint8_t simple_report_id = 0x3f;
constexpr std::uint8_t full_report_id = 0x30;
constexpr std::size_t simple_report_min_bytes = 8;
constexpr std::size_t full_report_min_bytes = 9;
constexpr float simple_stick_centre = 32768.0f;
constexpr float full_stick_centre = 2048.0f;

constexpr char hex_digits[] = "0123456789abcdef";

std::string hex2(std::uint8_t value) { return {hex_digits[value >> 4], hex_digits[value & 0x0f]}; }

std::string hex4(std::uint16_t value) {
    return hex2(static_cast<std::uint8_t>(value >> 8)) + hex2(static_cast<std::uint8_t>(value));
}

// "80 02": bytes as two hexadecimal digits each, one space between.
std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += hex2(byte);
    }
    return text;
}

const char* bus_name(HidBus bus) {
    switch (bus) {
        case HidBus::Unknown:
            return "Unknown";
        case HidBus::Usb:
            return "Usb";
        case HidBus::Bluetooth:
            return "Bluetooth";
        case HidBus::I2c:
            return "I2c";
        case HidBus::Spi:
            return "Spi";
    }
    return "Unknown";
}

// Product and manufacturer strings come from the device itself: a line feed
// in one must not forge a line of the log.
std::string device_text(const std::optional<std::string>& text) {
    if (!text) return "?";
    std::string shown = *text;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return shown;
}

// The path as a quoted string literal. Backslashes and quotes are escaped,
// and so are control characters, which would otherwise break the line.
std::string quoted(std::string_view path) {
    std::string text = "\"";
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            text += "\\u{" + std::string{hex_digits[byte >> 4]} + hex_digits[byte & 0x0f] + "}";
        } else {
            text += c;
        }
    }
    return text + '"';
}

std::string usage_text(const HidDeviceInfo& info) {
    return "usage " + hex4(info.usage_page) + ":" + hex4(info.usage);
}

bool is_pro_controller(const HidDeviceInfo& info) {
    return info.vendor_id == procon_vendor_id && info.product_id == procon_product_id;
}

// Usage page 1 (generic desktop), usage 4 (joystick) or 5 (gamepad).
bool looks_like_game_controller(const HidDeviceInfo& info) {
    return (info.usage_page == 1 && (info.usage == 4 || info.usage == 5)) ||
           info.vendor_id == procon_vendor_id;
}

std::uint16_t le16(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::uint16_t>(low | high << 8);
}

// The simple report: what a controller sends before it is switched to full
// reports. Its hat has diagonals; they count as sideways.
PadState decode_simple(std::span<const std::uint8_t> r) {
    PadState state;
    state.face = (r[1] & 0x0f) != 0;  // B, A, Y, X
    state.drop = (r[1] & 0xf0) != 0;  // L, R, ZL, ZR
    state.select = (r[2] & 0x01) != 0;
    state.start = (r[2] & 0x02) != 0;
    const std::uint8_t hat = r[3];
    if (hat == 0) {
        state.dir = Dir::Up;
    } else if (hat <= 3) {
        state.dir = Dir::Right;
    } else if (hat == 4) {
        state.dir = Dir::Down;
    } else if (hat <= 7) {
        state.dir = Dir::Left;
    } else {
        // Raw y grows downwards here.
        const float x =
            (static_cast<float>(le16(r[4], r[5])) - simple_stick_centre) / simple_stick_centre;
        const float y =
            -((static_cast<float>(le16(r[6], r[7])) - simple_stick_centre) / simple_stick_centre);
        state.dir = stick_dir(x, y);
    }
    return state;
}

// The full report: buttons in three bytes, the left stick as two 12-bit
// values with y growing upwards. Of several D-pad buttons the first in the
// order up, right, down, left wins.
PadState decode_full(std::span<const std::uint8_t> r) {
    const std::uint8_t right = r[3];
    const std::uint8_t middle = r[4];
    const std::uint8_t left = r[5];
    PadState state;
    state.face = (right & 0x0f) != 0;                        // Y, X, B, A
    state.drop = (right & 0xc0) != 0 || (left & 0xc0) != 0;  // R, ZR, L, ZL
    state.select = (middle & 0x01) != 0;
    state.start = (middle & 0x02) != 0;
    if ((left & 0x02) != 0) {
        state.dir = Dir::Up;
    } else if ((left & 0x04) != 0) {
        state.dir = Dir::Right;
    } else if ((left & 0x01) != 0) {
        state.dir = Dir::Down;
    } else if ((left & 0x08) != 0) {
        state.dir = Dir::Left;
    } else {
        const int raw_x = r[6] + 256 * (r[7] & 0x0f);
        const int raw_y = (r[7] >> 4) + 16 * r[8];
        const float x = (static_cast<float>(raw_x) - full_stick_centre) / full_stick_centre;
        const float y = (static_cast<float>(raw_y) - full_stick_centre) / full_stick_centre;
        state.dir = stick_dir(x, y);
    }
    return state;
}

// The first three reports of an id are logged, then every 500th.
bool worth_logging(std::uint32_t count) {
    return count <= 3 || count % procon_report_log_every == 0;
}

std::uint32_t count_report(ProPad& pad, std::uint8_t id) {
    auto entry = std::find_if(pad.report_counts.begin(), pad.report_counts.end(),
                              [id](const auto& e) { return e.first == id; });
    if (entry == pad.report_counts.end()) {
        pad.report_counts.emplace_back(id, 0);
        entry = pad.report_counts.end() - 1;
    }
    return ++entry->second;
}

}  // namespace

std::optional<PadState> decode_report(std::span<const std::uint8_t> report) {
    if (report.empty()) return std::nullopt;
    if (report[0] == simple_report_id && report.size() >= simple_report_min_bytes)
        return decode_simple(report);
    if (report[0] == full_report_id && report.size() >= full_report_min_bytes)
        return decode_full(report);
    return std::nullopt;
}

void log_game_controllers(std::span<const HidDeviceInfo> devices, const ProconLog& log) {
    log("devices that look like game controllers:");
    bool any = false;
    for (const HidDeviceInfo& info : devices) {
        if (!looks_like_game_controller(info)) continue;
        any = true;
        log("  " + hex4(info.vendor_id) + ":" + hex4(info.product_id) + " " +
            device_text(info.product) + " by " + device_text(info.manufacturer) + ", " +
            usage_text(info) + ", " + bus_name(info.bus));
    }
    if (!any) log("  none");
}

ProconDriver::ProconDriver(HidLibrary& hid, ProconClock& clock, PadList& pads, ProconLog log)
    : hid_(hid), clock_(clock), list_(pads), log_(std::move(log)) {}

void ProconDriver::pass() {
    if (!last_search_ || clock_.now() - *last_search_ > procon_search_interval) search();
    if (pads_.empty()) {
        clock_.sleep(procon_idle_sleep);
        return;
    }

    std::erase_if(pads_, [this](ProPad& pad) { return !keep_after_reading(pad); });

    // The lock is held for nothing but the hand-over.
    std::vector<PadState> states;
    for (const ProPad& pad : pads_)
        if (pad.state) states.push_back(*pad.state);
    list_.replace(std::move(states));
}

void ProconDriver::search() {
    last_search_ = clock_.now();
    std::vector<HidDeviceInfo> devices;
    std::string error;
    if (!hid_.enumerate(devices, error)) {
        log_("listing devices failed: " + error);
        return;
    }
    for (const HidDeviceInfo& info : devices)
        if (is_pro_controller(info) && !is_open(info.path) && !is_refused(info.path))
            open_candidate(info);
}

void ProconDriver::open_candidate(const HidDeviceInfo& info) {
    log_("found a Pro Controller: " + device_text(info.product) + ", interface " +
         std::to_string(info.interface_number) + ", " + usage_text(info) + ", " +
         bus_name(info.bus) + ", at " + quoted(info.path));
    std::string error;
    std::unique_ptr<HidDevice> device = hid_.open(info.path, error);
    if (!device) {
        log_("  could not be opened: " + error);
        refused_.push_back(info.path);
        return;
    }
    log_("  opened");
    wake(*device);
    ProPad pad;
    pad.last_report = pad.last_wake = clock_.now();
    pad.path = info.path;
    pad.device = std::move(device);
    pads_.push_back(std::move(pad));
}

void ProconDriver::wake(HidDevice& device) {
    for (const WakeStep& step : wake_sequence) send(device, step.name, step.bytes);
}

// A failed send is logged and the sequence goes on: a controller that
// missed one step may still take the others.
void ProconDriver::send(HidDevice& device, std::string_view name,
                        std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, procon_report_bytes> report{};
    std::copy(bytes.begin(), bytes.end(), report.begin());
    const std::string what = std::string(name) + " (" + hex_bytes(bytes) + ")";
    std::string error;
    if (std::optional<std::size_t> written = device.write(report, error))
        log_("  sent " + what + ": " + std::to_string(*written) + " bytes");
    else
        log_("  sending " + what + " failed: " + error);
    clock_.sleep(procon_send_pause);
}

bool ProconDriver::keep_after_reading(ProPad& pad) {
    std::array<std::uint8_t, procon_report_bytes> buffer{};
    std::string error;
    const std::optional<std::size_t> read = pad.device->read(buffer, procon_read_timeout, error);
    if (!read) {
        log_("  reading failed, giving it up: " + error);
        return false;
    }
    // A library that claims more than the buffer holds is not believed.
    const std::size_t n = std::min(*read, buffer.size());
    if (n > 0) {
        pad.last_report = clock_.now();
        const std::span<const std::uint8_t> report(buffer.data(), n);
        const std::uint32_t count = count_report(pad, report[0]);
        if (worth_logging(count))
            log_("  report " + hex2(report[0]) + " #" + std::to_string(count) + ", " +
                 std::to_string(n) +
                 " bytes: " + hex_bytes(report.first(std::min(n, procon_report_log_bytes))));
        if (std::optional<PadState> state = decode_report(report)) {
            if (!pad.state) log_("  buttons are arriving: " + to_text(*state));
            pad.state = state;
        }
    }

    if (!pad.state && pad.wakes < procon_max_wakes &&
        clock_.now() - pad.last_wake > procon_wake_interval) {
        ++pad.wakes;
        pad.last_wake = clock_.now();
        log_("  no buttons yet, waking it again (try " + std::to_string(pad.wakes) + ")");
        wake(*pad.device);
    }

    if (clock_.now() - pad.last_report > procon_silence_limit) {
        log_("  silent for too long, letting it go");
        return false;
    }
    return true;
}

bool ProconDriver::is_open(const std::string& path) const {
    return std::any_of(pads_.begin(), pads_.end(),
                       [&](const ProPad& pad) { return pad.path == path; });
}

bool ProconDriver::is_refused(const std::string& path) const {
    return std::find(refused_.begin(), refused_.end(), path) != refused_.end();
}

void procon_run(const HidStart& start, ProconClock& clock, PadList& pads, const ProconLog& log) {
    std::string error;
    std::unique_ptr<HidLibrary> hid = start(error);
    std::vector<HidDeviceInfo> devices;
    if (!hid || !hid->enumerate(devices, error)) {
        log("the device library did not start: " + error);
        return;
    }
    log_game_controllers(devices, log);
    ProconDriver driver(*hid, clock, pads, log);
    for (;;) driver.pass();
}

bool start_procon_thread(std::function<void()> body) {
    try {
        std::thread thread([body = std::move(body)] {
            pthread_setname_np(pthread_self(), "procon");
            body();
        });
        thread.detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace zobra
