// The save file against real files in temporary directories.

#include "files/save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <optional>
#include <string>
#include <variant>

namespace zobra {
namespace {

namespace fs = std::filesystem;

const std::string first_save =
    R"({"solved":0,"best":[],"music_off":false,"mode":"Solo","difficulty":"Normal",)"
    R"("slot":0,"name":"","others":[],"all_open":false})";

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// One run's worth of loading or saving, as a copy of the game that starts,
// does this one thing and ends.
Progress load_progress() { return SaveStore(save_path()).load(); }
SaveOutcome save_progress(const Progress& progress) {
    return SaveStore(save_path()).save(progress);
}

std::string repeat(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t i = 0; i < times; ++i) all += text;
    return all;
}

// Each test gets its own directory and an environment with none of the
// variables that place the save.
class SaveFile : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : names_) {
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
            unsetenv(name);
        }
        char pattern[] = "/tmp/zobra-save-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const char* name : names_) unsetenv(name);
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void use_save(const fs::path& path) { setenv("ZOBRA_SAVE", path.c_str(), 1); }

    // Loads with `text` in the save file; gives the error stream's output.
    std::string load_text(const std::string& text, Progress& loaded) {
        use_save(dir / "save.json");
        write_file(dir / "save.json", text);
        ::testing::internal::CaptureStderr();
        loaded = load_progress();
        return ::testing::internal::GetCapturedStderr();
    }

    // Whether `text` is rejected as a whole, with the message and the default.
    bool rejected(const std::string& text) {
        Progress loaded;
        const std::string errors = load_text(text, loaded);
        const bool message = errors.starts_with("save could not be read (") &&
                             errors.ends_with("): starting over\n");
        EXPECT_EQ(message, !errors.empty()) << errors;
        if (message) {
            EXPECT_EQ(loaded, Progress{});
        }
        return message;
    }

    fs::path dir;

  private:
    static constexpr const char* names_[] = {"ZOBRA_SAVE", "XDG_DATA_HOME", "APPDATA", "HOME"};
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(SaveFile, AFirstStartReadsNothingSaysNothingAndSavesTheDefaultLine) {
    use_save(dir / "save.json");
    ::testing::internal::CaptureStderr();
    const Progress loaded = load_progress();
    EXPECT_EQ(save_progress(loaded), SaveOutcome::Written);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(loaded, Progress{});
    const std::string written = read_file(dir / "save.json");
    EXPECT_EQ(written, first_save);
    EXPECT_EQ(written.size(), 124u);
    EXPECT_FALSE(fs::exists(dir / "save.json.tmp"));
}

TEST_F(SaveFile, AFullRecordIsWrittenCompactInKeyOrderAndReadBackTheSame) {
    Progress progress;
    progress.slot = 2;
    progress.name = "Q\"\\\n\x01\xC3\xA4";
    progress.solved = 3;
    progress.best = {10, 0, 4294967295u};
    progress.music_off = true;
    progress.mode = Mode::DuelPair;
    progress.difficulty = Difficulty::Hard;
    progress.others = {Profile{0, "ANNA", 1, {5}}, Profile{7, "", 0, {}}};
    progress.all_open = true;
    const std::string expected =
        R"({"solved":3,"best":[10,0,4294967295],"music_off":true,"mode":"DuelPair",)"
        R"("difficulty":"Hard","slot":2,"name":"Q\"\\\n\u0001ä","others":[)"
        R"({"slot":0,"name":"ANNA","solved":1,"best":[5]},{"slot":7,"name":"","solved":0,"best":[]}],)"
        R"("all_open":true})";
    EXPECT_EQ(encode_progress(progress), expected);

    use_save(dir / "save.json");
    save_progress(progress);
    EXPECT_EQ(read_file(dir / "save.json"), expected);
    EXPECT_EQ(load_progress(), progress);

    for (Mode mode : {Mode::Solo, Mode::Pair, Mode::DuelSolo})
        for (Difficulty difficulty : {Difficulty::Easy, Difficulty::Normal}) {
            progress.mode = mode;
            progress.difficulty = difficulty;
            save_progress(progress);
            EXPECT_EQ(load_progress(), progress);
        }
}

TEST_F(SaveFile, ThePlaceComesFromZobraSaveThenXdgThenAppDataThenHome) {
    EXPECT_EQ(save_path(), std::nullopt);
    setenv("HOME", "/home/d", 1);
    EXPECT_EQ(save_path(), fs::path("/home/d/.local/share/zobra/save.json"));
    setenv("APPDATA", "/appdata/", 1);
    EXPECT_EQ(save_path(), fs::path("/appdata/zobra/save.json"));
    setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(save_path(), fs::path("/xdg/zobra/save.json"));
    setenv("ZOBRA_SAVE", "/games/progress.dat", 1);
    EXPECT_EQ(save_path(), fs::path("/games/progress.dat"));

    // An empty or relative folder is ignored, as the XDG rules say, and the
    // next place is taken; a set but empty ZOBRA_SAVE still counts.
    unsetenv("ZOBRA_SAVE");
    for (const char* ignored : {"", "relative", "./here", "~/data"}) {
        setenv("XDG_DATA_HOME", ignored, 1);
        EXPECT_EQ(save_path(), fs::path("/appdata/zobra/save.json")) << ignored;
        setenv("APPDATA", ignored, 1);
        EXPECT_EQ(save_path(), fs::path("/home/d/.local/share/zobra/save.json")) << ignored;
        setenv("HOME", ignored, 1);
        EXPECT_EQ(save_path(), std::nullopt) << ignored;
        setenv("HOME", "/home/d", 1);
        setenv("APPDATA", "/appdata/", 1);
    }
    setenv("ZOBRA_SAVE", "", 1);
    EXPECT_EQ(save_path(), fs::path(""));
}

TEST_F(SaveFile, WithNoPlaceTheGameStartsFreshAndSavingSaysSo) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load_progress(), Progress{});
    EXPECT_EQ(save_progress(Progress{}), SaveOutcome::Failed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "could not save: no place to save\n");
}

TEST_F(SaveFile, MissingDirectoriesAreCreatedOnTheFirstSave) {
    setenv("HOME", dir.c_str(), 1);
    save_progress(Progress{});
    EXPECT_EQ(read_file(dir / ".local/share/zobra/save.json"), first_save);
    use_save(dir / "a/b/c/save.json");
    save_progress(Progress{});
    EXPECT_EQ(read_file(dir / "a/b/c/save.json"), first_save);
}

TEST_F(SaveFile, TheTemporaryFileSwapsTheExtensionForJsonTmp) {
    EXPECT_EQ(temporary_save_path("/x/save.json"), fs::path("/x/save.json.tmp"));
    EXPECT_EQ(temporary_save_path("/x/progress.dat"), fs::path("/x/progress.json.tmp"));
    EXPECT_EQ(temporary_save_path("/x/progress"), fs::path("/x/progress.json.tmp"));
    EXPECT_EQ(temporary_save_path("/x/a.tar.gz"), fs::path("/x/a.tar.json.tmp"));

    // A folder where the save should be is never written to nor beside.
    fs::create_directory(dir / "progress.dat");
    use_save(dir / "progress.dat");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(save_progress(Progress{}), SaveOutcome::Failed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "could not save: " + (dir / "progress.dat").string() + ": Is a directory\n");
    EXPECT_FALSE(fs::exists(dir / "progress.json.tmp"));
    EXPECT_FALSE(fs::exists(dir / "progress.dat.lock"));

    use_save(dir / "progress");
    EXPECT_EQ(save_progress(Progress{}), SaveOutcome::Written);
    EXPECT_EQ(read_file(dir / "progress"), first_save);
    EXPECT_FALSE(fs::exists(dir / "progress.json.tmp"));
    EXPECT_FALSE(fs::exists(dir / "progress.json.tmp.tmp"));
}

TEST_F(SaveFile, TheBrokenAndLockFilesAreNamedAfterTheSave) {
    const struct {
        const char* save;
        const char* broken;
        const char* lock;
    } names[] = {
        {"/x/save.json", "/x/save.broken.json", "/x/save.json.lock"},
        {"/x/progress.dat", "/x/progress.broken.dat", "/x/progress.dat.lock"},
        {"/x/progress", "/x/progress.broken", "/x/progress.lock"},
        {"/x/a.tar.gz", "/x/a.tar.broken.gz", "/x/a.tar.gz.lock"},
        {"save.json", "save.broken.json", "save.json.lock"},
    };
    for (const auto& name : names) {
        EXPECT_EQ(broken_save_path(name.save), fs::path(name.broken));
        EXPECT_EQ(save_lock_path(name.save), fs::path(name.lock));
    }
}

TEST_F(SaveFile, AnUnwritablePlaceGivesOneMessageAndLosesNothing) {
    // Running as root ignores file modes, so the blocks are made of files
    // where directories should be.
    write_file(dir / "blocker", "x");
    use_save(dir / "blocker/zobra/save.json");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(save_progress(Progress{}), SaveOutcome::Failed);
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "could not save: " + (dir / "blocker/zobra/save.json").string() + ": Not a directory\n");

    // The temporary name is the game's own: a folder, a pipe or a link left
    // there is cleared away and the save goes through, the link's target
    // untouched.
    Progress progress;
    use_save(dir / "save.json");
    write_file(dir / "elsewhere", "keep me");
    const std::function<void(const fs::path&)> stale[] = {
        [](const fs::path& at) { fs::create_directories(at / "inside"); },
        [](const fs::path& at) { ASSERT_EQ(mkfifo(at.c_str(), 0600), 0); },
        [&](const fs::path& at) { fs::create_symlink(dir / "elsewhere", at); },
        [&](const fs::path& at) { fs::create_symlink(dir / "nowhere", at); },
    };
    for (const auto& make : stale) {
        make(dir / "save.json.tmp");
        ++progress.solved;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(save_progress(progress), SaveOutcome::Written);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(load_progress(), progress);
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "save.json.tmp")));
    }
    EXPECT_EQ(read_file(dir / "elsewhere"), "keep me");
}

TEST_F(SaveFile, ASaveThatDoesNotParseIsReportedAndLeftAloneUntilTheNextSave) {
    const std::string broken = R"({"solved":2,"best":[1,2)";
    write_file(dir / "save.broken.json", "an older broken save");
    use_save(dir / "save.json");
    write_file(dir / "save.json", broken);
    SaveStore store(save_path());
    ::testing::internal::CaptureStderr();
    Progress loaded = store.load();
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(errors.starts_with("save could not be read (")) << errors;
    EXPECT_TRUE(errors.ends_with("): starting over\n")) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_EQ(loaded, Progress{});
    EXPECT_EQ(read_file(dir / "save.json"), broken);
    // The title tells the player so until a save has gone through.
    EXPECT_TRUE(store.started_over());

    // The first save keeps the broken bytes beside it and says so once.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(store.save(loaded), SaveOutcome::Written);
    EXPECT_FALSE(store.started_over());
    loaded.solved = 1;
    EXPECT_EQ(store.save(loaded), SaveOutcome::Written);
    errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors, "kept the save that could not be read: moved " +
                          (dir / "save.json").string() + " to " +
                          (dir / "save.broken.json").string() + "\n");
    EXPECT_EQ(read_file(dir / "save.json"), encode_progress(loaded));
    EXPECT_EQ(read_file(dir / "save.broken.json"), broken);
}

TEST_F(SaveFile, AnUnreadableSaveIsKeptBesideTheFileALinkNames) {
    // Too large to read, and reached through a link: the file itself moves
    // aside in its own folder, and the link then names the new save.
    const std::string huge(1024 * 1024 + 1, '{');
    fs::create_directory(dir / "real");
    write_file(dir / "real/progress.dat", huge);
    fs::create_symlink(dir / "real/progress.dat", dir / "save.json");
    use_save(dir / "save.json");
    SaveStore store(save_path());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(store.load(), Progress{});
    EXPECT_EQ(store.save(Progress{}), SaveOutcome::Written);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::is_symlink(dir / "save.json"));
    EXPECT_EQ(read_file(dir / "save.json"), first_save);
    EXPECT_EQ(read_file(dir / "real/progress.broken.dat"), huge);
    EXPECT_FALSE(fs::exists(dir / "save.broken.json"));
}

TEST_F(SaveFile, ABrokenSaveWhoseNameIsBlockedIsKeptUnderTheNextFreeNameAndSavingGoesOn) {
    use_save(dir / "save.json");
    // Something that no file can be renamed onto: a folder with a file in
    // it, at the usual name and at the first numbered one.
    fs::create_directories(dir / "save.broken.json/inside");
    fs::create_directories(dir / "save.broken.2.json/inside");
    // A numbered name is only ever a free one: a second broken save goes to
    // the next.
    const std::pair<const char*, const char*> kept[] = {{"[", "save.broken.3.json"},
                                                        {"{", "save.broken.4.json"}};
    for (const auto& [text, name] : kept) {
        write_file(dir / "save.json", text);
        SaveStore store(save_path());
        ::testing::internal::CaptureStderr();
        store.load();
        EXPECT_EQ(store.save(Progress{}), SaveOutcome::Written);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(errors.find("kept the save that could not be read: moved " +
                              (dir / "save.json").string() + " to " + (dir / name).string() + "\n"),
                  std::string::npos)
            << errors;
        EXPECT_EQ(read_file(dir / "save.json"), first_save);
    }
    EXPECT_EQ(read_file(dir / "save.broken.3.json"), "[");
    EXPECT_EQ(read_file(dir / "save.broken.4.json"), "{");
    // Nothing else is left behind.
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
}

TEST_F(SaveFile, OnlyTheFirstCopyOnASaveWritesItAndTheSecondSaysSoOnce) {
    use_save(dir / "deeper/save.json");
    std::optional<SaveStore> first(std::in_place, save_path());
    ::testing::internal::CaptureStderr();
    first->load();
    // The lock is taken at loading, with the folder made for it.
    EXPECT_TRUE(fs::exists(dir / "deeper/save.json.lock"));
    EXPECT_FALSE(fs::exists(dir / "deeper/save.json"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    Progress progress;
    progress.solved = 3;
    {
        SaveStore second(save_path());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(second.load(), Progress{});
        EXPECT_TRUE(second.left_to_other_copy());
        EXPECT_EQ(second.save(progress), SaveOutcome::LeftToOtherCopy);
        EXPECT_EQ(second.save(progress), SaveOutcome::LeftToOtherCopy);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "another copy of the game holds the save " + (dir / "deeper/save.json").string() +
                      ": this copy plays on without saving\n");
        EXPECT_FALSE(fs::exists(dir / "deeper/save.json"));
        EXPECT_EQ(first->save(progress), SaveOutcome::Written);
    }
    // A link to the same file leads to the same lock.
    fs::create_symlink(dir / "deeper/save.json", dir / "link.json");
    use_save(dir / "link.json");
    {
        SaveStore by_link(save_path());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(by_link.load(), progress);
        EXPECT_EQ(by_link.save(Progress{}), SaveOutcome::LeftToOtherCopy);
        ::testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(read_file(dir / "deeper/save.json"), encode_progress(progress));

    // A copy that starts after the first has ended saves again.
    use_save(dir / "deeper/save.json");
    first.reset();
    SaveStore later(save_path());
    EXPECT_EQ(later.load(), progress);
    EXPECT_EQ(later.save(Progress{}), SaveOutcome::Written);
    EXPECT_EQ(read_file(dir / "deeper/save.json"), first_save);
}

TEST_F(SaveFile, EverySaveThatCannotBeReadGivesTheOneMessageButAMissingOneIsSilent) {
    // What reading found, by the fault in the message; "" for no message.
    const auto fault = [&]() -> std::string {
        ::testing::internal::CaptureStderr();
        const Progress loaded = load_progress();
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded, Progress{}) << errors;
        if (errors.empty()) return "";
        const std::string head = "save could not be read (";
        const std::string tail = "): starting over\n";
        EXPECT_TRUE(errors.starts_with(head) && errors.ends_with(tail)) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        return errors.substr(head.size(), errors.size() - head.size() - tail.size());
    };
    const auto with_text = [&](const std::string& text) {
        use_save(dir / "save.json");
        write_file(dir / "save.json", text);
        return fault();
    };
    const std::string record = R"({"solved":1,"best":[]})";

    // Not UTF-8: a cut sequence, a surrogate, an overlong slash.
    EXPECT_EQ(with_text("{\"solved\":1,\"best\":[],\"name\":\"\xC3\"}"), "not valid UTF-8");
    EXPECT_EQ(with_text("{\"solved\":1,\"best\":[],\"name\":\"\xED\xA0\x80\"}"), "not valid UTF-8");
    EXPECT_EQ(with_text("{\"solved\":1,\"best\":[],\"name\":\"\xC0\xAF\"}"), "not valid UTF-8");
    // A NUL byte does not end the text: what follows it still counts.
    EXPECT_EQ(with_text(record + std::string(1, '\0') + "garbage"), "the file holds a NUL byte");
    EXPECT_EQ(with_text(record + std::string(1, '\0')), "the file holds a NUL byte");
    EXPECT_EQ(with_text(std::string(1, '\0') + record), "the file holds a NUL byte");

    // Places that exist but are no file the game can read.
    use_save(dir);
    EXPECT_EQ(fault(), "not a regular file");
    use_save("/dev/null");
    EXPECT_EQ(fault(), "not a regular file");
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    use_save(dir / "loop-a");
    EXPECT_EQ(fault(), "Too many levels of symbolic links");
    if (geteuid() != 0) {  // file modes do not stop root
        write_file(dir / "locked.json", record);
        fs::permissions(dir / "locked.json", fs::perms::none);
        use_save(dir / "locked.json");
        EXPECT_EQ(fault(), "Permission denied");
    }

    // Missing: nothing to say on a first start.
    use_save(dir / "nowhere/save.json");
    EXPECT_EQ(fault(), "");
    use_save(dir / "missing.json");
    EXPECT_EQ(fault(), "");
    fs::create_symlink("gone.json", dir / "dangling.json");
    use_save(dir / "dangling.json");
    EXPECT_EQ(fault(), "");
}

TEST_F(SaveFile, ASaveThatIsAPipeIsRefusedWithoutWaitingForAWriter) {
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    use_save(dir / "pipe");
    ::testing::internal::CaptureStderr();
    auto loading = std::async(std::launch::async, [] { return load_progress(); });
    if (loading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Let the stuck reader go so that the test can end.
        const int writer = ::open((dir / "pipe").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        loading.wait();
        ::testing::internal::GetCapturedStderr();
        FAIL() << "reading the save waited for a writer";
    }
    EXPECT_EQ(loading.get(), Progress{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "save could not be read (not a regular file): starting over\n");
}

TEST_F(SaveFile, AFileOverOneMebibyteIsRefusedWhateverItHolds) {
    // A valid record padded with spaces: only its size is wrong.
    const std::string record = R"({"solved":4,"best":[]})";
    const std::size_t limit = 1024 * 1024;
    Progress loaded;
    EXPECT_EQ(load_text(record + std::string(limit - record.size(), ' '), loaded), "");
    EXPECT_EQ(loaded.solved, 4u);
    EXPECT_EQ(load_text(record + std::string(limit + 1 - record.size(), ' '), loaded),
              "save could not be read (larger than 1 MiB): starting over\n");
    EXPECT_EQ(loaded, Progress{});
}

TEST_F(SaveFile, LoadedValuesAreBoundedGenerously) {
    const auto list = [](std::size_t count) {
        std::string text = "[";
        for (std::size_t i = 0; i < count; ++i) text += i == 0 ? "7" : ",7";
        return text + "]";
    };
    const auto profiles = [](std::size_t count) {
        std::string text = "[";
        for (std::size_t i = 0; i < count; ++i)
            text += std::string(i == 0 ? "" : ",") + "[" + std::to_string(i + 1) + ",\"\",1,[]]";
        return text + "]";
    };
    const std::string name_256(256, 'A');
    const std::string name_257(257, 'A');
    struct Case {
        std::string text;
        std::string fault;  // "" when the file loads
    };
    const Case cases[] = {
        {R"({"solved":0,"best":[],"name":")" + name_256 + "\"}", ""},
        {R"({"solved":0,"best":[],"name":")" + name_257 + "\"}",
         "\"name\" is longer than 256 bytes"},
        // Bytes count, not letters: 128 two-byte letters fit, 129 do not.
        {"{\"solved\":0,\"best\":[],\"name\":\"" + repeat("\xC3\xA4", 128) + "\"}", ""},
        {"{\"solved\":0,\"best\":[],\"name\":\"" + repeat("\\u00e4", 129) + "\"}",
         "\"name\" is longer than 256 bytes"},
        {R"({"solved":0,"best":[],"others":[[1,")" + name_257 + R"(",0,[]]]})",
         "\"name\" is longer than 256 bytes"},
        {R"({"solved":0,"best":)" + list(40) + "}", ""},
        {R"({"solved":0,"best":)" + list(41) + "}", "\"best\" holds more than 40 entries"},
        {R"({"solved":0,"best":[],"others":[[1,"",0,)" + list(40) + "]]}", ""},
        {R"({"solved":0,"best":[],"others":[[1,"",0,)" + list(41) + "]]}",
         "\"best\" holds more than 40 entries"},
        {R"({"solved":0,"best":[],"others":)" + profiles(7) + "}", ""},
        {R"({"solved":0,"best":[],"others":)" + profiles(8) + "}",
         "\"others\" holds more than 7 players"},
        // Any text is a name: controls, escapes and letters beyond ASCII.
        {"{\"solved\":0,\"best\":[],\"name\":\"\\u0007\\t\xC3\xA4\x7F\"}", ""},
    };
    for (const Case& c : cases) {
        Progress loaded;
        const std::string errors = load_text(c.text, loaded);
        EXPECT_EQ(errors, c.fault.empty()
                              ? ""
                              : "save could not be read (" + c.fault + "): starting over\n")
            << c.text.substr(0, 80);
        if (c.fault.empty()) {
            EXPECT_EQ(std::get<Progress>(decode_progress(c.text)), loaded);
        }
    }
}

TEST_F(SaveFile, SavingWritesThroughLinksAndNeverReplacesWhatIsNoFile) {
    Progress progress;
    progress.solved = 5;
    const std::string expected = encode_progress(progress);
    const auto is_link = [](const fs::path& path) { return fs::is_symlink(path); };

    // A link into another folder: the file there is replaced, beside it.
    fs::create_directory(dir / "real");
    write_file(dir / "real/target.json", first_save);
    fs::create_symlink("real/target.json", dir / "save.json");
    use_save(dir / "save.json");
    EXPECT_EQ(load_progress(), Progress{});  // read through the link
    save_progress(progress);
    EXPECT_TRUE(is_link(dir / "save.json"));
    EXPECT_EQ(read_file(dir / "real/target.json"), expected);
    EXPECT_FALSE(fs::exists(dir / "save.json.tmp"));
    EXPECT_EQ(load_progress(), progress);

    // A chain of links, the last one dangling into a folder still to be made.
    fs::create_symlink(dir / "later/made.json", dir / "second");
    fs::create_symlink("second", dir / "first");
    use_save(dir / "first");
    save_progress(progress);
    EXPECT_TRUE(is_link(dir / "first"));
    EXPECT_TRUE(is_link(dir / "second"));
    EXPECT_EQ(read_file(dir / "later/made.json"), expected);

    // A pipe, named directly or through a link, is never replaced; nothing
    // is left beside it.
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink("pipe", dir / "to-pipe");
    for (const char* name : {"pipe", "to-pipe"}) {
        use_save(dir / name);
        ::testing::internal::CaptureStderr();
        save_progress(progress);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "could not save: " + (dir / name).string() + ": not a regular file\n");
        EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
        EXPECT_FALSE(fs::exists(dir / "pipe.json.tmp"));
    }
}

TEST_F(SaveFile, OnlySolvedAndBestAreRequiredAndTheRestTakeDefaults) {
    Progress loaded;
    EXPECT_EQ(load_text(R"({"best":[0,7],"solved":2})", loaded), "");
    Progress expected;
    expected.solved = 2;
    expected.best = {0, 7};
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(loaded.difficulty, Difficulty::Normal);

    EXPECT_EQ(load_text(" \n\t{\"solved\":0,\"best\":[],\"name\":\"\\u00e4\\ud83d\\ude00\"} \r\n",
                        loaded),
              "");
    EXPECT_EQ(loaded.name, "\xC3\xA4\xF0\x9F\x98\x80");
}

TEST_F(SaveFile, MissingRequiredKeysRejectTheWholeFile) {
    EXPECT_TRUE(rejected(R"({"solved":2})"));
    EXPECT_TRUE(rejected(R"({"best":[]})"));
    EXPECT_TRUE(rejected(R"({})"));
    for (const char* key : {"slot", "name", "solved", "best"}) {
        std::string profile = R"({"slot":1,"name":"A","solved":0,"best":[]})";
        const std::size_t at = profile.find(std::string("\"") + key + "\"");
        const std::size_t end = profile.find_first_of(",}", profile.find(':', at));
        profile.erase(at, end - at + (profile[end] == ',' ? 1 : 0));
        if (profile.ends_with(",}")) profile.erase(profile.size() - 2, 1);
        EXPECT_TRUE(rejected(R"({"solved":0,"best":[],"others":[)" + profile + "]}")) << profile;
    }
}

TEST_F(SaveFile, WrongTypesAndNamesRejectTheWholeFile) {
    for (const char* text : {
             R"({"solved":"2","best":[]})",
             R"({"solved":2,"best":{}})",
             R"({"solved":2,"best":[],"music_off":1})",
             R"({"solved":2,"best":[],"music_off":null})",
             R"({"solved":2,"best":[],"mode":"solo"})",
             R"({"solved":2,"best":[],"mode":"Duo"})",
             R"({"solved":2,"best":[],"mode":1})",
             R"({"solved":2,"best":[],"difficulty":"Insane"})",
             R"({"solved":2,"best":[],"difficulty":["Easy"]})",
             R"({"solved":2,"best":[],"name":null})",
             R"({"solved":2,"best":[],"name":{"first":"A"}})",
             R"({"solved":2,"best":[],"others":{}})",
             R"({"solved":2,"best":[],"others":[3]})",
             R"({"solved":2,"best":[],"all_open":"yes"})",
             R"({"solved":2,"best":[[1]]})",
             R"("save")",
             R"(null)",
             R"(7)",
         })
        EXPECT_TRUE(rejected(text)) << text;
}

TEST_F(SaveFile, NumbersOutsideTheirRangeRejectTheWholeFile) {
    EXPECT_TRUE(rejected(R"({"solved":-1,"best":[]})"));
    EXPECT_TRUE(rejected(R"({"solved":1.5,"best":[]})"));
    EXPECT_TRUE(rejected(R"({"solved":1.0,"best":[]})"));
    EXPECT_TRUE(rejected(R"({"solved":1e2,"best":[]})"));
    EXPECT_TRUE(rejected(R"({"solved":18446744073709551616,"best":[]})"));
    EXPECT_TRUE(rejected(R"({"solved":0,"best":[4294967296]})"));
    EXPECT_TRUE(rejected(R"({"solved":0,"best":[-3]})"));
    EXPECT_TRUE(rejected(R"({"solved":0,"best":[],"slot":-8})"));
    EXPECT_TRUE(rejected(R"({"solved":0,"best":[],"others":[[0,"A",0,[4294967296]]]})"));

    Progress loaded;
    EXPECT_EQ(
        load_text(
            R"({"solved":18446744073709551615,"best":[4294967295],"slot":18446744073709551615})",
            loaded),
        "");
    EXPECT_EQ(loaded.solved, UINT64_MAX);
    // The slot is taken within the eight, keeping the player that comes
    // next (slot 0, as from 18446744073709551615 + 1).
    EXPECT_EQ(loaded.slot, UINT64_MAX % player_slots);
    EXPECT_EQ(loaded.best, std::vector<std::uint32_t>{UINT32_MAX});
}

TEST_F(SaveFile, AKeyGivenTwiceRejectsTheWholeFile) {
    EXPECT_TRUE(rejected(R"({"solved":1,"best":[],"solved":1})"));
    EXPECT_TRUE(rejected(R"({"solved":1,"best":[],"name":"A","name":"A"})"));
    EXPECT_TRUE(rejected(R"({"solved":1,"best":[],"x":1,"x":2})"));
    EXPECT_TRUE(rejected(
        R"({"solved":0,"best":[],"others":[{"slot":1,"slot":1,"name":"","solved":0,"best":[]}]})"));
    // The same key in different records is no repetition.
    Progress loaded;
    EXPECT_EQ(
        load_text(R"({"solved":0,"best":[],"others":[{"slot":1,"name":"","solved":0,"best":[]},)"
                  R"({"slot":2,"name":"","solved":0,"best":[]}],"x":{"slot":1,"y":{"slot":1}}})",
                  loaded),
        "");
    EXPECT_EQ(loaded.others.size(), 2u);
}

TEST_F(SaveFile, UnknownKeysAreSkippedWhateverTheyHoldAndDroppedByTheNextSave) {
    Progress loaded;
    const std::string text =
        R"({"version":3,"solved":1,"extra":{"a":[1,{"b":[]}],"solved":"no"},"best":[9],)"
        R"("others":[{"slot":4,"colour":"red","name":"B","solved":2,"best":[1,2],"more":[[]]}],)"
        R"("flags":[true,null,-1.5,"x"]})";
    EXPECT_EQ(load_text(text, loaded), "");
    Progress expected;
    expected.solved = 1;
    expected.best = {9};
    expected.others = {Profile{4, "B", 2, {1, 2}}};
    EXPECT_EQ(loaded, expected);
    save_progress(loaded);
    EXPECT_EQ(read_file(dir / "save.json"), encode_progress(expected));
}

TEST_F(SaveFile, AnythingButSpaceAfterTheRecordRejectsIt) {
    EXPECT_TRUE(rejected(first_save + "{}"));
    EXPECT_TRUE(rejected(first_save + " 1"));
    EXPECT_TRUE(rejected(first_save + "x"));
    EXPECT_TRUE(rejected(first_save + "\n" + first_save));
    EXPECT_TRUE(rejected(""));
    EXPECT_TRUE(rejected("   "));
    Progress loaded;
    EXPECT_EQ(load_text(first_save + " \n", loaded), "");
}

TEST_F(SaveFile, RecordsMayBeArraysOfTheirValuesInFileOrder) {
    Progress loaded;
    EXPECT_EQ(load_text(R"([3,[1,2]])", loaded), "");
    EXPECT_EQ(loaded.solved, 3u);
    EXPECT_EQ(loaded.best, (std::vector<std::uint32_t>{1, 2}));

    EXPECT_EQ(load_text(R"([1,[5],true,"Pair","Easy",6,"ZED",[[2,"Y",1,[3]]],true])", loaded), "");
    Progress expected;
    expected.solved = 1;
    expected.best = {5};
    expected.music_off = true;
    expected.mode = Mode::Pair;
    expected.difficulty = Difficulty::Easy;
    expected.slot = 6;
    expected.name = "ZED";
    expected.others = {Profile{2, "Y", 1, {3}}};
    expected.all_open = true;
    EXPECT_EQ(loaded, expected);

    EXPECT_EQ(
        load_text(
            R"({"solved":0,"best":[],"others":[[2,"Y",1,[3]],{"best":[],"solved":0,"name":"","slot":5}]})",
            loaded),
        "");
    EXPECT_EQ(loaded.others.size(), 2u);

    EXPECT_TRUE(rejected(R"([3])"));
    EXPECT_TRUE(rejected(R"([])"));
    EXPECT_TRUE(rejected(R"([1,[5],true,"Pair","Easy",6,"ZED",[],true,0])"));
    EXPECT_TRUE(rejected(R"([1,[5],"true"])"));
    EXPECT_TRUE(rejected(R"({"solved":0,"best":[],"others":[[2,"Y",1]]})"));
    EXPECT_TRUE(rejected(R"({"solved":0,"best":[],"others":[[2,"Y",1,[3],0]]})"));
}

TEST(SaveDecoding, TheFaultNamesWhatIsWrong) {
    auto fault = [](std::string_view text) {
        auto result = decode_progress(text);
        return std::holds_alternative<std::string>(result) ? std::get<std::string>(result)
                                                           : std::string();
    };
    EXPECT_EQ(fault(R"({"solved":0})"), "missing key \"best\"");
    EXPECT_EQ(fault(R"({"solved":0,"best":[],"solved":0})"), "key \"solved\" appears twice");
    EXPECT_EQ(fault(R"({"solved":0,"best":[],"mode":"Duo"})"),
              "\"mode\" must be one of Solo, Pair, DuelSolo, DuelPair");
    EXPECT_NE(fault("{\"solved\":0,"), "");
}

// Whatever the reader accepts, play keeps writing readable: seven other
// players on any slots (repeated, beyond the eight, on the current one, with
// a current slot beyond the eight) are put on slots of their own, and then
// switching players round the ring again and again, naming each one so
// that nobody is forgotten, always writes a record that reads back as it is.
TEST(SaveSlots, EveryRecordTheReaderAcceptsStaysReadableThroughAnyPlay) {
    const auto others = [](std::initializer_list<std::uint64_t> slots) {
        std::string text;
        for (std::uint64_t slot : slots)
            text += std::string(text.empty() ? "" : ",") + "[" + std::to_string(slot) + ",\"P" +
                    std::to_string(slot) + "\",1,[]]";
        return "[" + text + "]";
    };
    const std::string cases[] = {
        R"({"solved":0,"best":[],"others":)" + others({2, 3, 4, 5, 6, 7, 7}) + "}",
        R"({"solved":0,"best":[],"others":)" + others({100, 101, 102, 103, 104, 105, 106}) + "}",
        R"({"solved":0,"best":[],"slot":3,"others":)" + others({3, 3, 3, 0, 0, 9, 1}) + "}",
        R"({"solved":0,"best":[],"slot":18446744073709551615,"others":)" +
            others({0, 1, 2, 3, 4, 6, 7}) + "}",
        R"({"solved":0,"best":[],"slot":12,"others":)" + others({12, 4, 20}) + "}",
    };
    for (const std::string& text : cases) {
        const std::variant<Progress, std::string> read = decode_progress(text);
        ASSERT_TRUE(std::holds_alternative<Progress>(read)) << text;
        Progress progress = std::get<Progress>(read);
        // Nobody is lost, and normalising again changes nothing.
        EXPECT_EQ(progress.others.size(),
                  static_cast<std::size_t>((std::count(text.begin(), text.end(), '[') - 2) / 2));
        EXPECT_EQ(with_slots_normalised(progress), progress) << text;
        for (int step = 0; step < 3 * static_cast<int>(player_slots); ++step) {
            next_player(progress);
            set_name(progress, "N" + std::to_string(step));
            const std::string written = encode_progress(progress);
            const std::variant<Progress, std::string> again = decode_progress(written);
            ASSERT_TRUE(std::holds_alternative<Progress>(again))
                << text << "\nstep " << step << " wrote " << written << "\n"
                << std::get<std::string>(again);
            ASSERT_EQ(std::get<Progress>(again), progress) << written;
        }
    }
}

// A save made of a hundred thousand keys (no game writes one, but a file
// may hold anything) is read by the rules in one pass: distinct unknown keys
// are skipped and the record loads; one repeated at the end refuses it.
TEST(SaveDecoding, AHundredThousandKeysAreCheckedForRepetitionInOnePass) {
    constexpr int keys = 100'000;
    std::string text = R"({"solved":3,"best":[])";
    text.reserve(keys * 10);
    for (int i = 0; i < keys; ++i) text += ",\"k" + std::to_string(i) + "\":0";
    const std::variant<Progress, std::string> distinct = decode_progress(text + "}");
    ASSERT_TRUE(std::holds_alternative<Progress>(distinct)) << std::get<std::string>(distinct);
    EXPECT_EQ(std::get<Progress>(distinct).solved, 3u);
    const std::variant<Progress, std::string> repeated = decode_progress(text + ",\"k7\":1}");
    ASSERT_TRUE(std::holds_alternative<std::string>(repeated));
    EXPECT_EQ(std::get<std::string>(repeated), "key \"k7\" appears twice");
}

}  // namespace
}  // namespace zobra
