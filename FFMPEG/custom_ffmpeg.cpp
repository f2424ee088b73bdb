#include "FFMPEG/custom_ffmpeg.h"

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/c_locale.h"
#include "FFMPEG/engine_log.h"
#include "FFMPEG/transcode.h"

#include <filesystem>

namespace clipwright {

TCustomFFmpeg::TCustomFFmpeg() = default;

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
    for (CodecContextPtr& holder : codec_holders_)
        holder.reset();
    format_holder_.reset();
    scaler_holder_.reset();
    generic_names_.clear();
    generic_holders_.clear();
    private_options_.clear();
    private_format_options_.clear();
    video_hooks_.Release();
    HookRanges.clear();
}

void TCustomFFmpeg::ReleaseFiles(bool failed) {
    for (OutputFile& output : output_files_) {
        AVFormatContext* context = output.context.get();
        if (context->oformat != nullptr && !(context->oformat->flags & AVFMT_NOFILE))
            av().avio_closep(&context->pb);
        // An output that never received a byte is no file worth keeping; neither is one a
        // failed run wrote (a stopped run's output is finished and plays, so it stays). Files
        // this run never wrote to, such as a read-only one it could not open, are left alone.
        std::error_code error;
        if (context->url != nullptr && std::filesystem::is_regular_file(context->url, error) &&
            ((failed && output.regular_file) ||
             std::filesystem::file_size(context->url, error) == 0))
            std::filesystem::remove(context->url, error);
    }
    output_files_.clear();
    input_files_.clear();
}

void TCustomFFmpeg::Terminate() {
    Running = false;
    Terminated = true;
    if (events_ != nullptr)
        events_->JobEnded(*this);
}

void TCustomFFmpeg::RunWrapper() {
    // The whole run, on the worker thread or the caller's: see c_locale.h.
    const CLocaleScope c_locale;
    CompletedNormally = false;
    Transcoder transcoder(*this);
    try {
        transcoder.Run();
    } catch (const std::exception& error) {
        Log(kQuietLevel, error.what());
        ExceptionRaised = true;
        ExceptionMessage = error.what();
    }
    transcoder.CloseCodecs();
    transcoder.CloseStatistics();
    ReleaseFiles(ExceptionRaised);
    Terminate();
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

void TCustomFFmpeg::Execute() {
    if (BeginRun())
        RunWrapper();
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
    for (int type = 0; type < static_cast<int>(codec_holders_.size()); ++type) {
        codec_holders_[type].reset(av().avcodec_alloc_context3(nullptr));
        if (!codec_holders_[type])
            throw FFMpegException("Could not allocate codec options");
        codec_holders_[type]->codec_type = static_cast<AVMediaType>(type);
    }
    format_holder_.reset(av().avformat_alloc_context());
    scaler_holder_.reset(av().sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                             options_.sws_flags, nullptr, nullptr, nullptr));
    if (!format_holder_ || !scaler_holder_)
        throw FFMpegException("Could not allocate format options");
}

AVCodecContext* TCustomFFmpeg::CodecHolder(int media_type) const {
    if (media_type < 0 || media_type >= static_cast<int>(codec_holders_.size()))
        return nullptr;
    return codec_holders_[media_type].get();
}

} // namespace clipwright
