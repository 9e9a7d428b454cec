// The one pool of threads on which a process runs work beside its own threads: the image
// library's helpers, the converter's workers, the block cache's hand-back (buffer.h).
//
// Threads that compute share the cores the process may use (usableCores()). The threads counted
// as computing are those that hold a Computing (the image library's calls in progress, the
// converter's main thread) and the helpers hired with hire() or start(); a helper is hired only
// while that count is below the usable cores. The image library is loaded into programs that
// already compute on every core they may use (the program's folder run reads a photo per core,
// each inside a library call): a lone call, such as the last photo of a run or a single photo,
// gets a second core; calls that already fill every core get none, and no thread ever waits for a
// core the count has given away. The count lives in each copy of this library (the image
// library's own, the converter's), because every thread that computes there is counted there.
//
// So the pool is bounded by the cores: its threads are the helpers hired (fewer than the usable
// cores), the threads that finished a job within the last second, and the block cache's one job
// that waits rather than computes. A thread of the pool waits a second for its next job before it
// leaves, so that a run of calls starts its threads once rather than once per photo, and an idle
// process holds none. The pool's threads are joined when it goes: when the image library is
// unloaded, or when the program ends. Where no thread can be had (a process limit on threads),
// a helper is empty and the caller does the work on its own thread.
#pragma once

#include <functional>

namespace budget {

// Counts the calling thread as computing for as long as it lives.
class Computing {
public:
    Computing();
    ~Computing();
    Computing(const Computing &) = delete;
    Computing &operator=(const Computing &) = delete;
};

struct HelperThread;

// A thread of the pool hired for one job or a run of jobs, or none. Let go when destroyed, once
// its job has returned.
class Helper {
public:
    using Job = std::function<void()>;  // must not throw

    // No thread. Makes sure the pool exists first, so that whatever holds a helper, even an object
    // with static storage, goes before the pool does.
    Helper();
    ~Helper() { release(); }
    Helper(Helper &&other) noexcept;
    Helper &operator=(Helper &&other) noexcept;
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;

    // A thread counted as computing until it is let go, if a core is free of the threads
    // computing; otherwise no thread, and the caller does the work itself.
    static Helper hire();
    // hire(), running `job`; no thread when none was hired.
    static Helper start(Job job);
    // A thread running `job`, which waits rather than computes and so takes no core; no thread
    // when none can be had.
    static Helper startWaiting(Job job);

    explicit operator bool() const { return thread_ != nullptr; }

    // Gives the thread `job` and returns true when it has returned from the last one; otherwise
    // returns false without taking it (the caller does it), as it does without a thread.
    bool offer(Job job);
    // Returns once the job given has returned; at once without one.
    void wait();

private:
    static Helper hireFor(Job job, bool computes);
    void release() noexcept;

    HelperThread *thread_ = nullptr;
    bool computing_ = false;  // holds a core of the count
};

}  // namespace budget
