// The Pro Controller driver against simulated controllers on a simulated USB
// bus, with a clock that only moves when the driver waits: waking, giving up
// and finding controllers again take milliseconds instead of seconds.

#include "procon/procon.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <deque>
#include <future>
#include <thread>

#include "core/panic.h"
#include "support/panic_error.h"

namespace zobra {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A report as the controller sends it over USB: 64 bytes, zeros after the
// ones that matter.
Bytes padded(Bytes bytes) {
    bytes.resize(procon_report_bytes);
    return bytes;
}

Bytes simple_report(std::uint8_t buttons, std::uint8_t minus_plus, std::uint8_t hat,
                    std::uint16_t x = 32768, std::uint16_t y = 32768) {
    return {0x3f,
            buttons,
            minus_plus,
            hat,
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>(y >> 8)};
}

// Sticks are two 12-bit values packed into three bytes.
Bytes full_report(std::uint8_t right, std::uint8_t middle, std::uint8_t left,
                  std::uint16_t x = 2048, std::uint16_t y = 2048) {
    return {0x30,
            0x00,
            0x91,
            right,
            middle,
            left,
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>((x >> 8 & 0x0f) | (y & 0x0f) << 4),
            static_cast<std::uint8_t>(y >> 4)};
}

std::optional<PadState> decoded(const Bytes& report) { return decode_report(report); }

std::optional<Dir> dir_of(const Bytes& report) {
    const std::optional<PadState> state = decode_report(report);
    return state ? state->dir : std::nullopt;
}

PadState buttons(bool face, bool start, bool select, bool drop) {
    return PadState{std::nullopt, face, start, select, drop};
}

// ---------------------------------------------------------------------------
// The simulated bus.

struct SimulationOver {};

// A Pro Controller on the simulated bus. By default it behaves like a real
// one on USB: it answers the handshakes and the subcommand, and once asked
// for full reports it sends report 30 every 8 ms.
struct SimulatedController {
    HidDeviceInfo info;
    bool plugged = true;
    bool opens = true;
    bool answers = true;
    std::uint32_t full_after_requests = 1;  // 0: never switches to full reports
    bool sends_simple = false;              // report 3F every 16 ms until switched
    Bytes simple = simple_report(0, 0, 8);
    Bytes full = full_report(0, 0, 0);
    std::function<bool(const Bytes&)> write_fails = [](const Bytes&) { return false; };
    std::function<void()> on_read;  // runs inside every read

    // What happened to it.
    int opened = 0;
    int closed = 0;
    std::vector<std::pair<double, Bytes>> writes;  // seconds, report

    std::deque<Bytes> replies;
    std::uint32_t full_requests = 0;
    bool streaming_full = false;
    std::optional<double> next_report;
};

class SimulatedBus final : public HidLibrary, public ProconClock {
  public:
    static constexpr Instant epoch = Instant{} + 1000h;

    // Seconds since the simulation began.
    double seconds() const { return std::chrono::duration<double>(now_ - epoch).count(); }

    Instant now() override { return now_; }
    void sleep(std::chrono::milliseconds duration) override { advance(duration); }

    void advance(std::chrono::nanoseconds duration) {
        now_ += duration;
        if (stop_after && seconds() >= *stop_after) throw SimulationOver{};
    }
    void advance_to(double when) {
        if (when > seconds())
            advance(std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::duration<double>(when - seconds())));
    }

    SimulatedController& plug(std::string path, int interface_number = 0) {
        auto pad = std::make_unique<SimulatedController>();
        pad->info = HidDeviceInfo{std::move(path),
                                  procon_vendor_id,
                                  procon_product_id,
                                  "Pro Controller",
                                  "Nintendo Co., Ltd.",
                                  1,
                                  5,
                                  interface_number,
                                  HidBus::Usb};
        controllers.push_back(std::move(pad));
        return *controllers.back();
    }

    bool enumerate(std::vector<HidDeviceInfo>& devices, std::string& error) override {
        listing_times.push_back(seconds());
        if (listing_fails) {
            error = "the bus is asleep";
            return false;
        }
        devices = others;
        for (const auto& pad : controllers)
            if (pad->plugged) devices.push_back(pad->info);
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path, std::string& error) override;

    std::vector<std::unique_ptr<SimulatedController>> controllers;
    std::vector<HidDeviceInfo> others;  // listed, never a Pro Controller
    std::vector<double> listing_times;
    bool listing_fails = false;
    std::optional<double> stop_after;

  private:
    Instant now_ = epoch;
};

class SimulatedHandle final : public HidDevice {
  public:
    SimulatedHandle(SimulatedController& pad, SimulatedBus& bus) : pad_(pad), bus_(bus) {
        ++pad_.opened;
    }
    ~SimulatedHandle() override { ++pad_.closed; }

    std::optional<std::size_t> write(std::span<const std::uint8_t> report,
                                     std::string& error) override {
        Bytes bytes(report.begin(), report.end());
        pad_.writes.emplace_back(bus_.seconds(), bytes);
        if (!pad_.plugged || pad_.write_fails(bytes)) {
            error = "broken pipe";
            return std::nullopt;
        }
        if (pad_.answers) answer(bytes);
        return bytes.size();
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout,
                                    std::string& error) override {
        if (pad_.on_read) pad_.on_read();
        if (!pad_.plugged) {
            error = "device disconnected";
            return std::nullopt;
        }
        if (!pad_.replies.empty()) {
            const std::size_t n = deliver(pad_.replies.front(), buffer);
            pad_.replies.pop_front();
            return n;
        }
        const bool streaming = pad_.streaming_full || pad_.sends_simple;
        const double period = pad_.streaming_full ? 0.008 : 0.016;
        const double deadline = bus_.seconds() + std::chrono::duration<double>(timeout).count();
        if (streaming) {
            if (!pad_.next_report) pad_.next_report = bus_.seconds();
            if (*pad_.next_report <= deadline) {
                bus_.advance_to(*pad_.next_report);
                pad_.next_report = bus_.seconds() + period;
                return deliver(pad_.streaming_full ? pad_.full : pad_.simple, buffer);
            }
        }
        bus_.advance(timeout);
        return 0;
    }

  private:
    static std::size_t deliver(const Bytes& report, std::span<std::uint8_t> buffer) {
        const std::size_t n = std::min(report.size(), buffer.size());
        std::copy_n(report.begin(), n, buffer.begin());
        return n;
    }

    // Handshakes are answered with 81 and the step, the subcommand with a
    // reply 21; the request for full reports switches the stream over.
    void answer(const Bytes& sent) {
        if (sent[0] == 0x80 && (sent[1] == 0x02 || sent[1] == 0x03))
            pad_.replies.push_back(padded({0x81, sent[1]}));
        if (sent[0] == 0x01 && sent[10] == 0x03 && sent[11] == 0x30) {
            pad_.replies.push_back(padded({0x21, 0x05, 0x91, 0x00, 0x80, 0x00}));
            ++pad_.full_requests;
            if (pad_.full_after_requests > 0 && pad_.full_requests >= pad_.full_after_requests)
                pad_.streaming_full = true;
        }
    }

    SimulatedController& pad_;
    SimulatedBus& bus_;
};

std::unique_ptr<HidDevice> SimulatedBus::open(const std::string& path, std::string& error) {
    for (const auto& pad : controllers) {
        if (pad->info.path != path || !pad->plugged) continue;
        if (!pad->opens) {
            ++pad->opened;  // counted as a try
            error = "Permission denied";
            return nullptr;
        }
        return std::make_unique<SimulatedHandle>(*pad, *this);
    }
    error = "No such device";
    return nullptr;
}

// The driver, its pad list and its log lines on one simulated bus.
struct Rig {
    SimulatedBus bus;
    PadList list;
    std::vector<std::string> log;
    std::vector<double> log_times;  // seconds, one for each line
    ProconDriver driver{bus, bus, list, [this](std::string_view line) {
                            log.emplace_back(line);
                            log_times.push_back(bus.seconds());
                        }};

    void run_until(double seconds) {
        while (bus.seconds() < seconds) driver.pass();
    }
    // Runs until a line starting with `prefix` is logged; gives its time.
    double run_until_line(std::string_view prefix, double limit) {
        const std::size_t seen = log.size();
        while (bus.seconds() < limit) {
            driver.pass();
            for (std::size_t i = seen; i < log.size(); ++i)
                if (log[i].starts_with(prefix)) return log_times[i];
        }
        ADD_FAILURE() << "no line \"" << prefix << "\" before " << limit << " s";
        return limit;
    }
    std::size_t count_lines(std::string_view prefix) const {
        return static_cast<std::size_t>(std::count_if(
            log.begin(), log.end(), [&](const std::string& l) { return l.starts_with(prefix); }));
    }
};

// When each wake-up sequence began: the first of every five writes.
std::vector<double> wake_times(const SimulatedController& pad) {
    std::vector<double> times;
    for (std::size_t i = 0; i < pad.writes.size(); i += 5) times.push_back(pad.writes[i].first);
    return times;
}

// Copies the list on another thread, as the game does; none when the copy
// is still waiting for the lock after a second.
std::optional<std::vector<PadState>> copy_from_game_thread(const PadList& list) {
    auto done = std::make_shared<std::promise<std::vector<PadState>>>();
    std::future<std::vector<PadState>> copied = done->get_future();
    std::thread([&list, done] { done->set_value(list.copy()); }).detach();
    if (copied.wait_for(1s) != std::future_status::ready) return std::nullopt;
    return copied.get();
}

// ---------------------------------------------------------------------------

TEST(ProControllerReports, TheSimpleReportsHatTurnsDiagonalsSideways) {
    const std::array<std::optional<Dir>, 8> expected{Dir::Up,   Dir::Right, Dir::Right, Dir::Right,
                                                     Dir::Down, Dir::Left,  Dir::Left,  Dir::Left};
    for (std::uint8_t hat = 0; hat < 8; ++hat)
        EXPECT_EQ(dir_of(simple_report(0, 0, hat)), expected[hat]) << "hat " << int{hat};
    EXPECT_EQ(dir_of(simple_report(0, 0, 8)), std::nullopt);
    // A centred hat leaves the direction to the stick, whose y grows downwards.
    EXPECT_EQ(dir_of(simple_report(0, 0, 15, 32768, 32768 + 20000)), Dir::Down);
    EXPECT_EQ(dir_of(simple_report(0, 0, 8, 32768, 32768 - 20000)), Dir::Up);
}

TEST(ProControllerReports, TheFullReportsDpadPrefersUpThenRightThenDownThenLeft) {
    constexpr std::uint8_t down = 0x01, up = 0x02, right = 0x04, left = 0x08;
    EXPECT_EQ(dir_of(full_report(0, 0, up | right)), Dir::Up);
    EXPECT_EQ(dir_of(full_report(0, 0, down | left)), Dir::Down);
    EXPECT_EQ(dir_of(full_report(0, 0, right | down)), Dir::Right);
    EXPECT_EQ(dir_of(full_report(0, 0, left)), Dir::Left);
    EXPECT_EQ(dir_of(full_report(0, 0, 0)), std::nullopt);
    // A D-pad button outweighs the stick.
    EXPECT_EQ(dir_of(full_report(0, 0, left, 4000, 2048)), Dir::Left);
}

TEST(ProControllerReports, SticksPointOnlyFromHalfWayOutAndTheirYAxesRunOppositeWays) {
    // 16000 / 32768 = 0.488 stays centred, 17000 / 32768 = 0.519 points.
    EXPECT_EQ(dir_of(simple_report(0, 0, 8, 32768 + 16000, 32768)), std::nullopt);
    EXPECT_EQ(dir_of(simple_report(0, 0, 8, 32768 + 17000, 32768)), Dir::Right);
    EXPECT_EQ(dir_of(simple_report(0, 0, 8, 32768 - 17000, 32768)), Dir::Left);
    // In the full report y grows upwards.
    EXPECT_EQ(dir_of(full_report(0, 0, 0, 2048, 2048 + 1500)), Dir::Up);
    EXPECT_EQ(dir_of(full_report(0, 0, 0, 2048, 2048 - 1500)), Dir::Down);
    EXPECT_EQ(dir_of(full_report(0, 0, 0, 2048 + 1000, 2048)), std::nullopt);  // 0.488
    EXPECT_EQ(dir_of(full_report(0, 0, 0, 2048 - 1100, 2048)), Dir::Left);     // 0.537
    // A tie between the axes goes to the vertical one.
    EXPECT_EQ(dir_of(full_report(0, 0, 0, 2048 + 1200, 2048 - 1200)), Dir::Down);
    EXPECT_EQ(dir_of(simple_report(0, 0, 8, 32768 - 20000, 32768 - 20000)), Dir::Up);
}

TEST(ProControllerReports, TheFullReportPacksItsStickIntoThreeBytes) {
    // x = 0xff + 256 × 0x7 = 2047, y = 0x0 + 16 × 0x80 = 2048: centred.
    EXPECT_EQ(dir_of({0x30, 0, 0, 0, 0, 0, 0xff, 0x07, 0x80}), std::nullopt);
    // x = 0x00 + 256 × 0xf = 3840: far right; y = 0x0 + 16 × 0x80.
    EXPECT_EQ(dir_of({0x30, 0, 0, 0, 0, 0, 0x00, 0x0f, 0x80}), Dir::Right);
    // y = 0xf + 16 × 0xff = 4095: far up; x = 0x00 + 256 × 0x8 = 2048.
    EXPECT_EQ(dir_of({0x30, 0, 0, 0, 0, 0, 0x00, 0xf8, 0xff}), Dir::Up);
}

TEST(ProControllerReports, EveryButtonLandsInItsField) {
    // Simple report: B, A, Y, X are face buttons, L, R, ZL, ZR drop.
    for (int bit = 0; bit < 4; ++bit)
        EXPECT_EQ(decoded(simple_report(std::uint8_t(1 << bit), 0, 8)),
                  buttons(true, false, false, false));
    for (int bit = 4; bit < 8; ++bit)
        EXPECT_EQ(decoded(simple_report(std::uint8_t(1 << bit), 0, 8)),
                  buttons(false, false, false, true));
    EXPECT_EQ(decoded(simple_report(0, 0x01, 8)), buttons(false, false, true, false));
    EXPECT_EQ(decoded(simple_report(0, 0x02, 8)), buttons(false, true, false, false));
    EXPECT_EQ(decoded(simple_report(0, 0xfc, 8)), buttons(false, false, false, false));

    // Full report: Y, X, B, A face; R, ZR on the right and L, ZL on the left drop.
    for (int bit = 0; bit < 4; ++bit)
        EXPECT_EQ(decoded(full_report(std::uint8_t(1 << bit), 0, 0)),
                  buttons(true, false, false, false));
    for (std::uint8_t bits : {std::uint8_t{0x40}, std::uint8_t{0x80}})
        EXPECT_EQ(decoded(full_report(bits, 0, 0)), buttons(false, false, false, true));
    for (std::uint8_t bits : {std::uint8_t{0x40}, std::uint8_t{0x80}})
        EXPECT_EQ(decoded(full_report(0, 0, bits)), buttons(false, false, false, true));
    EXPECT_EQ(decoded(full_report(0x30, 0, 0x30)), buttons(false, false, false, false));
    EXPECT_EQ(decoded(full_report(0, 0x01, 0)), buttons(false, false, true, false));
    EXPECT_EQ(decoded(full_report(0, 0x02, 0)), buttons(false, true, false, false));
    EXPECT_EQ(decoded(full_report(0, 0xfc, 0)), buttons(false, false, false, false));
}

TEST(ProControllerReports, ShortReportsAndOtherIdsGiveNoState) {
    Bytes simple = simple_report(0x01, 0, 0);
    EXPECT_EQ(decode_report(std::span(simple).first(7)), std::nullopt);
    EXPECT_NE(decode_report(std::span(simple).first(8)), std::nullopt);
    Bytes full = full_report(0x01, 0, 0);
    EXPECT_EQ(decode_report(std::span(full).first(8)), std::nullopt);
    EXPECT_NE(decode_report(std::span(full).first(9)), std::nullopt);
    EXPECT_EQ(decoded(padded({0x21, 0x01, 0x91, 0x0f, 0x03, 0xcf})), std::nullopt);
    EXPECT_EQ(decoded(padded({0x81, 0x02})), std::nullopt);
    EXPECT_EQ(decoded({}), std::nullopt);
}

// ---------------------------------------------------------------------------

TEST(ProControllerStart, TheLogNamesJoysticksGamepadsAndNintendoDevicesOnly) {
    const std::vector<HidDeviceInfo> devices{
        {"/dev/hidraw0", 0x046d, 0xc52b, "USB Receiver", "Logitech", 1, 6, 2, HidBus::Usb},
        {"/dev/hidraw1", 0x045e, 0x028e, "Controller", std::nullopt, 1, 5, 0, HidBus::Usb},
        {"/dev/hidraw2", 0x0079, 0x0006, std::nullopt, "DragonRise", 1, 4, 0, HidBus::Unknown},
        {"/dev/hidraw3", 0x057e, 0x2009, "Pro Controller", "Nintendo Co., Ltd.", 0xff00, 0x0a, 0,
         HidBus::Bluetooth},
        {"/dev/hidraw4", 0x057e, 0x2006, "Joy-Con (L)", "Nintendo", 1, 5, -1, HidBus::I2c},
        {"/dev/hidraw5", 0x1234, 0x0001, "Pad\nforged line", "x", 1, 5, 0, HidBus::Spi},
    };
    std::vector<std::string> log;
    log_game_controllers(devices, [&](std::string_view line) { log.emplace_back(line); });
    EXPECT_EQ(log,
              (std::vector<std::string>{
                  "devices that look like game controllers:",
                  "  045e:028e Controller by ?, usage 0001:0005, Usb",
                  "  0079:0006 ? by DragonRise, usage 0001:0004, Unknown",
                  "  057e:2009 Pro Controller by Nintendo Co., Ltd., usage ff00:000a, Bluetooth",
                  "  057e:2006 Joy-Con (L) by Nintendo, usage 0001:0005, I2c",
                  "  1234:0001 Pad?forged line by x, usage 0001:0005, Spi",
              }));

    log.clear();
    log_game_controllers(std::span(devices).first(1),
                         [&](std::string_view line) { log.emplace_back(line); });
    EXPECT_EQ(log,
              (std::vector<std::string>{"devices that look like game controllers:", "  none"}));
}

// Hands the driver a bus the test keeps.
class BorrowedBus final : public HidLibrary {
  public:
    explicit BorrowedBus(SimulatedBus& bus) : bus_(bus) {}
    bool enumerate(std::vector<HidDeviceInfo>& devices, std::string& error) override {
        return bus_.enumerate(devices, error);
    }
    std::unique_ptr<HidDevice> open(const std::string& path, std::string& error) override {
        return bus_.open(path, error);
    }

  private:
    SimulatedBus& bus_;
};

TEST(ProControllerStart, WithoutTheDeviceLibraryTheThreadEndsAfterOneLine) {
    SimulatedBus bus;
    PadList list;
    std::vector<std::string> log;
    const ProconLog to_log = [&](std::string_view line) { log.emplace_back(line); };

    procon_run(
        [](std::string& error) -> std::unique_ptr<HidLibrary> {
            error = "hidraw is missing";
            return nullptr;
        },
        bus, list, to_log);
    EXPECT_EQ(log, std::vector<std::string>{"the device library did not start: hidraw is missing"});

    // A library that cannot even list its devices has not started either.
    log.clear();
    bus.listing_fails = true;
    procon_run([&](std::string&) { return std::make_unique<BorrowedBus>(bus); }, bus, list, to_log);
    EXPECT_EQ(log, std::vector<std::string>{"the device library did not start: the bus is asleep"});
}

TEST(ProControllerStart, TheThreadListsWhatItSeesAndThenFindsTheController) {
    SimulatedBus bus;
    bus.plug("/dev/hidraw7");
    bus.stop_after = 1.0;
    PadList list;
    std::vector<std::string> log;
    EXPECT_THROW(procon_run([&](std::string&) { return std::make_unique<BorrowedBus>(bus); }, bus,
                            list, [&](std::string_view line) { log.emplace_back(line); }),
                 SimulationOver);
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "devices that look like game controllers:");
    EXPECT_EQ(log[1], "  057e:2009 Pro Controller by Nintendo Co., Ltd., usage 0001:0005, Usb");
    EXPECT_EQ(log[2],
              "found a Pro Controller: Pro Controller, interface 0, usage 0001:0005, "
              "Usb, at \"/dev/hidraw7\"");
    EXPECT_EQ(list.copy().size(), 1u);
}

TEST(ProControllerStart, TheThreadCarriesTheNameProcon) {
    std::promise<std::string> name;
    ASSERT_TRUE(start_procon_thread([&name] {
        char buffer[16] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        name.set_value(buffer);
    }));
    EXPECT_EQ(name.get_future().get(), "procon");
}

// ---------------------------------------------------------------------------

TEST(ProControllerSearch, WithNoDeviceItLooksAgainALittleOverEveryTwoSecondsSilently) {
    Rig rig;
    rig.run_until(10.0);
    // Idle passes sleep 250 ms, so "more than 2 s" first holds at 2.25 s.
    EXPECT_EQ(rig.bus.listing_times, (std::vector<double>{0.0, 2.25, 4.5, 6.75, 9.0}));
    EXPECT_TRUE(rig.log.empty());
    EXPECT_TRUE(rig.list.copy().empty());
}

TEST(ProControllerSearch, OnlyProControllersAreOpened) {
    Rig rig;
    rig.bus.others = {
        {"/dev/hidraw0", 0x057e, 0x2006, "Joy-Con (L)", "Nintendo", 1, 5, 0, HidBus::Usb},
        {"/dev/hidraw1", 0x045e, 0x2009, "Not Nintendo", "?", 1, 5, 0, HidBus::Usb},
    };
    SimulatedController& pad = rig.bus.plug("/dev/hidraw2");
    rig.run_until(5.0);
    EXPECT_EQ(rig.count_lines("found a Pro Controller: "), 1u);
    EXPECT_EQ(pad.opened, 1);
    ASSERT_EQ(rig.driver.pads().size(), 1u);
    EXPECT_EQ(rig.driver.pads()[0].path, "/dev/hidraw2");
}

TEST(ProControllerSearch, AControllerPluggedInLaterIsFoundByTheNextSearch) {
    Rig rig;
    rig.run_until(3.0);
    SimulatedController& pad = rig.bus.plug("/dev/hidraw4");
    const double found = rig.run_until_line("found a Pro Controller: ", 10.0);
    EXPECT_DOUBLE_EQ(found, 4.5);
    EXPECT_EQ(pad.opened, 1);
}

TEST(ProControllerSearch, AFailedListingFindsNothingAndTheNextSearchTriesAgain) {
    Rig rig;
    rig.bus.plug("/dev/hidraw4");
    rig.bus.listing_fails = true;
    rig.driver.pass();
    EXPECT_EQ(rig.log, std::vector<std::string>{"listing devices failed: the bus is asleep"});
    EXPECT_TRUE(rig.driver.pads().empty());
    rig.bus.listing_fails = false;
    rig.run_until(3.0);
    EXPECT_EQ(rig.driver.pads().size(), 1u);
}

TEST(ProControllerSearch, APathThatFailedToOpenIsNeverTriedAgain) {
    Rig rig;
    SimulatedController& refused = rig.bus.plug("/dev/hidraw5");
    refused.opens = false;
    SimulatedController& fine = rig.bus.plug("/dev/hidraw6");
    rig.driver.pass();
    EXPECT_EQ(rig.log[0],
              "found a Pro Controller: Pro Controller, interface 0, usage 0001:0005, "
              "Usb, at \"/dev/hidraw5\"");
    EXPECT_EQ(rig.log[1], "  could not be opened: Permission denied");
    EXPECT_EQ(rig.driver.refused_paths(), std::vector<std::string>{"/dev/hidraw5"});

    // It would open now, and the other controller comes and goes: still no try.
    refused.opens = true;
    rig.run_until(4.0);
    fine.plugged = false;
    rig.run_until(8.0);
    fine.plugged = true;
    rig.run_until(20.0);
    EXPECT_EQ(refused.opened, 1);
    EXPECT_EQ(fine.opened, 2);
    EXPECT_EQ(rig.count_lines("found a Pro Controller: "), 3u);
}

TEST(ProControllerSearch, PathsAreLoggedAsQuotedLiterals) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("\\\\?\\hid#vid_057e&pid_2009#\"x\"\n", 3);
    pad.info.product = std::nullopt;
    pad.info.bus = HidBus::Bluetooth;
    pad.opens = false;
    rig.driver.pass();
    EXPECT_EQ(rig.log[0],
              "found a Pro Controller: ?, interface 3, usage 0001:0005, Bluetooth, "
              "at \"\\\\\\\\?\\\\hid#vid_057e&pid_2009#\\\"x\\\"\\n\"");
}

// ---------------------------------------------------------------------------

TEST(ProControllerWaking, OpeningSendsTheFiveReportsOfTheWakeUpSequence) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.answers = false;
    rig.driver.pass();

    const std::vector<Bytes> expected{
        padded({0x80, 0x02}),
        padded({0x80, 0x03}),
        padded({0x80, 0x02}),
        padded({0x80, 0x04}),
        padded({0x01, 0x01, 0x00, 0x01, 0x40, 0x40, 0x00, 0x01, 0x40, 0x40, 0x03, 0x30}),
    };
    ASSERT_EQ(pad.writes.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(pad.writes[i].second, expected[i]) << "report " << i + 1;
        EXPECT_NEAR(pad.writes[i].first, 0.08 * double(i), 1e-9) << "80 ms after each";
    }
    EXPECT_EQ(rig.log, (std::vector<std::string>{
                           "found a Pro Controller: Pro Controller, interface 0, usage "
                           "0001:0005, Usb, at \"/dev/hidraw3\"",
                           "  opened",
                           "  sent handshake (80 02): 64 bytes",
                           "  sent fast rate (80 03): 64 bytes",
                           "  sent handshake (80 02): 64 bytes",
                           "  sent usb only (80 04): 64 bytes",
                           "  sent full reports (01 01 00 01 40 40 00 01 40 40 03 30): 64 bytes",
                       }));
    // Opened and woken, but nothing to publish yet.
    EXPECT_EQ(rig.driver.pads()[0].wakes, 1u);
    EXPECT_TRUE(rig.list.copy().empty());
}

TEST(ProControllerWaking, AFailedSendIsLoggedAndTheSequenceGoesOn) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.write_fails = [](const Bytes& report) { return report[0] == 0x80 && report[1] == 0x03; };
    rig.driver.pass();
    EXPECT_EQ(pad.writes.size(), 5u);
    EXPECT_EQ(rig.log[3], "  sending fast rate (80 03) failed: broken pipe");
    EXPECT_EQ(rig.log[6], "  sent full reports (01 01 00 01 40 40 00 01 40 40 03 30): 64 bytes");
    EXPECT_GE(rig.bus.seconds(), 0.4);
}

TEST(ProControllerWaking, ASilentControllerIsWokenFourTimesLetGoAfterEightSecondsAndFoundAgain) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.answers = false;
    const double let_go = rig.run_until_line("  silent for too long, letting it go", 20.0);

    // Woken at opening, then 1.5 s after each wake began (the first wake's
    // time counts from the end of the opening sequence at 0.4 s).
    const std::vector<double> wakes = wake_times(pad);
    ASSERT_EQ(wakes.size(), 4u);
    EXPECT_EQ(wakes[0], 0.0);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_GT(wakes[i] - (i == 1 ? 0.4 : wakes[i - 1]), 1.5);
        EXPECT_LT(wakes[i] - (i == 1 ? 0.4 : wakes[i - 1]), 1.52);
    }
    EXPECT_EQ(rig.count_lines("  no buttons yet, waking it again (try 2)"), 1u);
    EXPECT_EQ(rig.count_lines("  no buttons yet, waking it again (try 3)"), 1u);
    EXPECT_EQ(rig.count_lines("  no buttons yet, waking it again (try 4)"), 1u);
    EXPECT_EQ(rig.count_lines("  no buttons yet"), 3u);

    // Eight seconds after the opening sequence ended, the device is closed.
    EXPECT_GT(let_go, 8.4);
    EXPECT_LT(let_go, 8.42);
    EXPECT_EQ(pad.closed, 1);
    EXPECT_TRUE(rig.driver.pads().empty());

    // The next search, at most a little over 2 s later, opens and wakes it anew.
    const double found = rig.run_until_line("found a Pro Controller: ", 20.0);
    EXPECT_LT(found - let_go, 2.3);
    EXPECT_EQ(pad.opened, 2);
    EXPECT_EQ(pad.writes.size(), 25u);
    EXPECT_EQ(rig.driver.pads()[0].wakes, 1u);
}

TEST(ProControllerWaking, AnswersWithoutButtonsKeepItOpenButDoNotStopTheWaking) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.full_after_requests = 0;  // answers every step, never switches
    rig.run_until(12.0);
    EXPECT_EQ(wake_times(pad).size(), 4u);
    ASSERT_EQ(rig.driver.pads().size(), 1u);
    EXPECT_EQ(rig.driver.pads()[0].wakes, 4u);

    // The last answers came with the fourth wake, near 5.3 s.
    const double let_go = rig.run_until_line("  silent for too long, letting it go", 20.0);
    EXPECT_GT(let_go, wake_times(pad)[3] + 8.0);
    EXPECT_LT(let_go, wake_times(pad)[3] + 8.5);
}

TEST(ProControllerWaking, TheWakingStopsOnceButtonsArrive) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.full_after_requests = 2;  // ignores the first request for full reports
    pad.full = full_report(0x08, 0, 0);
    rig.run_until(10.0);
    EXPECT_EQ(wake_times(pad).size(), 2u);
    EXPECT_EQ(rig.count_lines("  no buttons yet, waking it again (try 2)"), 1u);
    EXPECT_EQ(rig.count_lines("  buttons are arriving: "), 1u);
    EXPECT_EQ(rig.list.copy(), std::vector<PadState>{buttons(true, false, false, false)});
}

// ---------------------------------------------------------------------------

TEST(ProControllerReading, FullReportsSteerThePadAndAreLoggedSparingly) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.full = padded(full_report(0x00, 0x02, 0x08));  // plus, D-pad left
    rig.run_until(10.0);

    const PadState held{Dir::Left, false, true, false, false};
    EXPECT_EQ(rig.list.copy(), std::vector<PadState>{held});
    EXPECT_EQ(rig.count_lines("  buttons are arriving: "), 1u);
    EXPECT_EQ(rig.count_lines("  buttons are arriving: PadState { dir: Some(Left), face: false, "
                              "start: true, select: false, drop: false }"),
              1u);

    // Replies are counted and shown but steer nothing.
    EXPECT_EQ(rig.count_lines("  report 81 #1, 64 bytes: 81 02 00 00"), 1u);
    EXPECT_EQ(rig.count_lines("  report 81 #2, 64 bytes: 81 03 00 00"), 1u);
    EXPECT_EQ(rig.count_lines("  report 81 #3, 64 bytes: 81 02 00 00"), 1u);
    EXPECT_EQ(rig.count_lines("  report 21 #1, 64 bytes: 21 05 91 00 80 00"), 1u);

    // Report 30 arrives every 8 ms for over nine seconds: #1, #2, #3, #500, #1000.
    std::vector<std::string> report_lines;
    for (const std::string& line : rig.log)
        if (line.starts_with("  report 30 ")) report_lines.push_back(line);
    const std::string shown = ", 64 bytes: 30 00 91 00 02 08 00 08 80 00 00 00 00 00 00 00";
    EXPECT_EQ(report_lines, (std::vector<std::string>{
                                "  report 30 #1" + shown,
                                "  report 30 #2" + shown,
                                "  report 30 #3" + shown,
                                "  report 30 #500" + shown,
                                "  report 30 #1000" + shown,
                            }));
    ASSERT_EQ(rig.driver.pads()[0].report_counts.size(), 3u);
    EXPECT_EQ(rig.driver.pads()[0].report_counts[0],
              (std::pair<std::uint8_t, std::uint32_t>{0x81, 3}));
    EXPECT_EQ(rig.driver.pads()[0].report_counts[1].first, 0x21);
    EXPECT_EQ(rig.driver.pads()[0].report_counts[2].first, 0x30);
    EXPECT_EQ(rig.driver.pads()[0].wakes, 1u);
}

TEST(ProControllerReading, AShortReportIsShownWhole) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.full = full_report(0x80, 0x00, 0x00);  // 9 bytes, ZR
    rig.run_until(1.0);
    EXPECT_EQ(rig.count_lines("  report 30 #1, 9 bytes: 30 00 91 80 00 00 00 08 80"), 1u);
    EXPECT_EQ(rig.list.copy(), std::vector<PadState>{buttons(false, false, false, true)});
}

TEST(ProControllerReading, AControllerThatOnlySendsSimpleReportsStillSteers) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw3");
    pad.answers = false;
    pad.sends_simple = true;
    pad.simple = simple_report(0x00, 0x00, 1);  // hat up-right
    rig.run_until(1.0);
    EXPECT_EQ(rig.list.copy(), std::vector<PadState>{PadState{Dir::Right}});
    pad.simple = simple_report(0x02, 0x00, 5);  // A, hat down-left
    rig.run_until(2.0);
    EXPECT_EQ(rig.list.copy(), (std::vector<PadState>{{Dir::Left, true, false, false, false}}));
    rig.run_until(10.0);
    EXPECT_EQ(wake_times(pad).size(), 1u);
    EXPECT_EQ(rig.count_lines("  silent for too long"), 0u);
}

// ---------------------------------------------------------------------------

TEST(ProControllerPads, TwoControllersArePublishedInTheOrderTheyWereOpened) {
    Rig rig;
    SimulatedController& first = rig.bus.plug("/dev/hidraw8");
    SimulatedController& second = rig.bus.plug("/dev/hidraw2");
    first.full = full_report(0, 0, 0x02);   // up
    second.full = full_report(0, 0, 0x01);  // down
    rig.run_until(1.0);
    EXPECT_EQ(rig.list.copy(), (std::vector<PadState>{PadState{Dir::Up}, PadState{Dir::Down}}));

    // Only controllers that delivered a state are in the list.
    SimulatedController& third = rig.bus.plug("/dev/hidraw9");
    third.answers = false;
    rig.run_until(4.0);
    EXPECT_EQ(rig.driver.pads().size(), 3u);
    EXPECT_EQ(rig.list.copy().size(), 2u);
}

TEST(ProControllerPads, UnpluggingLetsAControllerGoAndPluggingItBackPutsItLast) {
    Rig rig;
    SimulatedController& first = rig.bus.plug("/dev/hidraw1");
    SimulatedController& second = rig.bus.plug("/dev/hidraw2");
    first.full = full_report(0, 0, 0x02);   // up
    second.full = full_report(0, 0, 0x01);  // down
    rig.run_until(1.0);

    first.plugged = false;
    rig.driver.pass();
    EXPECT_EQ(rig.count_lines("  reading failed, giving it up: device disconnected"), 1u);
    EXPECT_EQ(first.closed, 1);
    EXPECT_EQ(rig.list.copy(), std::vector<PadState>{PadState{Dir::Down}});

    first.plugged = true;
    rig.run_until(4.0);
    EXPECT_EQ(first.opened, 2);
    EXPECT_EQ(rig.list.copy(), (std::vector<PadState>{PadState{Dir::Down}, PadState{Dir::Up}}));

    // When the last one goes, the list is emptied.
    first.plugged = false;
    second.plugged = false;
    rig.run_until(5.0);
    EXPECT_TRUE(rig.driver.pads().empty());
    EXPECT_TRUE(rig.list.copy().empty());
}

TEST(ProControllerPads, TheGameCanCopyTheListWhileTheDriverWaitsOnAController) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw1");
    pad.full = full_report(0, 0, 0x04);  // right
    rig.run_until(1.0);

    std::optional<std::vector<PadState>> during_read;
    pad.on_read = [&] { during_read = copy_from_game_thread(rig.list); };
    rig.driver.pass();
    ASSERT_TRUE(during_read) << "the list stayed locked while the driver read";
    EXPECT_EQ(*during_read, std::vector<PadState>{PadState{Dir::Right}});
}

TEST(ProControllerPads, APanicOnTheDriversThreadLeavesTheListReadable) {
    Rig rig;
    SimulatedController& pad = rig.bus.plug("/dev/hidraw1");
    pad.full = full_report(0, 0, 0x04);  // right
    rig.run_until(1.0);

    pad.on_read = [] { panic("the controller broke the driver"); };
    EXPECT_THROW(rig.driver.pass(), testing::PanicError);
    const std::optional<std::vector<PadState>> after = copy_from_game_thread(rig.list);
    ASSERT_TRUE(after) << "the list stayed locked after the panic";
    EXPECT_EQ(*after, std::vector<PadState>{PadState{Dir::Right}});
}

}  // namespace
}  // namespace zobra
