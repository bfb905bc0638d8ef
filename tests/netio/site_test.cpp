// What a request for the web page can reach in the site's folder: the
// page's files by name, whatever the query, and never anything outside
// the folder, however the path is written.

#include "netio/site.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace zobra::netio {
namespace {

namespace fs = std::filesystem;

// A folder under /tmp with a site in "site/" and a secret beside it.
class SiteFolder {
  public:
    SiteFolder() {
        std::string name = (fs::temp_directory_path() / "zobra-site-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("no temporary folder");
        top_ = name;
        fs::create_directories(root() / "replays");
        fs::create_directories(root() / "art" / "icons");
        for (const char* file : {"index.html", "zobra.js", "zobra.wasm", "a b.txt",
                                 "replays/duel1.zrp", "art/index.html", "art/icons/i.png"})
            std::ofstream(root() / file) << file;
        std::ofstream(top_ / "secret.txt") << "secret";
        fs::create_symlink(top_ / "secret.txt", root() / "secret.txt");
        fs::create_directory_symlink(top_, root() / "up");
        fs::create_symlink(root() / "zobra.js", root() / "game.js");
    }
    ~SiteFolder() {
        std::error_code ignored;
        fs::remove_all(top_, ignored);
    }
    SiteFolder(const SiteFolder&) = delete;
    SiteFolder& operator=(const SiteFolder&) = delete;
    fs::path root() const { return top_ / "site"; }

  private:
    fs::path top_;
};

TEST(Site, ARequestReachesThePagesFilesAndNothingOutsideTheirFolder) {
    const SiteFolder folder;
    struct Case {
        const char* target;
        const char* file;  // under the site's folder; nullptr: 404
    };
    const Case table[] = {
        {"/", "index.html"},
        {"/?room=K7QX", "index.html"},
        {"/index.html#top", "index.html"},
        {"/zobra.js", "zobra.js"},
        {"/zobra.wasm?v=2", "zobra.wasm"},
        {"/replays/duel1.zrp", "replays/duel1.zrp"},
        {"/a%20b.txt", "a b.txt"},
        {"/%7a%6F%62ra.js", "zobra.js"},
        {"/art/", "art/index.html"},
        {"/art/icons/i.png", "art/icons/i.png"},
        {"/game.js", "zobra.js"},  // a link that stays inside
        {"/replays", nullptr},     // a folder: no listing
        {"/replays/", nullptr},    // nor its index, which it lacks
        {"/missing.html", nullptr},
        {"", nullptr},
        {"index.html", nullptr},
        {"/../secret.txt", nullptr},
        {"/replays/../index.html", nullptr},
        {"/%2e%2e/secret.txt", nullptr},
        {"/%2E%2E%2fsecret.txt", nullptr},
        {"/..%2fsecret.txt", nullptr},
        {"/index.html%00.png", nullptr},
        {"/%5c..%5csecret.txt", nullptr},
        {"/art\\index.html", nullptr},
        {"/%zz", nullptr},
        {"/%4", nullptr},
        {"/secret.txt", nullptr},               // a link out of the folder
        {"/up/secret.txt", nullptr},            // through a link to the folder above
        {"/up/site/index.html", "index.html"},  // out and back in: the page's own file
    };
    for (const Case& c : table) {
        const std::optional<fs::path> found = site_file(folder.root(), c.target);
        if (c.file == nullptr) {
            EXPECT_FALSE(found) << c.target << " gave " << found->string();
        } else {
            ASSERT_TRUE(found) << c.target;
            EXPECT_EQ(*found, fs::canonical(folder.root() / c.file)) << c.target;
        }
    }
    EXPECT_FALSE(site_file(folder.root() / "nothing-here", "/"));
}

TEST(Site, EachFileOfThePageGoesOutAsItsType) {
    const std::pair<const char*, const char*> table[] = {
        {"index.html", "text/html; charset=utf-8"},
        {"zobra.js", "text/javascript; charset=utf-8"},
        {"zobra.wasm", "application/wasm"},
        {"icon.png", "image/png"},
        {"levels.json", "application/json"},
        {"page.css", "text/css; charset=utf-8"},
        {"favicon.ico", "image/x-icon"},
        {"notes.txt", "text/plain; charset=utf-8"},
        {"duel1.zrp", "application/octet-stream"},
        {"README", "application/octet-stream"},
    };
    for (const auto& [file, type] : table) EXPECT_EQ(content_type(file), type) << file;
}

}  // namespace
}  // namespace zobra::netio
