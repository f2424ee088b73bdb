// One run of a job: the stream tables built from its open files, the main loop over input
// packets, stream copy, the flush, the trailers and the progress report. Runs on the job's
// thread; each output stream is served by its stage (video, audio or subtitle encoding, or
// stream copy) while the run keeps the loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/amrnb_encoder.h"
#include "FFMPEG/av_handles.h"
#include "FFMPEG/custom_ffmpeg.h"
#include "FFMPEG/picture_hooks.h"

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
    bool IsStart = true;
    bool ClockStamped = false; // Pts came from the last decoded frame's own timestamp
    bool DecoderOpen = false;
    ParserPtr Parser; // cuts packets that hold several frames, for decoders that need it
    // Decoded audio to interleaved 16-bit at the decoder's rate and channels.
    SwrPtr ToS16;
    int ToS16Format = -1;
    int ToS16Channels = 0;
    // Deinterlacing filter, built at the first picture.
    FilterGraphPtr Deinterlacer;
    AVFilterContext* DeinterlaceSource = nullptr;
    AVFilterContext* DeinterlaceSink = nullptr;
    bool DeinterlaceFailed = false;
};

// The state of encoding one video output: the picture's way from the decoder to the encoder
// (conform, crop, scale, pad), the last picture encoded and the encoder's feedback.
struct TVideoEncodeState {
    bool Resample = false;
    FramePtr TempPicture;
    SwsPtr ScaleContext;
    int32_t ResampleHeight = 0;
    // The source picture as set up. A decoder that changes size or format mid-stream has its
    // pictures converted back to it, so crop, scaler and encoder never read past a picture.
    int32_t SourceWidth = 0, SourceHeight = 0;
    int32_t SourceFormat = -1; // AVPixelFormat
    SwsPtr ConformContext;
    FramePtr ConformPicture;
    bool Crop = false;
    int32_t CropTop = 0, CropLeft = 0;
    bool Pad = false;
    int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    // The last picture as encoded; kept to fill the slots until the next picture starts.
    FramePtr LastFrame;
    float LastQuality = -1.0f; // lambda of the last coded frame
    char LastPictType = '?';
    uint64_t LastError[3] = {0, 0, 0}; // last coded frame's squared errors per plane
};

// The state of encoding one audio output: resampling, framing and the audio clock.
struct TAudioEncodeState {
    bool Resample = false;
    SwrPtr Resampler;
    bool CutByRecordingTime = false; // "t" ended it, not the input's end
    FifoPtr SampleFifo;              // interleaved signed 16-bit samples, as bytes
    SwrPtr ToEncoder;                // 16-bit to the encoder's sample format
    FramePtr Frame;                  // reused for every block sent to the encoder
    int64_t NextPts = INT64_MIN;     // encoder time base; rises by the samples sent
    // "async" 0: the furthest the input clock ran ahead of the samples sent, in samples.
    int64_t ClockLead = 0;
    std::unique_ptr<AmrNbEncoder> Amr; // the engine's own AMR-NB encoder, when used
    int FrameCapacity = 0;
};

// Two-pass statistics file while pass 1 is encoded.
struct TPassLog {
    FilePtr File;
};

struct TOutputStreamState {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SourceIndex = 0;
    AVStream* Stream = nullptr;         // borrowed from the muxer
    OutputStreamSetup* Setup = nullptr; // the job's encoder context and codec
    bool EncodingNeeded = false;
    int32_t FrameNumber = 0;
    TInputStreamState* SyncInput = nullptr;
    int64_t SyncPosition = 0; // in the encoder's time base
    double SyncSkew = 0;      // timestamp leaps of a damaged input left out, in frames
    int64_t MuxedEnd = 0;     // end of the last packet written, stream time base
    bool Finished = false;    // a copy that reached the recording time: no more packets
    int64_t PacketsWritten = 0;
    TVideoEncodeState Video;
    TAudioEncodeState Audio;
    TPassLog PassLog;
    bool EncoderOpen = false;
};

// The job-level counters of one run.
struct RunCounters {
    int64_t VideoBytes = 0;
    int64_t AudioBytes = 0;
    int64_t HeaderBytes = 0;
    int32_t FramesDuplicated = 0;
    int32_t FramesDropped = 0;
    int64_t TimerStart = 0;
    int32_t QpHistogram[52] = {};
};

// "size=    1024kB time=8.00 bitrate=1048.6kbits/s" for 1048576 bytes at 8 s; `bit_rate`
// receives the kbit/s.
std::string ProgressSizeText(int64_t size, double seconds, double& bit_rate);

class Transcoder {
    friend class VideoEncodeStage;
    friend class AudioEncodeStage;
    friend class SubtitleEncodeStage;
    friend class StreamCopyStage;

public:
    explicit Transcoder(TCustomFFmpeg& job);
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;
    ~Transcoder();

    // The whole run: set-up, main loop, flush, trailers and the final report. Throws
    // FFMpegException; the caller closes what is still open with CloseCodecs().
    void Run();
    // Closes every encoder and decoder the run still has open.
    void CloseCodecs();
    // Flushes and closes the statistics files, so that a job queued after this one (a second
    // pass) reads them whole once this job has ended.
    void CloseStatistics();

private:
    // The job's settings, read-only to the run: what the run learns it keeps itself.
    const OptionState& Options() const { return std::as_const(job_).Options(); }

    // Set-up, in order.
    void BuildInputTables();
    void CheckOutputs();
    void CheckMaps();
    void BuildOutputTables();
    void ChooseSources();
    void SetStreamParameters();
    void SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist);
    void SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist);
    void OpenPassLog(TOutputStreamState& ost, int index);
    void ReportMapping();
    void OpenEncoders();
    // The engine's own AMR-NB encoder for a stream that asks for it.
    void OpenAmrNb(TOutputStreamState& ost);
    void OpenDecoders();
    void CopyMetadata();
    void WriteHeaders();

    // The loop.
    void MainLoop();
    // The input file to read next, -1 to end; `opts_min` the least output position, seconds.
    int ChooseInputFile(double& opts_min);
    bool PastSizeLimit() const;
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
    // `pts` and `duration` are the subtitle packet's, in the input stream's time base.
    void DispatchSubtitle(TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts,
                          int64_t duration);
    void RateEmulate(TInputStreamState& ist);
    void FlushEncoders(TInputStreamState& ist);
    void WriteTrailers();
    // Fails the run when an audio or video output stream received nothing.
    void CheckEveryStreamWritten() const;

    // Sends one frame (or the flush) to an encoder and writes what comes out. Returns the
    // bytes written.
    int64_t Encode(TOutputStreamState& ost, AVFrame* frame);
    void WritePacket(TOutputStreamState& ost, AVPacket* packet);
    void WriteVideoStats(TOutputStreamState& ost, int frame_size);
    void ReportProgress(bool final_report);
    // The parts of the report: the first output's size, the video figures (false before the
    // first picture: nothing to report) and the line or callback that carries them.
    struct ProgressFigures {
        int32_t frame_number = -1;
        int32_t fps = -1;
        float quality = -1.0f;
    };
    int64_t OutputSize() const;
    bool AppendVideoProgress(std::string& line, const TOutputStreamState& ost, float q,
                             bool final_report, ProgressFigures& figures);
    void DeliverProgress(std::string& line, int64_t size, double time,
                         const ProgressFigures& figures, bool final_report);

    TCustomFFmpeg& job_;
    std::vector<TInputFileState> files_;
    std::vector<TInputStreamState> inputs_;
    std::vector<TOutputStreamState> outputs_;
    RunCounters counters_;
    int64_t last_report_ = 0;
    // Reused for every packet and frame of the run.
    PacketPtr read_packet_;
    PacketPtr out_packet_;
    PacketPtr parsed_packet_; // a view of one frame the parser cut from a packet
    FramePtr decoded_;
    FramePtr crop_view_;
    FramePtr inner_view_;
    FramePtr deinterlaced_;
    PictureHooks hooks_;
    std::vector<uint8_t> audio_buffer_; // decoded audio as interleaved signed 16-bit
    std::vector<uint8_t> work_buffer_;  // resampled audio
    std::vector<uint8_t> fifo_frame_;   // one encoder frame read from a sample fifo
    std::vector<uint8_t> silence_;      // silence inserted before a late block
    std::vector<uint8_t> silent_frame_; // one encoder frame of silence, all zero
    std::vector<uint8_t> gap_silence_;  // decoded silence filling a timestamp gap, all zero
    std::vector<uint8_t> subtitle_buffer_;
    bool same_quality_logged_ = false;
    FilePtr vstats_;
};

// The video encoding stage of one output stream, over the stream's video state and the run's
// shared frames, counters and encoder. Made where it is used: it holds references only.
class VideoEncodeStage {
public:
    VideoEncodeStage(Transcoder& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // One decoded (and preprocessed) picture: dropped, or encoded once or more.
    void Output(AVFrame* picture);
    // At the end of input: the last picture again until the source's last picture ends.
    void FillToEnd(const TInputStreamState& ist);

private:
    // How many output frames this picture takes (0: dropped) and, in `fill`, how many copies
    // of the previous picture go before it; counts duplicates and drops.
    int Slots(int& fill);
    int DropPicture();
    // `copies` cut to "vframes" and to "t".
    int LimitCopies(int copies) const;
    // The picture as the encoder takes it (cropped, scaled, padded) becomes Video.LastFrame.
    bool KeepOutputPicture(AVFrame* picture);
    bool ScaleAndPad(AVFrame* view);
    int SameQuality(int source_quality);
    // Encodes Video.LastFrame `copies` times at the next output positions.
    void EncodeCopies(int copies);
    AVFrame* ConformPicture(const AVFrame* picture);

    Transcoder& run_;
    TOutputStreamState& ost_;
};

// The audio encoding stage of one output stream, over the stream's audio state and the run's
// shared buffers, counters and encoder. Made where it is used: it holds references only.
class AudioEncodeStage {
public:
    AudioEncodeStage(Transcoder& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // One block of decoded samples (interleaved 16-bit, `size` bytes) from `ist`.
    void Output(TInputStreamState& ist, const uint8_t* samples, int size);
    // Encodes what the resampler and the sample fifo still hold as a last frame, short or
    // padded with silence.
    void Flush();

private:
    // Sends interleaved 16-bit samples in frames of the encoder's size.
    void EncodeSamples(const uint8_t* samples, int count);
    // Encodes every whole encoder frame (`frame_bytes` of 16-bit samples) the fifo holds.
    void EncodeWholeFrames(size_t frame_bytes);
    void OpenResampler(const AVCodecContext& enc, const AVCodecContext& dec);
    // Samples waiting in the stream's fifo.
    int64_t FifoSamples() const;
    // "async" above 0: drops or pads the block (moving `input`, `bytes`) or stretches the
    // resampler where the input clock and the samples sent part; false when nothing is left.
    bool CorrectDrift(TInputStreamState& ist, double sync_ipts, const uint8_t*& input, int& bytes);
    // Silence for a leap of the audio's own timestamps past the samples sent.
    void FillTimestampGap(TInputStreamState& ist, double sync_ipts);
    // Resamples, cuts at "t", frames and encodes one block of decoded samples.
    void Send(TInputStreamState& ist, const uint8_t* input, int bytes);
    void DrainResampler();
    // Codecs whose decoders give a frame's samples only with the next frame.
    static bool DecoderSkipsFirstFrame(const AVCodecContext* enc);
    void EncodeSilentFrame();
    void EncodeLastSamples();

    Transcoder& run_;
    TOutputStreamState& ost_;
};

// The subtitle encoding stage of one output stream.
class SubtitleEncodeStage {
public:
    SubtitleEncodeStage(Transcoder& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // `pts` and `duration` are the subtitle packet's, in the input stream's time base.
    void Output(TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts, int64_t duration);

private:
    Transcoder& run_;
    TOutputStreamState& ost_;
};

// The stream-copy stage of one output stream: packets pass undecoded.
class StreamCopyStage {
public:
    StreamCopyStage(Transcoder& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // Once per input packet, whether or not the packet is also decoded.
    void Copy(TInputStreamState& ist, const AVPacket* packet);

private:
    Transcoder& run_;
    TOutputStreamState& ost_;
};

} // namespace clipwright
