// The Pro Controller driver in the game: hidapi (its hidraw backend) for the
// devices, the steady clock for time, the diagnostic log for its lines.

#include <hidapi/hidapi.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <string_view>
#include <thread>

#include "files/log.h"
#include "procon/procon.h"

namespace zobra {

namespace {

// hidapi's strings are wide; on Linux a wchar_t holds one code point.
// Anything that is not a Unicode scalar value becomes U+FFFD.
std::string utf8(const wchar_t* wide) {
    std::string text;
    for (; wide != nullptr && *wide != L'\0'; ++wide) {
        // wchar_t holds 32 bits here: a negative one becomes a value beyond
        // U+10FFFF and is replaced like any other.
        // NOLINTNEXTLINE(bugprone-signed-char-misuse)
        auto c = static_cast<std::uint32_t>(*wide);
        if (c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) c = 0xfffd;
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xc0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xe0 | c >> 12);
            text += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            text += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            text += static_cast<char>(0xf0 | c >> 18);
            text += static_cast<char>(0x80 | (c >> 12 & 0x3f));
            text += static_cast<char>(0x80 | (c >> 6 & 0x3f));
            text += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return text;
}

std::optional<std::string> optional_utf8(const wchar_t* wide) {
    if (wide == nullptr) return std::nullopt;
    return utf8(wide);
}

std::string error_text(hid_device* device) {
    const wchar_t* text = hid_error(device);
    if (text == nullptr || *text == L'\0') return "unknown error";
    return utf8(text);
}

HidBus bus_of(hid_bus_type bus) {
    switch (bus) {
        case HID_API_BUS_USB:
            return HidBus::Usb;
        case HID_API_BUS_BLUETOOTH:
            return HidBus::Bluetooth;
        case HID_API_BUS_I2C:
            return HidBus::I2c;
        case HID_API_BUS_SPI:
            return HidBus::Spi;
        default:
            return HidBus::Unknown;
    }
}

class HidapiDevice final : public HidDevice {
  public:
    explicit HidapiDevice(hid_device* device) : device_(device) {}
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;
    ~HidapiDevice() override { hid_close(device_); }

    std::optional<std::size_t> write(std::span<const std::uint8_t> report,
                                     std::string& error) override {
        const int written = hid_write(device_, report.data(), report.size());
        if (written < 0) {
            error = error_text(device_);
            return std::nullopt;
        }
        return static_cast<std::size_t>(written);
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout,
                                    std::string& error) override {
        const int milliseconds = static_cast<int>(
            std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX));
        const int n = hid_read_timeout(device_, buffer.data(), buffer.size(), milliseconds);
        if (n < 0) {
            error = error_text(device_);
            return std::nullopt;
        }
        return static_cast<std::size_t>(n);
    }

  private:
    hid_device* device_;
};

// hidapi 0.13.1 crashes in hid_open_path on a path that is not a hidraw
// device, so only paths of the last listing are opened.
class Hidapi final : public HidLibrary {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& devices, std::string& error) override {
        devices.clear();
        listed_.clear();
        hid_device_info* first = hid_enumerate(0, 0);
        if (first == nullptr) {
            // An empty list and a failure look the same; only the error
            // text tells them apart.
            const std::string text = error_text(nullptr);
            if (text.starts_with("No HID devices")) return true;
            error = text;
            return false;
        }
        for (const hid_device_info* d = first; d != nullptr; d = d->next) {
            if (d->path == nullptr) continue;
            devices.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id,
                                            optional_utf8(d->product_string),
                                            optional_utf8(d->manufacturer_string), d->usage_page,
                                            d->usage, d->interface_number, bus_of(d->bus_type)});
            listed_.push_back(d->path);
        }
        hid_free_enumeration(first);
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path, std::string& error) override {
        if (std::find(listed_.begin(), listed_.end(), path) == listed_.end()) {
            error = "not a device of the last listing";
            return nullptr;
        }
        hid_device* device = hid_open_path(path.c_str());
        if (device == nullptr) {
            error = error_text(nullptr);
            return nullptr;
        }
        return std::make_unique<HidapiDevice>(device);
    }

  private:
    std::vector<std::string> listed_;
};

class SteadyClock final : public ProconClock {
  public:
    Instant now() override { return std::chrono::steady_clock::now(); }
    void sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

std::unique_ptr<HidLibrary> start_hidapi(std::string& error) {
    if (hid_init() != 0) {
        error = error_text(nullptr);
        return nullptr;
    }
    return std::make_unique<Hidapi>();
}

}  // namespace

void procon_main(PadList& pads) {
    SteadyClock clock;
    procon_run(start_hidapi, clock, pads, [](std::string_view line) { log_line(line); });
}

}  // namespace zobra
