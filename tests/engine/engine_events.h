// What the queue tests need around an engine component: its ends recorded and waited for with
// a bound, and a watchdog that ends a test that hangs all the same (a deadlock in the engine
// never returns to a bounded wait).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "FFMPEG/component/engine.h"

namespace clipwright::testing {

using Termination = std::tuple<int32_t, bool, bool, std::string>;

// Aborts the process with `what` unless it is destroyed within `seconds`.
class Watchdog {
public:
    Watchdog(std::string what, int seconds)
        : thread_([this, what = std::move(what), seconds] {
              std::unique_lock guard(lock_);
              if (!done_.wait_for(guard, std::chrono::seconds(seconds), [this] { return over_; })) {
                  std::fprintf(stderr, "%s: still running after %d s, taken for a hang\n",
                               what.c_str(), seconds);
                  std::abort();
              }
          }) {}
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        {
            std::lock_guard guard(lock_);
            over_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex lock_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_; // last: starts once the members above exist
};

// Records a component's OnTerminate. `after` runs on the raising thread after each record,
// outside the recorder's lock, so that it may call back into the component.
class EndRecorder {
public:
    explicit EndRecorder(TCustomFFmpegEngine& engine,
                         std::function<void(int32_t index)> after = {}) {
        engine.OnTerminate = [this, after = std::move(after)](int32_t index, bool finished,
                                                              bool exception,
                                                              const std::string& message) {
            {
                std::lock_guard guard(lock_);
                ends_.emplace_back(index, finished, exception, message);
            }
            changed_.notify_all();
            if (after)
                after(index);
        };
    }

    std::vector<Termination> Ends() {
        std::lock_guard guard(lock_);
        return ends_;
    }
    int BatchEnds() {
        std::lock_guard guard(lock_);
        int count = 0;
        for (const Termination& end : ends_)
            count += std::get<0>(end) == -1 ? 1 : 0;
        return count;
    }
    // True once `count` batch ends have been recorded, false after `seconds` without them.
    bool WaitForBatchEnds(int count, int seconds = 60) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(seconds), [&] {
            int seen = 0;
            for (const Termination& end : ends_)
                seen += std::get<0>(end) == -1 ? 1 : 0;
            return seen >= count;
        });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Termination> ends_;
};

// Polls `done` every 5 ms for at most `seconds`; its last answer.
inline bool Eventually(const std::function<bool()>& done, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace clipwright::testing
