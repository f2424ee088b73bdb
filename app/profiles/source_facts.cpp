#include "app/profiles/source_facts.h"

#include "FFMPEG/probe/av_probe.h"

namespace clipwright {

SourceFacts DescribeSource(const TAVProbe& probe) {
    SourceFacts facts;
    facts.probed = true;
    TAVFileInfo file;
    probe.GetFileInfo(file);
    facts.duration_us = file.Duration;
    if (probe.VideoStreamCount() > 0) {
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        facts.has_video = video.Width > 0 && video.Height > 0;
        facts.width = video.Width;
        facts.height = video.Height;
        facts.display_aspect = video.DisplayAspectRatio;
        facts.pixel_format = PixelFormatName(video.PixelFormat);
        facts.video_codec = video.CodecName;
        facts.video_profile = video.Profile;
        facts.video_level = video.Level;
        facts.frame_rate_num = video.FrameRateNum;
        facts.frame_rate_den = video.FrameRateDen;
        facts.interlaced = video.Interlaced;
    }
    if (probe.AudioStreamCount() > 0) {
        TAVAudioInfo audio;
        probe.GetAudioInfo(audio);
        facts.has_audio = true;
        facts.audio_codec = audio.CodecName;
        facts.audio_profile = audio.Profile;
        facts.audio_channels = audio.Channels;
        facts.audio_sample_rate = audio.SampleRate;
        facts.audio_bit_rate = audio.BitRate;
    }
    return facts;
}

} // namespace clipwright
