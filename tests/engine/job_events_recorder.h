// A receiver of one job's events for tests: each event goes to its function when that is set;
// progress reports are taken only while `progress` is set, as a receiver that wants none.
#pragma once

#include <functional>
#include <string>

#include "FFMPEG/job/custom_ffmpeg.h"

namespace clipwright::testing {

struct JobEventsRecorder final : TJobEvents {
    std::function<void(TCustomFFmpeg&, int, const std::string&)> log;
    std::function<void(TCustomFFmpeg&, const TJobProgress&)> progress;
    std::function<void(TCustomFFmpeg&)> ended;
    std::function<void(TCustomFFmpeg&, THookBitmap&, int32_t, int64_t, bool&, bool&)> custom_hook;

    void JobLog(TCustomFFmpeg& job, int level, const std::string& text) override {
        if (log)
            log(job, level, text);
    }
    bool WantsProgress() const override { return static_cast<bool>(progress); }
    void JobProgress(TCustomFFmpeg& job, const TJobProgress& report) override {
        progress(job, report);
    }
    void JobEnded(TCustomFFmpeg& job) override {
        if (ended)
            ended(job);
    }
    void JobBeforeHook(TCustomFFmpeg&, int64_t, THookAction&) override {}
    void JobCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap, int32_t frame, int64_t pts,
                       bool& update, bool& stop) override {
        if (custom_hook)
            custom_hook(job, bitmap, frame, pts, update, stop);
    }
};

// The recorder a job runner gave the job.
inline JobEventsRecorder& RecorderOf(TCustomFFmpeg& job) {
    return static_cast<JobEventsRecorder&>(*job.Events());
}

// Calls `hook` on every picture of the job's run.
inline void SetCustomHook(TCustomFFmpeg& job, decltype(JobEventsRecorder::custom_hook) hook) {
    RecorderOf(job).custom_hook = std::move(hook);
    job.HookCall = THookCall::CustomHook;
}

} // namespace clipwright::testing
