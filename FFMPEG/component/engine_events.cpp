// The component's events: hooks, progress, termination and the log lines, queued by the jobs'
// threads and raised under the event lock.
#include "FFMPEG/component/engine.h"

#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/component/engine_internal.h"
#include "FFMPEG/component/engine_log_routing.h"

namespace clipwright {

namespace {

// The component's public level for an engine level.
TLogLevel PublicLevelOf(int engine_level) {
    if (engine_level < kErrorLevel)
        return llQuiet;
    switch (engine_level) {
    case kErrorLevel:
        return llError;
    case kInfoLevel:
        return llInfo;
    case kDebugLevel:
        return llDebug;
    default:
        return llAll;
    }
}

} // namespace

int32_t TCustomFFmpegEngine::IndexOf(const TCustomFFmpeg& job) const {
    std::lock_guard guard(list_lock_);
    return jobs_.IndexOf(&job);
}

void TCustomFFmpegEngine::SetEvents(TLogEvent log, TProgressEvent progress,
                                    TTerminateEvent terminate) {
    // Every read of these three is made under the event lock, so holding it is enough; the
    // replaced handlers go with the arguments, after it is left.
    std::lock_guard events(lock_);
    std::swap(OnLog, log);
    std::swap(OnProgress, progress);
    std::swap(OnTerminate, terminate);
}

void TCustomFFmpegEngine::RaiseTerminate(int32_t index, bool finished, bool exception,
                                         const std::string& message) {
    EventScope events(*this);
    if (!OnTerminate)
        return;
    try {
        OnTerminate(index, finished, exception, message);
    } catch (...) {
        // Dropped: the queue must go on past a handler that failed.
    }
}

void TCustomFFmpegEngine::JobLog(TCustomFFmpeg& job, int level, const std::string& text) {
    DoLog(&job, level, text);
}

void TCustomFFmpegEngine::JobProgress(TCustomFFmpeg& job, const TJobProgress& progress) {
    DoProgress(job, progress.frame_number, progress.fps, progress.current_duration_ms,
               progress.quality, progress.bit_rate, progress.current_size,
               progress.total_duration_ms);
}

void TCustomFFmpegEngine::JobBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action) {
    DoBeforeHook(job, pts, action);
}

void TCustomFFmpegEngine::JobCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap,
                                        int32_t frame_number, int64_t pts, bool& update,
                                        bool& stop_hook) {
    DoCustomHook(job, bitmap, frame_number, pts, update, stop_hook);
}

void TCustomFFmpegEngine::DoBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action) {
    if (!OnBeforeHook)
        return;
    const int32_t index = IndexOf(job);
    if (index >= 0)
        OnBeforeHook(index, pts, action);
}

void TCustomFFmpegEngine::DoCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap,
                                       int32_t frame_number, int64_t pts, bool& update,
                                       bool& stop_hook) {
    if (!OnCustomHook)
        return;
    const int32_t index = IndexOf(job);
    if (index >= 0)
        OnCustomHook(index, bitmap, frame_number, pts, update, stop_hook);
}

void TCustomFFmpegEngine::DoLog(TCustomFFmpeg* job, int level, const std::string& text) {
    uint64_t serial = 0;
    if (job != nullptr) {
        std::lock_guard guard(list_lock_);
        const int index = jobs_.IndexOf(job);
        serial = index >= 0 ? jobs_[index].serial : 0;
    }
    QueueLog(serial, level, text);
}

void TCustomFFmpegEngine::QueueLog(uint64_t serial, int level, const std::string& text) {
    {
        std::lock_guard guard(log_lock_);
        log_queue_.push_back({serial, level, text});
        log_waiting_ = true;
    }
    std::atomic_thread_fence(std::memory_order_seq_cst);
    DeliverLogs();
}

void TCustomFFmpegEngine::DeliverLogs() {
    while (log_waiting_) {
        std::unique_lock events(lock_, std::try_to_lock);
        if (!events.owns_lock())
            return; // the holder raises them when it leaves its event
        ++tls_event_depth;
        for (;;) {
            QueuedLine line;
            {
                std::lock_guard guard(log_lock_);
                if (log_queue_.empty()) {
                    log_waiting_ = false;
                    break;
                }
                line = std::move(log_queue_.front());
                log_queue_.pop_front();
            }
            if (!OnLog)
                continue;
            int32_t index = -1;
            if (line.serial != 0) {
                std::lock_guard guard(list_lock_);
                index = jobs_.IndexOfSerial(line.serial);
            }
            try {
                OnLog(index, PublicLevelOf(line.level), line.text);
            } catch (...) {
                // Dropped, as for OnTerminate.
            }
        }
        --tls_event_depth;
        events.unlock();
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
}

void TCustomFFmpegEngine::DoProgress(TCustomFFmpeg& job, int32_t frame_number, int32_t fps,
                                     int32_t current_duration, float quality, float bit_rate,
                                     int64_t current_size, int32_t total_output_duration) {
    EventScope events(*this);
    if (!OnProgress)
        return;
    const int32_t index = IndexOf(job);
    if (index >= 0) // a removed job's end was raised already
        OnProgress(index, frame_number, fps, current_duration, quality, bit_rate, current_size,
                   total_output_duration);
}

void TCustomFFmpegEngine::DoTerminate(TCustomFFmpeg* job) {
    if (job == nullptr) {
        RaiseTerminate(-1, true, false, "");
        ClearLogList();
        return;
    }
    RaiseTerminate(IndexOf(*job), job->CompletedNormally, job->ExceptionRaised,
                   job->ExceptionMessage);
}

} // namespace clipwright
