// The stages of a run, one per output stream: video, audio or subtitle encoding, or stream
// copy. Each owns what its stream needs (frames, scalers, resamplers, the sample fifo, the
// two-pass statistics file) and its stream's clock, sets itself up once with the run and is
// then fed by the loop. What the stages share they reach through the run's StageContext
// (stage_context.h). Everything here lives on the job's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/run/amrnb_encoder.h"
#include "FFMPEG/run/stage_context.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct AVSubtitle;

namespace clipwright {

struct TInputStreamState;
struct TOutputStreamState;

// How far one output stream has got. Its stage is the only writer; the loop and the progress
// report read it through the stream's record.
struct StreamClock {
    int64_t SyncPosition = 0; // in the encoder's time base
    int32_t FrameNumber = 0;
    double SyncSkew = 0;   // timestamp leaps of a damaged input left out, in frames
    bool Finished = false; // a copy that reached the recording time: no more packets
};

// What the encoder said about the last picture it coded, for the report and the "vstats" file.
struct VideoFeedback {
    float LastQuality = -1.0f; // lambda of the last coded frame
    char LastPictType = '?';
    uint64_t LastError[3] = {0, 0, 0}; // last coded frame's squared errors per plane
};

// The video encoding stage of one output stream: the picture's way from the decoder to the
// encoder (conform, crop, scale, pad), the output rate kept in step with the input clock, the
// encoder's feedback and, for two-pass encoding, the statistics file.
class VideoEncodeStage {
public:
    VideoEncodeStage(StageContext& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // From the decoder's picture geometry: what is cropped, padded and scaled, with the frames
    // and scaler for it; `turn`: the clockwise degrees the pictures come turned by. Throws
    // FFMpegException.
    void Setup(const AVCodecContext& dec, int turn);
    // Two-pass: pass 1 opens statistics file `index` to write, pass 2 reads it into the
    // encoder. Nothing for a single pass. Throws FFMpegException.
    void OpenPassLog(int index);

    // One decoded (and preprocessed) picture: dropped, or encoded once or more.
    void Output(AVFrame* picture);
    // At the end of input: the last picture again until the source's last picture ends, then
    // the encoder drained.
    void Flush(const TInputStreamState& ist);

    const VideoFeedback& Feedback() const { return feedback_; }
    const StreamClock& Clock() const { return clock_; }
    // Flushes and closes the pass-1 statistics file.
    void CloseStatistics() { pass_log_.reset(); }

private:
    // One frame (or the flush) through the encoder; each packet's figures and, in pass 1, its
    // statistics line are taken before it is written. Returns the bytes written.
    int64_t EncodeFrame(AVFrame* frame);
    void Encoded(const AVPacket& packet);
    // One line of the run's "vstats" file for a picture of `frame_size` bytes just encoded.
    void WriteVideoStats(int frame_size);
    struct State {
        bool Resample = false;
        FramePtr TempPicture;
        SwsPtr ScaleContext;
        int32_t ResampleHeight = 0;
        // The source picture as set up. A decoder that changes size or format mid-stream has
        // its pictures converted back to it, so crop, scaler and encoder never read past a
        // picture.
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
        // Views into pictures (a crop, the inner area of a padded one), without a copy.
        FramePtr CropView;
        FramePtr InnerView;
    };

    // Allocates the picture the scaler or the padding writes, in the encoder's geometry.
    void AllocTempPicture(const char* failure);
    // At the end of input: the last picture again until the source's last picture ends.
    void FillToEnd(const TInputStreamState& ist);
    // At the end: what tells a player the last picture's length where nothing else does.
    void MarkEnd(double end);
    // How many output frames this picture takes (0: dropped) and, in `fill`, how many copies
    // of the previous picture go before it; counts duplicates and drops.
    int Slots(int& fill);
    int DropPicture();
    // `copies` cut to "vframes" and to "t".
    int LimitCopies(int copies) const;
    // The picture as the encoder takes it (cropped, scaled, padded) becomes State::LastFrame.
    bool KeepOutputPicture(AVFrame* picture);
    bool ScaleAndPad(AVFrame* view);
    int SameQuality(int source_quality);
    // Encodes State::LastFrame `copies` times at the next output positions.
    void EncodeCopies(int copies);
    AVFrame* ConformPicture(const AVFrame* picture);

    StageContext& run_;
    TOutputStreamState& ost_;
    StreamClock clock_;
    State state_;
    VideoFeedback feedback_;
    FilePtr pass_log_; // the two-pass statistics file while pass 1 is encoded
};

// The audio encoding stage of one output stream: resampling, the "async" clock keeping, the
// sample fifo that cuts encoder frames, and the engine's own AMR-NB encoder where used.
class AudioEncodeStage {
public:
    AudioEncodeStage(StageContext& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // The source's channel layout where the encoder takes it, the sample fifo, and whether the
    // samples are resampled. Throws FFMpegException.
    void Setup(const AVCodecContext& dec);
    // The engine's own AMR-NB encoder, for a stream the libraries have no encoder for. Throws
    // FFMpegException.
    void OpenAmrNb();

    // One block of decoded samples (interleaved 16-bit, `size` bytes) from `ist`. True when
    // the block ended the input's start (IsStart), which the caller records in the input's
    // record: every stage fed by the input reads it.
    [[nodiscard]] bool Output(const TInputStreamState& ist, const uint8_t* samples, int size);
    // Encodes what the resampler and the sample fifo still hold as a last frame, short or
    // padded with silence, then drains the encoder.
    void Flush();
    // The recording time ended the run, not the input's end: no filter delay to push out.
    void CutByRecordingTime() { state_.CutByRecordingTime = true; }
    const StreamClock& Clock() const { return clock_; }

private:
    struct State {
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
        // Reused for every block, grown on the first larger one.
        std::vector<uint8_t> WorkBuffer;  // resampled audio
        std::vector<uint8_t> FifoFrame;   // one encoder frame read from the sample fifo
        std::vector<uint8_t> Silence;     // silence inserted before a late block
        std::vector<uint8_t> SilentFrame; // one encoder frame of silence, all zero
        std::vector<uint8_t> GapSilence;  // decoded silence filling a timestamp gap, all zero
    };

    // Sends interleaved 16-bit samples in frames of the encoder's size.
    void EncodeSamples(const uint8_t* samples, int count);
    // Encodes every whole encoder frame (`frame_bytes` of 16-bit samples) the fifo holds.
    void EncodeWholeFrames(size_t frame_bytes);
    void OpenResampler(const AVCodecContext& enc, const AVCodecContext& dec);
    // Samples waiting in the stream's fifo.
    int64_t FifoSamples() const;
    // "async" above 0: drops or pads the block (moving `input`, `bytes`) or stretches the
    // resampler where the input clock and the samples sent part; false when nothing is left.
    // `start_ended`: the correction made at the input's start is done.
    bool CorrectDrift(const TInputStreamState& ist, double sync_ipts, const uint8_t*& input,
                      int& bytes, bool& start_ended);
    // Where the file plays the sound from its zero (AVI): silence from the first picture to a
    // later first sample, which would otherwise play early.
    void SilenceBeforeStart();
    // Silence for a leap of the audio's own timestamps past the samples sent.
    void FillTimestampGap(const TInputStreamState& ist, double sync_ipts);
    // Resamples, cuts at "t", frames and encodes one block of decoded samples.
    void Send(const TInputStreamState& ist, const uint8_t* input, int bytes);
    void DrainResampler();
    // Interleaved 16-bit samples into the fifo of a framed encoder, else straight to the
    // encoder.
    void QueueSamples(const uint8_t* samples, int count);
    // Codecs whose decoders give a frame's samples only with the next frame.
    static bool DecoderSkipsFirstFrame(const AVCodecContext* enc);
    void EncodeSilentFrame();
    void EncodeLastSamples();
    // One frame (or the flush) through the encoder, every packet written.
    void Encode(AVFrame* frame);

    StageContext& run_;
    TOutputStreamState& ost_;
    StreamClock clock_;
    State state_;
};

// The subtitle encoding stage of one output stream.
class SubtitleEncodeStage {
public:
    SubtitleEncodeStage(StageContext& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // The encoder's clock and canvas, from the source.
    void Setup(const TInputStreamState& ist, const AVCodecContext& dec);
    // `pts` and `duration` are the subtitle packet's, in the input stream's time base.
    void Output(const TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts, int64_t duration);
    const StreamClock& Clock() const { return clock_; }

private:
    StageContext& run_;
    TOutputStreamState& ost_;
    StreamClock clock_;           // never moves: subtitles are not counted
    std::vector<uint8_t> buffer_; // one encoded subtitle
};

// The stream-copy stage of one output stream: packets pass undecoded.
class StreamCopyStage {
public:
    StreamCopyStage(StageContext& run, TOutputStreamState& ost) : run_(run), ost_(ost) {}

    // Once per input packet, whether or not the packet is also decoded.
    void Copy(const TInputStreamState& ist, const AVPacket* packet);
    const StreamClock& Clock() const { return clock_; }

private:
    StageContext& run_;
    TOutputStreamState& ost_;
    StreamClock clock_;
};

// Two-pass statistics file `index` ("PREFIX-index.log") of an encoder given a pass: pass 1
// opens it to write and returns it, pass 2 reads it into the encoder's `stats_in` (freed with
// the run's codecs). Nothing without a pass. Throws FFMpegException.
FilePtr OpenPassLogFile(AVCodecContext& enc, const std::string& prefix, int index);

// The stage serving one output stream, none before set-up. Held in place (no allocation); a
// stage keeps a reference to its stream's record, so it is made only once the stream table is
// complete and never moves after.
using OutputStage = std::variant<std::monostate, VideoEncodeStage, AudioEncodeStage,
                                 SubtitleEncodeStage, StreamCopyStage>;

} // namespace clipwright
