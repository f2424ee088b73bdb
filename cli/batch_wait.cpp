#include "cli/batch_wait.h"

#include <atomic>
#include <chrono>
#include <csignal>

namespace clipwright::cli {

namespace {
std::atomic<bool> gInterrupted{false};
extern "C" void OnInterrupt(int) {
    gInterrupted = true;
}
} // namespace

InterruptScope::InterruptScope() {
    gInterrupted = false;
    std::signal(SIGINT, OnInterrupt);
}

InterruptScope::~InterruptScope() {
    std::signal(SIGINT, SIG_DFL);
}

bool InterruptScope::Interrupted() {
    return gInterrupted;
}

void WaitForBatch(TFFmpegEngine& engine, std::unique_lock<std::mutex>& guard,
                  std::condition_variable& batch_ended, const bool& ended) {
    bool stop_sent = false;
    while (!ended) {
        batch_ended.wait_for(guard, std::chrono::milliseconds(100));
        if (gInterrupted && !stop_sent) {
            stop_sent = true;
            guard.unlock();
            engine.Stop();
            guard.lock();
        }
    }
}

} // namespace clipwright::cli
