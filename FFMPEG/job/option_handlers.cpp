// The option handlers that do more than store a converted value. Each either changes settings
// or throws FFMpegException with the text the user sees; settings stored before a failing
// handler stay stored.
#include "FFMPEG/job/option_handlers.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

namespace {

const char* const kCropSide[] = {"Top", "Bottom", "Left", "Right"};

// A C integer (decimal, 0x hexadecimal or leading-zero octal) at *p; advances past it.
int32_t ReadCInteger(const char*& p) {
    char* end = nullptr;
    const long value = std::strtol(p, &end, 0);
    p = end;
    return static_cast<int32_t>(value);
}

void SkipOne(const char*& p) {
    if (*p != '\0')
        ++p;
}

int64_t ParseTimeValue(const std::string& option, const std::string& value, bool duration) {
    int64_t us = INT64_MIN;
    if (av().av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0 || us == INT64_MIN)
        throw FFMpegException(FormatText("Invalid %s specification for %s: %s",
                                         duration ? "duration" : "date", option.c_str(),
                                         value.c_str()));
    return us;
}

// "pgmyuv" is read as "image2", with the compatibility flag and a warning.
std::string CompatibleFormatName(OptionContext& context, const std::string& name) {
    if (name != "pgmyuv")
        return name;
    context.Options().pgmyuv_compat = 1;
    context.Log(kInfoLevel, "pgmyuv format is deprecated, use image2");
    return "image2";
}

} // namespace

void OptFormat(OptionContext& context, const std::string& raw) {
    OptionState& options = context.Options();
    if (raw.empty())
        return;
    const std::string name = CompatibleFormatName(context, raw);
    options.forced_input_format = av().av_find_input_format(name.c_str());
    options.forced_output_format = av().av_guess_format(name.c_str(), nullptr, nullptr);
    if (options.forced_input_format == nullptr && options.forced_output_format == nullptr)
        throw FFMpegException(FormatText("Unknown input or output format: %s", name.c_str()));
}

void OptInputFormat(OptionContext& context, const std::string& raw) {
    if (raw.empty())
        return;
    const std::string name = CompatibleFormatName(context, raw);
    const AVInputFormat* format = av().av_find_input_format(name.c_str());
    if (format == nullptr)
        throw FFMpegException(FormatText("Unknown input format: %s", name.c_str()));
    context.Options().forced_input_format = format;
}

void OptOutputFormat(OptionContext& context, const std::string& raw) {
    if (raw.empty())
        return;
    const std::string name = CompatibleFormatName(context, raw);
    const AVOutputFormat* format = av().av_guess_format(name.c_str(), nullptr, nullptr);
    if (format == nullptr)
        throw FFMpegException(FormatText("Unknown output format: %s", name.c_str()));
    context.Options().forced_output_format = format;
}

void OptMap(OptionContext& context, const std::string& value) {
    OptionState& options = context.Options();
    if (options.stream_maps.size() >= kMaxStreamMaps)
        throw FFMpegException(FormatText("Too many stream maps (at most %d)", kMaxStreamMaps));
    const char* p = value.c_str();
    TStreamMap map;
    map.File = ReadCInteger(p);
    SkipOne(p);
    map.Stream = ReadCInteger(p);
    if (*p != '\0') {
        ++p;
        map.SyncFile = ReadCInteger(p);
        SkipOne(p);
        map.SyncStream = ReadCInteger(p);
    } else {
        map.SyncFile = map.File;
        map.SyncStream = map.Stream;
    }
    options.stream_maps.push_back(map);
}

void OptMapMetaData(OptionContext& context, const std::string& value) {
    OptionState& options = context.Options();
    if (options.meta_data_maps.size() >= kMaxStreamMaps)
        throw FFMpegException(FormatText("Too many metadata maps (at most %d)", kMaxStreamMaps));
    const char* p = value.c_str();
    TMetaDataMap map;
    map.OutFile = ReadCInteger(p);
    SkipOne(p);
    map.InFile = ReadCInteger(p);
    options.meta_data_maps.push_back(map);
}

void OptInputTsScale(OptionContext& context, const std::string& value) {
    const char* p = value.c_str();
    const int32_t stream = ReadCInteger(p);
    SkipOne(p);
    const double scale = ReadCDouble(p).value;
    if (stream < 0 || stream >= kMaxStreams)
        throw FFMpegException(FormatText("stream index over MAX_STREAMS(%d)", kMaxStreams));
    const size_t next_input = context.Inputs().size();
    if (next_input >= static_cast<size_t>(kMaxFiles))
        throw FFMpegException(FormatText("Too many input files (at most %d)", kMaxFiles));
    context.Options().input_ts_scale[next_input][stream] = scale;
}

void OptRecordingTime(OptionContext& context, const std::string& value) {
    const int64_t ms = ParseTimeValue("t", value, true) / 1000;
    if (ms > 0) {
        context.Options().recording_time = ms * 1000;
        context.SetTotalDurationMs(ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms));
    }
}

void OptStartTime(OptionContext& context, const std::string& value) {
    context.Options().start_time = ParseTimeValue("ss", value, true);
}

void OptInputTsOffset(OptionContext& context, const std::string& value) {
    context.Options().input_ts_offset = ParseTimeValue("itsoffset", value, true);
}

void OptRecordingTimestamp(OptionContext& context, const std::string& value) {
    const int64_t us = ParseTimeValue("timestamp", value, false);
    context.Options().recording_timestamp = static_cast<int64_t>(std::llround(us / 1000000.0));
}

void OptVerbosity(OptionContext& context, const std::string& value) {
    context.SetVerbosity(ParseInteger(value));
}

void OptBitRate(OptionContext& context, const std::string& name, const std::string& value) {
    if (name.empty() || value.empty())
        return;
    if (!context.SetGenericOption(name, value) || !context.Logging())
        return;
    int64_t bit_rate = 0;
    av().av_opt_get_int(context.CodecHolder(name[0] == 'a' ? 1 : 0), "b", 0, &bit_rate);
    if (bit_rate < 1000)
        context.Log(kInfoLevel,
                    "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, "
                    "not kbits/s");
}

void OptFrameRate(OptionContext& context, const std::string& value) {
    if (value.empty())
        return;
    AVRational rate{0, 0};
    if (av().av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFMpegException("Incorrect frame rate");
    context.Options().frame_rate = {rate.num, rate.den};
}

void OptFrameSize(OptionContext& context, const std::string& value) {
    OptionState& options = context.Options();
    if (value.empty())
        return;
    int width = 0;
    int height = 0;
    if (av().av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFMpegException("Incorrect frame size");
    options.frame_width = width;
    options.frame_height = height;
    if (width % 2 != 0 || height % 2 != 0)
        throw FFMpegException("Frame size must be a multiple of 2");
}

void OptFrameAspectRatio(OptionContext& context, const std::string& value) {
    if (value.empty())
        return;
    context.Options().frame_aspect_ratio = static_cast<float>(ParseAspectRatio(value));
}

void OptFramePixFmt(OptionContext& context, const std::string& value) {
    if (value != "list") {
        context.Options().frame_pix_fmt = av().av_get_pix_fmt(value.c_str());
        return;
    }
    if (!context.Logging())
        return;
    for (int format = -1; format <= 39; ++format) {
        char line[128] = {};
        av().av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(format));
        context.Log(kInfoLevel, Trimmed(line));
    }
}

void OptCrop(OptionContext& context, int side, const std::string& value) {
    OptionState& options = context.Options();
    const int32_t crop = ParseInteger(value);
    if (crop < 0)
        return;
    if (crop % 2 != 0)
        throw FFMpegException(FormatText("%s crop size must be a multiple of 2", kCropSide[side]));
    const bool vertical = side < 2;
    int32_t& extent = vertical ? options.frame_height : options.frame_width;
    if (crop >= extent)
        throw FFMpegException(FormatText("%s crop dimensions are outside the range of the "
                                         "original image.\nRemember to crop first and scale "
                                         "second.",
                                         vertical ? "Vertical" : "Horizontal"));
    int32_t* bands[] = {&options.frame_topband, &options.frame_bottomband, &options.frame_leftband,
                        &options.frame_rightband};
    *bands[side] = crop;
    extent -= crop;
}

void OptPad(OptionContext& context, int side, const std::string& value) {
    OptionState& options = context.Options();
    const int32_t pad = ParseInteger(value);
    if (pad < 0)
        return;
    if (pad % 2 != 0)
        throw FFMpegException(FormatText("%s pad size must be a multiple of 2", kCropSide[side]));
    int32_t* bands[] = {&options.frame_padtop, &options.frame_padbottom, &options.frame_padleft,
                        &options.frame_padright};
    *bands[side] = pad;
}

void OptPadColor(OptionContext& context, const std::string& value) {
    OptionState& options = context.Options();
    const uint32_t rgb = static_cast<uint32_t>(ParseInteger(value));
    const int r = rgb & 0xff;
    const int g = (rgb >> 8) & 0xff;
    const int b = (rgb >> 16) & 0xff;
    // Full-range (JPEG) conversion in 10-bit fixed point; >> on a negative sum is arithmetic.
    options.padcolor[0] = (307 * r + 602 * g + 117 * b + 512) >> 10;
    options.padcolor[1] = ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128;
    options.padcolor[2] = ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128;
}

void OptQScale(OptionContext& context, const std::string& value) {
    const float scale = ParseReal(value);
    if (scale <= 0.0f || scale > 255.0f)
        throw FFMpegException("qscale must be > 0.0 and <= 255");
    context.Options().video_qscale = scale;
}

void OptCodec(OptionContext& context, int media_type, const std::string& value) {
    OptionState& options = context.Options();
    if (value.empty())
        return;
    std::optional<std::string>& name = media_type == AVMEDIA_TYPE_VIDEO ? options.video_codec_name
                                       : media_type == AVMEDIA_TYPE_AUDIO
                                           ? options.audio_codec_name
                                           : options.subtitle_codec_name;
    int32_t& copy = media_type == AVMEDIA_TYPE_VIDEO   ? options.video_stream_copy
                    : media_type == AVMEDIA_TYPE_AUDIO ? options.audio_stream_copy
                                                       : options.subtitle_stream_copy;
    name.reset();
    if (value == "copy")
        copy = 1;
    else
        name = value;
}

namespace {

void SetCodecTag(OptionContext& context, bool video, const std::string& value) {
    OptionState& options = context.Options();
    if (value.empty())
        return;
    if (value.size() != 4)
        throw std::logic_error(video ? "video tag parameter must be 4 chars"
                                     : "audio tag parameter must be 4 chars");
    uint32_t tag = 0;
    for (int i = 3; i >= 0; --i)
        tag = tag << 8 | static_cast<unsigned char>(value[i]);
    (video ? options.video_codec_tag : options.audio_codec_tag) = tag;
}

} // namespace

void OptVideoTag(OptionContext& context, const std::string& value) {
    SetCodecTag(context, true, value);
}

void OptAudioTag(OptionContext& context, const std::string& value) {
    SetCodecTag(context, false, value);
}

void OptPass(OptionContext& context, const std::string& value) {
    const int32_t pass = ParseInteger(value);
    if (pass != 1 && pass != 2)
        throw FFMpegException("pass number can be only 1 or 2");
    context.Options().do_pass = pass;
}

namespace {

void ReadMatrix(OptionContext& context, bool intra, const std::string& value) {
    OptionState& options = context.Options();
    std::optional<QuantMatrix>& matrix = intra ? options.intra_matrix : options.inter_matrix;
    matrix = QuantMatrix{};
    const char* p = value.c_str();
    for (int i = 0; i < 64; ++i) {
        uint32_t number = 0;
        while (*p >= '0' && *p <= '9')
            number = number * 10 + static_cast<uint32_t>(*p++ - '0');
        (*matrix)[i] = static_cast<uint16_t>(number);
        if (i == 63)
            break;
        p = std::strchr(p, ',');
        if (p == nullptr)
            throw FFMpegException(
                FormatText("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
        ++p;
    }
}

} // namespace

void OptIntraMatrix(OptionContext& context, const std::string& value) {
    ReadMatrix(context, true, value);
}

void OptInterMatrix(OptionContext& context, const std::string& value) {
    ReadMatrix(context, false, value);
}

void OptVStats(OptionContext& context, const std::string&) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    context.Options().vstats_filename =
        FormatText("%s/vstats_%s.log", ProgramFolder().c_str(), clock);
}

void OptVStatsFile(OptionContext& context, const std::string& value) {
    context.Options().vstats_filename = value;
}

void OptVideoHook(OptionContext& context, const std::string& value) {
    // The plug-in is opened by the path it is given, so neither the current directory nor
    // PATH needs to change for the loader to find it.
    const char* separator = value.find('|') != std::string::npos ? "|" : " ";
    std::string copy = value;
    std::vector<char*> argv;
    char* save = nullptr;
    for (char* token = strtok_r(copy.data(), separator, &save);
         token != nullptr && argv.size() < 254; token = strtok_r(nullptr, separator, &save))
        argv.push_back(token);
    argv.push_back(nullptr);
    if (context.VideoHooks().Add(static_cast<int>(argv.size() - 1), argv.data()) != 0)
        throw FFMpegException("Failed to add video hook function: " + value);
}

} // namespace clipwright
