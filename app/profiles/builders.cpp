#include "app/profiles/builders.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

namespace {

// The part before the first space; a text without a space gives nothing.
std::string CutAtSpace(const std::string& text) {
    const size_t space = text.find(' ');
    return space == std::string::npos ? std::string() : text.substr(0, space);
}

// A decimal integer, the whole text; anything else fails the job build.
int32_t ToInteger(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument("'" + text + "' is not a valid integer value");
    return static_cast<int32_t>(std::stol(text));
}

bool IsAudioOnlyType(const std::string& output_type) {
    const std::string type = LowerAscii(output_type);
    for (const char* audio :
         {"aac", "ac3", "au", "mp2", "mp3", "wav", "wma", "ra", "m4a", "asf", "amr"}) {
        if (type == audio)
            return true;
    }
    return false;
}

std::string MapVideoCodec(const std::string& text) {
    const std::string codec = LowerAscii(text);
    if (codec == "h264")
        return "libx264";
    if (codec == "xvid")
        return "libxvid";
    if (codec == "wmv2x")
        return "wmv2";
    if (codec == "mpeg4_qt")
        return "mpeg4";
    return codec;
}

// The mobile and iPod builders know only these two names.
std::string MapDeviceVideoCodec(const std::string& text) {
    const std::string codec = LowerAscii(text);
    if (codec == "h264")
        return "libx264";
    if (codec == "xvid")
        return "libxvid";
    return codec;
}

std::string MapAudioCodec(const std::string& text) {
    static const std::pair<const char*, const char*> kMap[] = {
        {"aac", "libfaac"},         {"ac3", "ac3"},
        {"flac", "flac"},           {"asf", "mp3"},
        {"mp3", "libmp3lame"},      {"m4a", "mpeg4aac"},
        {"mpeg4aac", "libfaac"},    {"ra", "ac3"},
        {"wma7x", "wmav2"},         {"wav", "pcm_s16le"},
        {"mpeg4aac_qt", "libfaac"}, {"amr_nb", "libamr_nb"}};
    const std::string codec = LowerAscii(text);
    for (const auto& [from, to] : kMap) {
        if (codec == from)
            return to;
    }
    return codec;
}

void AppendExtra(TOutputOptions& options, const std::string& line) {
    if (!options.ExtraOptions.empty() && options.ExtraOptions.back() != '\n')
        options.ExtraOptions += '\n';
    options.ExtraOptions += line + "\n";
}

// The frame-rate list used to stop at the window; it reaches the engine now.
void SetFrameRate(const ProfileLists& lists, TOutputOptions& options) {
    options.FrameRate = FrameRateOfText(lists.ComboVideoFramerate.Text());
}

// H.264 for the players: Baseline, at the level their size needs.
void AddBaseline(const ProfileLists& lists, TOutputOptions& options, const char* level) {
    if (LowerAscii(lists.ComboVideoCodec.Text()) != "h264")
        return;
    AppendExtra(options, "profile=baseline");
    AppendExtra(options, std::string("level=") + level);
}

} // namespace

std::string GetFrameSize(const std::string& size_text) {
    std::string text = size_text;
    const size_t paren = text.find('(');
    if (paren != std::string::npos)
        text = text.substr(0, paren);
    if (text == "Original Video Size")
        return "original";
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

std::string FrameRateOfText(const std::string& rate_text) {
    const std::string number = rate_text.substr(0, rate_text.find(' '));
    if (number.empty() || number == "Auto")
        return "";
    if (number == "14.985")
        return "15000/1001";
    if (number == "23.975")
        return "24000/1001";
    if (number == "29.97")
        return "30000/1001";
    return number;
}

void GetAudioVideoCodec(const ProfileLists& lists, const std::string& output_type,
                        TOutputOptions& options) {
    const std::string video_bit_rate = lists.ComboVideoBitrate.Text();
    const std::string audio_bit_rate = lists.ComboAudioBitrate.Text();
    const std::string sampling_rate = lists.ComboSamplingRate.Text();
    const std::string size = lists.ComboVideoSize.Text();
    const int32_t vb = ToInteger(CutAtSpace(video_bit_rate) + "000");
    const int32_t ab = audio_bit_rate.find("Kbps") != std::string::npos
                           ? ToInteger(CutAtSpace(audio_bit_rate) + "000")
                           : ToInteger(CutAtSpace(audio_bit_rate));
    const int32_t sr = ToInteger(CutAtSpace(sampling_rate));
    options.VideoCodec = MapVideoCodec(lists.ComboVideoCodec.Text());
    options.AudioCodec = MapAudioCodec(lists.ComboAudioCodec.Text());
    // "Auto" (the portable players' lists) keeps the source size, as "Original" does: as a
    // size text it failed every such job.
    if (size != "Original Video Size" && size != "Auto")
        options.FrameSize = GetFrameSize(size);
    if (lists.ComboAspectRatio.Text() != "Original")
        options.AspectRatio = lists.ComboAspectRatio.Text();
    options.AudioChannels = lists.ComboAudioChannels.Text() == "Stereo" ? 2 : 1;
    if (output_type == "3GP" || output_type == "3G2")
        options.AudioChannels = 1;
    if (IsAudioOnlyType(output_type))
        options.DisableVideo = true;
    options.VideoBitrate = vb;
    options.AudioBitrate = ab;
    options.AudioSampleRate = sr;
    SetFrameRate(lists, options);
}

void BuildMobileOptions(const ProfileLists& lists, const std::string& /*output_type*/,
                        TOutputOptions& options) {
    const int32_t vb = ToInteger(CutAtSpace(lists.ComboVideoBitrate.Text()) + "000");
    const int32_t ab = ToInteger(CutAtSpace(lists.ComboAudioBitrate.Text()));
    const int32_t sr = ToInteger(CutAtSpace(lists.ComboSamplingRate.Text()));
    options.VideoCodec = MapDeviceVideoCodec(lists.ComboVideoCodec.Text());
    options.AudioCodec = "libamr_nb";
    options.FrameSize = GetFrameSize(lists.ComboVideoSize.Text());
    options.AudioChannels = 1;
    options.VideoBitrate = vb;
    options.AudioBitrate = ab;
    options.AudioSampleRate = sr;
    SetFrameRate(lists, options);
    AddBaseline(lists, options, "30");
}

void BuildIPodOptions(const ProfileLists& lists, const std::string& /*output_type*/,
                      TOutputOptions& options) {
    const int32_t vb = ToInteger(CutAtSpace(lists.ComboVideoBitrate.Text()) + "000");
    const int32_t ab = ToInteger(CutAtSpace(lists.ComboAudioBitrate.Text()) + "000");
    const int32_t sr = ToInteger(CutAtSpace(lists.ComboSamplingRate.Text()));
    options.VideoCodec = MapDeviceVideoCodec(lists.ComboVideoCodec.Text());
    options.AudioCodec = "libfaac";
    options.FrameSize = GetFrameSize(lists.ComboVideoSize.Text());
    options.VideoBitrate = vb;
    options.AudioBitrate = ab;
    options.AudioSampleRate = sr;
    SetFrameRate(lists, options);
    // The first iPods play H.264 up to level 1.3 at 320x240; the larger sizes need 3.0.
    AddBaseline(lists, options, options.FrameSize == "320x240" ? "13" : "30");
}

void BuildIPodTouchOptions(const ProfileLists& lists, const std::string& output_type,
                           TOutputOptions& options) {
    BuildIPodOptions(lists, output_type, options);
}

void BuildDeviceOptions(const ProfileLists& lists, const std::string& output_type,
                        TOutputOptions& options) {
    GetAudioVideoCodec(lists, output_type, options);
    AddBaseline(lists, options, "30");
}

void BuildAviOptions(const ProfileLists& lists, const std::string& output_type,
                     TOutputOptions& options) {
    GetAudioVideoCodec(lists, output_type, options);
    if (options.VideoCodec == "mpeg4")
        AppendExtra(options, "vtag=XVID");
}

void BuildDivxOptions(const ProfileLists& lists, const std::string& output_type,
                      TOutputOptions& options) {
    GetAudioVideoCodec(lists, output_type, options);
    if (options.VideoCodec == "mpeg4")
        AppendExtra(options, "vtag=DX50");
}

std::string VolumeLabel(int position) {
    if (position < 0 || position > 10)
        return "100%";
    return std::to_string(position * 20) + "%";
}

int VolumeLevel(int position) {
    static const int kLevels[] = {1, 50, 100, 150, 200, 255, 300, 350, 400, 450, 600};
    return position >= 0 && position <= 10 ? kLevels[position] : 255;
}

std::string DisplayAspectValue(int aspect_index, const std::string& video_size_text) {
    if (aspect_index == 1)
        return "4:3";
    if (aspect_index == 2)
        return "16:9";
    std::string text = video_size_text;
    text.erase(0, text.find_first_not_of(" \t"));
    text.erase(text.find_last_not_of(" \t") + 1);
    if (text.empty())
        text = "640x480";
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return "1.3333";
    const std::string width_text = text.substr(0, x);
    const std::string height_text = text.substr(x + 1);
    const CDouble width = ReadCDouble(width_text);
    if (width_text.empty() || width.used != width_text.size())
        return "1.3333";
    const CDouble height = ReadCDouble(height_text);
    if (height_text.empty() || height.used != height_text.size() || height.value == 0)
        return "1.3333";
    return AspectRatioText(width.value / height.value);
}

std::string AspectRatioText(double ratio) {
    return DecimalText(std::nearbyint(ratio * 10000.0) / 10000.0, 4);
}

} // namespace clipwright
