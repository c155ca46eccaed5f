#include "fileio/workers.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace kelvara {
namespace {

// The threads wait for a new generation of work, do their part and count themselves done. The
// pool is created on first use and never destroyed: its threads are detached and simply end
// with the process, so a run that stops early (an error, exit) never waits for them.
class Pool {
public:
    explicit Pool(std::size_t threads) {
        for (std::size_t t = 0; t < threads; ++t) {
            try {
                std::thread([this, t] { serve(t + 1); }).detach();
                ++threads_;
            } catch (...) {
                break;  // no more threads: the parts that have one are enough
            }
        }
    }

    std::size_t threads() const { return threads_; }

    void run(std::size_t parts, const std::function<void(std::size_t)>& job) {
        // One range at a time: a range of another run on another thread meanwhile is worked on
        // part after part on its own thread (the same result, as the parts are independent).
        bool busy = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy = job_ != nullptr;
            if (!busy) {
                job_ = &job;
                parts_ = parts;
                pending_ = parts - 1;
                ++generation_;
            }
        }
        if (busy) {
            for (std::size_t part = 0; part < parts; ++part) job(part);
            return;
        }
        wake_.notify_all();
        job(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        job_ = nullptr;
    }

private:
    void serve(std::size_t part) {
        std::size_t seen = 0;
        for (;;) {
            const std::function<void(std::size_t)>* job = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return generation_ != seen; });
                seen = generation_;
                if (part < parts_) job = job_;
            }
            if (job == nullptr) continue;
            (*job)(part);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                --pending_;
            }
            done_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(std::size_t)>* job_ = nullptr;
    std::size_t parts_ = 0, pending_ = 0, generation_ = 0, threads_ = 0;
};

std::size_t wantedParts() {
    if (const char* text = std::getenv("KELVARA_THREADS")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n >= 1) return std::min<std::size_t>(static_cast<std::size_t>(n), kMaxParts);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(cores, 1, kMaxParts);
}

// The pool is started by the first range that is worth sharing out: a small run never starts a
// thread.
Pool* pool() {
    static Pool* const shared = new Pool(partCount() - 1);
    return shared;
}

}  // namespace

std::size_t partCount() {
    static const std::size_t parts = wantedParts();
    return parts;
}

void forEachPart(std::size_t count, std::size_t grain, std::size_t minimum,
                 const std::function<void(std::size_t, std::size_t, std::size_t)>& work) {
    grain = std::max<std::size_t>(grain, 1);
    std::size_t parts = std::min(partCount(), count / std::max<std::size_t>(minimum, 1));
    if (parts > 1) parts = std::min(parts, pool()->threads() + 1);
    if (parts <= 1) {
        if (count > 0) work(0, 0, count);
        return;
    }
    // Equal parts, rounded to the grain; the last takes the rest.
    const std::size_t step = (count / parts + grain - 1) / grain * grain;
    const auto bounds = [&](std::size_t part) {
        const std::size_t begin = std::min(count, part * step);
        const std::size_t end = part + 1 == parts ? count : std::min(count, begin + step);
        return std::pair<std::size_t, std::size_t>(begin, end);
    };
    pool()->run(parts, [&](std::size_t part) {
        const auto [begin, end] = bounds(part);
        if (begin < end) work(part, begin, end);
    });
}

}  // namespace kelvara
