// Target presets: a disc or camcorder standard configured in one step, through the same
// handlers as the options, so a preset overrides what those options held before.
#include "FFMPEG/job/target_presets.h"

#include <cmath>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/job/option_handlers.h"
#include "FFMPEG/job/value_parse.h"

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

// The norm of a target given as "auto": the frame rate's, else the first video input's.
int GuessTargetNorm(OptionContext& context, const std::string& fallback_norm) {
    const TRational rate = context.Options().frame_rate;
    if (rate.den == 0)
        throw FFMpegException("frame_rate is invalid.");
    int norm = NormOfRate(std::llround(rate.num * 1000.0 / rate.den));
    for (const InputFile& input : context.Inputs()) {
        AVFormatContext* format = input.context.get();
        for (unsigned i = 0; norm < 0 && i < format->nb_streams; ++i) {
            AVStream* stream = format->streams[i];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            const AVRational fps = av().av_guess_frame_rate(format, stream, nullptr);
            if (fps.den != 0)
                norm = NormOfRate(std::llround(fps.num * 1000.0 / fps.den));
        }
        if (norm >= 0)
            break;
    }
    if (norm < 0)
        norm = fallback_norm == "film" ? kFilm : fallback_norm == "ntsc" ? kNtsc : kPal;
    if (context.Verbosity() > kErrorLevel)
        context.Log(kInfoLevel,
                    std::string("Assuming ") + (norm != kPal ? "NTSC" : "PAL") + " for target.");
    return norm;
}

// The group-of-pictures size is "g" in this library generation; the SVCD scan offset is the
// MPEG-2 encoder's own "scan_offset" option rather than a codec flag.
void ApplyVcdTarget(OptionContext& context, int norm) {
    OptionState& options = context.Options();
    const char* rate = TargetRate(norm);
    const char* gop = TargetGop(norm);
    OptCodec(context, AVMEDIA_TYPE_VIDEO, "mpeg1video");
    OptCodec(context, AVMEDIA_TYPE_AUDIO, "mp2");
    OptOutputFormat(context, "vcd");
    OptFrameSize(context, norm == kPal ? "352x288" : "352x240");
    OptFrameRate(context, rate);
    context.SetGenericOption("g", gop);
    context.SetGenericOption("b", "1150000");
    context.SetGenericOption("maxrate", "1150000");
    context.SetGenericOption("minrate", "1150000");
    context.SetGenericOption("bufsize", "327680");
    context.SetGenericOption("ab", "224000");
    options.audio_sample_rate = 44100;
    options.audio_channels = 2;
    context.SetGenericOption("packetsize", "2324");
    context.SetGenericOption("muxrate", "1411200");
    options.mux_preload = 0.44f;
    if (options.frame_aspect_ratio == 0.0f)
        OptFrameAspectRatio(context, "4:3");
}

void ApplySvcdTarget(OptionContext& context, int norm) {
    OptionState& options = context.Options();
    const char* rate = TargetRate(norm);
    const char* gop = TargetGop(norm);
    OptCodec(context, AVMEDIA_TYPE_VIDEO, "mpeg2video");
    OptCodec(context, AVMEDIA_TYPE_AUDIO, "mp2");
    OptOutputFormat(context, "svcd");
    OptFrameSize(context, norm == kPal ? "480x576" : "480x480");
    OptFrameRate(context, rate);
    context.SetGenericOption("g", gop);
    context.SetGenericOption("b", "2040000");
    context.SetGenericOption("maxrate", "2516000");
    context.SetGenericOption("minrate", "0");
    context.SetGenericOption("bufsize", "1835008");
    context.SetGenericOption("scan_offset", "1");
    context.SetGenericOption("ab", "224000");
    options.audio_sample_rate = 44100;
    context.SetGenericOption("packetsize", "2324");
    if (options.audio_channels == 1)
        options.audio_channels = 2;
    if (options.frame_aspect_ratio == 0.0f)
        OptFrameAspectRatio(context, "4:3");
}

void ApplyDvdTarget(OptionContext& context, int norm) {
    OptionState& options = context.Options();
    const char* rate = TargetRate(norm);
    const char* gop = TargetGop(norm);
    OptCodec(context, AVMEDIA_TYPE_VIDEO, "mpeg2video");
    OptCodec(context, AVMEDIA_TYPE_AUDIO, "ac3");
    OptOutputFormat(context, "dvd");
    OptFrameSize(context, norm == kPal ? "720x576" : "720x480");
    OptFrameRate(context, rate);
    context.SetGenericOption("g", gop);
    context.SetGenericOption("b", "6000000");
    context.SetGenericOption("maxrate", "9000000");
    context.SetGenericOption("minrate", "0");
    context.SetGenericOption("bufsize", "1835008");
    context.SetGenericOption("packetsize", "2048");
    context.SetGenericOption("muxrate", "10080000");
    context.SetGenericOption("ab", "448000");
    options.audio_sample_rate = 48000;
    if (options.audio_channels == 1)
        options.audio_channels = 2;
    if (options.frame_aspect_ratio == 0.0f)
        OptFrameAspectRatio(context, "16:9");
}

void ApplyDvTarget(OptionContext& context, bool dv50, int norm) {
    OptionState& options = context.Options();
    OptOutputFormat(context, "dv");
    OptFrameSize(context, norm == kPal ? "720x576" : "720x480");
    OptFramePixFmt(context, dv50 ? "yuv422p" : norm != kPal ? "yuv411p" : "yuv420p");
    OptFrameRate(context, TargetRate(norm));
    options.audio_sample_rate = 48000;
    options.audio_channels = 2;
}

} // namespace

void ApplyTarget(OptionContext& context, const std::string& target, const std::string& norm_name,
                 const std::string& fallback_norm) {
    int norm = norm_name == "pal"    ? kPal
               : norm_name == "ntsc" ? kNtsc
               : norm_name == "film" ? kFilm
                                     : -1;
    if (norm < 0)
        norm = GuessTargetNorm(context, fallback_norm);
    if (target == "vcd")
        ApplyVcdTarget(context, norm);
    else if (target == "svcd")
        ApplySvcdTarget(context, norm);
    else if (target == "dvd")
        ApplyDvdTarget(context, norm);
    else if (target == "dv" || target == "dv50")
        ApplyDvTarget(context, target == "dv50", norm);
    else
        throw FFMpegException("Unknown target type");
}

void OptTarget(OptionContext& context, const std::string& raw) {
    const std::string value = Trimmed(raw);
    for (const char* norm : {"pal", "ntsc", "film"}) {
        const std::string prefix = std::string(norm) + "-";
        if (value.compare(0, prefix.size(), prefix) == 0) {
            ApplyTarget(context, value.substr(prefix.size()), norm, "ntsc");
            return;
        }
    }
    ApplyTarget(context, value, "auto", "ntsc");
}

} // namespace clipwright
