#include "tests/support/media_gen/fidelity_media.h"

#include <functional>
#include <stdexcept>

#include "tests/support/media_gen/media_gen.h"

namespace clipwright::testing {

namespace {

// Flashes and bursts at the same times, 0.2 s long (a picture even at 5 fps), and a last
// burst in the final 20 ms of the sound.
std::vector<Span> Markers() {
    return {{1.0, 0.2}, {2.0, 0.2}};
}
std::vector<Span> Bursts(double seconds) {
    return {{1.0, 0.2}, {2.0, 0.2}, {seconds - 0.02, 0.02}};
}

VideoSpec MarkedVideo(const char* codec, Fraction rate, double seconds, double start = 0) {
    return VideoSpec{.codec = codec,
                     .frame_rate = rate,
                     .frames = static_cast<int>((seconds - start) * rate.num / rate.den + 0.5),
                     .bit_rate = 300000,
                     .markers = Markers(),
                     .start = start};
}

AudioSpec MarkedAudio(const char* codec, int rate, double seconds) {
    return AudioSpec{
        .codec = codec, .sample_rate = rate, .seconds = seconds, .bursts = Bursts(seconds)};
}

AudioSpec Layout(const char* layout, int channels) {
    return AudioSpec{.codec = "pcm_s16le",
                     .sample_rate = 48000,
                     .channels = channels,
                     .seconds = 2.0,
                     .layout = layout,
                     .tone_per_channel = true};
}

struct Recipe {
    const char* name;
    const char* file;
    const char* holds;
    std::function<void(const std::string& path)> write;
};

std::function<void(const std::string&)> Write(MediaSpec wanted) {
    return [wanted](const std::string& path) { WriteMedia(path, wanted); };
}

std::vector<Recipe> Recipes() {
    VideoSpec bframes = MarkedVideo("libx264", {25, 1}, 3.0);
    bframes.b_frames = 2;
    VideoSpec rotated = MarkedVideo("libx264", {30, 1}, 2.0);
    rotated.rotation = 90;
    VideoSpec held = MarkedVideo("mpeg4", {25, 1}, 4.08);
    held.last_hold = 0.96; // 102 pictures, the last from 4.04 s to 5.00 s
    VideoSpec odd = MarkedVideo("mjpeg", {1000000, 66667}, 3.0);
    odd.pixel_format = "yuvj420p";
    VideoSpec odder = MarkedVideo("mjpeg", {78125, 417}, 3.0);
    odder.pixel_format = "yuvj420p";
    odder.width = 160;
    odder.height = 120;
    VideoSpec rgb = MarkedVideo("msvideo1", {15, 1}, 3.0);
    rgb.pixel_format = "rgb555le";
    // Sound only from 0.24 s, a burst and a bright picture right there.
    VideoSpec dvd{.codec = "mpeg2video",
                  .width = 720,
                  .height = 576,
                  .frame_rate = {25, 1},
                  .frames = 25,
                  .bit_rate = 2000000,
                  .markers = {{0.24, 0.2}}};
    return {
        {"sync_mp4", "sync.mp4", "H.264 + AAC with sync markers",
         Write({.video = MarkedVideo("libx264", {25, 1}, 3.0),
                .audio = MarkedAudio("aac", 44100, 3.0)})},
        {"late_mp4", "late_video.mp4", "video starting 0.5 s after the audio",
         Write({.video = MarkedVideo("libx264", {30, 1}, 3.0, 0.5),
                .audio = MarkedAudio("aac", 44100, 3.0)})},
        {"late_flv", "late_video.flv", "video starting 0.5 s after the audio",
         Write({.video = MarkedVideo("libx264", {30, 1}, 3.0, 0.5),
                .audio = MarkedAudio("aac", 44100, 3.0)})},
        {"late_mkv", "late_video.mkv", "video starting 0.5 s after the audio",
         Write({.video = MarkedVideo("mpeg4", {25, 1}, 3.0, 0.5),
                .audio = MarkedAudio("mp2", 48000, 3.0)})},
        {"late_ts", "late_video.ts", "video starting 0.12 s after the audio",
         Write({.video = MarkedVideo("mpeg2video", {25, 1}, 3.0, 0.12),
                .audio = MarkedAudio("mp2", 48000, 3.0)})},
        {"bframes_mp4", "bframes.mp4", "B-frames: a composition offset",
         Write({.video = bframes, .audio = MarkedAudio("aac", 44100, 3.0)})},
        {"rate12_mkv", "rate12.mkv", "12 fps",
         Write({.video = MarkedVideo("mpeg4", {12, 1}, 3.0),
                .audio = MarkedAudio("mp2", 48000, 3.0)})},
        {"rate15_mp4", "rate15.mp4", "15 fps",
         Write({.video = MarkedVideo("libx264", {15, 1}, 3.0),
                .audio = MarkedAudio("aac", 44100, 3.0)})},
        {"rate5_avi", "rate5.avi", "5 fps",
         Write({.video = MarkedVideo("mpeg4", {5, 1}, 3.0),
                .audio = MarkedAudio("mp2", 44100, 3.0)})},
        {"odd_rate_avi", "odd_rate.avi", "1000000/66667 fps",
         Write({.video = odd, .audio = MarkedAudio("mp2", 44100, 3.0)})},
        {"odder_rate_avi", "odder_rate.avi", "78125/417 fps",
         Write({.video = odder, .audio = MarkedAudio("mp2", 44100, 3.0)})},
        {"held_last_mp4", "held_last.mp4", "the last picture held 0.96 s",
         Write({.video = held, .audio = MarkedAudio("aac", 48000, 5.0)})},
        {"rotated_mp4", "rotated.mp4", "a portrait video, turned 90 degrees for display",
         Write({.video = rotated, .audio = MarkedAudio("aac", 48000, 2.0)})},
        {"elementary_m1v", "no_timestamps.m1v", "MPEG-1 elementary video, no timestamps",
         Write({.format = "mpeg1video", .video = MarkedVideo("mpeg1video", {25, 1}, 3.0)})},
        {"short_vob", "short.vob", "a 0.4 s DVD-style MPEG-PS",
         Write({.format = "dvd",
                .video = VideoSpec{.codec = "mpeg2video",
                                   .width = 720,
                                   .height = 576,
                                   .frame_rate = {25, 1},
                                   .frames = 10,
                                   .bit_rate = 2000000},
                .audio = AudioSpec{.sample_rate = 48000, .seconds = 0.4}})},
        {"msvideo1_mkv", "msvideo1_vorbis.mkv",
         "MS Video 1 (RGB) + Vorbis at 22050 Hz: its first packet decodes to nothing",
         Write({.video = rgb, .audio = MarkedAudio("libvorbis", 22050, 3.0)})},
        {"late_audio_vob", "late_audio.vob", "a 1 s DVD-style MPEG-PS, sound from 0.24 s",
         Write({.format = "dvd",
                .video = dvd,
                .audio = AudioSpec{.codec = "ac3",
                                   .sample_rate = 48000,
                                   .seconds = 0.76,
                                   .bursts = {{0.24, 0.2}, {0.98, 0.02}},
                                   .start = 0.24}})},
        {"subrip_mkv", "subrip.mkv", "three SubRip events",
         Write({.video = MarkedVideo("mpeg4", {25, 1}, 3.0),
                .audio = MarkedAudio("mp2", 48000, 3.0),
                .subtitles = {{0.5, 1.0}, {1.8, 0.7}, {2.6, 0.3}}})},
        {"cover_mp3", "cover.mp3", "MP3 with an attached picture",
         Write({.audio = MarkedAudio("libmp3lame", 44100, 3.0), .cover_art = true})},
        {"end_burst_wav", "end_burst.wav", "0.17 s, sound only in its last 25 ms",
         Write({.audio = AudioSpec{.codec = "pcm_s16le",
                                   .channels = 1,
                                   .seconds = 0.17,
                                   .bursts = {{0.145, 0.025}}}})},
        {"quad_wav", "quad.wav", "quad (4.0): a tone per channel",
         Write({.audio = Layout("quad", 4)})},
        {"l21_wav", "2_1.wav", "2.1: a tone per channel", Write({.audio = Layout("2.1", 3)})},
        {"l51side_wav", "5_1_side.wav", "5.1(side): a tone per channel",
         Write({.audio = Layout("5.1(side)", 6)})},
        {"one_picture_dv", "one_picture.dv", "one DV picture",
         Write({.video = VideoSpec{.codec = "dvvideo",
                                   .width = 720,
                                   .height = 576,
                                   .frame_rate = {25, 1},
                                   .frames = 1,
                                   .bit_rate = 0},
                .audio = AudioSpec{.codec = "pcm_s16le", .sample_rate = 48000, .seconds = 0.04}})},
        {"samples236_wav", "samples236.wav", "236 samples",
         Write({.audio = AudioSpec{.codec = "pcm_s16le", .seconds = 236.0 / 44100}})},
    };
}

} // namespace

const std::vector<GeneratedSource>& FidelitySources() {
    static const std::vector<GeneratedSource> sources = [] {
        std::vector<GeneratedSource> list;
        WithMediaCache("fidelity", [&](const std::string& folder, bool write) {
            for (const Recipe& recipe : Recipes()) {
                const std::string path = folder + "/" + recipe.file;
                if (write)
                    recipe.write(path);
                list.push_back({recipe.name, path, recipe.holds});
            }
        });
        return list;
    }();
    return sources;
}

const GeneratedSource& FidelitySource(const std::string& name) {
    for (const GeneratedSource& source : FidelitySources()) {
        if (source.name == name)
            return source;
    }
    throw std::invalid_argument("no generated source " + name);
}

} // namespace clipwright::testing
