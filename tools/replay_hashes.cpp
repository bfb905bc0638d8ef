// Plays replay files headless and prints, for each, the line the golden
// replay list holds for it:
//
//   replay_hashes FILE...
//
// prints "NAME TICKS ENDHASH SECONDS" for every FILE, NAME its file name,
// ENDHASH the state hash after the last tick and SECONDS the state hashes
// after every 20th tick, all as 16 hexadecimal digits, the seconds' run
// together. The web build compiles it for Node (build-web/replay_hashes.js),
// so that the rules compiled for the browser are held against the golden
// hashes the desktop plays to. Exit status 0, or 1 when a file could not be
// read or is no replay this game plays (the reason on the error stream).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "core/replay.h"

namespace {

// "TICKS ENDHASH SECONDS" for the replay.
std::string hash_line(const zobra::Replay& replay) {
    const std::vector<std::uint64_t> hashes = zobra::hash_stream(replay);
    std::string line =
        std::to_string(replay.inputs.size()) + " " + zobra::hash_text(hashes.back()) + " ";
    for (std::size_t i = 0; i + 1 < hashes.size(); ++i) line += zobra::hash_text(hashes[i]);
    return line;
}

bool print_hashes(const char* file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay %s could not be opened\n", file);
        return false;
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    const std::variant<zobra::Replay, std::string> decoded = zobra::decode_replay(bytes);
    if (const auto* error = std::get_if<std::string>(&decoded)) {
        std::fprintf(stderr, "replay %s %s\n", file, error->c_str());
        return false;
    }
    const std::string name = std::filesystem::path(file).filename().string();
    const std::string line = name + " " + hash_line(std::get<zobra::Replay>(decoded)) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: replay_hashes FILE...\n");
        return 2;
    }
    bool all = true;
    for (int i = 1; i < argc; ++i) all = print_hashes(argv[i]) && all;
    std::fflush(stdout);
    return all ? 0 : 1;
}
