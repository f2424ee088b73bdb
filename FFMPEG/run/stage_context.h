// What the run lends its stages (output_stages.h), in one place that knows no stage: the job's
// settings and control, the files, the run's counters, the scratch frames and buffers reused for
// every frame of every stream, and the encoding and writing of packets. On the job's thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/job/job_files.h"
#include "FFMPEG/job/run_control.h"

struct AVFrame;
struct AVPacket;

namespace clipwright {

struct TOutputStreamState;

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

// What the run lends its stages: the job's settings and control (log, stop, pause), the files,
// the counters, the frames, packets and buffers reused for every frame of every stream, and the
// writing of packets. Owned by the Transcoder; the buffers are allocated once, or grown on the
// first larger block, never per frame.
class StageContext {
public:
    StageContext(const RunSettings& settings, RunControl& control, RunFiles& files)
        : settings_(settings), control_(control), files_(files) {}
    StageContext(const StageContext&) = delete;
    StageContext& operator=(const StageContext&) = delete;

    // The job's log, pause and stop.
    RunControl& Control() const { return control_; }
    // The job's settings, read-only to the run.
    const RunSettings& Settings() const { return settings_; }
    const OptionState& Options() const { return settings_.Options(); }
    std::vector<OutputFile>& OutputFiles() const { return files_.outputs; }

    // A frame (or the flush) to the stream's encoder, then each packet the encoder has ready
    // (counted; none when it has none), written with WriteEncoded. Throws FFMpegException.
    void SendFrame(TOutputStreamState& ost, AVFrame* frame);
    AVPacket* NextPacket(TOutputStreamState& ost);
    void WriteEncoded(TOutputStreamState& ost, AVPacket* packet);
    // A packet in the output stream's time base, muxed.
    void WritePacket(TOutputStreamState& ost, AVPacket* packet);
    // The run's "vstats" file, one for every video stream, opened at the first call; null when
    // none is asked. Throws FFMpegException.
    std::FILE* VideoStatsFile();
    // The first output file has grown past "fs".
    bool PastSizeLimit() const;
    // Flushes and closes the "vstats" file.
    void CloseVideoStats() { vstats_.reset(); }

    RunCounters Counters;
    // Reused for every packet and frame of the run.
    PacketPtr OutPacket;
    bool SameQualityLogged = false; // the same-quality note, once per run, not per stream

private:
    const RunSettings& settings_;
    RunControl& control_;
    RunFiles& files_;
    FilePtr vstats_;
};

// Peak signal-to-noise ratio, in dB, of a mean squared error relative to the peak's square.
double Psnr(double d);

} // namespace clipwright
