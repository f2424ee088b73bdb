// One run of a job: the stream tables built from the files it takes over, the main loop over
// input packets, the flush, the trailers and the progress report. Runs on the job's thread. The
// run sees the job only as its settings and its control (run_control.h), owns the files and
// their codec contexts, and says how it ended by its outcome. The Transcoder keeps the loop; each
// output stream's record holds the stage that serves it (video, audio or subtitle encoding, or
// stream copy, output_stages.h), made and set up once with the run; the Transcoder lends the
// stages what they share through its StageContext.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/job/job_files.h"
#include "FFMPEG/job/run_control.h"
#include "FFMPEG/run/output_stages.h"
#include "FFMPEG/run/picture_hooks.h"

struct AVCodecContext;
struct AVFilterContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct AVSubtitle;

namespace clipwright {

struct TInputFileState {
    bool EofReached = false;
    int32_t FirstStream = 0; // index of the file's stream 0 in the input stream table
    int32_t StreamCount = 0; // streams when the run started; later ones are ignored
    // The file's timestamp offset (microseconds): the job's, moved by the discontinuities the
    // run finds.
    int64_t TsOffset = 0;
};

struct TInputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    AVStream* Stream = nullptr;         // borrowed from the demuxer
    CodecContextPtr* Decoder = nullptr; // the job's decoder context for this stream
    bool Discard = true;                // until an output stream takes it as its source
    bool DecodingNeeded = false;
    bool RateEmu = false;
    int64_t RateEmuStart = 0;    // wall clock, microseconds
    int64_t NextPts = INT64_MIN; // microseconds; none until known
    int64_t FrameDuration = 0;   // microseconds of one frame from the stream's rate; 0 unknown
    // Video: when the current picture is shown and when it ends (microseconds), the clock the
    // output frame rate follows; none before the first picture.
    int64_t ShownPts = INT64_MIN;
    int64_t ShownEnd = INT64_MIN;
    int64_t Pts = 0; // microseconds
    // No audio drift correction made yet: until one is, the audio stages drop or pad any
    // drift, not only one past the threshold. The loop clears it when a stage reports one.
    bool IsStart = true;
    bool ClockStamped = false; // Pts came from the last decoded frame's own timestamp
    bool DecoderOpen = false;
    ParserPtr Parser; // cuts packets that hold several frames, for decoders that need it
    // Decoded audio to interleaved 16-bit at the decoder's rate and channels.
    SwrPtr ToS16;
    int ToS16Format = -1;
    int ToS16Channels = 0;
    // Clockwise degrees (90, 180, 270) its pictures are turned by for an output that cannot
    // state the turn for display; 0 none.
    int Turn = 0;
    // Deinterlacing and turning filter, built at the first picture.
    FilterGraphPtr Deinterlacer;
    AVFilterContext* DeinterlaceSource = nullptr;
    AVFilterContext* DeinterlaceSink = nullptr;
    bool DeinterlaceFailed = false;
};

// One visitor of several lambdas, one per stage kind (ForEachStage).
template <typename... Ts> struct StageVisitor : Ts... { using Ts::operator()...; };
template <typename... Ts> StageVisitor(Ts...) -> StageVisitor<Ts...>;

// One output stream of the run: what the loop needs of every stream, and the stage that serves
// it.
struct TOutputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SourceIndex = 0;
    AVStream* Stream = nullptr;         // borrowed from the muxer
    OutputStreamSetup* Setup = nullptr; // the job's encoder context and codec
    bool EncodingNeeded = false;
    TInputStreamState* SyncInput = nullptr;
    int64_t MuxedEnd = 0; // end of the last packet written, stream time base
    // AVI plays its sound from the file's zero, the audio encoder's priming first, and shows
    // its pictures by their count: the priming moves every encoded picture and sample of the
    // file this much later (seconds), in step and rounded once to the frames; and sound that
    // starts after the pictures (seconds on the run's clock; negative: not such a file) gets
    // silence from there. Copied pictures instead count from their first decoded one.
    double PrimingShift = 0;
    std::optional<double> PicturesStart;
    int64_t PacketsWritten = 0;
    bool EncoderOpen = false;
    // The stage serving the stream, made when its parameters are set; it owns the stream's
    // encoding state and its clock.
    OutputStage Stage;

    VideoEncodeStage* Video() { return std::get_if<VideoEncodeStage>(&Stage); }
    const VideoEncodeStage* Video() const { return std::get_if<VideoEncodeStage>(&Stage); }
    AudioEncodeStage* Audio() { return std::get_if<AudioEncodeStage>(&Stage); }
    SubtitleEncodeStage* Subtitle() { return std::get_if<SubtitleEncodeStage>(&Stage); }
    StreamCopyStage* Copy() { return std::get_if<StreamCopyStage>(&Stage); }
    // How far the stream has got, as its stage keeps it (read-only here); a stream whose
    // stage is not made yet is at its start.
    const StreamClock& Clock() const {
        static constexpr StreamClock kAtStart{};
        return std::visit(
            StageVisitor{[](const std::monostate&) -> const StreamClock& { return kAtStart; },
                         [](const auto& stage) -> const StreamClock& { return stage.Clock(); }},
            Stage);
    }
};

// "size=    1024kB time=8.00 bitrate=1048.6kbits/s" for 1048576 bytes at 8 s; `bit_rate`
// receives the kbit/s.
std::string ProgressSizeText(int64_t size, double seconds, double& bit_rate);

// The run's progress, on the job's thread: at most every interval, and once at the end, the
// first output's size, the least output position, the video figures and the counters go to the
// job's receiver as a report (or, to a receiver that takes none, into its log as a status line);
// the end adds the summary of bytes per kind.
class ProgressReport {
public:
    ProgressReport(const RunSettings& settings, RunControl& control, const RunFiles& files,
                   RunCounters& counters)
        : settings_(settings), control_(control), files_(files), counters_(counters) {}

    // The run's clock starts: the first report is due one interval later.
    void Start(int64_t now) { last_report_ = now; }
    // A report when the job's interval has passed since the last one.
    void Tick(int64_t now, const std::vector<TOutputStreamState>& outputs);
    void Final(const std::vector<TOutputStreamState>& outputs) { Report(outputs, true); }

private:
    struct Figures {
        int32_t frame_number = -1;
        int32_t fps = -1;
        float quality = -1.0f;
    };
    void Report(const std::vector<TOutputStreamState>& outputs, bool final_report);
    // The first output's size, the video figures (false before the first picture: nothing to
    // report) and the line or report that carries them.
    int64_t OutputSize() const;
    bool AppendVideoFigures(std::string& line, const TOutputStreamState& ost, float q,
                            bool final_report, Figures& figures);
    void Deliver(std::string& line, int64_t size, double time, const Figures& figures,
                 bool final_report);
    const OptionState& Options() const { return settings_.Options(); }

    const RunSettings& settings_;
    RunControl& control_;
    const RunFiles& files_;
    RunCounters& counters_; // the run's; the "qp_hist" histogram is counted here
    int64_t last_report_ = 0;
};

// Runs the files of a job to the end: set-up, loop, flush, trailers, the final report; then
// closes every codec and releases the files (deleting what a failed run wrote). Never throws: a
// failure is logged and becomes the outcome's message.
RunOutcome RunFilesOf(const RunSettings& settings, RunControl& control, RunFiles files);

// The run of one job, on the job's thread.
class Transcoder {
public:
    Transcoder(const RunSettings& settings, RunControl& control, RunFiles& files);
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;
    ~Transcoder();

    // The whole run: set-up, main loop, flush, trailers and the final report; true when it
    // was not stopped. Throws FFMpegException; the caller closes what is still open with
    // CloseCodecs().
    bool Run();
    // Closes every encoder and decoder the run still has open.
    void CloseCodecs();
    // Flushes and closes the statistics files, so that a job queued after this one (a second
    // pass) reads them whole once this job has ended.
    void CloseStatistics();

private:
    // The job's settings, read-only to the run: what the run learns it keeps itself.
    const OptionState& Options() const { return settings_.Options(); }
    std::vector<InputFile>& InputFiles() { return run_files_.inputs; }
    std::vector<OutputFile>& OutputFiles() { return run_files_.outputs; }

    // Set-up, in order.
    void BuildInputTables();
    void CheckOutputs();
    void CheckMaps();
    void BuildOutputTables();
    void ChooseSources();
    void SetStreamParameters();
    void SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist);
    // Makes the stream's encoding stage and sets it up.
    void SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist);
    void ReportMapping();
    void OpenEncoders();
    // Where the container plays the sound from the file's zero: PrimingShift, PicturesStart.
    void PlaceSoundFromZero();
    void OpenDecoders();
    void CopyMetadata();
    void WriteHeaders();

    // The loop.
    // True when it was not stopped.
    bool MainLoop();
    // The input file to read next, -1 to end; `opts_min` the least output position, seconds.
    int ChooseInputFile(double& opts_min);
    void AdjustTimestamps(TInputStreamState& ist, AVPacket* packet);
    int ProcessPacket(TInputStreamState& ist, AVPacket* packet);
    // Sends one packet (none: the flush) to the stream's decoder and hands on every frame.
    int Decode(TInputStreamState& ist, const AVPacket* packet);
    int DecodeParsed(TInputStreamState& ist, const AVPacket* packet);
    void DispatchFrame(TInputStreamState& ist, AVFrame* frame);
    // The decoded block as interleaved 16-bit in the audio buffer; `size` its bytes.
    const uint8_t* ToS16(TInputStreamState& ist, AVFrame* frame, int& size);
    void ApplyVolume(uint8_t* samples, int size) const;
    // Deinterlacing (when asked), then hooks, then every encoded output fed by the stream.
    // `picture` none drains the deinterlacer at the end of input.
    void DispatchVideo(TInputStreamState& ist, AVFrame* picture);
    void DispatchPicture(TInputStreamState& ist, AVFrame* picture);
    void OpenDeinterlacer(TInputStreamState& ist, const AVFrame* picture);
    // Encoded pictures of a turned source are turned where the output cannot state the turn.
    void TurnPictures();
    // `pts` and `duration` are the subtitle packet's, in the input stream's time base.
    void DispatchSubtitle(TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts,
                          int64_t duration);
    void RateEmulate(TInputStreamState& ist);
    void FlushEncoders(TInputStreamState& ist);
    void WriteTrailers();
    // Fails the run when an audio or video output stream received nothing.
    void CheckEveryStreamWritten() const;
    // Visits the stage of every output stream that `ist` feeds (every stream when none), in
    // the streams' order; `visit` takes each stage kind it serves and `auto&` for the rest.
    template <typename Visitor> void ForEachStage(const TInputStreamState* ist, Visitor&& visit) {
        for (TOutputStreamState& ost : outputs_) {
            if (ist == nullptr || &inputs_[ost.SourceIndex] == ist)
                std::visit(visit, ost.Stage);
        }
    }

    const RunSettings& settings_;
    RunControl& control_;
    RunFiles& run_files_;
    // What the stages share; declared before the stream tables, whose stages refer to it.
    StageContext context_;
    RunCounters& counters_ = context_.Counters; // the run's counters, shared with the stages
    std::vector<TInputFileState> files_;
    std::vector<TInputStreamState> inputs_;
    // Complete before any stage is made, and never resized after: stages refer to their record.
    std::vector<TOutputStreamState> outputs_;
    ProgressReport progress_;
    // Reused for every packet and frame of the run.
    PacketPtr read_packet_;
    PacketPtr parsed_packet_; // a view of one frame the parser cut from a packet
    FramePtr decoded_;
    FramePtr deinterlaced_;
    PictureHooks hooks_;
    std::vector<uint8_t> audio_buffer_; // decoded audio as interleaved signed 16-bit
};

} // namespace clipwright
