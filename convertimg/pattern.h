// File patterns: "folder/*.bmp" split into its folder and its name mask, and expanded to files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace convertimg {

// True when `name` matches `mask`, where '*' stands for any run of characters (none included) and
// '?' for exactly one. Letter case is ignored for ASCII and the accented Latin letters; both
// strings are taken as UTF-8, so '?' matches one character even when it takes several bytes.
bool matchesMask(std::string_view mask, std::string_view name);

struct Pattern {
    std::string folder; // "." when the pattern names no folder
    std::string mask;
};

// Splits at the last '/': "/a/b/*.bmp" gives "/a/b" and "*.bmp", "/*.bmp" gives "/" and "*.bmp".
Pattern splitPattern(std::string_view pattern);

// Names (not paths) of the regular files of pattern.folder that match pattern.mask, sorted, those
// whose name starts with a dot included, but for the programs' own (common::isProgramFile).
// Symbolic links count as the file they lead to. On failure to list the folder, returns
// false and sets `error` (the system's reason).
bool listMatches(const Pattern& pattern, std::vector<std::string>& names, std::string& error);

// Joins a folder and a name with one '/' between them.
std::string joinPath(std::string_view folder, std::string_view name);

} // namespace convertimg
