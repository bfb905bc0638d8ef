#pragma once
// The save in the browser: the same JSON text as the desktop's save file,
// kept under one key of the page's local storage. One `WebSaveStore`
// serves the page's whole run, as `SaveStore` does the desktop's:
//     WebSaveStore save(storage);
//     Progress progress = save.load();
//     ...
//     if (save.save(progress) == SaveOutcome::Failed) tell the player
//
// Nothing the player has saved is lost to the game itself:
// - a value that could not be read stays as it is until the first save,
//   which first copies it to "zobra.save.broken" (replacing an older one);
//   where the storage has no room for a copy, its first mebibyte is kept,
//   and a save is never held up by it;
// - only the first page of the game on a storage writes it: the page learns
//   from the browser whether another page already holds the save, and then
//   plays on without saving, as a second copy of the desktop game does.
// Plain C++ over a small storage interface, so that the desktop's tests
// check it too; web/local_storage.h is the browser's storage behind it.

#include <optional>
#include <string>
#include <string_view>

#include "core/progress.h"
#include "files/save.h"

namespace zobra {

inline constexpr std::string_view web_save_key = "zobra.save";
inline constexpr std::string_view web_broken_save_key = "zobra.save.broken";

// Texts by key, as the browser's local storage holds them.
class TextStorage {
  public:
    struct Read {
        std::optional<std::string> text;   // none when nothing is stored under the key
        std::optional<std::string> error;  // the storage could not be read
    };

    virtual ~TextStorage() = default;
    virtual Read read(std::string_view key) = 0;
    // Stores the text, replacing what was there; the storage's reason when
    // it refused (full, or switched off by the player).
    virtual std::optional<std::string> write(std::string_view key, std::string_view text) = 0;
    // Stores the text under `from` also under `to`, exactly as it is; does
    // nothing when nothing is stored under `from`. The reason when refused.
    virtual std::optional<std::string> copy(std::string_view from, std::string_view to) = 0;
};

// What became of one `WebSaveStore::save` is a `SaveOutcome`, as on the desktop.
class WebSaveStore {
  public:
    explicit WebSaveStore(TextStorage& storage) : storage_(storage) {}
    WebSaveStore(const WebSaveStore&) = delete;
    WebSaveStore& operator=(const WebSaveStore&) = delete;

    // The stored progress, or the default one. Nothing stored is silent;
    // anything else that is no valid record gives one message on the error
    // stream, "save could not be read (" + fault + "): starting over", and
    // stays as it is until the first save copies it aside.
    Progress load();

    // Writes the progress's text under "zobra.save"; reports a failure on
    // the error stream and in the result.
    SaveOutcome save(const Progress& progress);

    // The browser says that another page of the game holds the save: this
    // page says so once and saves nothing from now on.
    void held_elsewhere();
    bool left_to_other_copy() const { return held_elsewhere_; }
    // Whether the stored value could not be read and nothing has been
    // saved since: the player started over.
    bool started_over() const { return started_over_; }

  private:
    TextStorage& storage_;
    bool held_elsewhere_ = false;
    bool keep_aside_ = false;  // the stored text could not be read
    bool started_over_ = false;
    std::string unread_head_;  // the first mebibyte of that text, until it is kept
};

}  // namespace zobra
