// The Pro Controller driver in the game on Windows: SDL's own HID functions
// for the devices. SDL2.dll carries hidapi's Windows backend already, so the
// game ships no second HID library and talks to the same HID and
// configuration-manager services; the driver above the seam is the one the
// Linux build uses with hidapi.

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <string_view>
#include <thread>

#include "files/log.h"
#include "procon/procon.h"

namespace zobra {

namespace {

// SDL's HID strings are wide (UTF-16 on Windows).
std::optional<std::string> optional_utf8(const wchar_t* wide) {
    if (wide == nullptr) return std::nullopt;
    char* text = SDL_iconv_wchar_utf8(wide);
    if (text == nullptr) return std::string();
    std::string copy(text);
    SDL_free(text);
    return copy;
}

// SDL keeps an error text only when a call set one; it is cleared before
// each call so that no stale one is told.
std::string error_text() {
    const char* text = SDL_GetError();
    if (text == nullptr || *text == '\0') return "unknown error";
    return text;
}

class SdlHidDevice final : public HidDevice {
  public:
    explicit SdlHidDevice(SDL_hid_device* device) : device_(device) {}
    SdlHidDevice(const SdlHidDevice&) = delete;
    SdlHidDevice& operator=(const SdlHidDevice&) = delete;
    ~SdlHidDevice() override { SDL_hid_close(device_); }

    std::optional<std::size_t> write(std::span<const std::uint8_t> report,
                                     std::string& error) override {
        SDL_ClearError();
        const int written = SDL_hid_write(device_, report.data(), report.size());
        if (written < 0) {
            error = error_text();
            return std::nullopt;
        }
        return static_cast<std::size_t>(written);
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout,
                                    std::string& error) override {
        const int milliseconds = static_cast<int>(
            std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX));
        SDL_ClearError();
        const int n = SDL_hid_read_timeout(device_, buffer.data(), buffer.size(), milliseconds);
        if (n < 0) {
            error = error_text();
            return std::nullopt;
        }
        return static_cast<std::size_t>(n);
    }

  private:
    SDL_hid_device* device_;
};

// As with hidapi elsewhere, only paths of the last listing are opened.
class SdlHid final : public HidLibrary {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& devices, std::string&) override {
        devices.clear();
        listed_.clear();
        // SDL gives no list both for no devices and for a failure, and says
        // nothing to tell them apart: no list is an empty one.
        SDL_hid_device_info* first = SDL_hid_enumerate(0, 0);
        for (const SDL_hid_device_info* d = first; d != nullptr; d = d->next) {
            if (d->path == nullptr) continue;
            devices.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id,
                                            optional_utf8(d->product_string),
                                            optional_utf8(d->manufacturer_string), d->usage_page,
                                            d->usage, d->interface_number, HidBus::Unknown});
            listed_.emplace_back(d->path);
        }
        SDL_hid_free_enumeration(first);
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path, std::string& error) override {
        if (std::find(listed_.begin(), listed_.end(), path) == listed_.end()) {
            error = "not a device of the last listing";
            return nullptr;
        }
        SDL_ClearError();
        SDL_hid_device* device = SDL_hid_open_path(path.c_str(), SDL_FALSE);
        if (device == nullptr) {
            error = error_text();
            return nullptr;
        }
        return std::make_unique<SdlHidDevice>(device);
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

std::unique_ptr<HidLibrary> start_sdl_hid(std::string& error) {
    SDL_ClearError();
    if (SDL_hid_init() != 0) {
        error = error_text();
        return nullptr;
    }
    return std::make_unique<SdlHid>();
}

}  // namespace

void procon_main(PadList& pads) {
    SteadyClock clock;
    procon_run(start_sdl_hid, clock, pads, [](std::string_view line) { log_line(line); });
}

}  // namespace zobra
