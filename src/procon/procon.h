#pragma once
// The Pro Controller driver: Nintendo Switch Pro Controllers on USB, read
// over raw HID on a thread of their own, named "procon". The driver finds
// them by their USB ids, wakes them into full input reports, turns their
// reports into `PadState`s and hands those to the game through the
// `PadList`. It reaches the HID library and the clock only through the small
// interfaces below: the game plugs in hidapi and the steady clock
// (procon_hid.cpp), tests a simulated controller and a fake clock.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pads/pads.h"

namespace zobra {

inline constexpr std::uint16_t procon_vendor_id = 0x057e;
inline constexpr std::uint16_t procon_product_id = 0x2009;

inline constexpr std::size_t procon_report_bytes = 64;  // sent and read
inline constexpr std::chrono::milliseconds procon_read_timeout{8};
inline constexpr std::chrono::milliseconds procon_send_pause{80};
inline constexpr std::chrono::milliseconds procon_search_interval{2000};
inline constexpr std::chrono::milliseconds procon_idle_sleep{250};
inline constexpr std::chrono::milliseconds procon_wake_interval{1500};
inline constexpr std::uint32_t procon_max_wakes = 4;  // the first and three repeats
inline constexpr std::chrono::milliseconds procon_silence_limit{8000};
inline constexpr std::uint32_t procon_report_log_every = 500;  // after the first three
inline constexpr std::size_t procon_report_log_bytes = 16;

// The bus a HID device hangs on, numbered as the HID library numbers them.
enum class HidBus : std::uint8_t { Unknown = 0, Usb = 1, Bluetooth = 2, I2c = 3, Spi = 4 };

// What the HID library tells about one device interface.
struct HidDeviceInfo {
    std::string path;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::optional<std::string> product;
    std::optional<std::string> manufacturer;
    std::uint16_t usage_page = 0;
    std::uint16_t usage = 0;
    int interface_number = -1;
    HidBus bus = HidBus::Unknown;
};

// One open HID device; destroying it closes it. Both calls give the number
// of bytes moved, or none with the library's error text.
class HidDevice {
  public:
    virtual ~HidDevice() = default;
    virtual std::optional<std::size_t> write(std::span<const std::uint8_t> report,
                                             std::string& error) = 0;
    // Waits at most `timeout` for one input report; 0 bytes when none came.
    virtual std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                            std::chrono::milliseconds timeout,
                                            std::string& error) = 0;
};

// The started HID library.
class HidLibrary {
  public:
    virtual ~HidLibrary() = default;
    // Lists the devices anew; false with the error text when it cannot.
    virtual bool enumerate(std::vector<HidDeviceInfo>& devices, std::string& error) = 0;
    // Opens a device by a path the last listing gave; none with the error
    // text when it cannot.
    virtual std::unique_ptr<HidDevice> open(const std::string& path, std::string& error) = 0;
};

// Starts the HID library; none with the error text when it cannot.
using HidStart = std::function<std::unique_ptr<HidLibrary>(std::string& error)>;

// The driver's sense of time: the steady clock in the game.
class ProconClock {
  public:
    using Instant = std::chrono::steady_clock::time_point;
    virtual ~ProconClock() = default;
    virtual Instant now() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// Where the driver's lines go: the diagnostic log in the game.
using ProconLog = std::function<void(std::string_view)>;

// One open Pro Controller.
struct ProPad {
    // How many reports of each id arrived, ids in the order they first came.
    std::vector<std::pair<std::uint8_t, std::uint32_t>> report_counts;
    ProconClock::Instant last_report;  // the last read that brought bytes
    ProconClock::Instant last_wake;    // the last wake-up sequence sent
    std::string path;
    std::unique_ptr<HidDevice> device;
    std::uint32_t wakes = 1;
    std::optional<PadState> state;  // none until a report could be decoded
};

// Everything the "procon" thread keeps from one pass to the next.
class ProconDriver {
  public:
    ProconDriver(HidLibrary& hid, ProconClock& clock, PadList& pads, ProconLog log);

    // Searches for new controllers when one is due, then reads every open
    // controller once and publishes their states; sleeps instead while none
    // is open.
    void pass();

    const std::vector<ProPad>& pads() const { return pads_; }
    const std::vector<std::string>& refused_paths() const { return refused_; }

  private:
    void search();
    void open_candidate(const HidDeviceInfo& info);
    void wake(HidDevice& device);
    void send(HidDevice& device, std::string_view name, std::span<const std::uint8_t> bytes);
    bool keep_after_reading(ProPad& pad);  // false when the pad is let go
    bool is_open(const std::string& path) const;
    bool is_refused(const std::string& path) const;

    HidLibrary& hid_;
    ProconClock& clock_;
    PadList& list_;
    ProconLog log_;
    std::vector<ProPad> pads_;
    std::vector<std::string> refused_;
    std::optional<ProconClock::Instant> last_search_;
};

// The pad state an input report 3F or 30 gives; none for any other report
// and for one too short to hold the buttons and the stick.
std::optional<PadState> decode_report(std::span<const std::uint8_t> report);

// "devices that look like game controllers:" and a line for every joystick,
// gamepad or Nintendo device, or "  none".
void log_game_controllers(std::span<const HidDeviceInfo> devices, const ProconLog& log);

// The thread's body against any HID library and clock: starts the library,
// logs the controllers it sees and then passes forever. Returns only when
// the library does not start.
void procon_run(const HidStart& start, ProconClock& clock, PadList& pads, const ProconLog& log);

// The thread's body in the game: hidapi, the steady clock and the
// diagnostic log (procon_hid.cpp).
void procon_main(PadList& pads);

// Starts a detached thread named "procon" that runs `body`; false when the
// system cannot start it.
bool start_procon_thread(std::function<void()> body);

}  // namespace zobra
