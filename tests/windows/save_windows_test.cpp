// The save on Windows: found under APPDATA in a user folder whose name is
// not ASCII, written over an existing file, and held by one copy at a time.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "files/exe_path.h"
#include "files/os.h"
#include "files/save.h"

namespace zobra {
namespace {

namespace fs = std::filesystem;

// A user folder like C:\Users\Jürgen Öztürk\AppData\Roaming, made in the
// temporary folder and given to the game as APPDATA; the other variables
// that decide the save's place are unset while a test runs.
class AppDataWithUmlauts : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                (L"zobra-J\u00fcrgen \u00d6zt\u00fcrk-" + std::to_wstring(::GetCurrentProcessId()));
        fs::remove_all(root_);
        app_data_ = root_ / L"AppData" / L"Roaming";
        fs::create_directories(app_data_);
        for (const wchar_t* name : {L"ZOBRA_SAVE", L"XDG_DATA_HOME", L"HOME"})
            ::SetEnvironmentVariableW(name, nullptr);
        ::SetEnvironmentVariableW(L"APPDATA", app_data_.c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"APPDATA", nullptr);
        fs::remove_all(root_);
    }
    fs::path root_;
    fs::path app_data_;
};

TEST_F(AppDataWithUmlauts, TheSaveLivesInTheZobraFolderOfAppData) {
    const std::optional<fs::path> path = save_path();
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->lexically_normal(), (app_data_ / L"zobra" / L"save.json").lexically_normal());
    // The same place as UTF-8 text, as the error stream would show it.
    EXPECT_NE(os::utf8_of(*path).find("J\xc3\xbcrgen \xc3\x96zt\xc3\xbcrk"), std::string::npos);
}

TEST_F(AppDataWithUmlauts, AProgressIsWrittenReplacedAndReadBack) {
    Progress progress;
    progress.name = "J\xc3\x9cRGEN";
    progress.solved = 3;
    progress.best = {10, 20, 30};
    {
        SaveStore store(save_path());
        store.load();
        ASSERT_EQ(store.save(progress), SaveOutcome::Written);
        progress.solved = 4;
        progress.best.push_back(40);
        ASSERT_EQ(store.save(progress), SaveOutcome::Written);  // over the first file
    }
    const fs::path file = app_data_ / L"zobra" / L"save.json";
    ASSERT_TRUE(fs::is_regular_file(file));
    EXPECT_FALSE(fs::exists(app_data_ / L"zobra" / L"save.json.tmp"));
    const os::ReadResult read = os::read_regular_file(file, save_bytes_max);
    ASSERT_TRUE(read.text.has_value()) << read.error;
    EXPECT_EQ(*read.text, encode_progress(progress));

    SaveStore again(save_path());
    const Progress loaded = again.load();
    EXPECT_EQ(loaded.name, progress.name);
    EXPECT_EQ(loaded.solved, 4u);
    EXPECT_EQ(loaded.best, progress.best);
}

TEST_F(AppDataWithUmlauts, OnlyTheFirstCopyWritesUntilItLetsGo) {
    Progress progress;
    auto first = std::make_unique<SaveStore>(save_path());
    first->load();
    SaveStore second(save_path());
    second.load();
    EXPECT_TRUE(second.left_to_other_copy());
    EXPECT_EQ(second.save(progress), SaveOutcome::LeftToOtherCopy);
    EXPECT_EQ(first->save(progress), SaveOutcome::Written);

    first.reset();  // the first copy ends
    SaveStore third(save_path());
    third.load();
    EXPECT_FALSE(third.left_to_other_copy());
    EXPECT_FALSE(third.unlocked());
    EXPECT_EQ(third.save(progress), SaveOutcome::Written);
}

TEST_F(AppDataWithUmlauts, EnvironmentValuesArriveAsUtf8) {
    EXPECT_EQ(os::environment("APPDATA"), os::utf8_of(app_data_));
    ::SetEnvironmentVariableW(L"ZOBRA_EMPTY_FOR_TEST", L"");
    EXPECT_EQ(os::environment("ZOBRA_EMPTY_FOR_TEST"), std::string());
    ::SetEnvironmentVariableW(L"ZOBRA_EMPTY_FOR_TEST", nullptr);
    EXPECT_EQ(os::environment("ZOBRA_EMPTY_FOR_TEST"), std::nullopt);
}

TEST_F(AppDataWithUmlauts, DiagnosticsGoToLocalAppDataWhereTheGameCannotWrite) {
    DiagnosticsPlace place;
    place.executable_folder = fs::path(L"C:\\Program Files\\Zobra");
    place.local_app_data = os::utf8_of(root_ / L"AppData" / L"Local");
    EXPECT_EQ(choose_diagnostics_folder(place), root_ / L"AppData" / L"Local" / L"zobra");
    // The executable's own folder, here a writable one, comes first.
    const std::optional<fs::path> exe = os::executable_path();
    ASSERT_TRUE(exe.has_value());
    EXPECT_EQ(exe->filename(), L"windows_tests.exe");
    EXPECT_TRUE(os::folder_writable(exe->parent_path()));
    EXPECT_FALSE(os::folder_writable(root_ / L"missing"));
}

}  // namespace
}  // namespace zobra
