// Command line of the converter: ConvertImg [/jpg] [/S] [/R] PATTERN OUTDIR.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace convertimg {

struct Options {
    bool help = false;    // -h or --help: print the usage and do nothing else
    bool replace = false; // /R: replace JPEGs that already exist
    std::string pattern;  // folder and file mask of the bitmaps
    std::string outDir;   // folder that receives the JPEGs
};

// Reads the arguments that follow the program name. Switches may come anywhere, in any letter
// case, written /jpg /S /R or -jpg -s -r; "--" ends the switches. Returns false with a one-line
// `error` for an unknown switch or a missing or extra argument.
bool parseArguments(std::span<const std::string_view> args, Options& options, std::string& error);

// The usage text, in French then English.
std::string_view usageText();

} // namespace convertimg
