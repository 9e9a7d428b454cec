// A helper thread that finishes one band of decoded rows while the decoder reads the next.
#pragma once

#include "imglib/helpers.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace imglib {

// Runs work(slot, firstRow, rows) for one band at a time on a helper thread of the library, when
// one is to be had (helpers.h).  The work must not throw.
class BandWorker {
public:
    using Work = std::function<void(int slot, int firstRow, int rows)>;

    explicit BandWorker(Work work) : work_(std::move(work))
    {
        helper_ = Helper::start([this] { loop(); });
        // Without a helper, offer() turns every band down.
    }

    // Finishes the band in hand, then lets the helper go.
    ~BandWorker()
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        helper_.wait();
    }

    BandWorker(const BandWorker &) = delete;
    BandWorker &operator=(const BandWorker &) = delete;

    // Hands the band over if the helper is free and returns true; otherwise returns false and
    // the caller does the work itself, so neither thread waits for the other.
    bool offer(int slot, int firstRow, int rows)
    {
        std::unique_lock lock(mutex_);
        if (busy_ || !helper_)
            return false;
        job_ = {slot, firstRow, rows};
        busy_ = true;
        lock.unlock();
        wake_.notify_one();
        return true;
    }

    // Waits until every band handed over is finished.
    void wait()
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return !busy_; });
    }

private:
    struct Job {
        int slot = 0, firstRow = 0, rows = 0;
    };

    void loop()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return busy_ || quit_; });
            if (busy_) {
                const Job job = job_;
                lock.unlock();
                work_(job.slot, job.firstRow, job.rows);
                lock.lock();
                busy_ = false;
                done_.notify_all();
            } else {
                return;
            }
        }
    }

    Work work_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    Job job_;
    bool busy_ = false;
    bool quit_ = false;
    Helper helper_;  // last: started once everything it uses exists
};

}  // namespace imglib
