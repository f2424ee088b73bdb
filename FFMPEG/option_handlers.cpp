// The option handlers that do more than store a converted value. Each either changes settings
// or throws FFMpegException with the text the user sees; settings stored before a failing
// handler stay stored.
#include "FFMPEG/custom_ffmpeg.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/text_format.h"
#include "FFMPEG/value_parse.h"
#include "FFMPEG/engine_log.h"

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

} // namespace

std::string TCustomFFmpeg::CompatibleFormatName(const std::string& name) {
    if (name != "pgmyuv")
        return name;
    options_.pgmyuv_compat = 1;
    Log(kInfoLevel, "pgmyuv format is deprecated, use image2");
    return "image2";
}

void TCustomFFmpeg::OptFormat(const std::string& raw) {
    if (raw.empty())
        return;
    const std::string name = CompatibleFormatName(raw);
    options_.forced_input_format = av().av_find_input_format(name.c_str());
    options_.forced_output_format = av().av_guess_format(name.c_str(), nullptr, nullptr);
    if (options_.forced_input_format == nullptr && options_.forced_output_format == nullptr)
        throw FFMpegException(FormatText("Unknown input or output format: %s", name.c_str()));
}

void TCustomFFmpeg::SetInputFormat(const std::string& raw) {
    if (raw.empty())
        return;
    const std::string name = CompatibleFormatName(raw);
    const AVInputFormat* format = av().av_find_input_format(name.c_str());
    if (format == nullptr)
        throw FFMpegException(FormatText("Unknown input format: %s", name.c_str()));
    options_.forced_input_format = format;
}

void TCustomFFmpeg::SetOutputFormat(const std::string& raw) {
    if (raw.empty())
        return;
    const std::string name = CompatibleFormatName(raw);
    const AVOutputFormat* format = av().av_guess_format(name.c_str(), nullptr, nullptr);
    if (format == nullptr)
        throw FFMpegException(FormatText("Unknown output format: %s", name.c_str()));
    options_.forced_output_format = format;
}

void TCustomFFmpeg::OptMap(const std::string& value) {
    if (options_.stream_maps.size() >= kMaxStreamMaps)
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
    options_.stream_maps.push_back(map);
}

void TCustomFFmpeg::OptMapMetaData(const std::string& value) {
    if (options_.meta_data_maps.size() >= kMaxStreamMaps)
        throw FFMpegException(FormatText("Too many metadata maps (at most %d)", kMaxStreamMaps));
    const char* p = value.c_str();
    TMetaDataMap map;
    map.OutFile = ReadCInteger(p);
    SkipOne(p);
    map.InFile = ReadCInteger(p);
    options_.meta_data_maps.push_back(map);
}

void TCustomFFmpeg::OptInputTsScale(const std::string& value) {
    const char* p = value.c_str();
    const int32_t stream = ReadCInteger(p);
    SkipOne(p);
    const double scale = ReadCDouble(p).value;
    if (stream < 0 || stream >= kMaxStreams)
        throw FFMpegException(FormatText("stream index over MAX_STREAMS(%d)", kMaxStreams));
    const size_t next_input = input_files_.size();
    if (next_input >= static_cast<size_t>(kMaxFiles))
        throw FFMpegException(FormatText("Too many input files (at most %d)", kMaxFiles));
    options_.input_ts_scale[next_input][stream] = scale;
}

void TCustomFFmpeg::OptRecordingTime(const std::string& value) {
    const int64_t ms = ParseTimeValue("t", value, true) / 1000;
    if (ms > 0) {
        options_.recording_time = ms * 1000;
        TotalDurationMs = ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
    }
}

void TCustomFFmpeg::OptStartTime(const std::string& value) {
    options_.start_time = ParseTimeValue("ss", value, true);
}

void TCustomFFmpeg::OptInputTsOffset(const std::string& value) {
    options_.input_ts_offset = ParseTimeValue("itsoffset", value, true);
}

void TCustomFFmpeg::OptRecordingTimestamp(const std::string& value) {
    const int64_t us = ParseTimeValue("timestamp", value, false);
    options_.recording_timestamp = static_cast<int64_t>(std::llround(us / 1000000.0));
}

void TCustomFFmpeg::OptFrameRate(const std::string& value) {
    if (value.empty())
        return;
    AVRational rate{0, 0};
    if (av().av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFMpegException("Incorrect frame rate");
    options_.frame_rate = {rate.num, rate.den};
}

void TCustomFFmpeg::OptFrameSize(const std::string& value) {
    if (value.empty())
        return;
    int width = 0;
    int height = 0;
    if (av().av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFMpegException("Incorrect frame size");
    options_.frame_width = width;
    options_.frame_height = height;
    if (width % 2 != 0 || height % 2 != 0)
        throw FFMpegException("Frame size must be a multiple of 2");
}

void TCustomFFmpeg::OptFrameAspectRatio(const std::string& value) {
    if (value.empty())
        return;
    double ratio = 0.0;
    const size_t colon = value.find(':');
    if (colon == std::string::npos) {
        try {
            ratio = ParseReal(value);
        } catch (const FFMpegException&) {
            ratio = 0.0;
        }
    } else {
        auto integer_or_zero = [](const std::string& text) {
            try {
                return ParseInteger(text);
            } catch (const FFMpegException&) {
                return 0;
            }
        };
        const int32_t x = integer_or_zero(value.substr(0, colon));
        const int32_t y = integer_or_zero(value.substr(colon + 1));
        ratio = y > 0 ? static_cast<double>(x) / y : 0.0;
    }
    if (ratio == 0.0)
        throw FFMpegException("Incorrect aspect ratio specification.");
    options_.frame_aspect_ratio = static_cast<float>(ratio);
}

void TCustomFFmpeg::OptFramePixFmt(const std::string& value) {
    if (value != "list") {
        options_.frame_pix_fmt = av().av_get_pix_fmt(value.c_str());
        return;
    }
    if (!Logging())
        return;
    for (int format = -1; format <= 39; ++format) {
        char line[128] = {};
        av().av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(format));
        Log(kInfoLevel, Trimmed(line));
    }
}

void TCustomFFmpeg::OptCrop(int side, const std::string& value) {
    const int32_t crop = ParseInteger(value);
    if (crop < 0)
        return;
    if (crop % 2 != 0)
        throw FFMpegException(FormatText("%s crop size must be a multiple of 2", kCropSide[side]));
    const bool vertical = side < 2;
    int32_t& extent = vertical ? options_.frame_height : options_.frame_width;
    if (crop >= extent)
        throw FFMpegException(FormatText("%s crop dimensions are outside the range of the "
                                         "original image.\nRemember to crop first and scale "
                                         "second.",
                                         vertical ? "Vertical" : "Horizontal"));
    int32_t* bands[] = {&options_.frame_topband, &options_.frame_bottomband,
                        &options_.frame_leftband, &options_.frame_rightband};
    *bands[side] = crop;
    extent -= crop;
}

void TCustomFFmpeg::OptPad(int side, const std::string& value) {
    const int32_t pad = ParseInteger(value);
    if (pad < 0)
        return;
    if (pad % 2 != 0)
        throw FFMpegException(FormatText("%s pad size must be a multiple of 2", kCropSide[side]));
    int32_t* bands[] = {&options_.frame_padtop, &options_.frame_padbottom, &options_.frame_padleft,
                        &options_.frame_padright};
    *bands[side] = pad;
}

void TCustomFFmpeg::OptPadColor(const std::string& value) {
    const uint32_t rgb = static_cast<uint32_t>(ParseInteger(value));
    const int r = rgb & 0xff;
    const int g = (rgb >> 8) & 0xff;
    const int b = (rgb >> 16) & 0xff;
    // Full-range (JPEG) conversion in 10-bit fixed point; >> on a negative sum is arithmetic.
    options_.padcolor[0] = (307 * r + 602 * g + 117 * b + 512) >> 10;
    options_.padcolor[1] = ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128;
    options_.padcolor[2] = ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128;
}

void TCustomFFmpeg::OptQScale(const std::string& value) {
    const float scale = ParseReal(value);
    if (scale <= 0.0f || scale > 255.0f)
        throw FFMpegException("qscale must be > 0.0 and <= 255");
    options_.video_qscale = scale;
}

void TCustomFFmpeg::OptCodec(int media_type, const std::string& value) {
    if (value.empty())
        return;
    std::optional<std::string>& name = media_type == AVMEDIA_TYPE_VIDEO ? options_.video_codec_name
                                       : media_type == AVMEDIA_TYPE_AUDIO
                                           ? options_.audio_codec_name
                                           : options_.subtitle_codec_name;
    int32_t& copy = media_type == AVMEDIA_TYPE_VIDEO   ? options_.video_stream_copy
                    : media_type == AVMEDIA_TYPE_AUDIO ? options_.audio_stream_copy
                                                       : options_.subtitle_stream_copy;
    name.reset();
    if (value == "copy")
        copy = 1;
    else
        name = value;
}

void TCustomFFmpeg::OptCodecTag(bool video, const std::string& value) {
    if (value.empty())
        return;
    if (value.size() != 4)
        throw std::logic_error(video ? "video tag parameter must be 4 chars"
                                     : "audio tag parameter must be 4 chars");
    uint32_t tag = 0;
    for (int i = 3; i >= 0; --i)
        tag = tag << 8 | static_cast<unsigned char>(value[i]);
    (video ? options_.video_codec_tag : options_.audio_codec_tag) = tag;
}

void TCustomFFmpeg::OptPass(const std::string& value) {
    const int32_t pass = ParseInteger(value);
    if (pass != 1 && pass != 2)
        throw FFMpegException("pass number can be only 1 or 2");
    options_.do_pass = pass;
}

void TCustomFFmpeg::OptMatrix(bool intra, const std::string& value) {
    std::optional<QuantMatrix>& matrix = intra ? options_.intra_matrix : options_.inter_matrix;
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

void TCustomFFmpeg::OptVStats() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    options_.vstats_filename = FormatText("%s/vstats_%s.log", ProgramFolder().c_str(), clock);
}

void TCustomFFmpeg::OptVStatsFile(const std::string& value) {
    options_.vstats_filename = value;
}

void TCustomFFmpeg::OptVideoHook(const std::string& value) {
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
    if (video_hooks_.Add(static_cast<int>(argv.size() - 1), argv.data()) != 0)
        throw FFMpegException("Failed to add video hook function: " + value);
}

bool TCustomFFmpeg::LookupCodec(const std::optional<std::string>& name, int media_type,
                                bool encoder, int& codec_id, const AVCodec** found) {
    codec_id = 0;
    if (found != nullptr)
        *found = nullptr;
    if (!name)
        return true;
    const char* kind = encoder ? "encoder" : "decoder";
    // The older generation's encoder names that this library knows under another name.
    std::string library_name = *name;
    if (encoder && (library_name == "libfaac" || library_name == "mpeg4aac"))
        library_name = "aac";
    // AMR-NB is encoded by the engine itself; the stream names the codec, no library encoder.
    if (encoder && (library_name == "libamr_nb" || library_name == "amr_nb")) {
        if (media_type != AVMEDIA_TYPE_AUDIO) {
            LastError = FormatText("Invalid %s type '%s'", kind, name->c_str());
            return false;
        }
        codec_id = AV_CODEC_ID_AMR_NB;
        return true;
    }
    const AVCodec* codec = encoder ? av().avcodec_find_encoder_by_name(library_name.c_str())
                                   : av().avcodec_find_decoder_by_name(library_name.c_str());
    if (codec == nullptr) {
        LastError = FormatText("Unknown %s '%s'", kind, name->c_str());
        return false;
    }
    if (codec->type != media_type) {
        LastError = FormatText("Invalid %s type '%s'", kind, name->c_str());
        return false;
    }
    codec_id = codec->id;
    if (found != nullptr)
        *found = codec;
    return true;
}

} // namespace clipwright
