// ConvertImg: converts the bitmaps matching a pattern into JPEGs, on every core.
#include "budget/cores.h"
#include "budget/helpers.h"
#include "budget/memory_budget.h"
#include "convertimg/convert.h"
#include "convertimg/options.h"
#include "convertimg/pattern.h"

#include "common/names.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr int exitConverted = 0; // every file converted or kept
constexpr int exitFailed = 1;    // at least one file failed
constexpr int exitUsage = 2;

std::mutex reportMutex;

// One line per message, even for a file name holding a line break or another control character.
void report(std::string line)
{
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    const std::lock_guard lock(reportMutex);
    std::fputs(("ConvertImg: " + line + "\n").c_str(), stderr);
}

using namespace convertimg;

// One bitmap to convert, and the name of its JPEG.
struct Job {
    std::string bitmapPath;
    std::string jpegName;
};

// The jobs for the bitmaps `names` of the pattern's folder.  Two bitmaps that differ only by
// their extension (a.bmp, a.BMP) would write the same JPEG: the first in name order gets it,
// the other is reported, and `failed` is set.
std::vector<Job> jobsFor(const Pattern& pattern, const std::vector<std::string>& names, bool& failed)
{
    std::vector<Job> jobs;
    std::map<std::string, std::string> owners;
    for (const std::string& name : names) {
        const std::string jpegName = common::jpegNameFor(name);
        const auto [owner, fresh] = owners.emplace(jpegName, name);
        if (!fresh) {
            report(joinPath(pattern.folder, name) + ": not converted, " + jpegName + " is already made from " +
                   owner->second);
            failed = true;
            continue;
        }
        jobs.push_back({joinPath(pattern.folder, name), jpegName});
    }
    return jobs;
}

// The largest bitmaps first: the threads then end together instead of one converting the
// last large photo alone while the others have nothing left.
void largestFirst(std::vector<Job>& jobs)
{
    std::vector<std::pair<off_t, std::size_t>> bySize; // file size, index in jobs
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        struct stat st {};
        bySize.emplace_back(stat(jobs[i].bitmapPath.c_str(), &st) == 0 ? st.st_size : 0, i);
    }
    std::stable_sort(bySize.begin(), bySize.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<Job> ordered;
    for (const auto& [size, i] : bySize)
        ordered.push_back(std::move(jobs[i]));
    jobs = std::move(ordered);
}

// Converts every job on a thread per core the process may use (this one and helpers of the pool,
// budget/helpers.h), reporting each file that fails or is skipped. The bitmaps converted at once
// fit a memory budget of (threads + 1) ordinary bitmaps of the largest size met and 32 MiB; one
// that needs more is converted alone. True when at least one failed.
bool convertAll(const std::vector<Job>& jobs, const ConvertSettings& settings)
{
    const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(budget::usableCores()), jobs.size());
    budget::MemoryBudget memory(static_cast<int>(workers) + 1);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> anyFailed{false};
    const auto worker = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            FileResult result;
            // The budget is never stopped here: admit() returns once there is room.
            const Admission admit = [&memory, i](std::uint64_t bytes, std::uint64_t unit) {
                memory.admit(i, bytes, unit);
            };
            try {
                result = convertFile(jobs[i].bitmapPath, jobs[i].jpegName, settings, admit);
            } catch (const std::exception& e) { // out of memory building a name or a message
                result = {Outcome::Failed, e.what()};
            }
            memory.finish(i);
            if (result.outcome == Outcome::Failed) {
                anyFailed = true;
                report(jobs[i].bitmapPath + ": " + result.message);
            } else if (result.outcome == Outcome::Skipped) {
                report(jobs[i].bitmapPath + ": skipped, " + result.message);
            }
        }
    };
    const budget::Computing mainThread; // the main thread is a worker too
    std::vector<budget::Helper> helpers;
    helpers.reserve(workers);
    while (helpers.size() + 1 < workers) {
        budget::Helper helper = budget::Helper::start(worker);
        if (!helper)
            break; // fewer threads than cores (a process or memory limit): the ones started share the work
        helpers.push_back(std::move(helper));
    }
    worker();
    for (budget::Helper& helper : helpers)
        helper.wait();
    return anyFailed;
}

int run(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    Options options;
    if (std::string error; !parseArguments(args, options, error)) {
        report(error + " (ConvertImg -h for help)");
        return exitUsage;
    }
    if (options.help) {
        std::fputs(usageText().data(), stdout);
        return exitConverted;
    }

    const Pattern pattern = splitPattern(options.pattern);
    std::vector<std::string> names;
    if (std::string error; !listMatches(pattern, names, error)) {
        report("cannot list " + pattern.folder + ": " + error);
        return exitFailed;
    }
    bool failed = false;
    std::vector<Job> jobs = jobsFor(pattern, names, failed);
    largestFirst(jobs);

    ConvertSettings settings;
    settings.outDir = options.outDir;
    settings.replace = options.replace;
    removeTemporariesOnSignals();
    const bool anyFailed = convertAll(jobs, settings);
    return failed || anyFailed ? exitFailed : exitConverted;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        report(std::string("stopped: ") + e.what());
        return exitFailed;
    }
}
