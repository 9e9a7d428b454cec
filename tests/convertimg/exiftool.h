// exiftool, a reader of every kind of metadata apart from ours, as the tests ask it about files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// What exiftool says of JPEG files with `options`: by default their tags as JSON, each with its
// group ("XMP-dc:Creator"), duplicates included, values unconverted; one object per file, in
// their order, each starting with its "SourceFile". Its messages come with it.
inline std::string exiftoolTags(const std::vector<std::filesystem::path>& jpegs,
                                const std::string& options = "-j -a -G1 -n")
{
    std::string command = "exiftool " + options;
    for (const auto& jpeg : jpegs)
        command += " '" + jpeg.string() + "'";
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    std::string out;
    char chunk[4096];
    for (std::size_t n; pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;)
        out.append(chunk, n);
    return out;
}

inline bool exiftoolMissing()
{
    return std::system("exiftool -ver > /dev/null 2>&1") != 0;
}
