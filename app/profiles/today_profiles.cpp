#include "app/profiles/today_profiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "FFMPEG/binding/text_format.h"
#include "app/profiles/catalogue.h"

namespace clipwright {

const char* const kKeepVideoWhenFits = "Keep the source's video when it fits";

namespace {

using Items = std::vector<std::string>;

const Items kSizes = {"Original",        "3840 x 2160 (4K)", "2560 x 1440", "1920 x 1080 (Full HD)",
                      "1280 x 720 (HD)", "854 x 480",        "640 x 360"};
// Constant-quality entries first, each mapped to the encoder's own scale, then bit rates.
const Items kQuality = {"High quality", "Balanced",   "Small file", "1000 Kbps",
                        "2000 Kbps",    "4000 Kbps",  "6000 Kbps",  "8000 Kbps",
                        "12000 Kbps",   "20000 Kbps", "40000 Kbps"};
const Items kFrameRates = {"Original", "24 fps", "25 fps", "30 fps", "50 fps", "60 fps"};
const Items kAudioRates = {"64 Kbps",  "96 Kbps",  "128 Kbps", "160 Kbps",
                           "192 Kbps", "256 Kbps", "320 Kbps"};
const Items kOpusRates = {"32 Kbps",  "48 Kbps",  "64 Kbps",  "96 Kbps",
                          "128 Kbps", "160 Kbps", "192 Kbps", "256 Kbps"};
const Items kSampling = {"Original", "48000 Hz", "44100 Hz"};
const Items kOpusSampling = {"48000 Hz"}; // the only rate of the three Opus takes
const Items kChannels = {"Original", "Stereo", "Mono"};
const char* const kCopyEveryStream = "Copy every stream";

// One video encoder of the group: its list text, the library's name, its quality scale for
// "High quality", "Balanced" and "Small file", and the settings it always gets.
struct VideoEncoder {
    const char* text;
    const char* library;
    int quality[3];
    const char* settings;
};

const VideoEncoder kH264 = {"H.264", "libx264", {20, 23, 28}, "profile=high\npreset=medium\n"};
// hvc1: the tag phones, TVs and the common desktop players open HEVC in MP4 by.
const VideoEncoder kHevc = {
    "H.265/HEVC", "libx265", {22, 26, 30}, "preset=fast\nx265-params=log-level=error\nvtag=hvc1\n"};
// Row multithreading and tile columns keep both cores busy.
const VideoEncoder kVp9 = {
    "VP9", "libvpx-vp9", {28, 33, 38}, "deadline=good\ncpu-used=4\nrow-mt=1\ntile-columns=2\n"};
const VideoEncoder kAv1 = {"AV1", "libsvtav1", {28, 35, 42}, "preset=8\n"};

// The leading number of a list text ("160 Kbps" → 160, "1920 x 1080" → 1920); 0 when none.
int LeadingNumber(const std::string& text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

void AppendLines(TOutputOptions& options, const std::string& lines) {
    options.ExtraOptions += lines;
}

void ClearVideoLists(ProfileLists& l) {
    for (ProfileList* list :
         {&l.ComboVideoCodec, &l.ComboVideoSize, &l.ComboVideoBitrate, &l.ComboVideoFramerate})
        list->Clear();
}

void FillAudioLists(ProfileLists& l, const char* codec, bool opus) {
    l.ComboAudioCodec.Replace({codec}, 0);
    l.ComboAudioBitrate.Replace(opus ? kOpusRates : kAudioRates,
                                IndexOfItem(opus ? kOpusRates : kAudioRates, "128 Kbps"));
    l.ComboSamplingRate.Replace(opus ? kOpusSampling : kSampling, 0);
    l.ComboAudioChannels.Replace(kChannels, 0);
    l.ComboAspectRatio.Select(0);
}

void FillVideoLists(ProfileLists& l, Items codecs, const std::string& size, const char* audio) {
    l.ComboVideoCodec.Replace(std::move(codecs), 0);
    l.ComboVideoSize.Replace(kSizes, IndexOfItem(kSizes, size));
    l.ComboVideoBitrate.Replace(kQuality, IndexOfItem(kQuality, "Balanced"));
    l.ComboVideoFramerate.Replace(kFrameRates, 0);
    FillAudioLists(l, audio, std::string(audio) == "Opus");
}

void FillH264(ProfileLists& l) {
    FillVideoLists(l, {kKeepVideoWhenFits, kH264.text}, "1920 x 1080 (Full HD)", "AAC");
}
void FillHevc(ProfileLists& l) {
    FillVideoLists(l, {kKeepVideoWhenFits, kHevc.text}, "Original", "AAC");
}
void FillVp9(ProfileLists& l) {
    FillVideoLists(l, {kVp9.text}, "Original", "Opus");
}
void FillAv1(ProfileLists& l) {
    FillVideoLists(l, {kAv1.text}, "Original", "Opus");
}
void FillRemux(ProfileLists& l) {
    ClearVideoLists(l);
    l.ComboVideoCodec.Replace({kCopyEveryStream}, 0);
    l.ComboAudioCodec.Clear();
    l.ComboAudioBitrate.Clear();
    l.ComboSamplingRate.Clear();
    l.ComboAudioChannels.Replace({"Original"}, 0);
    l.ComboAspectRatio.Select(0);
}
void FillFlac(ProfileLists& l) {
    ClearVideoLists(l);
    FillAudioLists(l, "FLAC", false);
    l.ComboAudioBitrate.Clear(); // lossless: no rate to choose
}
void FillOpus(ProfileLists& l) {
    ClearVideoLists(l);
    FillAudioLists(l, "Opus", true);
}
void FillVorbis(ProfileLists& l) {
    ClearVideoLists(l);
    FillAudioLists(l, "Vorbis", false);
    l.ComboAudioBitrate.Select(IndexOfItem(kAudioRates, "160 Kbps"));
}

std::string AudioEncoderOf(const std::string& text) {
    static const std::pair<const char*, const char*> kEncoders[] = {
        {"AAC", "aac"}, {"Opus", "libopus"}, {"Vorbis", "libvorbis"}, {"FLAC", "flac"}};
    for (const auto& [from, to] : kEncoders) {
        if (text == from)
            return to;
    }
    return LowerAscii(text);
}

// Vorbis asked for a fixed rate refuses rates it cannot reach at low sampling rates or with
// few channels; its quality scale has none, and these steps give about the rates named for
// stereo at 44.1 or 48 kHz.
int VorbisQuality(int kbps) {
    static const std::pair<int, int> kSteps[] = {{64, 0},  {96, 2},  {128, 4}, {160, 5},
                                                 {192, 6}, {256, 8}, {320, 9}};
    for (const auto& [rate, quality] : kSteps) {
        if (kbps <= rate)
            return quality;
    }
    return 10;
}

// Codec, rate, sampling and channels of the audio lists; the source's tags go along.
void BuildAudio(const ProfileLists& l, TOutputOptions& o) {
    o.AudioCodec = AudioEncoderOf(l.ComboAudioCodec.Text());
    const int bit_rate = LeadingNumber(l.ComboAudioBitrate.Text());
    if (o.AudioCodec == "libvorbis" && bit_rate > 0)
        AppendLines(o, "aq=" + std::to_string(VorbisQuality(bit_rate)) + "\n");
    else if (bit_rate > 0)
        o.AudioBitrate = bit_rate * 1000;
    const int sampling = LeadingNumber(l.ComboSamplingRate.Text());
    if (sampling > 0)
        o.AudioSampleRate = sampling;
    const std::string channels = l.ComboAudioChannels.Text();
    if (channels == "Stereo")
        o.AudioChannels = 2;
    else if (channels == "Mono")
        o.AudioChannels = 1;
    AppendLines(o, "map_meta_data=0:0\n");
}

void BuildVideo(const ProfileLists& l, const VideoEncoder& encoder, TOutputOptions& o) {
    o.VideoCodec = encoder.library;
    AppendLines(o, encoder.settings);
    const std::string quality = l.ComboVideoBitrate.Text();
    const int level = IndexOfItem(kQuality, quality);
    if (level >= 0 && level < 3)
        AppendLines(o, "crf=" + std::to_string(encoder.quality[level]) + "\n");
    else
        o.VideoBitrate = LeadingNumber(quality) * 1000;
    const int rate = LeadingNumber(l.ComboVideoFramerate.Text());
    if (rate > 0)
        o.FrameRate = std::to_string(rate);
    BuildAudio(l, o);
}

void BuildH264(const ProfileLists& l, const std::string&, TOutputOptions& o) {
    BuildVideo(l, kH264, o);
    AppendLines(o, "movflags=+faststart\n"); // the index first: it plays while it downloads
}
void BuildHevc(const ProfileLists& l, const std::string&, TOutputOptions& o) {
    BuildVideo(l, kHevc, o);
    AppendLines(o, "movflags=+faststart\n");
}
// WebM takes only WebVTT text subtitles; the sources' are often pictures.
void BuildVp9(const ProfileLists& l, const std::string&, TOutputOptions& o) {
    BuildVideo(l, kVp9, o);
    o.DisableSubtitle = true;
}
void BuildAv1(const ProfileLists& l, const std::string&, TOutputOptions& o) {
    BuildVideo(l, kAv1, o);
    o.DisableSubtitle = true;
}
void BuildRemux(const ProfileLists&, const std::string&, TOutputOptions& o) {
    AppendLines(o, "map_all=1\n");
}
void BuildMp4Remux(const ProfileLists& l, const std::string& type, TOutputOptions& o) {
    BuildRemux(l, type, o);
    AppendLines(o, "movflags=+faststart\n");
}
void BuildAudioOnly(const ProfileLists& l, const std::string&, TOutputOptions& o) {
    BuildAudio(l, o);
    o.DisableVideo = true;
    o.DisableSubtitle = true;
}

bool TenBits(const std::string& pixel_format) {
    return pixel_format.find("p10") != std::string::npos ||
           pixel_format.find("p12") != std::string::npos ||
           pixel_format.find("p016") != std::string::npos ||
           pixel_format.find("p010") != std::string::npos;
}

// The H.264 levels a box promises to stay within (what its size at 60 fps needs).
int MaxH264Level(const std::string& box) {
    const int width = LeadingNumber(box);
    if (width == 0 || width > 1920)
        return 52;
    return width > 1280 ? 42 : 32;
}

// Why the source's video cannot be copied as it is; empty when it can.
std::string VideoMisfit(const ProfileLists& l, const SourceFacts& s, bool hevc) {
    if (!s.has_video)
        return "the source has no video";
    const std::string codec = hevc ? "hevc" : "h264";
    if (s.video_codec != codec)
        return "it is " + s.video_codec + ", not " + codec;
    if (hevc ? (s.video_profile != 1 && s.video_profile != 2)
             : (s.video_profile != 66 && s.video_profile != 578 && s.video_profile != 77 &&
                s.video_profile != 100))
        return "its profile is not one the players take";
    if (s.pixel_format != "yuv420p" && s.pixel_format != "yuvj420p" &&
        !(hevc && s.pixel_format == "yuv420p10le"))
        return "its pictures are " + s.pixel_format;
    const std::string box = l.ComboVideoSize.Text();
    if (!hevc && (s.video_level <= 0 || s.video_level > MaxH264Level(box)))
        return "its level is above what the size promises";
    if (!FitInBox(box, s.width, s.height, s.display_aspect).empty() || s.width % 2 != 0 ||
        s.height % 2 != 0)
        return "its size does not fit the chosen size";
    const int rate = LeadingNumber(l.ComboVideoFramerate.Text());
    if (rate > 0 &&
        (s.frame_rate_den <= 0 ||
         std::abs(static_cast<double>(s.frame_rate_num) / s.frame_rate_den - rate) > 0.01))
        return "its frame rate is not the chosen one";
    return "";
}

// Whether the source's sound already is what the lists ask for (AAC-LC at or under the rate,
// the channels and sampling asked) and the volume leaves it as it is.
bool AudioFits(const SourceFacts& s, const TOutputOptions& o) {
    if (!s.has_audio || s.audio_codec != "aac" || s.audio_profile != 1 || s.audio_bit_rate <= 0)
        return false;
    if (o.AudioVolume != 256 && o.AudioVolume != 255 && o.AudioVolume >= 0)
        return false;
    if (o.AudioBitrate > 0 && s.audio_bit_rate > o.AudioBitrate)
        return false;
    if (o.AudioChannels > 0 && s.audio_channels != o.AudioChannels)
        return false;
    return !(o.AudioSampleRate > 0 && s.audio_sample_rate != o.AudioSampleRate);
}

// "Original" channels and sampling are the first audio stream's, the one converted: the
// engine's own default is the last stream's.
void KeepSourceSound(const SourceFacts& s, TOutputOptions& o) {
    if (!s.has_audio)
        return;
    if (o.AudioChannels <= 0 && s.audio_channels > 0)
        o.AudioChannels = s.audio_channels;
    if (o.AudioSampleRate <= 0 && s.audio_sample_rate > 0)
        o.AudioSampleRate = s.audio_sample_rate;
}

// Size, bit depth and an even picture for every re-encoding video profile.
void FitPicture(const ProfileLists& l, const SourceFacts& s, TOutputOptions& o, bool keep_depth) {
    KeepSourceSound(s, o);
    if (!s.has_video)
        return;
    o.FrameSize = FitInBox(l.ComboVideoSize.Text(), s.width, s.height, s.display_aspect);
    AppendLines(o, keep_depth && TenBits(s.pixel_format) ? "pix_fmt=yuv420p10le\n"
                                                         : "pix_fmt=yuv420p\n");
    // Today's players and screens show whole pictures: fields would show as combs.
    if (s.interlaced)
        AppendLines(o, "deinterlace=1\n");
}

std::string AdaptCopyable(const ProfileLists& l, const SourceFacts& s, TOutputOptions& o,
                          std::vector<std::string>& notes, bool hevc) {
    if (std::string refusal = MissingStream(s, true); !refusal.empty())
        return refusal;
    KeepSourceSound(s, o);
    const bool keep = l.ComboVideoCodec.Text() == kKeepVideoWhenFits;
    const std::string misfit = keep ? VideoMisfit(l, s, hevc) : "not asked";
    if (keep && misfit.empty()) {
        o.VideoCodec = "copy";
        o.VideoBitrate = -1;
        o.FrameRate.clear();
        notes.push_back("Video kept as it is: " + s.video_codec + " " + std::to_string(s.width) +
                        "x" + std::to_string(s.height) + " already fits");
    } else {
        if (keep)
            notes.push_back("Video re-encoded: " + misfit);
        FitPicture(l, s, o, hevc);
    }
    if (keep && AudioFits(s, o)) {
        o.AudioCodec = "copy";
        o.AudioBitrate = -1;
        o.AudioVolume = 256;
        notes.push_back("Audio kept as it is: AAC " + std::to_string(s.audio_bit_rate / 1000) +
                        " kbps already fits");
    }
    return "";
}

std::string AdaptH264(const ProfileLists& l, const SourceFacts& s, TOutputOptions& o,
                      std::vector<std::string>& notes) {
    return AdaptCopyable(l, s, o, notes, false);
}
std::string AdaptHevc(const ProfileLists& l, const SourceFacts& s, TOutputOptions& o,
                      std::vector<std::string>& notes) {
    return AdaptCopyable(l, s, o, notes, true);
}
std::string AdaptVp9(const ProfileLists& l, const SourceFacts& s, TOutputOptions& o,
                     std::vector<std::string>&) {
    FitPicture(l, s, o, false);
    return MissingStream(s, true);
}
std::string AdaptAv1(const ProfileLists& l, const SourceFacts& s, TOutputOptions& o,
                     std::vector<std::string>&) {
    FitPicture(l, s, o, true);
    return MissingStream(s, true);
}
std::string AdaptAudioOnly(const ProfileLists&, const SourceFacts& s, TOutputOptions& o,
                           std::vector<std::string>&) {
    KeepSourceSound(s, o);
    return MissingStream(s, false);
}
// Copies take neither a volume nor an aspect.
std::string AdaptRemux(const ProfileLists&, const SourceFacts&, TOutputOptions& o,
                       std::vector<std::string>& notes) {
    if (o.AudioVolume >= 0 && o.AudioVolume != 255 && o.AudioVolume != 256)
        notes.push_back("The volume is left as it is: every stream is copied");
    o.AudioVolume = 256;
    o.AspectRatio.clear();
    return "";
}

} // namespace

std::string MissingStream(const SourceFacts& s, bool video) {
    if (!s.probed)
        return "";
    if (video && !s.has_video)
        return "The source has no video; a video profile needs video.";
    if (!video && !s.has_audio)
        return "The source has no sound; an audio profile needs sound.";
    return "";
}

std::string FitInBox(const std::string& box_text, int width, int height, double display_aspect) {
    if (width <= 0 || height <= 0)
        return "";
    const std::string same =
        width % 2 == 0 && height % 2 == 0
            ? ""
            : std::to_string(width - width % 2) + "x" + std::to_string(height - height % 2);
    int box_width = LeadingNumber(box_text);
    const size_t x = box_text.find(" x ");
    int box_height = x == std::string::npos ? 0 : LeadingNumber(box_text.substr(x + 3));
    if (box_width <= 0 || box_height <= 0) // "Original"
        return same;
    // The picture as shown: anamorphic pixels widen or narrow it; the height stays.
    const double aspect = std::isfinite(display_aspect) && display_aspect > 0
                              ? display_aspect
                              : static_cast<double>(width) / height;
    const double shown_width = height * aspect;
    const double shown_height = height;
    if (shown_height > shown_width)
        std::swap(box_width, box_height);
    // Already inside the box: the source's own pixels, its aspect carried by the stream.
    if (width <= box_width && height <= box_height)
        return same;
    const double scale = std::min({1.0, box_width / shown_width, box_height / shown_height});
    const auto even = [](double side) { return std::max(2, 2 * static_cast<int>(side / 2 + 0.5)); };
    return std::to_string(even(shown_width * scale)) + "x" +
           std::to_string(even(shown_height * scale));
}

const std::vector<ProfileEntry>& TodayProfiles() {
    static const std::vector<ProfileEntry> profiles = {
        {"MP4 - H.264 + AAC, plays everywhere (*.mp4)", "MP4", FillH264, BuildH264, AdaptH264},
        {"MP4 - H.265/HEVC + AAC (*.mp4)", "MP4", FillHevc, BuildHevc, AdaptHevc},
        {"WebM - VP9 + Opus (*.webm)", "WEBM", FillVp9, BuildVp9, AdaptVp9},
        {"WebM - AV1 + Opus (*.webm)", "WEBM", FillAv1, BuildAv1, AdaptAv1},
        {"MKV - Keep every stream, no re-encoding (*.mkv)", "MKV", FillRemux, BuildRemux,
         AdaptRemux},
        {"MP4 - Keep streams, no re-encoding (*.mp4)", "MP4", FillRemux, BuildMp4Remux, AdaptRemux},
        {"FLAC - Lossless Audio (*.flac)", "FLAC", FillFlac, BuildAudioOnly, AdaptAudioOnly},
        {"Opus Audio (*.opus)", "OPUS", FillOpus, BuildAudioOnly, AdaptAudioOnly},
        {"OGG Vorbis Audio (*.ogg)", "OGG", FillVorbis, BuildAudioOnly, AdaptAudioOnly},
    };
    return profiles;
}

} // namespace clipwright
