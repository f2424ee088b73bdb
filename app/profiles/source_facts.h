// What the probe found in a source that a plan may need: the first video stream's picture and
// codec, the first audio stream's codec and layout. Profiles that fit their output to the source
// (a size box, the bit depth, copying what already fits) read these.
#pragma once

#include <cstdint>
#include <string>

namespace clipwright {

class TAVProbe;

struct SourceFacts {
    bool probed = false;      // false: nothing is known of the source
    int64_t duration_us = -1; // the container's; negative when unknown
    bool has_video = false;
    int width = 0;
    int height = 0;
    double display_aspect = 0; // width over height as shown; 0 when the stream states none
    std::string pixel_format;  // "yuv420p"
    std::string video_codec;   // the decoder's name: "h264", "hevc"
    int video_profile = -99;   // the library's profile and level numbers; -99 unknown
    int video_level = -99;
    int frame_rate_num = 0;
    int frame_rate_den = 0;
    bool interlaced = false;

    bool has_audio = false;
    std::string audio_codec;
    int audio_profile = -99;
    int audio_channels = 0;
    int audio_sample_rate = 0;
    int audio_bit_rate = 0; // bit/s; 0 unknown
};

// The facts of the file `probe` has loaded; defaults for what it lacks.
SourceFacts DescribeSource(const TAVProbe& probe);

} // namespace clipwright
