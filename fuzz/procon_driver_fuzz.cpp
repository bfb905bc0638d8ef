// The Pro Controller driver against a HID bus whose every answer comes from
// the fuzzer: listings that fail or name any devices with any strings,
// devices that refuse to open, writes that fail, reads that fail, stay
// silent or bring any bytes (more than asked for, too), and a clock that
// jumps. Whatever happens, each log entry stays one line, a device is
// opened at most once at a time and never again after it refused, every
// open pad is a live device, each pad shows its last decodable report, and
// the game's list holds exactly the pads that have a state.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "procon/procon.h"

namespace {

using namespace zobra;
using namespace std::chrono_literals;
using fuzz::require;

// A few paths, so that the same device comes back, one of them with the
// characters a log line must never carry raw.
constexpr std::array<std::string_view, 4> paths{"/dev/hidraw0", "/dev/hidraw1", "1-2:1.0",
                                                "/dev/hid\nraw\"3\\"};

class FuzzBus;

class FuzzDevice final : public HidDevice {
  public:
    FuzzDevice(FuzzBus& bus, std::string path);
    ~FuzzDevice() override;
    std::optional<std::size_t> write(std::span<const std::uint8_t> report,
                                     std::string& error) override;
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout, std::string& error) override;

    std::optional<PadState> last_state;  // of the last report that decoded

  private:
    FuzzBus& bus_;
    std::string path_;
};

class FuzzBus final : public HidLibrary, public ProconClock {
  public:
    explicit FuzzBus(FuzzedDataProvider& data) : data(data) {}

    bool enumerate(std::vector<HidDeviceInfo>& devices, std::string& error) override {
        if (data.ConsumeIntegralInRange(0, 7) == 0) {
            error = "the bus is asleep";
            return false;
        }
        devices.clear();
        const std::size_t count = data.ConsumeIntegralInRange<std::size_t>(0, 5);
        for (std::size_t i = 0; i < count; ++i) {
            HidDeviceInfo info;
            info.path = paths[data.ConsumeIntegralInRange<std::size_t>(0, paths.size() - 1)];
            const bool pro = data.ConsumeBool();
            info.vendor_id = pro ? procon_vendor_id : data.ConsumeIntegral<std::uint16_t>();
            info.product_id = pro ? procon_product_id : data.ConsumeIntegral<std::uint16_t>();
            if (data.ConsumeBool()) info.product = data.ConsumeRandomLengthString(24);
            if (data.ConsumeBool()) info.manufacturer = data.ConsumeRandomLengthString(24);
            info.usage_page = data.ConsumeIntegral<std::uint16_t>();
            info.usage = data.ConsumeIntegral<std::uint16_t>();
            info.interface_number = data.ConsumeIntegral<int>();
            info.bus = static_cast<HidBus>(data.ConsumeIntegralInRange(0, 4));
            devices.push_back(std::move(info));
        }
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path, std::string& error) override {
        require(!open_devices.contains(path), "a device is not opened while it is open");
        require(!refused.contains(path), "a device that refused is never tried again");
        if (data.ConsumeIntegralInRange(0, 3) == 0) {
            refused.insert(path);
            error = "Permission denied";
            return nullptr;
        }
        return std::make_unique<FuzzDevice>(*this, path);
    }

    Instant now() override { return now_; }
    void sleep(std::chrono::milliseconds duration) override {
        require(duration >= 0ms, "the driver never sleeps backwards");
        now_ += duration;
    }
    void jump(std::chrono::milliseconds most) {
        now_ +=
            std::chrono::milliseconds(data.ConsumeIntegralInRange<std::int64_t>(0, most.count()));
    }

    FuzzedDataProvider& data;
    std::map<std::string, FuzzDevice*> open_devices;
    std::set<std::string> refused;

  private:
    Instant now_ = Instant{} + 1000h;
};

FuzzDevice::FuzzDevice(FuzzBus& bus, std::string path) : bus_(bus), path_(std::move(path)) {
    bus_.open_devices[path_] = this;
}

FuzzDevice::~FuzzDevice() { bus_.open_devices.erase(path_); }

std::optional<std::size_t> FuzzDevice::write(std::span<const std::uint8_t> report,
                                             std::string& error) {
    require(report.size() == procon_report_bytes, "every report sent is 64 bytes");
    if (bus_.data.ConsumeIntegralInRange(0, 7) == 0) {
        error = "broken pipe";
        return std::nullopt;
    }
    return report.size();
}

std::optional<std::size_t> FuzzDevice::read(std::span<std::uint8_t> buffer,
                                            std::chrono::milliseconds timeout, std::string& error) {
    require(buffer.size() == procon_report_bytes, "reports are read into 64 bytes");
    switch (bus_.data.ConsumeIntegralInRange(0, 15)) {
        case 0:
            error = "device disconnected";
            return std::nullopt;
        case 1:
        case 2:
            bus_.sleep(timeout);
            return 0;
        default:
            break;
    }
    bus_.jump(timeout);
    // Usually a report of the kinds a controller sends, sometimes anything.
    std::vector<std::uint8_t> report = bus_.data.ConsumeBytes<std::uint8_t>(
        bus_.data.ConsumeIntegralInRange<std::size_t>(0, buffer.size()));
    if (!report.empty() && bus_.data.ConsumeBool())
        report[0] = bus_.data.ConsumeBool() ? 0x30 : 0x3f;
    std::copy(report.begin(), report.end(), buffer.begin());
    // A library that claims more than the buffer holds is not believed: the
    // driver takes the whole buffer then.
    const bool overclaims = bus_.data.ConsumeIntegralInRange(0, 15) == 0;
    const std::span<const std::uint8_t> seen =
        overclaims ? std::span<const std::uint8_t>(buffer) : std::span<const std::uint8_t>(report);
    if (std::optional<PadState> state = decode_report(seen)) last_state = state;
    return overclaims ? buffer.size() + 100 : report.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    FuzzBus bus(data);
    PadList list;
    ProconDriver driver(bus, bus, list, [](std::string_view line) {
        require(line.find_first_of("\r\n") == std::string_view::npos,
                "every log entry is a single line");
    });
    for (int pass = 0; pass < 200 && data.remaining_bytes() > 0; ++pass) {
        bus.jump(3000ms);
        driver.pass();

        require(driver.pads().size() == bus.open_devices.size(), "every open device is a pad");
        std::size_t with_state = 0;
        for (const ProPad& pad : driver.pads()) {
            require(bus.open_devices.contains(pad.path), "every pad is an open device");
            require(pad.state == bus.open_devices.at(pad.path)->last_state,
                    "a pad shows its last report that decoded");
            require(pad.wakes >= 1 && pad.wakes <= procon_max_wakes, "a pad is woken 1 to 4 times");
            with_state += pad.state ? 1 : 0;
        }
        require(list.copy().size() == with_state, "the game sees the pads that have a state");
    }
    return 0;
}
