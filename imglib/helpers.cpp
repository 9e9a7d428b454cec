// The count of the library's computing threads, and helper threads that wait a second for their
// next job before they leave.
#include "imglib/helpers.h"

#include "budget/cores.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace imglib {
namespace {

// Calls in progress and helpers at work.
std::atomic<int> computing{0};

// Takes a core for a helper if one is free; false otherwise.
bool takeFreeCore()
{
    const int cores = budget::usableCores();
    int now = computing.load(std::memory_order_relaxed);
    while (now < cores) {
        if (computing.compare_exchange_weak(now, now + 1, std::memory_order_relaxed))
            return true;
    }
    return false;
}

constexpr auto kIdleBeforeLeaving = std::chrono::seconds(1);

}  // namespace

// A helper thread and the one job it may hold. Guarded by the crew's mutex.
struct HelperThread {
    Helper::Job job;
    bool taken = false;    // handed to a Helper, until that one has waited
    bool running = false;  // the job is given and has not returned yet
    bool left = false;     // the thread has ended, for want of work
    std::condition_variable wake;
    std::condition_variable done;
    std::thread thread;
};

namespace {

// Every helper thread of the library. Its threads are joined when the library is unloaded (or
// the program ends); no job is running then, as every Helper waits for its own.
class Crew {
public:
    ~Crew()
    {
        std::vector<std::unique_ptr<HelperThread>> members;
        {
            const std::lock_guard lock(mutex_);
            quitting_ = true;
            members = std::move(members_);
        }
        for (auto &member : members) {
            member->wake.notify_all();
            if (member->thread.joinable())
                member->thread.join();
        }
    }

    // A member holding `job`, running; null when no thread can be had.
    HelperThread *hire(Helper::Job job)
    {
        std::unique_lock lock(mutex_);
        HelperThread *member = idleMember();
        if (member == nullptr)
            return nullptr;
        member->job = std::move(job);
        member->taken = true;
        member->running = true;
        lock.unlock();
        member->wake.notify_one();
        return member;
    }

    void wait(HelperThread &member)
    {
        std::unique_lock lock(mutex_);
        member.done.wait(lock, [&] { return !member.running; });
        member.taken = false;
    }

private:
    // One that is free, the threads that left joined first; or a new one. With the mutex held.
    HelperThread *idleMember()
    {
        for (auto it = members_.begin(); it != members_.end();) {
            if ((*it)->left) {
                (*it)->thread.join();  // ended already
                it = members_.erase(it);
            } else if (!(*it)->taken) {
                return it->get();
            } else {
                ++it;
            }
        }
        auto member = std::make_unique<HelperThread>();
        HelperThread *raw = member.get();
        members_.push_back(std::move(member));
        try {
            raw->thread = std::thread([this, raw] { serve(*raw); });
        } catch (const std::system_error &) {
            members_.pop_back();
            return nullptr;
        }
        return raw;
    }

    void serve(HelperThread &member)
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            member.wake.wait_for(lock, kIdleBeforeLeaving, [&] { return member.running || quitting_; });
            if (member.running) {
                Helper::Job job = std::move(member.job);
                lock.unlock();
                job();
                job = nullptr;
                computing.fetch_sub(1, std::memory_order_relaxed);
                lock.lock();
                member.running = false;
                member.done.notify_all();
            } else {
                member.left = true;  // a second without work, or the library is going
                return;
            }
        }
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<HelperThread>> members_;
    bool quitting_ = false;
};

Crew crew;

}  // namespace

Computing::Computing()
{
    computing.fetch_add(1, std::memory_order_relaxed);
}

Computing::~Computing()
{
    computing.fetch_sub(1, std::memory_order_relaxed);
}

Helper Helper::start(Job job)
{
    if (!takeFreeCore())
        return Helper();
    HelperThread *thread = nullptr;
    try {
        thread = crew.hire(std::move(job));
    } catch (...) {
        // No memory for a thread: the caller does the work.
    }
    if (thread == nullptr)
        computing.fetch_sub(1, std::memory_order_relaxed);
    return Helper(thread);
}

Helper::Helper(Helper &&other) noexcept : thread_(std::exchange(other.thread_, nullptr)) {}

Helper &Helper::operator=(Helper &&other) noexcept
{
    if (this != &other) {
        wait();
        thread_ = std::exchange(other.thread_, nullptr);
    }
    return *this;
}

void Helper::wait()
{
    if (thread_ != nullptr)
        crew.wait(*std::exchange(thread_, nullptr));
}

}  // namespace imglib
