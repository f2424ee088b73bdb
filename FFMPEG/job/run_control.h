// What one run of a job takes from the job besides the files it runs: a read-only view of the
// settings (RunSettings) and a narrow control (RunControl) for its log lines, progress, picture
// hooks, pause and stop. The job implements both; the run never sees the job itself, and says
// how it ended by its return value (RunOutcome).
//
// Threads: the run calls both on the job's thread. StopAsked is also set from other threads
// (it is the job's atomic flag); everything else is the job's to read while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/job/job_events.h"
#include "FFMPEG/job/option_state.h"

struct AVCodec;

namespace clipwright {

class VideoHookList;

class RunSettings {
public:
    virtual ~RunSettings() = default;

    virtual const OptionState& Options() const = 0;
    // The scaler flags the job's generic options chose ("sws_flags").
    virtual int64_t ScalerFlags() const = 0;
    // The codec-private options received that `codec` declares, for avcodec_open2.
    virtual DictionaryPtr PrivateOptionsFor(const AVCodec* codec) const = 0;
    // Time ranges, in microseconds of input time, in which the video hooks apply.
    virtual const std::vector<std::pair<int64_t, int64_t>>& HookTimes() const = 0;
    // Microseconds between progress reports, and the length the reports state (-1 unknown).
    virtual int64_t ReportInterval() const = 0;
    virtual int32_t ReportedTotalMs() const = 0;
};

class RunControl {
public:
    virtual ~RunControl() = default;

    virtual void Log(int level, const std::string& text) = 0;
    // Whether log lines go anywhere: texts that cost work to build are built only then.
    virtual bool Logging() const = 0;
    virtual int32_t Verbosity() const = 0;
    virtual bool StopAsked() const = 0;
    // Returns once the job is not paused (or is asked to stop).
    virtual void WaitWhilePaused() = 0;
    // Whether the receiver takes progress reports (else the progress line goes to the log).
    virtual bool WantsProgress() const = 0;
    virtual void Progress(const TJobProgress& progress) = 0;
    virtual bool CallsHook(THookCall hook) const = 0;
    virtual void BeforeHook(int64_t pts, THookAction& action) = 0;
    virtual void CustomHook(THookBitmap& bitmap, int32_t frame_number, int64_t pts, bool& update,
                            bool& stop_hook) = 0;
    // The plug-in hooks, which keep their own state from picture to picture.
    virtual VideoHookList& VideoHooks() = 0;
};

// How a run ended: completed (not stopped), or failed with its message.
struct RunOutcome {
    bool completed = false;
    bool failed = false;
    std::string message;
};

} // namespace clipwright
