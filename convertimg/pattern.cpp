// File patterns: case-insensitive wildcard matching on UTF-8 names and listing of a folder.
#include "convertimg/pattern.h"

#include "common/temporaries.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

namespace convertimg {

namespace {

// Next character of a UTF-8 string as a code point; a byte that does not start a valid sequence
// stands for itself, moved above the Unicode range so it only ever equals the same byte.
char32_t nextChar(std::string_view s, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    const std::size_t extra = lead >= 0xF0 && lead < 0xF5   ? 3
                              : lead >= 0xE0 && lead < 0xF0 ? 2
                              : lead >= 0xC2 && lead < 0xE0 ? 1
                                                            : 0;
    const char32_t invalid = char32_t{0x110000} + lead;
    if (extra == 0 || s.size() - i <= extra) {
        ++i;
        return invalid;
    }
    char32_t cp = lead & (0x3Fu >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return invalid;
        }
        cp = cp << 6 | (c & 0x3Fu);
    }
    i += extra + 1;
    return cp;
}

// Lower case for ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic capitals: the letters
// that file names in our users' languages carry.
char32_t foldCase(char32_t c)
{
    if (c >= U'A' && c <= U'Z')
        return c + 0x20;
    if (c < 0xC0)
        return c;
    if (c <= 0xDE)
        return c == 0xD7 ? c : c + 0x20;
    if (c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131)
        return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177)
        return c | 1;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2)
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    return c;
}

} // namespace

bool matchesMask(std::string_view mask, std::string_view name)
{
    // Greedy matching that, on a mismatch, lets the last '*' swallow one more character: linear
    // in practice and never exponential, whatever the mask.
    std::size_t m = 0, n = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size()) {
            if (mask[m] == '*') {
                starMask = ++m;
                starName = n;
                continue;
            }
            std::size_t nextM = m, nextN = n;
            const char32_t want = nextChar(mask, nextM);
            const char32_t have = nextChar(name, nextN);
            if (want == U'?' || foldCase(want) == foldCase(have)) {
                m = nextM;
                n = nextN;
                continue;
            }
        }
        if (starMask == std::string_view::npos)
            return false;
        nextChar(name, starName);
        m = starMask;
        n = starName;
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

Pattern splitPattern(std::string_view pattern)
{
    const std::size_t slash = pattern.rfind('/');
    if (slash == std::string_view::npos)
        return {".", std::string(pattern)};
    return {std::string(pattern.substr(0, slash == 0 ? 1 : slash)), std::string(pattern.substr(slash + 1))};
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

bool listMatches(const Pattern& pattern, std::vector<std::string>& names, std::string& error)
{
    names.clear();
    DIR* dir = opendir(pattern.folder.c_str());
    if (dir == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) {
                error = std::strerror(errno);
                closedir(dir);
                return false;
            }
            break;
        }
        const std::string_view name = entry->d_name;
        if (name.empty() || common::isProgramFile(name) || !matchesMask(pattern.mask, name))
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

} // namespace convertimg
