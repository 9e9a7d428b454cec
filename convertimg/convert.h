// Conversion of one bitmap file into one JPEG file, written so that the JPEG is never seen half-done.
#pragma once

#include "convertimg/jpeg_writer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace convertimg {

struct ConvertSettings {
    std::string outDir;
    bool replace = false; // replace a JPEG that already exists instead of keeping it
};

enum class Outcome { Converted, Skipped, Failed };

struct FileResult {
    Outcome outcome = Outcome::Failed;
    std::string message; // why the file was skipped or failed; empty when converted
};

// Told what a conversion will hold in memory, from the bitmap's size and headers, before it holds
// anything large, so that the caller can make it wait for room (budget::MemoryBudget): `bytes` for
// this bitmap, `unit` for an ordinary bitmap of its size.
using Admission = std::function<void(std::uint64_t bytes, std::uint64_t unit)>;

// Reads the bitmap at `bitmapPath` and writes `jpegName` in settings.outDir, whole
// (common/whole_file.h): the JPEG is either absent or complete, and no temporary is left on any
// failure. The JPEG takes the bitmap's modification time, unless the bitmap changed while it was
// read. Without settings.replace an existing JPEG is kept and the result is Skipped. Safe to call
// from several threads at once. `admit`, when given, is called once the file is open and before
// it is read.
FileResult convertFile(const std::string& bitmapPath, const std::string& jpegName, const ConvertSettings& settings,
                       const Admission& admit = {});

// Removes the temporaries of conversions in progress when the process receives SIGINT, SIGTERM
// or SIGHUP, then lets the signal end the process as it would have. Called before the process
// starts any other thread: the signals are blocked in every thread but one that waits for them.
void removeTemporariesOnSignals();

} // namespace convertimg
