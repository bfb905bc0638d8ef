// The save file against real files in temporary directories.

#include "files/save.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    save_progress(loaded);
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

    // Set but empty still counts.
    unsetenv("ZOBRA_SAVE");
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(save_path(), fs::path("zobra/save.json"));
}

TEST_F(SaveFile, WithNoPlaceTheGameStartsFreshAndSavingSaysSo) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load_progress(), Progress{});
    save_progress(Progress{});
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

    // Seen on disk when the rename cannot happen: the save path is a directory.
    fs::create_directory(dir / "progress.dat");
    use_save(dir / "progress.dat");
    ::testing::internal::CaptureStderr();
    save_progress(Progress{});
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(read_file(dir / "progress.json.tmp"), first_save);  // left behind
    EXPECT_TRUE(errors.starts_with("could not save: " + (dir / "progress.dat").string() + ": "))
        << errors;

    use_save(dir / "progress");
    save_progress(Progress{});
    EXPECT_EQ(read_file(dir / "progress"), first_save);
    EXPECT_FALSE(fs::exists(dir / "progress.json.tmp.tmp"));
}

TEST_F(SaveFile, AnUnwritablePlaceGivesOneMessageAndLosesNothing) {
    // Running as root ignores file modes, so the blocks are made of files
    // where directories should be.
    write_file(dir / "blocker", "x");
    use_save(dir / "blocker/zobra/save.json");
    ::testing::internal::CaptureStderr();
    save_progress(Progress{});
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "could not save: " + (dir / "blocker/zobra/save.json").string() + ": Not a directory\n");

    // The old save stays whole when the temporary file cannot be written.
    Progress progress;
    progress.solved = 9;
    use_save(dir / "save.json");
    save_progress(progress);
    fs::create_directory(dir / "save.json.tmp");
    progress.solved = 10;
    ::testing::internal::CaptureStderr();
    save_progress(progress);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "could not save: " + (dir / "save.json").string() + ": Is a directory\n");
    EXPECT_EQ(load_progress().solved, 9u);
    fs::remove(dir / "save.json.tmp");
    save_progress(progress);
    EXPECT_EQ(load_progress().solved, 10u);
}

TEST_F(SaveFile, ASaveThatDoesNotParseIsReportedAndLeftAloneUntilTheNextSave) {
    const std::string broken = R"({"solved":2,"best":[1,2)";
    Progress loaded;
    const std::string errors = load_text(broken, loaded);
    EXPECT_TRUE(errors.starts_with("save could not be read (")) << errors;
    EXPECT_TRUE(errors.ends_with("): starting over\n")) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_EQ(loaded, Progress{});
    EXPECT_EQ(read_file(dir / "save.json"), broken);
    save_progress(loaded);
    EXPECT_EQ(read_file(dir / "save.json"), first_save);
}

TEST_F(SaveFile, UnreadableFilesGiveTheDefaultWithoutAWord) {
    Progress loaded;
    EXPECT_EQ(load_text("{\"solved\":1,\"best\":[],\"name\":\"\xC3\"}", loaded), "");
    EXPECT_EQ(loaded, Progress{});
    EXPECT_EQ(load_text("{\"solved\":1,\"best\":[],\"name\":\"\xED\xA0\x80\"}", loaded), "");
    EXPECT_EQ(load_text("{\"solved\":1,\"best\":[],\"name\":\"\xC0\xAF\"}", loaded), "");

    use_save(dir / "nowhere/save.json");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(load_progress(), Progress{});
    use_save(dir);  // a directory cannot be read as a file
    EXPECT_EQ(load_progress(), Progress{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
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
    EXPECT_EQ(loaded.slot, UINT64_MAX);
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

}  // namespace
}  // namespace zobra
