#include "web/save_web.h"

#include <utility>
#include <variant>

#include "files/log.h"

namespace zobra {

Progress WebSaveStore::load() {
    const TextStorage::Read read = storage_.read(web_save_key);
    std::string fault;
    if (read.error) {
        fault = *read.error;
    } else if (!read.text) {
        return Progress{};
    } else if (read.text->size() > save_bytes_max) {
        fault = "larger than " + std::to_string(save_bytes_max / 1024 / 1024) + " MiB";
        keep_aside_ = true;
    } else {
        std::variant<Progress, std::string> decoded = decode_progress(*read.text);
        if (Progress* progress = std::get_if<Progress>(&decoded)) return std::move(*progress);
        fault = std::get<std::string>(decoded);
        keep_aside_ = true;
    }
    report_error("save could not be read (" + fault + "): starting over");
    return Progress{};
}

SaveOutcome WebSaveStore::save(const Progress& progress) {
    if (held_elsewhere_) return SaveOutcome::LeftToOtherCopy;
    const auto failed = [](std::string_view key, const std::string& error) {
        report_error("could not save: " + std::string(key) + ": " + error);
        return SaveOutcome::Failed;
    };
    const std::string text = encode_progress(progress);

    // The value this page could not read is kept, once, before anything is
    // written over it: whatever it held may still be worth rescuing. When
    // it cannot be kept, nothing is written over it either.
    if (keep_aside_) {
        if (std::optional<std::string> error = storage_.copy(web_save_key, web_broken_save_key))
            return failed(web_broken_save_key, *error);
        keep_aside_ = false;
        report_error("kept the save that could not be read: moved " + std::string(web_save_key) +
                     " to " + std::string(web_broken_save_key));
    }
    if (std::optional<std::string> error = storage_.write(web_save_key, text))
        return failed(web_save_key, *error);
    return SaveOutcome::Written;
}

void WebSaveStore::held_elsewhere() {
    if (held_elsewhere_) return;
    held_elsewhere_ = true;
    report_error("another copy of the game holds the save " + std::string(web_save_key) +
                 ": this copy plays on without saving");
}

}  // namespace zobra
