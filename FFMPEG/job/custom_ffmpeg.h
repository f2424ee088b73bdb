// TCustomFFmpeg: one complete transcoder instance (a job) with its identity, lifecycle flags,
// error texts, log level, event receiver, option state and generic options (generic_options.h),
// and the files it opens; TFFmpeg adds what the engine component needs to queue it. Built on the
// caller's thread; run on the job's own thread, where the run (run_job.h) takes its files and sees
// it only as its settings and its control.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/binding/video_hook.h"
#include "FFMPEG/job/generic_options.h"
#include "FFMPEG/job/job_events.h"
#include "FFMPEG/job/job_files.h"
#include "FFMPEG/job/option_state.h"
#include "FFMPEG/job/options.h"
#include "FFMPEG/job/run_control.h"

struct AVCodec;

namespace clipwright {

struct FileSetupContext;

class TCustomFFmpeg : public RunSettings, public RunControl {
public:
    TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;
    ~TCustomFFmpeg() override;

    // Lifecycle flags. StopRequested is written by the caller's thread and polled by the
    // job's thread; the others are written by the job's thread.
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> CompletedNormally{false};
    std::atomic<bool> Terminated{false};
    std::atomic<bool> ExceptionRaised{false};
    std::string ExceptionMessage;
    std::string LastError;
    int64_t ProgressInterval = 500000; // microseconds
    int32_t TotalDurationMs = -1;

    // Where the job reports (none: nowhere); set before the job is built and run.
    TJobEvents* Events() const { return events_; }
    void SetEvents(TJobEvents* events) { events_ = events; }
    // Which hook of the receiver the run calls on each picture.
    THookCall HookCall = THookCall::None;
    bool CallsHook(THookCall hook) const override { return events_ != nullptr && HookCall == hook; }

    int32_t Verbosity() const override { return Verbosity_; }
    // Also sets the library's log level and the process-wide copy: the last one set wins.
    void SetVerbosity(int32_t level);

    // To the receiver, when there is one; nothing is logged otherwise.
    void Log(int level, const std::string& text) override;
    // Whether log lines go anywhere: texts that cost work to build are built only then.
    bool Logging() const override { return events_ != nullptr; }

    // Option state, reset at creation and when the job is prepared.
    OptionState& Options() { return options_; }
    const OptionState& Options() const override { return options_; }
    void ResetOptions();
    // Resets everything and creates the generic options' holders; the libraries must be bound.
    void Prepare();

    // One option by name (no leading dash). Throws FFMpegException with the handler's text.
    void Dispatch(const std::string& name, const std::string& value);

    // The generic options (generic_options.h), created by Prepare.
    GenericOptions& Generic() { return generic_; }
    const GenericOptions& Generic() const { return generic_; }
    // The run's codec-private options, from the generic options.
    DictionaryPtr PrivateOptionsFor(const AVCodec* codec) const override;

    // The records' forced formats ("f" for one side only); throw for an unknown name.
    void SetInputFormat(const std::string& name);
    void SetOutputFormat(const std::string& name);

    // Codec lookup (codec_lookup.h); on failure LastError says why.
    bool LookupCodec(const std::optional<std::string>& name, int media_type, bool encoder,
                     int& codec_id, const AVCodec** codec = nullptr);

    // Opens one input with the current settings and appends it (input_setup.h). False:
    // LastError says why. Throws FFMpegException for a stream the job cannot describe (the
    // caller frees the job).
    bool OpenInputFile(const std::string& file_name);
    // Creates one output with its streams and opens its byte stream (output_setup.h). False:
    // LastError says why.
    bool OpenOutputFile(const std::string& file_name);
    // Adds a stream of that type to the last output file; a job without one has none to add to.
    void NewStream(int media_type);

    VideoHookList& VideoHooks() override { return video_hooks_; }

    // Time ranges, in microseconds of input time, in which the video hooks apply.
    std::vector<std::pair<int64_t, int64_t>> HookRanges;

    // The checks and flags of starting: refused when running or terminated; a job without an
    // output or an input ends at once with its message. True when the run is to follow (see
    // run_job.h). A StopRequested set before the start is kept: the run ends at its first check.
    bool BeginRun();
    // The run's files, taken over by the run (the job keeps none).
    RunFiles TakeFiles();
    // Records how the run ended and ends the job.
    void EndRun(const RunOutcome& outcome);

    // The cooperative pause: a paused job waits at its stop-request checks until resumed.
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    void WaitWhilePaused() override;
    // Ends the job: flags, then the receiver's JobEnded.
    void Terminate();

    // What its run reads and calls (run_control.h).
    int64_t ScalerFlags() const override;
    const std::vector<std::pair<int64_t, int64_t>>& HookTimes() const override {
        return HookRanges;
    }
    int64_t ReportInterval() const override { return ProgressInterval; }
    int32_t ReportedTotalMs() const override { return TotalDurationMs; }
    bool StopAsked() const override { return StopRequested; }
    bool WantsProgress() const override;
    void Progress(const TJobProgress& progress) override;
    void BeforeHook(int64_t pts, THookAction& action) override;
    void CustomHook(THookBitmap& bitmap, int32_t frame_number, int64_t pts, bool& update,
                    bool& stop_hook) override;

    std::vector<InputFile>& InputFiles() { return input_files_; }
    std::vector<OutputFile>& OutputFiles() { return output_files_; }
    // Closes every file (outputs first), deleting outputs left empty and, when `failed`, the
    // outputs this run wrote (a half-written file is no result); the settings stay.
    void ReleaseFiles(bool failed = false);

private:
    // What opening a file may touch of the job, for one call.
    FileSetupContext FileSetup();

    OptionState options_;
    TJobEvents* events_ = nullptr;
    std::atomic<int32_t> Verbosity_{1};
    std::atomic<bool> paused_{false};
    std::mutex pause_lock_;
    std::condition_variable pause_changed_;
    GenericOptions generic_;
    VideoHookList video_hooks_;
    std::vector<InputFile> input_files_;
    std::vector<OutputFile> output_files_;
};

// Its component (engine.h) writes Index under its list lock and Worker on the thread that starts
// the job; the job is freed by a thread other than Worker.
class TFFmpeg : public TCustomFFmpeg {
public:
    // Asks the job to stop, resumes it when paused and waits for its thread before freeing.
    ~TFFmpeg() override;

    int32_t Index = -1; // -1 before it is listed and after it is removed
    std::atomic<uint32_t> ThreadID{0};
    std::thread Worker; // the job's worker thread, joined before the job is freed
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
};

} // namespace clipwright
