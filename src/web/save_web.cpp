#include "web/save_web.h"

#include <utility>
#include <variant>

#include "files/log.h"

namespace zobra {

namespace {

// The first `bytes` of a text, cut before a letter that would not fit
// whole, so that what is kept is still valid text.
std::string head_of(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

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
    // The first part of the value stays at hand, in case the storage has
    // no room to copy all of it aside.
    if (keep_aside_) unread_head_ = head_of(*read.text, save_bytes_max);
    started_over_ = true;
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
    const std::string from(web_save_key);
    const std::string to(web_broken_save_key);

    // The value this page could not read is kept, once, before anything is
    // written over it: whatever it held may still be worth rescuing. A value
    // too large for the storage to hold twice is kept in part, its first
    // mebibyte; where even that finds no room, it is written once the save
    // has freed the room the old value took.
    bool keep_after_saving = false;
    if (keep_aside_) {
        keep_aside_ = false;
        if (!storage_.copy(web_save_key, web_broken_save_key)) {
            report_error("kept the save that could not be read: moved " + from + " to " + to);
        } else if (!storage_.write(web_broken_save_key, unread_head_)) {
            report_error("kept the first " + std::to_string(unread_head_.size()) +
                         " bytes of the save that could not be read: moved " + from + " to " + to);
        } else {
            keep_after_saving = true;
        }
    }
    if (std::optional<std::string> error = storage_.write(web_save_key, text)) {
        if (keep_after_saving) keep_aside_ = true;  // the old value is still there
        return failed(web_save_key, *error);
    }
    if (keep_after_saving) {
        if (std::optional<std::string> error = storage_.write(web_broken_save_key, unread_head_))
            report_error("could not keep the save that could not be read: " + to + ": " + *error);
        else
            report_error("kept the first " + std::to_string(unread_head_.size()) +
                         " bytes of the save that could not be read: moved " + from + " to " + to);
    }
    unread_head_.clear();
    started_over_ = false;
    return SaveOutcome::Written;
}

void WebSaveStore::held_elsewhere() {
    if (held_elsewhere_) return;
    held_elsewhere_ = true;
    report_error("another copy of the game holds the save " + std::string(web_save_key) +
                 ": this copy plays on without saving");
}

}  // namespace zobra
