#include "cli/batch_wait.h"

#include <atomic>
#include <chrono>
#include <csignal>

namespace clipwright::cli {

namespace {
std::atomic<int> gInterrupted{0}; // the signal caught, 0 none
extern "C" void OnInterrupt(int signal) {
    gInterrupted = signal;
}
} // namespace

InterruptScope::InterruptScope(bool terminate) : terminate_(terminate) {
    gInterrupted = 0;
    std::signal(SIGINT, OnInterrupt);
    if (terminate_)
        std::signal(SIGTERM, OnInterrupt);
}

InterruptScope::~InterruptScope() {
    std::signal(SIGINT, SIG_DFL);
    if (terminate_)
        std::signal(SIGTERM, SIG_DFL);
}

bool InterruptScope::Interrupted() {
    return gInterrupted != 0;
}

int InterruptScope::ExitStatus() {
    return 128 + gInterrupted;
}

void WaitForBatch(TFFmpegEngine& engine, std::unique_lock<std::mutex>& guard,
                  std::condition_variable& batch_ended, const bool& ended) {
    bool stop_sent = false;
    while (!ended) {
        batch_ended.wait_for(guard, std::chrono::milliseconds(100));
        if (gInterrupted != 0 && !stop_sent) {
            stop_sent = true;
            guard.unlock();
            engine.Stop();
            guard.lock();
        }
    }
}

} // namespace clipwright::cli
