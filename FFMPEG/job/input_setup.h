// Opening a job's input: the demuxer with the input-side settings, one decoder context per
// stream, and the source's properties copied back into the settings so that outputs inherit
// what their options leave unset.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/job/file_setup_context.h"

struct AVStream;

namespace clipwright {

class InputSetup {
public:
    explicit InputSetup(FileSetupContext job) : job_(std::move(job)) {}

    // Opens one input with the current settings and appends it; the settings that describe
    // one file are consumed. False: the job's last error says why and the input list is
    // unchanged. Throws FFMpegException for a stream the job cannot describe.
    bool OpenInputFile(const std::string& file_name);

private:
    // The steps: the demuxer, its stream probe, the start-time seek (returns the start,
    // microseconds) and one decoder context per stream.
    InputFormatPtr OpenDemuxer(const std::string& file_name);
    bool FindStreamInfo(AVFormatContext& context, const std::string& file_name);
    int64_t SeekToStartTime(AVFormatContext& context);
    CodecContextPtr OpenStreamDecoder(AVFormatContext& context, AVStream& stream,
                                      const std::string& file_name);
    // Copies a video stream's properties into the settings that outputs inherit.
    void ReadVideoSettings(AVFormatContext& context, AVStream& stream, AVCodecContext& decoder,
                           const std::string& file_name);
    // Uses up the settings that describe one input file, whether it opened or not.
    void ConsumeFileSettings();

    FileSetupContext job_;
};

} // namespace clipwright
