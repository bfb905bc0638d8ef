// The save in the browser's local storage, over a storage kept in memory:
// the desktop's text under one key, a value that cannot be read kept aside
// before the first write over it, refusals reported, and a second page of
// the game that saves nothing.

#include "web/save_web.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zobra {
namespace {

// Local storage as a map, which can be told to refuse reading or writing.
class MemoryStorage final : public TextStorage {
  public:
    std::map<std::string, std::string, std::less<>> values;
    std::optional<std::string> read_error;
    std::optional<std::string> write_error;
    int writes = 0;

    // Like the browser's quota: the texts together may hold at most this many
    // bytes.
    std::optional<std::size_t> capacity;

    // Whether `text` may be stored under `key` within the capacity.
    bool fits(std::string_view key, std::string_view text) const {
        if (!capacity) return true;
        std::size_t total = text.size();
        for (const auto& [other, value] : values)
            if (other != key) total += value.size();
        return total <= *capacity;
    }

    Read read(std::string_view key) override {
        if (read_error) return {std::nullopt, read_error};
        const auto found = values.find(key);
        if (found == values.end()) return {};
        return {found->second, std::nullopt};
    }
    std::optional<std::string> write(std::string_view key, std::string_view text) override {
        if (write_error) return write_error;
        if (!fits(key, text)) return "QuotaExceededError: full";
        ++writes;
        values[std::string(key)] = std::string(text);
        return std::nullopt;
    }
    std::optional<std::string> copy(std::string_view from, std::string_view to) override {
        if (write_error) return write_error;
        const auto found = values.find(from);
        if (found == values.end()) return std::nullopt;
        if (!fits(to, found->second)) return "QuotaExceededError: full";
        values[std::string(to)] = found->second;
        return std::nullopt;
    }
};

const std::string new_player_text =
    R"({"solved":0,"best":[],"music_off":false,"mode":"Solo","difficulty":"Normal",)"
    R"("slot":0,"name":"","others":[],"all_open":false})";

// What the store wrote to the error stream while `action` ran.
template <typename Action>
std::string told(Action action) {
    ::testing::internal::CaptureStderr();
    action();
    return ::testing::internal::GetCapturedStderr();
}

TEST(WebSave, ANewPlayerStartsSilentlyAndSavesTheDesktopsText) {
    MemoryStorage storage;
    WebSaveStore store(storage);
    Progress progress;
    EXPECT_EQ(told([&] { progress = store.load(); }), "");
    EXPECT_EQ(progress, Progress{});
    EXPECT_EQ(told([&] { EXPECT_EQ(store.save(progress), SaveOutcome::Written); }), "");
    EXPECT_EQ(storage.values,
              (std::map<std::string, std::string, std::less<>>{{"zobra.save", new_player_text}}));
}

TEST(WebSave, WhatWasSavedIsWhatTheNextPageLoads) {
    MemoryStorage storage;
    Progress progress;
    progress.name = "ZUSEL";
    progress.solved = 7;
    progress.best = {120, 0, 45};
    progress.music_off = true;
    progress.mode = Mode::DuelPair;
    progress.others = {Profile{1, "ANNA", 2, {10, 20}}};
    EXPECT_EQ(WebSaveStore(storage).save(progress), SaveOutcome::Written);
    EXPECT_EQ(storage.values.at("zobra.save"), encode_progress(progress));
    EXPECT_EQ(WebSaveStore(storage).load(), progress);
}

TEST(WebSave, AValueThatCannotBeReadStartsOverAndIsKeptAsideOnceBeforeTheFirstSave) {
    struct Case {
        std::string value;
        std::string fault;  // as the message names it
    };
    const std::vector<Case> cases{
        {R"({"solved":3,"best":[1,2,3])", ""},
        {R"({"solved":"3","best":[]})", ""},
        {R"({"best":[]})", ""},
        {"{\"solved\":0,\"best\":[],\"name\":\"\xFF\"}", "not valid UTF-8"},
        {std::string(R"({"solved":0,"best":[]})") + '\0' + "more", "the file holds a NUL byte"},
        {std::string(save_bytes_max + 1, ' '), "larger than 1 MiB"},
    };
    for (const Case& c : cases) {
        MemoryStorage storage;
        storage.values["zobra.save"] = c.value;
        storage.values["zobra.save.broken"] = "an older one";
        WebSaveStore store(storage);
        Progress progress;
        const std::string message = told([&] { progress = store.load(); });
        EXPECT_EQ(progress, Progress{});
        EXPECT_TRUE(message.starts_with("save could not be read (")) << message;
        EXPECT_TRUE(message.ends_with("): starting over\n")) << message;
        if (!c.fault.empty()) {
            EXPECT_NE(message.find("(" + c.fault + ")"), std::string::npos) << message;
        }
        EXPECT_EQ(storage.values.at("zobra.save"), c.value) << "untouched until a save";

        progress.music_off = true;
        EXPECT_EQ(told([&] { EXPECT_EQ(store.save(progress), SaveOutcome::Written); }),
                  "kept the save that could not be read: moved zobra.save to zobra.save.broken\n");
        EXPECT_EQ(storage.values.at("zobra.save.broken"), c.value);
        EXPECT_EQ(storage.values.at("zobra.save"), encode_progress(progress));

        progress.music_off = false;
        EXPECT_EQ(told([&] { EXPECT_EQ(store.save(progress), SaveOutcome::Written); }), "");
        EXPECT_EQ(storage.values.at("zobra.save.broken"), c.value);
    }
}

TEST(WebSave, AStorageThatRefusesIsReportedAndNothingUnreadableIsWrittenOver) {
    MemoryStorage storage;
    storage.values["zobra.save"] = "{";
    WebSaveStore store(storage);
    told([&] { store.load(); });

    storage.write_error = "QuotaExceededError: full";
    EXPECT_EQ(told([&] { EXPECT_EQ(store.save(Progress{}), SaveOutcome::Failed); }),
              "could not save: zobra.save: QuotaExceededError: full\n");
    EXPECT_EQ(storage.values.at("zobra.save"), "{");

    // Once the storage takes it, the unreadable value is still kept first.
    storage.write_error.reset();
    EXPECT_EQ(told([&] { EXPECT_EQ(store.save(Progress{}), SaveOutcome::Written); }),
              "kept the save that could not be read: moved zobra.save to zobra.save.broken\n");
    EXPECT_EQ(storage.values.at("zobra.save.broken"), "{");
    EXPECT_EQ(storage.values.at("zobra.save"), new_player_text);

    storage.write_error = "SecurityError: denied";
    EXPECT_EQ(told([&] { EXPECT_EQ(store.save(Progress{}), SaveOutcome::Failed); }),
              "could not save: zobra.save: SecurityError: denied\n");
}

TEST(WebSave, AStorageThatCannotBeReadStartsOverWithNothingToKeep) {
    MemoryStorage storage;
    storage.read_error = "SecurityError: the storage is switched off";
    WebSaveStore store(storage);
    Progress progress;
    EXPECT_EQ(told([&] { progress = store.load(); }),
              "save could not be read (SecurityError: the storage is switched off): starting "
              "over\n");
    EXPECT_EQ(progress, Progress{});
    EXPECT_EQ(store.save(progress), SaveOutcome::Written);
    EXPECT_EQ(storage.values.count("zobra.save.broken"), 0u);
}

TEST(WebSave, ASecondPageOfTheGameSaysSoOnceAndSavesNothing) {
    MemoryStorage storage;
    WebSaveStore store(storage);
    store.load();
    EXPECT_FALSE(store.left_to_other_copy());
    EXPECT_EQ(told([&] {
                  store.held_elsewhere();
                  store.held_elsewhere();
              }),
              "another copy of the game holds the save zobra.save: this copy plays on without "
              "saving\n");
    EXPECT_TRUE(store.left_to_other_copy());
    EXPECT_EQ(told([&] { EXPECT_EQ(store.save(Progress{}), SaveOutcome::LeftToOtherCopy); }), "");
    EXPECT_EQ(storage.writes, 0);
    EXPECT_TRUE(storage.values.empty());
}

// A value too large for the storage to hold twice (over half the quota)
// never stops the saving: its first mebibyte is kept aside, before the save
// where there is room for it and after it where only the save frees the
// room; the player is told, and the title's notice lasts until then.
TEST(WebSave, AnUnreadableValueTooLargeToCopyIsKeptInPartAndSavingGoesOn) {
    const std::string huge = "{\"name\":\"" + std::string(3 * save_bytes_max, 'A');
    const std::string head = huge.substr(0, save_bytes_max);
    const std::string kept_head = "kept the first " + std::to_string(save_bytes_max) +
                                  " bytes of the save that could not be read: moved zobra.save to "
                                  "zobra.save.broken\n";
    for (const std::size_t capacity : {5 * save_bytes_max, 3 * save_bytes_max + 1000}) {
        MemoryStorage storage;
        storage.values["zobra.save"] = huge;
        storage.capacity = capacity;
        WebSaveStore store(storage);
        told([&] { store.load(); });
        EXPECT_TRUE(store.started_over());
        EXPECT_EQ(told([&] { EXPECT_EQ(store.save(Progress{}), SaveOutcome::Written); }),
                  kept_head);
        EXPECT_FALSE(store.started_over());
        EXPECT_EQ(storage.values.at("zobra.save"), new_player_text);
        EXPECT_EQ(storage.values.at("zobra.save.broken"), head);
    }
    // A head is cut before a letter that would not fit whole.
    MemoryStorage storage;
    storage.values["zobra.save"] = std::string(save_bytes_max - 1, '[') + "\xC3\xA4]";
    storage.capacity = save_bytes_max * 3 / 2;
    WebSaveStore store(storage);
    told([&] { store.load(); });
    told([&] { store.save(Progress{}); });
    EXPECT_EQ(storage.values.at("zobra.save.broken"), std::string(save_bytes_max - 1, '['));
}

}  // namespace
}  // namespace zobra
