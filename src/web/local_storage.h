#pragma once
// The page's local storage behind the save, and the browser's lock that
// tells two pages of the game on one storage apart.

#include <optional>
#include <string>
#include <string_view>

#include "web/save_web.h"

namespace zobra {

// window.localStorage. A browser that keeps the page from it (storage
// switched off, a private window that refuses it) gives its reason on every
// read and write.
class LocalStorage final : public TextStorage {
  public:
    Read read(std::string_view key) override;
    std::optional<std::string> write(std::string_view key, std::string_view text) override;
    std::optional<std::string> copy(std::string_view from, std::string_view to) override;
};

// Asks the browser for the lock named after the save key and holds it for
// as long as the page lives. The answer comes later: when another page holds
// the lock, `store.held_elsewhere()` is called then. A browser without
// locks saves from every page, as a file system without locks does on the
// desktop. The store must outlive the page.
void claim_save(WebSaveStore& store);

}  // namespace zobra
