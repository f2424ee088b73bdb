// Target presets: a disc or camcorder standard configured in one step, through the same
// handlers as the options, so a preset overrides what those options held before.
#include "FFMPEG/custom_ffmpeg.h"

#include <cmath>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/value_parse.h"
#include "FFMPEG/engine_log.h"

namespace clipwright {

namespace {

enum Norm { kPal = 0, kNtsc = 1, kFilm = 2 };

// The norm a rate in thousandths of a frame per second belongs to; -1 for none.
int NormOfRate(long long milli_fps) {
    if (milli_fps == 25000)
        return kPal;
    if (milli_fps == 29970 || milli_fps == 23976)
        return kNtsc;
    return -1;
}

const char* TargetRate(int norm) {
    return norm == kPal ? "25" : norm == kNtsc ? "30000/1001" : "24000/1001";
}

const char* TargetGop(int norm) {
    return norm == kPal ? "15" : "18";
}

} // namespace

void TCustomFFmpeg::OptTarget(const std::string& raw) {
    const std::string value = Trimmed(raw);
    for (const char* norm : {"pal", "ntsc", "film"}) {
        const std::string prefix = std::string(norm) + "-";
        if (value.compare(0, prefix.size(), prefix) == 0) {
            ApplyTarget(value.substr(prefix.size()), norm, "ntsc");
            return;
        }
    }
    ApplyTarget(value, "auto", "ntsc");
}

int TCustomFFmpeg::GuessTargetNorm(const std::string& fallback_norm) {
    const TRational rate = options_.frame_rate;
    if (rate.den == 0)
        throw FFMpegException("frame_rate is invalid.");
    int norm = NormOfRate(std::llround(rate.num * 1000.0 / rate.den));
    for (const InputFile& input : input_files_) {
        AVFormatContext* context = input.context.get();
        for (unsigned i = 0; norm < 0 && i < context->nb_streams; ++i) {
            AVStream* stream = context->streams[i];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            const AVRational fps = av().av_guess_frame_rate(context, stream, nullptr);
            if (fps.den != 0)
                norm = NormOfRate(std::llround(fps.num * 1000.0 / fps.den));
        }
        if (norm >= 0)
            break;
    }
    if (norm < 0)
        norm = fallback_norm == "film" ? kFilm : fallback_norm == "ntsc" ? kNtsc : kPal;
    if (Verbosity_ > kErrorLevel)
        Log(kInfoLevel,
            std::string("Assuming ") + (norm != kPal ? "NTSC" : "PAL") + " for target.");
    return norm;
}

// The group-of-pictures size is "g" in this library generation; the SVCD scan offset is the
// MPEG-2 encoder's own "scan_offset" option rather than a codec flag.
void TCustomFFmpeg::ApplyVcdTarget(int norm) {
    const char* rate = TargetRate(norm);
    const char* gop = TargetGop(norm);
    OptCodec(AVMEDIA_TYPE_VIDEO, "mpeg1video");
    OptCodec(AVMEDIA_TYPE_AUDIO, "mp2");
    SetOutputFormat("vcd");
    OptFrameSize(norm == kPal ? "352x288" : "352x240");
    OptFrameRate(rate);
    SetGenericOption("g", gop);
    SetGenericOption("b", "1150000");
    SetGenericOption("maxrate", "1150000");
    SetGenericOption("minrate", "1150000");
    SetGenericOption("bufsize", "327680");
    SetGenericOption("ab", "224000");
    options_.audio_sample_rate = 44100;
    options_.audio_channels = 2;
    SetGenericOption("packetsize", "2324");
    SetGenericOption("muxrate", "1411200");
    options_.mux_preload = 0.44f;
    if (options_.frame_aspect_ratio == 0.0f)
        OptFrameAspectRatio("4:3");
}

void TCustomFFmpeg::ApplySvcdTarget(int norm) {
    const char* rate = TargetRate(norm);
    const char* gop = TargetGop(norm);
    OptCodec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
    OptCodec(AVMEDIA_TYPE_AUDIO, "mp2");
    SetOutputFormat("svcd");
    OptFrameSize(norm == kPal ? "480x576" : "480x480");
    OptFrameRate(rate);
    SetGenericOption("g", gop);
    SetGenericOption("b", "2040000");
    SetGenericOption("maxrate", "2516000");
    SetGenericOption("minrate", "0");
    SetGenericOption("bufsize", "1835008");
    SetGenericOption("scan_offset", "1");
    SetGenericOption("ab", "224000");
    options_.audio_sample_rate = 44100;
    SetGenericOption("packetsize", "2324");
    if (options_.audio_channels == 1)
        options_.audio_channels = 2;
    if (options_.frame_aspect_ratio == 0.0f)
        OptFrameAspectRatio("4:3");
}

void TCustomFFmpeg::ApplyDvdTarget(int norm) {
    const char* rate = TargetRate(norm);
    const char* gop = TargetGop(norm);
    OptCodec(AVMEDIA_TYPE_VIDEO, "mpeg2video");
    OptCodec(AVMEDIA_TYPE_AUDIO, "ac3");
    SetOutputFormat("dvd");
    OptFrameSize(norm == kPal ? "720x576" : "720x480");
    OptFrameRate(rate);
    SetGenericOption("g", gop);
    SetGenericOption("b", "6000000");
    SetGenericOption("maxrate", "9000000");
    SetGenericOption("minrate", "0");
    SetGenericOption("bufsize", "1835008");
    SetGenericOption("packetsize", "2048");
    SetGenericOption("muxrate", "10080000");
    SetGenericOption("ab", "448000");
    options_.audio_sample_rate = 48000;
    if (options_.audio_channels == 1)
        options_.audio_channels = 2;
    if (options_.frame_aspect_ratio == 0.0f)
        OptFrameAspectRatio("16:9");
}

void TCustomFFmpeg::ApplyDvTarget(bool dv50, int norm) {
    SetOutputFormat("dv");
    OptFrameSize(norm == kPal ? "720x576" : "720x480");
    OptFramePixFmt(dv50 ? "yuv422p" : norm != kPal ? "yuv411p" : "yuv420p");
    OptFrameRate(TargetRate(norm));
    options_.audio_sample_rate = 48000;
    options_.audio_channels = 2;
}

void TCustomFFmpeg::ApplyTarget(const std::string& target, const std::string& norm_name,
                                const std::string& fallback_norm) {
    int norm = norm_name == "pal"    ? kPal
               : norm_name == "ntsc" ? kNtsc
               : norm_name == "film" ? kFilm
                                     : -1;
    if (norm < 0)
        norm = GuessTargetNorm(fallback_norm);
    if (target == "vcd")
        ApplyVcdTarget(norm);
    else if (target == "svcd")
        ApplySvcdTarget(norm);
    else if (target == "dvd")
        ApplyDvdTarget(norm);
    else if (target == "dv" || target == "dv50")
        ApplyDvTarget(target == "dv50", norm);
    else
        throw FFMpegException("Unknown target type");
}

} // namespace clipwright
