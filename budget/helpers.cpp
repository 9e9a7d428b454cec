// The count of the computing threads, and the pool's threads, which wait a second for their next
// job before they leave.
#include "budget/helpers.h"

#include "budget/cores.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace budget {
namespace {

// Threads holding a Computing, and helpers hired to compute.
std::atomic<int> computing{0};

// Takes a core for a helper if one is free; false otherwise.
bool takeFreeCore()
{
    const int cores = usableCores();
    int now = computing.load(std::memory_order_relaxed);
    while (now < cores) {
        if (computing.compare_exchange_weak(now, now + 1, std::memory_order_relaxed))
            return true;
    }
    return false;
}

void giveCoreBack()
{
    computing.fetch_sub(1, std::memory_order_relaxed);
}

constexpr auto kIdleBeforeLeaving = std::chrono::seconds(1);

}  // namespace

// A thread of the pool and the one job it may hold. Guarded by the pool's mutex.
struct HelperThread {
    Helper::Job job;
    bool hired = false;               // held by a Helper, which alone gives it jobs
    bool running = false;             // a job is given and has not returned yet
    bool left = false;                // the thread has ended: no work for a second, or the pool goes
    std::condition_variable changed;  // running or quitting changed; one party waits at a time
    std::thread thread;
};

namespace {

// Every thread of the pool. A thread that left stays listed, to be joined, until no Helper holds it.
class Pool {
public:
    ~Pool()
    {
        std::vector<std::unique_ptr<HelperThread>> members;
        {
            const std::lock_guard lock(mutex_);
            quitting_ = true;
            members = std::move(members_);
        }
        for (auto &member : members) {
            member->changed.notify_all();
            if (member->thread.joinable())
                member->thread.join();
        }
    }

    // A thread hired, running `job` if there is one; null when no thread can be had.
    HelperThread *hire(Helper::Job job)
    {
        std::unique_lock lock(mutex_);
        HelperThread *member = idleMember();
        if (member == nullptr)
            return nullptr;
        member->hired = true;
        if (job) {
            member->job = std::move(job);
            member->running = true;
            lock.unlock();
            member->changed.notify_all();
        }
        return member;
    }

    bool offer(HelperThread &member, Helper::Job &job)
    {
        {
            const std::lock_guard lock(mutex_);
            if (member.running || member.left)
                return false;
            member.job = std::move(job);
            member.running = true;
        }
        member.changed.notify_all();
        return true;
    }

    void wait(HelperThread &member)
    {
        std::unique_lock lock(mutex_);
        member.changed.wait(lock, [&] { return !member.running; });
    }

    void release(HelperThread &member)
    {
        std::unique_lock lock(mutex_);
        member.changed.wait(lock, [&] { return !member.running; });
        member.hired = false;
    }

private:
    // One that is free, those that left joined first; or a new one. With the mutex held.
    HelperThread *idleMember()
    {
        HelperThread *idle = nullptr;
        for (auto it = members_.begin(); it != members_.end();) {
            if ((*it)->left && !(*it)->hired) {
                (*it)->thread.join();  // ended already
                it = members_.erase(it);
                continue;
            }
            if (idle == nullptr && !(*it)->left && !(*it)->hired)
                idle = it->get();
            ++it;
        }
        if (idle != nullptr)
            return idle;
        auto member = std::make_unique<HelperThread>();
        HelperThread *raw = member.get();
        members_.push_back(std::move(member));
        try {
            raw->thread = std::thread([this, raw] { serve(*raw); });
        } catch (...) {
            members_.pop_back();  // a process limit on threads, or no memory for one
            return nullptr;
        }
        return raw;
    }

    void serve(HelperThread &member)
    {
        std::unique_lock lock(mutex_);
        while (member.changed.wait_for(lock, kIdleBeforeLeaving, [&] { return member.running || quitting_; }) &&
               member.running) {
            Helper::Job job = std::move(member.job);
            lock.unlock();
            job();
            job = nullptr;  // what it holds goes before its Helper hears that it returned
            lock.lock();
            member.running = false;
            member.changed.notify_all();
        }
        member.left = true;  // a second without work, or the pool is going
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<HelperThread>> members_;
    bool quitting_ = false;
};

// Made on first use; see Helper().
Pool &pool()
{
    static Pool threads;
    return threads;
}

}  // namespace

Computing::Computing()
{
    computing.fetch_add(1, std::memory_order_relaxed);
}

Computing::~Computing()
{
    giveCoreBack();
}

Helper::Helper()
{
    pool();
}

Helper Helper::hire()
{
    return hireFor(nullptr, true);
}

Helper Helper::start(Job job)
{
    return hireFor(std::move(job), true);
}

Helper Helper::startWaiting(Job job)
{
    return hireFor(std::move(job), false);
}

Helper Helper::hireFor(Job job, bool computes)
{
    Helper helper;
    if (computes && !takeFreeCore())
        return helper;
    helper.computing_ = computes;
    try {
        helper.thread_ = pool().hire(std::move(job));
    } catch (...) {
        // No memory for a thread: the caller does without.
    }
    if (helper.thread_ == nullptr)
        helper.release();  // gives the core back
    return helper;
}

Helper::Helper(Helper &&other) noexcept
    : thread_(std::exchange(other.thread_, nullptr)), computing_(std::exchange(other.computing_, false))
{}

Helper &Helper::operator=(Helper &&other) noexcept
{
    if (this != &other) {
        release();
        thread_ = std::exchange(other.thread_, nullptr);
        computing_ = std::exchange(other.computing_, false);
    }
    return *this;
}

bool Helper::offer(Job job)
{
    return thread_ != nullptr && pool().offer(*thread_, job);
}

void Helper::wait()
{
    if (thread_ != nullptr)
        pool().wait(*thread_);
}

void Helper::release() noexcept
{
    if (thread_ != nullptr)
        pool().release(*std::exchange(thread_, nullptr));
    if (std::exchange(computing_, false))
        giveCoreBack();
}

}  // namespace budget
