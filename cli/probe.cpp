#include "cli/probe.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/probe/av_probe.h"
#include "app/profiles/list_texts.h"
#include "cli/library_folder.h"
#include "cli/usage.h"

namespace clipwright::cli {

namespace {

void Line(const char* name, const std::string& value) {
    std::printf("%s: %s\n", name, value.c_str());
}

void Line(const char* name, long long value) {
    std::printf("%s: %lld\n", name, value);
}

// Four decimals, trailing zeros dropped; a stream without a sample aspect ratio shows 0.
std::string AspectText(float aspect) {
    if (!std::isfinite(aspect) || aspect <= 0.0f)
        return "0";
    return DecimalText(aspect, 4);
}

bool ProbeOne(TAVProbe& probe, const std::string& file_name) {
    Line("file", file_name);
    if (!probe.LoadFile(file_name, "")) {
        Line("error", probe.LastError());
        return false;
    }
    Line("streams", probe.StreamCount());
    Line("programs", probe.ProgramCount());
    Line("video_streams", probe.VideoStreamCount());
    Line("first_video_stream", probe.FirstVideoStream());
    Line("audio_streams", probe.AudioStreamCount());
    Line("first_audio_stream", probe.FirstAudioStream());
    Line("subtitle_streams", probe.SubtitleStreamCount());
    Line("first_subtitle_stream", probe.FirstSubtitleStream());
    Line("attached_pictures", probe.AttachedPictureCount());

    TAVFileInfo file;
    probe.GetFileInfo(file);
    Line("duration_us", static_cast<long long>(file.Duration));
    Line("duration", DurationText(file.Duration));
    Line("bit_rate", file.BitRate);

    if (probe.VideoStreamCount() > 0) {
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        Line("width", video.Width);
        Line("height", video.Height);
        Line("frame_rate",
             FrameRateText(video.FrameRateNum, video.FrameRateDen).value_or("Unknown"));
        Line("frame_rate_fraction",
             std::to_string(video.FrameRateNum) + "/" + std::to_string(video.FrameRateDen));
        Line("display_aspect", AspectText(video.DisplayAspectRatio));
        Line("pixel_format", PixelFormatName(video.PixelFormat));
        Line("codec", video.CodecName);
    }
    probe.CloseFile();
    return true;
}

} // namespace

int RunProbe(int argc, char* argv[]) {
    // Options end at "--", so that a file whose name starts with '-' can still be named.
    std::vector<std::string> files;
    bool options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_ended && arg == "--")
            options_ended = true;
        else if (!options_ended && arg.size() > 1 && arg[0] == '-')
            return UsageError("probe");
        else
            files.push_back(arg);
    }
    if (files.empty())
        return UsageError("probe");
    if (!BindLibraries())
        return 2;
    TAVProbe probe;
    bool all_ok = true;
    for (size_t i = 0; i < files.size(); ++i) {
        if (i > 0)
            std::printf("\n");
        all_ok = ProbeOne(probe, files[i]) && all_ok;
    }
    std::fflush(stdout);
    return all_ok ? 0 : 1;
}

} // namespace clipwright::cli
