// The pictures in docs/screenshots/ (shown in the README and, once published,
// in software centres) are the screenshot mode's own scenes, stored smaller
// but with the same pixels. A deliberate change of the game's pictures
// rewrites them with `make golden`, like every other golden file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path published = fs::path(ZOBRA_SOURCE_DIR) / "docs/screenshots";

// How many pixels of the two pictures differ, as ImageMagick counts them
// (it prints the count on the error stream); -1 when it cannot compare.
long differing_pixels(const fs::path& a, const fs::path& b) {
    const Result r = run_to_end({"compare", "-metric", "AE", a.string(), b.string(), "null:"}, {},
                                a.parent_path(), 120s);
    if (!r.ending.exited || r.ending.status > 1) return -1;
    try {
        return std::stol(r.err);
    } catch (const std::exception&) {
        return -1;
    }
}

// The scene recompressed losslessly: palette and deflate where the game
// itself stores every byte, and nothing that changes from run to run.
bool store_small(const fs::path& scene, const fs::path& target) {
    return run_to_end({"convert", scene.string(), "-strip", "-define", "png:compression-level=9",
                       "-define", "png:compression-filter=5", "-define",
                       "png:exclude-chunks=date,time", target.string()},
                      {}, scene.parent_path(), 120s)
               .ending.status == 0;
}

TEST(PublishedScreenshotsGolden, AreTheScreenshotModesScenesPixelForPixel) {
    std::set<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(published))
        if (entry.path().extension() == ".png") pictures.insert(entry.path().filename().string());
    ASSERT_GE(pictures.size(), 2u);
    ASSERT_LE(pictures.size(), 4u) << "the repository keeps only a few pictures";

    GameFolder folder;
    const Result r = run_to_end({folder.executable().string()},
                                {{"ZOBRA_SHOTS", "shots"},
                                 {"ZOBRA_SAVE", (folder.path() / "save.json").string()},
                                 {"SDL_AUDIODRIVER", "dummy"}},
                                folder.path(), 300s);
    ASSERT_TRUE(r.ending.exited && r.ending.status == 0) << r.err;

    const bool update = std::getenv("ZOBRA_UPDATE_GOLDEN") != nullptr;
    for (const std::string& picture : pictures) {
        const fs::path scene = folder.path() / "shots" / picture;
        ASSERT_TRUE(fs::exists(scene)) << picture << " is no scene of the screenshot mode";
        if (update) {
            EXPECT_TRUE(store_small(scene, published / picture)) << picture;
            continue;
        }
        EXPECT_EQ(differing_pixels(scene, published / picture), 0)
            << picture << " is no longer what the game shows: run make golden";
        EXPECT_LT(fs::file_size(published / picture), 100'000u) << picture << " is stored big";
    }
}

}  // namespace
}  // namespace zobra::e2e
