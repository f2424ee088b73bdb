// Writes small media files with exact properties at test time, through the FFmpeg libraries
// linked directly (the engine under test binds them separately at run time).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace clipwright::testing {

struct Fraction {
    int num = 0;
    int den = 1;
};

// A stretch of time: from `start`, `seconds` long.
struct Span {
    double start = 0;
    double seconds = 0;
};

struct VideoSpec {
    std::string codec = "mpeg4";
    int width = 320;
    int height = 240;
    Fraction frame_rate{15, 1};
    Fraction sample_aspect{0, 1}; // 0/1: none declared
    int frames = 15;
    int64_t bit_rate = 400000;
    std::string pixel_format = "yuv420p";
    // The stream's time base, one tick a frame, as a container stores it; 0/1: the inverse of
    // frame_rate. Frames are still encoded at frame_rate.
    Fraction time_base{0, 1};
    // Sync markers: the pictures in these spans bright, every other one dark. None: the moving
    // gradient.
    std::vector<Span> markers;
    double start = 0;     // seconds added to every video timestamp: a late video start
    int b_frames = -1;    // B-frames between references; -1: the encoder's own choice
    double last_hold = 0; // > 0: the last picture lasts that long (its packet's duration)
    int rotation = 0;     // degrees to turn the picture for display, as phones store portrait
};

struct AudioSpec {
    std::string codec = "mp2";
    int sample_rate = 44100;
    int channels = 2;
    double seconds = 1.0;
    int64_t bit_rate = 128000;
    // Tone bursts in these spans, silence elsewhere. None: the tone throughout.
    std::vector<Span> bursts;
    std::string layout; // channel layout by name ("quad", "5.1(side)"); empty: the default
    bool tone_per_channel = false; // channel k sounds ChannelToneHz(k) instead of 440 Hz
    double start = 0;              // seconds added to every audio timestamp: a late audio start
};

struct MediaSpec {
    std::string format; // muxer name; empty: chosen from the file's extension
    std::optional<VideoSpec> video;
    std::optional<AudioSpec> audio;
    bool audio_first = false; // audio as stream 0, video as stream 1
    bool cover_art = false;   // one 64x64 JPEG picture as an attached picture, after the others
    std::vector<std::pair<std::string, std::string>> metadata;
    std::vector<Span> subtitles; // SubRip events, one line of text each
};

// The tone of channel `channel` when AudioSpec::tone_per_channel: far enough apart that each
// is measured alone in a mix.
double ChannelToneHz(int channel);

// Encodes a moving picture and a sine tone as asked. Throws std::runtime_error.
void WriteMedia(const std::string& path, const MediaSpec& wanted);

// `size` pseudo-random bytes from `seed`.
void WriteRandomBytes(const std::string& path, std::size_t size, unsigned seed);

// Copies the first `keep` bytes of `source` to `target`.
void WriteTruncatedCopy(const std::string& source, const std::string& target, std::size_t keep);

std::size_t FileSize(const std::string& path);

// Copies the packets of `source` into `target` (same container kind), leaving out the first
// `skip_video` video packets and moving every packet at or after `jump_at` seconds
// `jump_by` seconds later.
// An MPEG-TS with 2 s of MPEG-2 video and `count` DVB subtitles, one a second.
void WriteDvbSubtitles(const std::string& path, int count);

void WriteRemux(const std::string& source, const std::string& target, int skip_video,
                double jump_at = 1e9, double jump_by = 0.0);

// A named pipe that a thread of its own fills with the bytes of `source` once a reader opens
// it: a file that can be read only once, from its start, whose size nobody knows. `source`
// should fit a pipe's buffer (64 KiB), so that a reader that stops early blocks nothing.
class PipedCopy {
public:
    PipedCopy(const std::string& source, const std::string& path);
    PipedCopy(const PipedCopy&) = delete;
    PipedCopy& operator=(const PipedCopy&) = delete;
    ~PipedCopy();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::thread writer_;
};

// The files the probe and engine suites share, written on first use into one temporary folder
// per process and removed at exit.
struct GeneratedMedia {
    std::string avi_mpeg4_mp2;      // AVI, MPEG-4 320x240 @ 15 fps, 22050 Hz stereo, 2 s
    std::string mp4_h264_aac;       // MP4, H.264 640x480 @ 30000/1001, AAC 44100 Hz stereo, 1 s
    std::string mp3_audio_only;     // MP3, 44100 Hz stereo, 3 s
    std::string mkv_audio_first;    // Matroska, stream 0 audio, stream 1 video
    std::string mpg_mpeg2_sar;      // MPEG-PS, MPEG-2 720x576, sample aspect 16/15 @ 25 fps
    std::string m4v_unknown_length; // raw MPEG-4 elementary stream: no duration
    std::string avi_film_rate;      // AVI, MPEG-4 @ 24000/1001
    std::string mp4_truncated;      // the MP4 cut in half: its index is lost
    std::string avi_truncated;      // the AVI cut in half: its index is lost, data remains
    std::string random_mp4;         // random bytes named .mp4
    std::string random_avi;         // random bytes named .avi
    std::string avi_unknown_codec;  // the film-rate AVI with its video fourcc made unknown
    std::string mkv_no_key_start;   // the Matroska file without its first 3 video packets
    std::string mkv_dts_jump;       // the Matroska file with a 20 s jump after 0.5 s
    std::string avi_long;           // MPEG-4 + MP2 AVI of 12 s at 10 fps, 160x120
    std::string ts_dvb_subtitles;   // MPEG-TS, MPEG-2 video and two DVB bitmap subtitles
    std::string rm_unknown_codec;   // the same bytes named .rm
    std::string m1v_elementary;     // raw MPEG-1 video 320x240 @ 25 fps, 5.4 s; VBR header
    std::string mp3_cover_art;      // the MP3 tone with a JPEG cover (an APIC tag)
    std::string avi_rate_15_odd;    // MPEG-4 + MP2 AVI of 2 s at 15 fps stored as 1000000/66667
    std::string avi_rate_187;       // MJPEG AVI 160x120 of 1 s at 78125/417 (about 187 fps)
    std::string folder;
};
const GeneratedMedia& Media();

// Runs `generate(folder, write)` under the lock of `folder` (below the build's media cache):
// with write true when the folder's files are older than this generator (they are removed
// first), false when they are current, so every test process names the same files and only
// the first writes them.
void WithMediaCache(const std::string& subfolder,
                    const std::function<void(const std::string& folder, bool write)>& generate);

// The real files nobody here made (tests/media), each with what it holds.
struct RealMediaFile {
    const char* name;
    int streams;
    int video_streams;
    int audio_streams;
    int subtitle_streams;
    int first_video_stream;
    int first_audio_stream;
    const char* duration_text;
    int width;                   // -1 without video
    int height;                  // -1 without video
    const char* frame_rate_text; // empty without video
    int sample_rate;             // of the last audio stream; 0 without audio
    int channels;                // of the last audio stream; 0 without audio
};
const std::vector<RealMediaFile>& RealMedia();
std::string RealMediaPath(const char* name);

} // namespace clipwright::testing
