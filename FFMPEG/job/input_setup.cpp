// The steps of opening a job's input.
#include "FFMPEG/job/input_setup.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/probe/av_probe.h"
#include "FFMPEG/probe/measured_length.h"
#include "FFMPEG/job/codec_lookup.h"
#include "FFMPEG/job/generic_options.h"
#include "FFMPEG/job/value_parse.h"

namespace clipwright {

namespace {

std::string LowerExtension(const std::string& file_name) {
    const size_t slash = file_name.find_last_of('/');
    const size_t dot = file_name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    return LowerAscii(file_name.substr(dot));
}

// The demuxer options that stand for the older generation's format parameters; a demuxer
// that does not declare one leaves it unused.
DictionaryPtr DemuxerOptions(const OptionState& o) {
    DictionaryPtr options;
    auto set = [&](const char* key, const std::string& value) {
        av().av_dict_set(DictionarySlot(options).get(), key, value.c_str(), 0);
    };
    if (o.audio_sample_rate > 0)
        set("sample_rate", std::to_string(o.audio_sample_rate));
    if (o.audio_channels > 0)
        set("channels", std::to_string(o.audio_channels));
    if (o.frame_rate.num > 0 && o.frame_rate.den > 0)
        set("framerate", FormatText("%d/%d", o.frame_rate.num, o.frame_rate.den));
    const int width = o.frame_width + o.frame_padleft + o.frame_padright;
    const int height = o.frame_height + o.frame_padtop + o.frame_padbottom;
    if (width > 0 && height > 0)
        set("video_size", FormatText("%dx%d", width, height));
    if (o.frame_pix_fmt >= 0) {
        const char* name = av().av_get_pix_fmt_name(static_cast<AVPixelFormat>(o.frame_pix_fmt));
        if (name != nullptr)
            set("pixel_format", name);
    }
    if (o.video_channel != 0)
        set("channel", std::to_string(o.video_channel));
    if (o.video_standard)
        set("standard", *o.video_standard);
    if (o.loop_input != 0)
        set("loop", "1");
    return options;
}

} // namespace

void InputSetup::ConsumeFileSettings() {
    job_.options.video_codec_name.reset();
    job_.options.audio_codec_name.reset();
    job_.options.subtitle_codec_name.reset();
    job_.options.forced_input_format = nullptr;
    job_.options.forced_output_format = nullptr;
    job_.options.video_channel = 0;
    job_.options.rate_emu = 0;
}

InputFormatPtr InputSetup::OpenDemuxer(const std::string& file_name) {
    int video_id = 0;
    int audio_id = 0;
    int subtitle_id = 0;
    if (!LookupCodec(job_.options.video_codec_name, AVMEDIA_TYPE_VIDEO, false, video_id,
                     job_.last_error) ||
        !LookupCodec(job_.options.audio_codec_name, AVMEDIA_TYPE_AUDIO, false, audio_id,
                     job_.last_error) ||
        !LookupCodec(job_.options.subtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false, subtitle_id,
                     job_.last_error))
        return nullptr;
    if (job_.options.pgmyuv_compat != 0)
        video_id = AV_CODEC_ID_PGMYUV;

    AVFormatContext* raw = av().avformat_alloc_context();
    if (raw == nullptr) {
        job_.last_error = OpenErrorText(file_name, AVERROR(ENOMEM));
        return nullptr;
    }
    job_.generic.TransferOptions(raw, job_.generic.FormatHolder(), kOptDecoding);
    raw->video_codec_id = static_cast<AVCodecID>(video_id);
    raw->audio_codec_id = static_cast<AVCodecID>(audio_id);
    raw->subtitle_codec_id = static_cast<AVCodecID>(subtitle_id);

    DictionaryPtr demuxer_options = DemuxerOptions(job_.options);
    // On failure the library frees the context it was given.
    const int opened =
        av().avformat_open_input(&raw, file_name.c_str(), job_.options.forced_input_format,
                                 DictionarySlot(demuxer_options).get());
    if (opened < 0) {
        job_.last_error = OpenErrorText(file_name, opened);
        return nullptr;
    }
    return InputFormatPtr(raw);
}

bool InputSetup::FindStreamInfo(AVFormatContext& context, const std::string& file_name) {
    if (job_.options.opt_programid != 0) {
        for (unsigned i = 0; i < context.nb_programs; ++i) {
            if (context.programs[i]->id != job_.options.opt_programid)
                context.programs[i]->discard = AVDISCARD_ALL;
        }
    }

    int found = 0;
    {
        std::lock_guard lock(CodecLock());
        found = av().avformat_find_stream_info(&context, nullptr);
    }
    if (found < 0 && job_.verbosity >= kErrorLevel) {
        job_.last_error = FormatText("%s: could not find codec parameters", file_name.c_str());
        return false;
    }

    // Progress needs the real length where the library only guessed it from the bit rate.
    if (LengthNeedsMeasuring(context)) {
        const int64_t measured = MeasureLength(context, DemuxerOptions(job_.options).get());
        if (measured != AV_NOPTS_VALUE)
            context.duration = measured;
    }
    return true;
}

int64_t InputSetup::SeekToStartTime(AVFormatContext& context) {
    int64_t start = job_.options.start_time;
    if (context.start_time != AV_NOPTS_VALUE)
        start += context.start_time;
    if (job_.options.start_time != 0) {
        av().av_seek_frame(&context, -1, start, AVSEEK_FLAG_BACKWARD);
        job_.options.start_time = 0;
    }
    return start;
}

void InputSetup::ReadVideoSettings(AVFormatContext& context, AVStream& stream,
                                   AVCodecContext& decoder, const std::string& file_name) {
    job_.generic.TransferOptions(&decoder, job_.generic.CodecHolder(AVMEDIA_TYPE_VIDEO),
                                 kOptVideo | kOptDecoding);
    job_.options.frame_width = decoder.width;
    job_.options.frame_height = decoder.height;
    job_.options.frame_aspect_ratio = static_cast<float>(DisplayAspect(
        decoder.sample_aspect_ratio, stream.sample_aspect_ratio, decoder.width, decoder.height));
    if (job_.options.frame_aspect_ratio == 0.0f || std::isnan(job_.options.frame_aspect_ratio)) {
        job_.options.frame_aspect_ratio = static_cast<float>(
            ParseAspectRatio(FormatText("%d:%d", decoder.width, decoder.height)));
    }
    // RealMedia decoders report their format only once they decode.
    const std::string extension = LowerExtension(file_name);
    if (decoder.pix_fmt == AV_PIX_FMT_NONE && !extension.empty() &&
        std::string(".rmvb").compare(0, extension.size(), extension) == 0)
        decoder.pix_fmt = AV_PIX_FMT_YUV420P;
    job_.options.frame_pix_fmt = decoder.pix_fmt;
    // The library's best guess of the real rate: the raw base rate of interlaced
    // H.264 is the field rate, twice what the viewer sees.
    const AVRational rate = av().av_guess_frame_rate(&context, &stream, nullptr);
    job_.options.frame_rate = {rate.num, rate.den};
    if (job_.options.video_disable != 0)
        stream.discard = AVDISCARD_ALL;
    else if (job_.options.video_discard != 0)
        stream.discard = static_cast<AVDiscard>(job_.options.video_discard);
}

CodecContextPtr InputSetup::OpenStreamDecoder(AVFormatContext& context, AVStream& stream,
                                              const std::string& file_name) {
    CodecContextPtr decoder(av().avcodec_alloc_context3(nullptr));
    if (!decoder || av().avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0)
        throw FFMpegException(OpenErrorText(file_name, AVERROR(ENOMEM)));
    // The library picks the thread count.
    decoder->thread_count = 0;
    switch (decoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        job_.generic.TransferOptions(decoder.get(), job_.generic.CodecHolder(AVMEDIA_TYPE_AUDIO),
                                     kOptAudio | kOptDecoding);
        job_.options.audio_channels = decoder->ch_layout.nb_channels;
        job_.options.audio_sample_rate = decoder->sample_rate;
        if (job_.options.audio_disable != 0)
            stream.discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_VIDEO:
        // A cover picture is no source of video settings: outputs leave it out.
        if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
            ReadVideoSettings(context, stream, *decoder, file_name);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        if (job_.options.subtitle_disable != 0)
            stream.discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
    case AVMEDIA_TYPE_UNKNOWN:
        break;
    default:
        throw FFMpegException("invalid codec_type");
    }
    return decoder;
}

bool InputSetup::OpenInputFile(const std::string& file_name) {
    const CLocaleScope c_locale; // demuxers and option transfers read numbers with strtod
    // Whatever happens, the settings that describe this one file are used up.
    struct Consume {
        InputSetup& setup;
        ~Consume() { setup.ConsumeFileSettings(); }
    } consume{*this};

    if (job_.inputs.size() >= static_cast<size_t>(kMaxInputFiles)) {
        job_.last_error =
            FormatText("%s: too many input files (at most %d)", file_name.c_str(), kMaxInputFiles);
        return false;
    }
    InputFormatPtr opened = OpenDemuxer(file_name);
    if (!opened)
        return false;
    InputFile input;
    input.context = std::move(opened);
    AVFormatContext& context = *input.context;
    if (!FindStreamInfo(context, file_name))
        return false;
    const int64_t start = SeekToStartTime(context);
    for (unsigned i = 0; i < context.nb_streams; ++i)
        input.decoders.push_back(OpenStreamDecoder(context, *context.streams[i], file_name));

    if (context.duration != AV_NOPTS_VALUE) {
        const int64_t ms = context.duration / 1000;
        if (static_cast<int64_t>(job_.total_duration_ms) < ms)
            job_.total_duration_ms = ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
    }
    input.ts_offset = job_.options.copy_ts != 0 ? job_.options.input_ts_offset
                                                : job_.options.input_ts_offset - start;
    input.rate_emu = job_.options.rate_emu != 0;
    const int index = static_cast<int>(job_.inputs.size());
    job_.inputs.push_back(std::move(input));
    if (job_.verbosity >= kErrorLevel)
        av().av_dump_format(&context, index, file_name.c_str(), 0);
    return true;
}

} // namespace clipwright
