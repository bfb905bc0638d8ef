#include "web/local_storage.h"

#include <emscripten/em_js.h>
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <string>

namespace {

enum StorageState : int { nothing_stored = 0, text_read = 1, storage_failed = 2 };

}  // namespace

// The bodies are JavaScript, which the C++ formatter would break. Texts go
// back allocated here, with their length in bytes (a stored text may hold a
// NUL); the caller frees them. A failure is described by the exception the
// storage threw.
// clang-format off
EM_JS(char*, storage_read, (const char* key, int* result), {
    const give = (state, text) => {
        HEAP32[result >> 2] = state;
        if (text === null) return 0;
        const size = lengthBytesUTF8(text) + 1;
        const copy = _malloc(size);
        HEAP32[(result >> 2) + 1] = stringToUTF8(text, copy, size);
        return copy;
    };
    try {
        const text = window.localStorage.getItem(UTF8ToString(key));
        return give(text === null ? 0 : 1, text);
    } catch (error) {
        return give(2, String(error && error.name ? error.name + ": " + error.message : error));
    }
});

EM_JS(char*, storage_change, (const char* key, const char* text, int length, const char* from), {
    try {
        const storage = window.localStorage;
        if (from) {
            const value = storage.getItem(UTF8ToString(from));
            if (value !== null) storage.setItem(UTF8ToString(key), value);
        } else {
            const bytes = HEAPU8.subarray(text, text + length);
            storage.setItem(UTF8ToString(key), new TextDecoder().decode(bytes));
        }
        return 0;
    } catch (error) {
        const reason = String(error && error.name ? error.name + ": " + error.message : error);
        const size = lengthBytesUTF8(reason) + 1;
        const copy = _malloc(size);
        stringToUTF8(reason, copy, size);
        return copy;
    }
});

// The lock is held by a promise that never settles, so it is let go only
// when the page goes away.
EM_JS(void, request_save_lock, (const char* name, void* store), {
    if (!navigator.locks || !navigator.locks.request) return;
    navigator.locks.request(UTF8ToString(name), { ifAvailable: true }, (lock) => {
        if (lock === null) {
            _zobra_save_held_elsewhere(store);
            return undefined;
        }
        return new Promise(() => {});
    });
});
// clang-format on

extern "C" EMSCRIPTEN_KEEPALIVE void zobra_save_held_elsewhere(void* store) {
    static_cast<zobra::WebSaveStore*>(store)->held_elsewhere();
}

namespace zobra {

namespace {

std::string take_text(char* text, std::size_t length) {
    std::string copy = text != nullptr ? std::string(text, length) : std::string();
    std::free(text);
    return copy;
}

std::optional<std::string> change(std::string_view key, std::string_view text, const char* from) {
    char* error =
        storage_change(std::string(key).c_str(), text.data(), static_cast<int>(text.size()), from);
    if (error == nullptr) return std::nullopt;
    return take_text(error, std::string_view(error).size());
}

}  // namespace

TextStorage::Read LocalStorage::read(std::string_view key) {
    int result[2] = {nothing_stored, 0};
    char* text = storage_read(std::string(key).c_str(), result);
    const auto length = static_cast<std::size_t>(result[1]);
    if (result[0] == text_read) return {take_text(text, length), std::nullopt};
    if (result[0] == storage_failed) return {std::nullopt, take_text(text, length)};
    std::free(text);
    return {};
}

std::optional<std::string> LocalStorage::write(std::string_view key, std::string_view text) {
    return change(key, text, nullptr);
}

std::optional<std::string> LocalStorage::copy(std::string_view from, std::string_view to) {
    return change(to, {}, std::string(from).c_str());
}

void claim_save(WebSaveStore& store) {
    request_save_lock(std::string(web_save_key).c_str(), &store);
}

}  // namespace zobra
