// TAVProbe: opens a media file only to describe it (streams, container properties, one video
// stream). It never decodes, keeps at most one file open, and belongs to the thread that calls
// it.
#pragma once

#include <cstdint>
#include <string>

#include "FFMPEG/binding/av_handles.h"

struct AVRational;

namespace clipwright {

// Width over height as shown: the codec's sample aspect, else the stream's (some containers
// declare it only there), times width over height; 0 when neither declares one (NaN for a
// 0/0 declaration).
double DisplayAspect(const AVRational& codec_sar, const AVRational& stream_sar, int width,
                     int height);

// Container properties. Numbers are -1 and texts empty when no file is loaded.
struct TAVFileInfo {
    int64_t StartTime = -1; // microseconds; the no-timestamp value when unknown
    int64_t Duration = -1;  // microseconds; the no-timestamp value when unknown
    int32_t BitRate = -1;   // bit/s; 0 when unknown
    int64_t Timestamp = -1; // creation time, microseconds since 1970; 0 when the file has none
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Genre;
};

// Properties of one video stream; a request that fails leaves these defaults.
struct TAVVideoInfo {
    std::string Language;  // 3-letter code
    std::string CodecName; // the stream's decoder
    int64_t StartTime = -1;
    int64_t StartTimeRescaled = -1;
    int64_t Duration = -1;
    int64_t DurationRescaled = -1;
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float DisplayAspectRatio = -1.0f; // 0 or NaN when the stream declares no sample aspect ratio
    int32_t PixelFormat = -1;
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
    int32_t Profile = -99; // the codec's profile and level numbers; -99 when unknown
    int32_t Level = -99;
    bool Interlaced = false; // the stream states interlaced fields
};

// Properties of one audio stream; a request that fails leaves these defaults.
struct TAVAudioInfo {
    std::string CodecName; // the stream's decoder
    int32_t Profile = -99; // -99 when unknown
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t BitRate = -1; // bit/s; 0 when unknown
};

class TAVProbe {
public:
    TAVProbe() = default;
    TAVProbe(const TAVProbe&) = delete;
    TAVProbe& operator=(const TAVProbe&) = delete;
    ~TAVProbe() { CloseFile(); }

    // Closes any loaded file, then loads `file_name`; an empty `format_name` lets the library
    // detect the format. False: LastError() says why and no file is loaded. Throws
    // std::runtime_error when the libraries are not bound.
    bool LoadFile(const std::string& file_name, const std::string& format_name);
    void CloseFile();

    void GetFileInfo(TAVFileInfo& info) const;
    // A negative index means the first video stream. Failures only log.
    void GetVideoStreamInfo(int32_t stream_index, TAVVideoInfo& info) const;
    void GetVideoInfo(TAVVideoInfo& info) const { GetVideoStreamInfo(-1, info); }
    // The first audio stream; defaults when there is none.
    void GetAudioInfo(TAVAudioInfo& info) const;

    // Throws std::runtime_error naming the first library that is not bound.
    static void CheckLibraries();

    const std::string& LastError() const { return LastError_; }
    const std::string& FormatName() const { return FormatName_; }
    int32_t StreamCount() const { return StreamCount_; }
    int32_t ProgramCount() const { return ProgramCount_; }
    int32_t AudioStreamCount() const { return AudioStreamCount_; }
    int32_t VideoStreamCount() const { return VideoStreamCount_; }
    int32_t SubtitleStreamCount() const { return SubtitleStreamCount_; }
    int32_t FirstAudioStream() const { return FirstAudioStream_; }
    int32_t FirstVideoStream() const { return FirstVideoStream_; }
    int32_t FirstSubtitleStream() const { return FirstSubtitleStream_; }
    // Cover pictures (video streams of one attached picture); not in VideoStreamCount.
    int32_t AttachedPictureCount() const { return AttachedPictureCount_; }

private:
    void Recount();

    InputFormatPtr FormatContext_;
    std::string LastError_;
    std::string FormatName_;
    int32_t StreamCount_ = -1;
    int32_t ProgramCount_ = -1;
    int32_t AudioStreamCount_ = -1;
    int32_t VideoStreamCount_ = -1;
    int32_t SubtitleStreamCount_ = -1;
    int32_t FirstAudioStream_ = -1;
    int32_t FirstVideoStream_ = -1;
    int32_t FirstSubtitleStream_ = -1;
    int32_t AttachedPictureCount_ = -1;
};

// The library's name of a pixel format ("yuv420p"); empty when unknown.
std::string PixelFormatName(int32_t pixel_format);

} // namespace clipwright
