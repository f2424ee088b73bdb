// TJobEvents: the one way a job reports while it is built and run — its log lines, progress,
// end and the per-picture hooks. The engine component implements it once for all its jobs; a
// job without a receiver runs silently.
//
// Threads: JobLog is called on the thread that builds the job (option handlers) and on the
// job's thread while it runs; the others only on the job's thread (JobEnded also on the thread
// that ends a job without running it). The receiver outlives every job it is given to.
#pragma once

#include <cstdint>
#include <string>

namespace clipwright {

class TCustomFFmpeg;
struct THookBitmap;

enum THookAction { haContinue, haIgnore, haStop };

// Which of the receiver's hooks a run calls on every decoded picture.
enum class THookCall { None, BeforeHook, CustomHook };

// One progress report of a run.
struct TJobProgress {
    int32_t frame_number = -1; // -1: no video output
    int32_t fps = -1;
    int32_t current_duration_ms = 0;
    float quality = -1.0f;
    float bit_rate = 0.0f; // kbit/s
    int64_t current_size = 0;
    int32_t total_duration_ms = -1;
};

class TJobEvents {
public:
    virtual ~TJobEvents() = default;

    virtual void JobLog(TCustomFFmpeg& job, int level, const std::string& text) = 0;
    // A receiver that takes no progress reports gets the progress line as a log line instead.
    virtual bool WantsProgress() const { return true; }
    virtual void JobProgress(TCustomFFmpeg& job, const TJobProgress& progress) = 0;
    virtual void JobEnded(TCustomFFmpeg& job) = 0;
    // `action` starts as the run's current one; haStop ends the hooks for the rest of the run.
    virtual void JobBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action) = 0;
    // The picture as an RGB bitmap; `update` writes it back, `stop_hook` ends the calls.
    virtual void JobCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap, int32_t frame_number,
                               int64_t pts, bool& update, bool& stop_hook) = 0;
};

} // namespace clipwright
