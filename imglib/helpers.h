// The library's share of the cores: the threads computing in it, and the helper threads it keeps
// for a run of calls.
//
// The library is loaded into programs that already compute on every core they may use (the
// program's folder run reads a photo per core, each inside a library call). So the library counts
// the threads computing in it, the calls in progress and its helpers at work, and starts a helper
// only while that count is below the cores the process may use (budget::usableCores()): a lone
// call, such as the last photo of a run or a single photo, gets a second core; calls that already
// fill every core get none, and no thread ever waits for a core the count has given away. The
// count lives here, in the library's own copy of its state, because every thread that computes on
// images does so inside a library call: the program needs to know only how many calls to make.
//
// Helper threads are kept between calls and leave after a second without work, so a folder run
// starts them once rather than once per photo, and an idle program holds none.
#pragma once

#include <functional>

namespace imglib {

// Counts the calling thread as computing for as long as it lives: each exported call that reads,
// scales or writes holds one.
class Computing {
public:
    Computing();
    ~Computing();
    Computing(const Computing &) = delete;
    Computing &operator=(const Computing &) = delete;
};

struct HelperThread;

// A job running on a helper thread, or none. Waits for the job to end when destroyed.
class Helper {
public:
    using Job = std::function<void()>;  // must not throw

    Helper() = default;
    ~Helper() { wait(); }
    Helper(Helper &&other) noexcept;
    Helper &operator=(Helper &&other) noexcept;
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;

    // Starts `job` on a helper thread if a core is free of the library's threads; otherwise the
    // result holds no job and the caller does the work itself.
    static Helper start(Job job);

    explicit operator bool() const { return thread_ != nullptr; }
    // Returns once the job has returned; at once without a job.
    void wait();

private:
    explicit Helper(HelperThread *thread) : thread_(thread) {}
    HelperThread *thread_ = nullptr;
};

}  // namespace imglib
