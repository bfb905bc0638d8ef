// Playing the real game in a window under Xvfb the way a new player would:
// the title, Enter for level 1, a step and a charge, the fuse burning, the
// blast and the lost level, then Escape back to the title and Escape again
// to leave.

#include <gtest/gtest.h>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t gold = 0xFACC30;
constexpr std::uint32_t hud_background = 0x1A1430;
constexpr std::uint32_t fuse_red = 0xCE3034;  // the middle stick of a lit charge
constexpr std::uint32_t warning = 0xFF6060;

// The canvas pixel (x, y) as the 960 × 600 window shows it (a 3 × 3 block).
std::uint32_t canvas_pixel(const Picture& picture, int x, int y) {
    return picture.at(3 * x + 1, 3 * y + 1);
}

// The top bar of the title's "Z", four canvas rows of gold from (102, 20).
bool shows_title(const Picture& picture) {
    if (picture.width != 960 || picture.height != 600) return false;
    for (int x = 102; x < 122; ++x)
        if (canvas_pixel(picture, x, 20) != gold || canvas_pixel(picture, x, 23) != gold)
            return false;
    return true;
}

bool shows_level(const Picture& picture) {
    return picture.width == 960 && canvas_pixel(picture, 2, 11) == hud_background &&
           canvas_pixel(picture, 318, 11) == hud_background;
}

int count_pixels(const Picture& picture, bool (*wanted)(std::uint32_t)) {
    int n = 0;
    for (int y = 72; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) n += wanted(picture.at(x, y)) ? 1 : 0;
    return n;
}

bool is_fuse_red(std::uint32_t p) { return p == fuse_red; }
bool is_warning(std::uint32_t p) { return p == warning; }

// The white-hot and yellow first stages of a blast (and a fuse's spark).
bool is_hot_fire(std::uint32_t p) {
    const std::uint32_t r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
    return r == 255 && g >= 150 && b >= 30;
}

// "DAS WAR NICHTS!" in large warning-red letters over the arena.
bool shows_loss(const Picture& picture) {
    return shows_level(picture) && count_pixels(picture, is_warning) >= 1000;
}

// Every step waits for a picture that stays on screen until the next key,
// with a generous limit, so that a busy machine makes the test slower but
// never wrong. The blast itself burns for less than half a second, too short
// to be caught for certain; what it leaves stays: the charge is gone, and
// the digger who stood on it is dead, so the level is lost and says so.
TEST(Playing, TitleLevelChargeBlastAndBackOutWithEscape) {
    Xvfb x;
    GameFolder folder;
    Process game(folder.executable(), x.environment(), folder.path());
    const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    Grabber grabber(x.display(), window->id);

    ASSERT_TRUE(eventually([&] { return shows_title(screenshot(x.display(), window->id)); }, 30s))
        << "the title screen never showed";

    press_keys(x.display(), window->id, {"Return"});
    Picture level;
    ASSERT_TRUE(eventually([&] { return shows_level(level = grabber.grab()); }, 30s))
        << "level 1 never started";
    EXPECT_EQ(count_pixels(level, is_fuse_red), 0);

    // One step to the right, then a charge: the digger stands on it.
    press_keys(x.display(), window->id, {"Right", "space"});
    Picture lit;
    ASSERT_TRUE(
        eventually([&] { return count_pixels(lit = grabber.grab(), is_fuse_red) >= 100; }, 30s))
        << "no burning fuse appeared";
    // Only the spark is white-hot while the fuse burns: a few pixels, no blast.
    EXPECT_LT(count_pixels(lit, is_hot_fire), 300) << "fire before the fuse has burnt down";

    Picture after;
    ASSERT_TRUE(eventually(
        [&] {
            after = grabber.grab();
            return shows_loss(after) && count_pixels(after, is_fuse_red) == 0;
        },
        30s))
        << "the charge never went off: " << count_pixels(after, is_fuse_red) << " fuse pixels, "
        << count_pixels(after, is_warning) << " warning pixels";

    press_keys(x.display(), window->id, {"Escape"});
    ASSERT_TRUE(eventually([&] { return shows_title(grabber.grab()); }, 30s))
        << "Escape did not lead back";
    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);
    const std::vector<std::string> entries = start_entries(folder.log_file());
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], "start: leaving by the title");
    EXPECT_EQ(entries.back(), "start: the event loop has ended");
}

}  // namespace
}  // namespace zobra::e2e
