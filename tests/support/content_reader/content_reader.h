// What a media file holds, as decoded content: every picture and every sample with its
// presentation time, read through the libraries linked directly (apart from the engine and its
// run-time binding), so that sources and outputs are measured by one and the same reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace clipwright::testing {

struct Picture {
    double time = 0;     // presentation time, seconds (best-effort timestamp)
    double duration = 0; // to the next picture; the last: its own, else one frame of the rate
    double luma = -1;    // mean luma 0…255; -1 for pictures that are not 8-bit YUV or grey
};

struct VideoContent {
    int index = -1; // stream index in the file
    std::string codec;
    int width = 0, height = 0;
    double frame_rate = 0;            // as the stream states it (guessed), pictures per second
    bool last_duration_known = false; // the file gave the last picture its own duration
    double reorder_delay = 0;         // seconds a decoder holds pictures back to reorder them
    std::vector<Picture> pictures;    // in presentation order
    int decode_errors = 0;

    int Count() const { return static_cast<int>(pictures.size()); }
    double Start() const;  // first picture's time; 0 without pictures
    double End() const;    // end of the last picture, its duration included
    double Length() const; // End() - Start()
    // The pace of most pictures: the mean of the durations near the median one (timestamps
    // rounded to milliseconds make a 30 fps stream's durations 33 and 34 ms).
    double Period() const;
};

struct AudioContent {
    int index = -1;
    std::string codec;
    int sample_rate = 0;
    int channels = 0;
    std::string layout;                     // av_channel_layout_describe
    std::vector<std::string> channel_names; // "FL", "LFE", ... in channel order
    int frame_size = 0; // samples per encoded frame: as stated, else 1 for PCM, else decoded
    int64_t samples = 0;
    double start = 0;        // first decoded sample's time
    double packet_start = 0; // earliest packet timestamp: before `start` where the decoder
                             // holds back its first frames (WMA)
    double max_packet = 0;   // seconds of sound decoded from the longest packet
    double span_end = 0;     // end of the last decoded frame by its timestamp; past End() when the
                             // timestamps leave gaps
    std::vector<double> onsets; // starts of sound: 2 ms RMS over kOnsetLevel after kQuietBefore
                                // under it
    double last_sound = -1;     // time of the last sample over kSoundLevel; -1: silent
    double sounding = 0;        // seconds of 2 ms windows whose RMS reaches kOnsetLevel
    double silent = 0;          // seconds of 2 ms windows whose RMS stays under kSilenceLevel
    int decode_errors = 0;
    std::vector<std::vector<float>> kept; // per channel, when ContentOptions::keep_samples

    double End() const { return sample_rate > 0 ? start + double(samples) / sample_rate : start; }
    double Length() const { return End() - start; }
    // Amplitude of a sine of `hz` in `channel` over the kept samples (Goertzel), 0…1 scale.
    double ToneLevel(int channel, double hz) const;

    static constexpr double kSoundLevel = 0.02;    // |sample| counted as sound (−34 dBFS)
    static constexpr double kOnsetLevel = 0.05;    // 2 ms RMS that starts a burst (−26 dBFS)
    static constexpr double kQuietBefore = 0.04;   // silence needed before an onset, seconds
    static constexpr double kSilenceLevel = 0.001; // digital silence, as no recording has it
};

struct SubtitleEvent {
    double start = 0;    // presentation time, seconds
    double duration = 0; // display duration, seconds; 0 when the file gives none
};

struct SubtitleContent {
    int index = -1;
    std::string codec;
    std::vector<SubtitleEvent> events;
    int decode_errors = 0;
};

struct ContentOptions {
    // Only what starts before the file's start + limit seconds (the engine's recording time
    // "t", from the container's start time): later pictures and samples are left out and the
    // last picture ends at the limit. 0: everything.
    double limit = 0;
    bool keep_samples = false; // keep decoded audio for ToneLevel
};

struct Content {
    bool opened = false;
    std::string error;
    std::string format;
    double origin = 0; // the earliest start of any video or audio stream: the file's time zero
    double cut = 0;    // where ContentOptions::limit cut the content; infinity without one
    std::vector<VideoContent> video; // attached pictures (cover art) are not video
    int attached_pictures = 0;
    std::vector<AudioContent> audio;
    std::vector<SubtitleContent> subtitles;
};

// Decodes every stream of `file` completely (to the limit, if any).
Content ReadContent(const std::string& file, const ContentOptions& options = {});

// Track lengths as mediainfo states them (`General;%Duration%` and each video and audio track's
// `%Duration%`), in seconds; -1 where it states none.
struct StatedLengths {
    double general = -1;
    std::vector<double> video;
    std::vector<double> audio;
};
StatedLengths MediaInfoLengths(const std::string& file);

} // namespace clipwright::testing
