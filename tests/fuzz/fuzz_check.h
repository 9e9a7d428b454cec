// What the fuzz targets share: a check that stops the run with a message, and a private folder.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

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

// Names of the entries of a folder.
inline std::set<std::string> entries(const std::filesystem::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace fuzzing
