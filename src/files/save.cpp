#include "files/save.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "files/log.h"
#include "files/os.h"

namespace zobra {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 4> mode_names{"Solo", "Pair", "DuelSolo", "DuelPair"};
constexpr std::array<std::string_view, 3> difficulty_names{"Easy", "Normal", "Hard"};

// A base folder from the environment counts only when it is an absolute
// path: an empty or relative value is ignored, as the XDG rules say, rather
// than saving into whatever folder the game was started from.
std::optional<fs::path> base_folder(const char* name) {
    std::optional<std::string> value = os::environment(name);
    if (!value || value->empty()) return std::nullopt;
    fs::path folder = os::path_from_utf8(*value);
    if (!folder.is_absolute()) return std::nullopt;
    return folder;
}

// Whole-file UTF-8 check with the usual rules: no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t low = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, low = 0x80, code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, low = 0x800, code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, low = 0x10000, code = lead & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// The reading rules in one pass over the parser's events: known keys at
// most once, required keys present, exact types and ranges, unknown keys
// skipped with whatever they hold, records as objects or as arrays of their
// values in file order.
class ProgressReader final : public nlohmann::json_sax<nlohmann::json> {
  public:
    Progress progress;
    std::string fault;

    bool null() override { return scalar(Scalar(Scalar::Null)); }
    bool boolean(bool value) override {
        Scalar s(Scalar::Bool);
        s.flag = value;
        return scalar(s);
    }
    bool number_integer(number_integer_t value) override {
        // Only negative numbers arrive here; -0 is still zero.
        Scalar s(value == 0 ? Scalar::Unsigned : Scalar::Other);
        return scalar(s);
    }
    bool number_unsigned(number_unsigned_t value) override {
        Scalar s(Scalar::Unsigned);
        s.number = value;
        return scalar(s);
    }
    bool number_float(number_float_t, const string_t&) override {
        return scalar(Scalar(Scalar::Other));
    }
    bool string(string_t& value) override {
        Scalar s(Scalar::String);
        s.text = std::move(value);
        return scalar(s);
    }
    bool binary(binary_t&) override { return fail("binary data in a text file"); }

    bool start_object(std::size_t) override { return open(false); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override {
        Frame& frame = frames_.back();
        if (frame.kind == Frame::Skip) return true;
        if (!frame.keys.insert(name).second) return fail("key \"" + name + "\" appears twice");
        const bool top = frame.kind == Frame::ProgressObject;
        const std::span<const std::string_view> names =
            top ? std::span<const std::string_view>(progress_keys) : profile_keys;
        const std::span<const Field> fields =
            top ? std::span<const Field>(progress_fields) : profile_fields;
        frame.pending = Field::Ignored;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) frame.pending = fields[i];
        return true;
    }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& error) override {
        fault = error.what();
        return false;
    }

  private:
    // What the next value is read as.
    enum class Field : std::uint8_t {
        Solved,
        Best,
        MusicOff,
        Mode,
        Difficulty,
        Slot,
        Name,
        Others,
        AllOpen,
        ProfileSlot,
        ProfileName,
        ProfileSolved,
        ProfileBest,
        Record,
        Profile,
        BestEntry,
        ProfileBestEntry,
        Ignored,
    };

    static constexpr std::array<std::string_view, 9> progress_keys{
        "solved", "best", "music_off", "mode", "difficulty", "slot", "name", "others", "all_open"};
    static constexpr std::array<Field, 9> progress_fields{
        Field::Solved, Field::Best, Field::MusicOff, Field::Mode,   Field::Difficulty,
        Field::Slot,   Field::Name, Field::Others,   Field::AllOpen};
    static constexpr std::array<std::string_view, 4> profile_keys{"slot", "name", "solved", "best"};
    static constexpr std::array<Field, 4> profile_fields{Field::ProfileSlot, Field::ProfileName,
                                                         Field::ProfileSolved, Field::ProfileBest};

    struct Scalar {
        enum Kind { Null, Bool, Unsigned, String, Other };
        explicit Scalar(Kind k) : kind(k) {}
        Kind kind;
        bool flag = false;
        std::uint64_t number = 0;
        std::string text;
    };

    struct Frame {
        enum Kind {
            ProgressObject,
            ProgressArray,
            ProfileObject,
            ProfileArray,
            BestArray,
            ProfileBestArray,
            OthersArray,
            Skip
        };
        explicit Frame(Kind k) : kind(k) {}
        Kind kind;
        std::size_t values = 0;  // values read so far, in arrays
        // Keys seen in an object; a set, so that a save of a hundred
        // thousand keys is checked as fast as it is parsed.
        std::set<std::string, std::less<>> keys;
        Field pending = Field::Ignored;
        std::size_t depth = 1;  // nesting inside a skipped value
    };

    bool fail(std::string message) {
        fault = std::move(message);
        return false;
    }

    // The field the next value belongs to.
    bool next_field(Field& field) {
        if (frames_.empty()) {
            field = Field::Record;
            return true;
        }
        Frame& frame = frames_.back();
        switch (frame.kind) {
            case Frame::ProgressObject:
            case Frame::ProfileObject:
                field = frame.pending;
                return true;
            case Frame::ProgressArray:
                if (frame.values == progress_fields.size())
                    return fail("a save record given as an array holds at most 9 values");
                field = progress_fields[frame.values++];
                return true;
            case Frame::ProfileArray:
                if (frame.values == profile_fields.size())
                    return fail("a player given as an array holds exactly 4 values");
                field = profile_fields[frame.values++];
                return true;
            case Frame::BestArray:
                field = Field::BestEntry;
                return true;
            case Frame::ProfileBestArray:
                field = Field::ProfileBestEntry;
                return true;
            case Frame::OthersArray:
                field = Field::Profile;
                return true;
            case Frame::Skip:
                field = Field::Ignored;
                return true;
        }
        return fail("unexpected value");
    }

    static std::string_view field_name(Field field) {
        switch (field) {
            case Field::Solved:
            case Field::ProfileSolved:
                return "solved";
            case Field::Best:
            case Field::ProfileBest:
                return "best";
            case Field::MusicOff:
                return "music_off";
            case Field::Mode:
                return "mode";
            case Field::Difficulty:
                return "difficulty";
            case Field::Slot:
            case Field::ProfileSlot:
                return "slot";
            case Field::Name:
            case Field::ProfileName:
                return "name";
            case Field::Others:
                return "others";
            case Field::AllOpen:
                return "all_open";
            default:
                return "";
        }
    }

    bool wrong(Field field, std::string_view expected) {
        switch (field) {
            case Field::Record:
                return fail("the save must be an object or an array");
            case Field::Profile:
                return fail("each player in \"others\" must be an object or an array");
            case Field::BestEntry:
            case Field::ProfileBestEntry:
                return fail("each entry of \"best\" must be a whole number from 0 to 4294967295");
            default:
                return fail("\"" + std::string(field_name(field)) + "\" must be " +
                            std::string(expected));
        }
    }

    template <std::size_t N>
    static std::optional<std::uint8_t> index_of(const std::array<std::string_view, N>& names,
                                                std::string_view text) {
        for (std::size_t i = 0; i < N; ++i)
            if (names[i] == text) return static_cast<std::uint8_t>(i);
        return std::nullopt;
    }

    bool scalar(const Scalar& value) {
        Field field{};
        if (!next_field(field)) return false;
        constexpr std::string_view whole = "a whole number from 0 to 18446744073709551615";
        Profile* profile = progress.others.empty() ? nullptr : &progress.others.back();
        switch (field) {
            case Field::Ignored:
                return true;
            case Field::Solved:
            case Field::Slot:
            case Field::ProfileSlot:
            case Field::ProfileSolved: {
                if (value.kind != Scalar::Unsigned) return wrong(field, whole);
                std::uint64_t& target = field == Field::Solved        ? progress.solved
                                        : field == Field::Slot        ? progress.slot
                                        : field == Field::ProfileSlot ? profile->slot
                                                                      : profile->solved;
                target = value.number;
                return true;
            }
            case Field::BestEntry:
            case Field::ProfileBestEntry: {
                if (value.kind != Scalar::Unsigned ||
                    value.number > std::numeric_limits<std::uint32_t>::max())
                    return wrong(field, {});
                std::vector<std::uint32_t>& best =
                    field == Field::BestEntry ? progress.best : profile->best;
                if (best.size() == save_best_entries_max)
                    return fail("\"best\" holds more than " +
                                std::to_string(save_best_entries_max) + " entries");
                best.push_back(static_cast<std::uint32_t>(value.number));
                return true;
            }
            case Field::MusicOff:
            case Field::AllOpen:
                if (value.kind != Scalar::Bool) return wrong(field, "true or false");
                (field == Field::MusicOff ? progress.music_off : progress.all_open) = value.flag;
                return true;
            case Field::Name:
            case Field::ProfileName:
                if (value.kind != Scalar::String) return wrong(field, "a string");
                if (value.text.size() > save_name_bytes_max)
                    return fail("\"name\" is longer than " + std::to_string(save_name_bytes_max) +
                                " bytes");
                (field == Field::Name ? progress.name : profile->name) = value.text;
                return true;
            case Field::Mode: {
                const auto index =
                    value.kind == Scalar::String ? index_of(mode_names, value.text) : std::nullopt;
                if (!index) return wrong(field, "one of Solo, Pair, DuelSolo, DuelPair");
                progress.mode = static_cast<Mode>(*index);
                return true;
            }
            case Field::Difficulty: {
                const auto index = value.kind == Scalar::String
                                       ? index_of(difficulty_names, value.text)
                                       : std::nullopt;
                if (!index) return wrong(field, "one of Easy, Normal, Hard");
                progress.difficulty = static_cast<Difficulty>(*index);
                return true;
            }
            case Field::Best:
            case Field::ProfileBest:
            case Field::Others:
                return wrong(field, "an array");
            case Field::Record:
            case Field::Profile:
                return wrong(field, {});
        }
        return fail("unexpected value");
    }

    bool open(bool array) {
        Field field{};
        if (!next_field(field)) return false;
        if (field == Field::Ignored) {
            if (!frames_.empty() && frames_.back().kind == Frame::Skip)
                ++frames_.back().depth;
            else
                frames_.push_back(Frame(Frame::Skip));
            return true;
        }
        switch (field) {
            case Field::Record:
                frames_.push_back(Frame(array ? Frame::ProgressArray : Frame::ProgressObject));
                return true;
            case Field::Profile:
                if (progress.others.size() == save_others_max)
                    return fail("\"others\" holds more than " + std::to_string(save_others_max) +
                                " players");
                progress.others.emplace_back();
                frames_.push_back(Frame(array ? Frame::ProfileArray : Frame::ProfileObject));
                return true;
            case Field::Best:
            case Field::ProfileBest:
            case Field::Others:
                if (!array) return wrong(field, "an array");
                frames_.push_back(Frame(field == Field::Best          ? Frame::BestArray
                                        : field == Field::ProfileBest ? Frame::ProfileBestArray
                                                                      : Frame::OthersArray));
                return true;
            default:
                return scalar_expected(field);
        }
    }

    // An object or array where a plain value belongs.
    bool scalar_expected(Field field) {
        switch (field) {
            case Field::Solved:
            case Field::Slot:
            case Field::ProfileSlot:
            case Field::ProfileSolved:
                return wrong(field, "a whole number from 0 to 18446744073709551615");
            case Field::MusicOff:
            case Field::AllOpen:
                return wrong(field, "true or false");
            case Field::Name:
            case Field::ProfileName:
                return wrong(field, "a string");
            case Field::Mode:
                return wrong(field, "one of Solo, Pair, DuelSolo, DuelPair");
            case Field::Difficulty:
                return wrong(field, "one of Easy, Normal, Hard");
            default:
                return wrong(field, {});
        }
    }

    bool close() {
        Frame& frame = frames_.back();
        if (frame.kind == Frame::Skip && --frame.depth > 0) return true;
        const auto missing = [&](std::string_view key) { return !frame.keys.contains(key); };
        switch (frame.kind) {
            case Frame::ProgressObject:
                for (std::string_view key : {"solved", "best"})
                    if (missing(key)) return fail("missing key \"" + std::string(key) + "\"");
                break;
            case Frame::ProfileObject:
                for (std::string_view key : profile_keys)
                    if (missing(key))
                        return fail("a player in \"others\" lacks \"" + std::string(key) + "\"");
                break;
            case Frame::ProgressArray:
                if (frame.values < 2)
                    return fail("a save record given as an array needs at least 2 values");
                break;
            case Frame::ProfileArray:
                if (frame.values != profile_keys.size())
                    return fail("a player given as an array holds exactly 4 values");
                break;
            default:
                break;
        }
        frames_.pop_back();
        return true;
    }

    std::vector<Frame> frames_;
};

// Follows `path` while it names a link, so that the save is written where
// the link points and the link stays. Gives the system's error text when the
// links go round in circles or one cannot be read.
std::optional<std::string> follow_links(fs::path& path) {
    constexpr int hops_max = 40;  // as the system itself allows
    for (int hop = 0; hop < hops_max; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) return std::nullopt;
        const fs::path target = fs::read_symlink(path, error);
        if (error) return error.message();
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return std::strerror(ELOOP);
}

// Whether something other than a regular file stands at `path`, and what
// to say about it. Only a regular file may be replaced by a save.
std::optional<std::string> not_a_file(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (!fs::exists(status) || fs::is_regular_file(status)) return std::nullopt;
    return fs::is_directory(status) ? std::strerror(EISDIR) : "not a regular file";
}

// One line on the error stream and the same in the log.
void tell(const std::string& line) {
    report_error(line);
    log_line(line);
}

// The other players as play keeps them: each on its own slot of the eight,
// none on the current player's. The current slot is taken modulo eight
// (which keeps the player that comes next), and a player on a slot beyond
// the eight, on the current one or on one an earlier player took moves to
// the lowest free slot. Nobody is lost, and switching players can never
// gather more others than a save may hold.
void normalise_slots(Progress& progress) {
    progress.slot %= player_slots;
    std::array<bool, player_slots> taken{};
    const auto at = [](std::uint64_t slot) { return static_cast<std::size_t>(slot); };
    taken[at(progress.slot)] = true;
    std::vector<Profile*> homeless;
    for (Profile& other : progress.others) {
        if (other.slot < player_slots && !taken[at(other.slot)])
            taken[at(other.slot)] = true;
        else
            homeless.push_back(&other);
    }
    std::uint64_t free = 0;
    for (Profile* other : homeless) {
        while (taken[at(free)]) ++free;
        other->slot = free;
        taken[at(free)] = true;
    }
}

}  // namespace

std::optional<fs::path> save_path() {
    if (std::optional<std::string> path = os::environment("ZOBRA_SAVE"))
        return os::path_from_utf8(*path);
    std::optional<fs::path> base = base_folder("XDG_DATA_HOME");
    if (!base) base = base_folder("APPDATA");
    if (!base) {
        if (std::optional<fs::path> home = base_folder("HOME")) base = *home / ".local/share";
    }
    if (!base) return std::nullopt;
    return *base / "zobra/save.json";
}

std::string encode_progress(const Progress& progress) {
    using Json = nlohmann::ordered_json;
    Json others = Json::array();
    for (const Profile& profile : progress.others) {
        Json entry;
        entry["slot"] = profile.slot;
        entry["name"] = profile.name;
        entry["solved"] = profile.solved;
        entry["best"] = profile.best;
        others.push_back(std::move(entry));
    }
    Json record;
    record["solved"] = progress.solved;
    record["best"] = progress.best;
    record["music_off"] = progress.music_off;
    record["mode"] = mode_names[static_cast<std::size_t>(progress.mode)];
    record["difficulty"] = difficulty_names[static_cast<std::size_t>(progress.difficulty)];
    record["slot"] = progress.slot;
    record["name"] = progress.name;
    record["others"] = std::move(others);
    record["all_open"] = progress.all_open;
    // Names are valid UTF-8 (typed in as letters and digits, or read from a
    // checked file); replacing bad bytes only guards against a crash.
    return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::variant<Progress, std::string> decode_progress(std::string_view text) {
    if (!valid_utf8(text)) return std::string("not valid UTF-8");
    // The parser would take a NUL byte for the end of the text.
    if (text.find('\0') != std::string_view::npos) return std::string("the file holds a NUL byte");
    ProgressReader reader;
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reader)) {
        if (reader.fault.empty()) reader.fault = "the save is not a valid record";
        return reader.fault;
    }
    normalise_slots(reader.progress);
    return std::move(reader.progress);
}

Progress with_slots_normalised(Progress progress) {
    normalise_slots(progress);
    return progress;
}

fs::path temporary_save_path(const fs::path& path) {
    // A path naming no file (empty, or ending in a separator) stays as it is,
    // so that writing to it fails the way the save itself would.
    if (!path.has_filename()) return path;
    fs::path temporary = path;
    temporary.replace_extension("json.tmp");
    return temporary;
}

fs::path unlocked_temporary_save_path(const fs::path& path, std::uint64_t process,
                                      std::uint64_t attempt) {
    if (!path.has_filename()) return path;
    fs::path temporary = path;
    temporary.replace_extension(std::to_string(process) + "-" + std::to_string(attempt) +
                                ".json.tmp");
    return temporary;
}

fs::path broken_save_path(const fs::path& path, unsigned number) {
    if (!path.has_filename()) return path;
    fs::path broken = path;
    const std::string mark = number < 2 ? ".broken" : ".broken." + std::to_string(number);
    broken.replace_filename(path.stem());
    broken += os::path_from_utf8(mark);
    broken += path.extension();
    return broken;
}

fs::path save_lock_path(const fs::path& path) {
    fs::path lock = path;
    lock += ".lock";
    return lock;
}

SaveStore::SaveStore(std::optional<fs::path> path) : path_(std::move(path)) {}

SaveStore::~SaveStore() = default;

void SaveStore::take_lock() {
    if (lock_ != Lock::NotTaken || !path_) return;
    // The lock sits beside the file the save really is, so that copies
    // reaching it through different links still meet. Where no save can be
    // written there is nothing to lock; saving will say why.
    fs::path target = *path_;
    if (follow_links(target) || !target.has_filename() || not_a_file(target)) return;
    if (target.has_parent_path()) {
        std::error_code error;
        fs::create_directories(target.parent_path(), error);
        if (error) return;
    }
    os::LockAttempt attempt = os::lock_file(save_lock_path(target));
    switch (attempt.state) {
        case os::LockState::Held:
            lock_file_ = std::move(attempt.file);
            lock_ = Lock::Held;
            return;
        case os::LockState::HeldElsewhere:
            lock_ = Lock::HeldElsewhere;
            tell("another copy of the game holds the save " + os::utf8_of(*path_) +
                 ": this copy plays on without saving");
            return;
        case os::LockState::Unavailable:
            // A lock file that is a folder or someone else's, or a file
            // system without locks: copies cannot tell each other apart, so
            // each saves on its own and no save of one can cut into another's.
            lock_ = Lock::Unavailable;
            tell("could not lock the save " + os::utf8_of(*path_) + " (" + attempt.error +
                 "): saving without a lock");
            return;
    }
}

Progress SaveStore::load() {
    if (!path_) return Progress{};
    take_lock();
    const os::ReadResult read = os::read_regular_file(*path_, save_bytes_max);
    std::string fault;
    if (read.missing) return Progress{};
    if (!read.text) {
        fault = read.too_large
                    ? "larger than " + std::to_string(save_bytes_max / 1024 / 1024) + " MiB"
                    : read.error;
    } else {
        std::variant<Progress, std::string> decoded = decode_progress(*read.text);
        if (Progress* progress = std::get_if<Progress>(&decoded)) return std::move(*progress);
        fault = std::get<std::string>(decoded);
    }
    tell("save could not be read (" + fault + "): starting over");
    move_aside_ = true;
    started_over_ = true;
    return Progress{};
}

bool SaveStore::keep_unreadable(const fs::path& target) {
    // The usual name replaces an older kept save; when something that no
    // file can be renamed onto stands there, the next free numbered name.
    std::error_code error;
    for (unsigned number = 1; number <= broken_names_max; ++number) {
        const fs::path broken = broken_save_path(target, number);
        std::error_code ignored;
        if (number > 1 && fs::exists(fs::symlink_status(broken, ignored))) continue;
        error = os::replace_file(target, broken);
        if (!error) {
            tell("kept the save that could not be read: moved " + os::utf8_of(target) + " to " +
                 os::utf8_of(broken));
            return true;
        }
        if (error == std::errc::no_such_file_or_directory) return true;  // gone already
    }
    tell("could not keep the save that could not be read: " + os::utf8_of(target) + ": " +
         error.message() + ": it is written over");
    return false;
}

SaveOutcome SaveStore::save(const Progress& progress) {
    const std::string bytes = encode_progress(progress);
    if (!path_) {
        report_error("could not save: no place to save");
        return SaveOutcome::Failed;
    }
    take_lock();
    if (lock_ == Lock::HeldElsewhere) return SaveOutcome::LeftToOtherCopy;
    std::optional<fs::path> written;  // a temporary file to clean up on failure
    const auto failed = [&](const std::string& error) {
        if (written) {
            std::error_code ignored;
            fs::remove(*written, ignored);
        }
        report_error("could not save: " + os::utf8_of(*path_) + ": " + error);
        return SaveOutcome::Failed;
    };

    fs::path target = *path_;
    if (std::optional<std::string> error = follow_links(target)) return failed(*error);
    if (target.has_parent_path()) {
        std::error_code error;
        fs::create_directories(target.parent_path(), error);
        if (error) return failed(error.message());
    }
    if (std::optional<std::string> error = not_a_file(target)) return failed(*error);

    // Without the lock, every write has a name of its own, so that two
    // copies saving at once each publish a whole record. With it, the one
    // temporary name is this copy's: whatever else stands there (a folder,
    // a pipe, a link left by some accident) is cleared away first.
    const bool unlocked = lock_ == Lock::Unavailable;
    const fs::path temporary =
        unlocked ? unlocked_temporary_save_path(target, os::process_id(), ++attempts_)
                 : temporary_save_path(target);
    if (!unlocked && not_a_file(temporary)) {
        std::error_code error;
        fs::remove_all(temporary, error);
        if (error) return failed(error.message());
    }
    if (std::optional<std::string> error = os::write_synced(temporary, bytes, unlocked))
        return failed(*error);
    written = temporary;

    // The file this run could not read is kept, once, before anything is
    // written over it: whatever it held may still be worth rescuing.
    if (move_aside_) {
        keep_unreadable(target);
        move_aside_ = false;
    }
    if (std::error_code error = os::replace_file(temporary, target)) return failed(error.message());
    os::sync_folder(target.parent_path());
    started_over_ = false;
    return SaveOutcome::Written;
}

}  // namespace zobra
