#include "FFMPEG/job/custom_ffmpeg.h"

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/job/codec_lookup.h"
#include "FFMPEG/job/file_setup_context.h"
#include "FFMPEG/job/input_setup.h"
#include "FFMPEG/job/output_setup.h"

namespace clipwright {

TCustomFFmpeg::TCustomFFmpeg() : generic_([this] { SetVerbosity(2); }) {}

TCustomFFmpeg::~TCustomFFmpeg() = default;

void TCustomFFmpeg::SetVerbosity(int32_t level) {
    Verbosity_ = level;
    SetLibraryLogLevel(level);
    SetCurrentLogLevel(level);
}

void TCustomFFmpeg::Log(int level, const std::string& text) {
    if (events_ != nullptr)
        events_->JobLog(*this, level, text);
}

void TCustomFFmpeg::ResetOptions() {
    options_ = OptionState{};
    TotalDurationMs = -1;
    generic_.Reset();
    video_hooks_.Release();
    HookRanges.clear();
}

void TCustomFFmpeg::ReleaseFiles(bool failed) {
    RunFiles files = TakeFiles();
    clipwright::ReleaseFiles(files, failed);
}

RunFiles TCustomFFmpeg::TakeFiles() {
    RunFiles files{std::move(input_files_), std::move(output_files_)};
    input_files_.clear();
    output_files_.clear();
    return files;
}

void TCustomFFmpeg::Terminate() {
    Running = false;
    Terminated = true;
    if (events_ != nullptr)
        events_->JobEnded(*this);
}

void TCustomFFmpeg::EndRun(const RunOutcome& outcome) {
    CompletedNormally = outcome.completed;
    if (outcome.failed) {
        ExceptionRaised = true;
        ExceptionMessage = outcome.message;
    }
    Terminate();
}

int64_t TCustomFFmpeg::ScalerFlags() const {
    int64_t flags = options_.sws_flags;
    av().av_opt_get_int(generic_.ScalerHolder(), "sws_flags", 0, &flags);
    return flags;
}

bool TCustomFFmpeg::WantsProgress() const {
    return events_ != nullptr && events_->WantsProgress();
}

void TCustomFFmpeg::Progress(const TJobProgress& progress) {
    if (events_ != nullptr)
        events_->JobProgress(*this, progress);
}

void TCustomFFmpeg::BeforeHook(int64_t pts, THookAction& action) {
    if (events_ != nullptr)
        events_->JobBeforeHook(*this, pts, action);
}

void TCustomFFmpeg::CustomHook(THookBitmap& bitmap, int32_t frame_number, int64_t pts, bool& update,
                               bool& stop_hook) {
    if (events_ != nullptr)
        events_->JobCustomHook(*this, bitmap, frame_number, pts, update, stop_hook);
}

TFFmpeg::~TFFmpeg() {
    StopRequested = true;
    SetPaused(false);
    if (Worker.joinable())
        Worker.join();
}

void TCustomFFmpeg::SetPaused(bool paused) {
    {
        std::lock_guard guard(pause_lock_);
        paused_ = paused;
    }
    pause_changed_.notify_all();
}

void TCustomFFmpeg::WaitWhilePaused() {
    if (!paused_)
        return;
    std::unique_lock guard(pause_lock_);
    pause_changed_.wait(guard, [this] { return !paused_ || StopRequested; });
}

bool TCustomFFmpeg::BeginRun() {
    if (Running || Terminated)
        return false;
    const char* missing = output_files_.empty()  ? "Must supply at least one output file"
                          : input_files_.empty() ? "Must supply at least one input file"
                                                 : nullptr;
    if (missing != nullptr) {
        ReleaseFiles();
        Log(kQuietLevel, missing);
        ExceptionRaised = true;
        ExceptionMessage = missing;
        Terminate();
        return false;
    }
    // A stop asked for before the start stays: the run ends at its first check.
    Running = true;
    CompletedNormally = false;
    Terminated = false;
    return true;
}

void TCustomFFmpeg::Prepare() {
    ReleaseFiles();
    ResetOptions();
    Running = false;
    StopRequested = false;
    CompletedNormally = false;
    Terminated = false;
    ExceptionRaised = false;
    ExceptionMessage.clear();
    generic_.Create(options_.sws_flags);
}

DictionaryPtr TCustomFFmpeg::PrivateOptionsFor(const AVCodec* codec) const {
    return generic_.PrivateOptionsFor(codec);
}

FileSetupContext TCustomFFmpeg::FileSetup() {
    return {.options = options_,
            .generic = generic_,
            .inputs = input_files_,
            .outputs = output_files_,
            .last_error = LastError,
            .total_duration_ms = TotalDurationMs,
            .verbosity = Verbosity(),
            .log = [this](int level, const std::string& text) { Log(level, text); }};
}

bool TCustomFFmpeg::OpenInputFile(const std::string& file_name) {
    return InputSetup(FileSetup()).OpenInputFile(file_name);
}

bool TCustomFFmpeg::OpenOutputFile(const std::string& file_name) {
    return OutputSetup(FileSetup()).OpenOutputFile(file_name);
}

void TCustomFFmpeg::NewStream(int media_type) {
    OutputSetup(FileSetup()).NewStream(media_type);
}

bool TCustomFFmpeg::LookupCodec(const std::optional<std::string>& name, int media_type,
                                bool encoder, int& codec_id, const AVCodec** codec) {
    return clipwright::LookupCodec(name, media_type, encoder, codec_id, LastError, codec);
}

} // namespace clipwright
