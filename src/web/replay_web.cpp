#include "web/replay_web.h"

#include <emscripten/em_js.h>
#include <emscripten/em_macros.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zobra {

namespace {

// index.html leaves Module.zobraReplay as { bytes } or { error } once the
// fetch has ended. The bodies are JavaScript, which the C++ formatter would
// break.
// clang-format off
EM_JS(int, fetched_replay_size, (), {
    const fetched = Module['zobraReplay'];
    return fetched && fetched.bytes ? fetched.bytes.length : -1;
});

EM_JS(void, copy_fetched_replay, (std::uint8_t* into, int size), {
    HEAPU8.set(Module['zobraReplay'].bytes.subarray(0, size), into);
    delete Module['zobraReplay'];
});

EM_JS(int, fetch_error_size, (), {
    const fetched = Module['zobraReplay'];
    return lengthBytesUTF8(fetched && fetched.error ? fetched.error : 'was not fetched');
});

EM_JS(void, copy_fetch_error, (char* into, int size), {
    const fetched = Module['zobraReplay'];
    stringToUTF8(fetched && fetched.error ? fetched.error : 'was not fetched', into, size + 1);
});

EM_JS(void, put_replay_state, (const char* word, double tick), {
    const element = Module['canvas'];
    element.dataset.replay = UTF8ToString(word);
    element.dataset.replayTick = String(tick);
});

EM_JS(void, load_page_without_replay, (), {
    location.replace(location.pathname);
});

EM_JS(void, begin_crash_download, (const char* report, int size), {
    Module['zobraCrashText'] = [UTF8ToString(report, size), '\n\n'];
});

EM_JS(void, add_crash_download, (const char* text, int size), {
    Module['zobraCrashText'].push(UTF8ToString(text, size));
});

EM_JS(void, finish_crash_download, (), {
    const parts = Module['zobraCrashText'];
    delete Module['zobraCrashText'];
    if (typeof window.zobraOfferCrashDownload === 'function')
        window.zobraOfferCrashDownload(parts.join(""));
});
// clang-format on

void crash_text_sink(void*, const char* text, std::size_t size) {
    add_crash_download(text, static_cast<int>(size));
}

}  // namespace

std::variant<Replay, std::string> fetched_replay(std::string_view url) {
    std::string prefix = "replay ";
    prefix += url;
    prefix += ' ';
    const int size = fetched_replay_size();
    if (size < 0) {
        std::string error(static_cast<std::size_t>(fetch_error_size()), '\0');
        copy_fetch_error(error.data(), static_cast<int>(error.size()));
        return prefix + error;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    copy_fetched_replay(bytes.data(), size);
    std::variant<Replay, std::string> replay = decode_replay(bytes);
    if (auto* message = std::get_if<std::string>(&replay)) *message = prefix + *message;
    return replay;
}

std::string replay_notice(std::string_view message, bool dropped) {
    std::string text = "Diese Wiederholung lässt sich nicht zeigen.\n\n";
    text += "This replay cannot be shown: ";
    text += message;
    text += dropped ? ".\n\nEin Klick schließt diesen Hinweis; das Spiel läuft weiter. A click "
                      "closes this notice; the game goes on."
                    : ".\n\nOhne ?replay= in der Adresse beginnt das Spiel. Without ?replay= in "
                      "the address the game starts.";
    return text;
}

ReplayState replay_state(const Playback& playback) {
    std::string_view word = "playing";
    if (!playback.verdict.matched())
        word = "differs";
    else if (playback.done())
        word = playback.replay.ending == ReplayEnding::Crashed ? "crashed" : "matched";
    return {word, playback.next};
}

void show_replay_state(const ReplayState& state) {
    put_replay_state(state.word.data(), static_cast<double>(state.tick));
}

void leave_replay_page() { load_page_without_replay(); }

void offer_crash_replay(std::string_view report, const ReplayRecorder& recorder) {
    if (!recorder.recording()) return;
    begin_crash_download(report.data(), static_cast<int>(report.size()));
    recorder.write_crash_text(&crash_text_sink, nullptr);
    finish_crash_download();
}

}  // namespace zobra
