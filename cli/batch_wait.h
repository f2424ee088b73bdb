// Waiting for the engine's batch on the command line: Ctrl-C only raises a flag, and the main
// thread stops the engine, which finishes the outputs it is writing.
#pragma once

#include <condition_variable>
#include <mutex>

#include "FFMPEG/component/engine.h"

namespace clipwright::cli {

// Catches Ctrl-C, and with `terminate` also SIGTERM, while it lives; the default actions come
// back when it ends.
class InterruptScope {
public:
    explicit InterruptScope(bool terminate = false);
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    static bool Interrupted();
    // The exit status after the signal caught: 128 + its number.
    static int ExitStatus();

private:
    bool terminate_;
};

// Waits, holding `guard` on the lock that guards `ended`, until the batch end event sets it;
// a Ctrl-C meanwhile stops the engine once (the lock is released for the call).
void WaitForBatch(TFFmpegEngine& engine, std::unique_lock<std::mutex>& guard,
                  std::condition_variable& batch_ended, const bool& ended);

} // namespace clipwright::cli
