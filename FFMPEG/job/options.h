// The two plain records through which a caller describes a job's input and output, with their
// defaults. "Not set" is the default value of a field (-1, empty, false).
#pragma once

#include <cstdint>
#include <string>

namespace clipwright {

struct TInputOptions {
    std::string FileName;
    std::string FileFormat;
    int32_t StartTime = -1;   // milliseconds; used when > 0
    int32_t ProgramID = -1;   // used when >= 0
    std::string ExtraOptions; // name=value lines
};

struct TOutputOptions {
    std::string FileName;
    std::string FileFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // seconds
    float MuxPreload = -1.0f; // seconds
    std::string AudioCodec;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;
    int32_t AudioBitrate = -1;
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSyncMethod = 0;
    std::string AudioTag;
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string AspectRatio;
    int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    uint32_t PadColor = 0; // 0x00BBGGRR; a value with top byte 0x80 is a system colour
    int32_t GOPSize = -1;
    int32_t VideoBitrate = -1;
    int32_t MaxRate = -1;
    int32_t MinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t BufferSize = -1;
    int32_t VideoSyncMethod = -1;
    std::string VideoTag;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int32_t Duration = -1;   // milliseconds
    double Timestamp = -1.0; // days since 1899-12-30 local time; 0 now; < 0 not set
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
    int32_t TargetType = 0;        // 0 none, 1 vcd, 2 svcd, 3 dvd
    int32_t TVStandard = 0;        // 0 automatic, 1 PAL, 2 NTSC
    int32_t DefaultTVStandard = 1; // 1 PAL, else NTSC
    bool CustomHookEnabled = false;
    bool BeforeHookEnabled = false;
    std::string HookRanges;
    std::string ExtraOptions;

    bool operator==(const TOutputOptions&) const = default;
};

void InitInputOptions(TInputOptions& options);
void InitOutputOptions(TOutputOptions& options);

} // namespace clipwright
