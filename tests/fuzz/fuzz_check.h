// What the fuzz targets share: a check that stops the run with a message, and file helpers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

// A broken promise of the code under test: report it and abort, so that libFuzzer keeps the
// input and a replay fails.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace fuzzing {

// The bytes of a file in one read: a bitmap of a few megabytes read a character at a time
// costs seconds under the sanitizers.
inline std::vector<std::uint8_t> readAll(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));
    in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(in.gcount() == static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Names of the entries of a folder.
inline std::set<std::string> entries(const std::filesystem::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace fuzzing
