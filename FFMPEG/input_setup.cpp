// Opening a job's input: the demuxer with the input-side settings, one decoder context per
// stream, and the source's properties copied back into the settings so that outputs inherit
// what their options leave unset.
#include "FFMPEG/custom_ffmpeg.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/av_probe.h"
#include "FFMPEG/c_locale.h"
#include "FFMPEG/codec_lock.h"
#include "FFMPEG/measured_length.h"
#include "FFMPEG/option_handlers.h"
#include "FFMPEG/text_format.h"
#include "FFMPEG/engine_log.h"

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

void TCustomFFmpeg::ConsumeFileSettings() {
    options_.forced_input_format = nullptr;
    options_.forced_output_format = nullptr;
    options_.video_channel = 0;
    options_.rate_emu = 0;
}

InputFormatPtr TCustomFFmpeg::OpenDemuxer(const std::string& file_name) {
    int video_id = 0;
    int audio_id = 0;
    int subtitle_id = 0;
    if (!LookupCodec(options_.video_codec_name, AVMEDIA_TYPE_VIDEO, false, video_id) ||
        !LookupCodec(options_.audio_codec_name, AVMEDIA_TYPE_AUDIO, false, audio_id) ||
        !LookupCodec(options_.subtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false, subtitle_id))
        return nullptr;
    if (options_.pgmyuv_compat != 0)
        video_id = AV_CODEC_ID_PGMYUV;

    AVFormatContext* raw = av().avformat_alloc_context();
    if (raw == nullptr) {
        LastError = OpenErrorText(file_name, AVERROR(ENOMEM));
        return nullptr;
    }
    generic_.TransferOptions(raw, generic_.FormatHolder(), kOptDecoding);
    raw->video_codec_id = static_cast<AVCodecID>(video_id);
    raw->audio_codec_id = static_cast<AVCodecID>(audio_id);
    raw->subtitle_codec_id = static_cast<AVCodecID>(subtitle_id);

    DictionaryPtr demuxer_options = DemuxerOptions(options_);
    // On failure the library frees the context it was given.
    const int opened =
        av().avformat_open_input(&raw, file_name.c_str(), options_.forced_input_format,
                                 DictionarySlot(demuxer_options).get());
    if (opened < 0) {
        LastError = OpenErrorText(file_name, opened);
        return nullptr;
    }
    return InputFormatPtr(raw);
}

bool TCustomFFmpeg::FindStreamInfo(AVFormatContext& context, const std::string& file_name) {
    if (options_.opt_programid != 0) {
        for (unsigned i = 0; i < context.nb_programs; ++i) {
            if (context.programs[i]->id != options_.opt_programid)
                context.programs[i]->discard = AVDISCARD_ALL;
        }
    }

    int found = 0;
    {
        std::lock_guard lock(CodecLock());
        found = av().avformat_find_stream_info(&context, nullptr);
    }
    if (found < 0 && Verbosity_ >= kErrorLevel) {
        LastError = FormatText("%s: could not find codec parameters", file_name.c_str());
        return false;
    }

    // Progress needs the real length where the library only guessed it from the bit rate.
    if (LengthNeedsMeasuring(context)) {
        const int64_t measured = MeasureLength(context, DemuxerOptions(options_).get());
        if (measured != AV_NOPTS_VALUE)
            context.duration = measured;
    }
    return true;
}

int64_t TCustomFFmpeg::SeekToStartTime(AVFormatContext& context) {
    int64_t start = options_.start_time;
    if (context.start_time != AV_NOPTS_VALUE)
        start += context.start_time;
    if (options_.start_time != 0) {
        av().av_seek_frame(&context, -1, start, AVSEEK_FLAG_BACKWARD);
        options_.start_time = 0;
    }
    return start;
}

void TCustomFFmpeg::ReadVideoSettings(AVFormatContext& context, AVStream& stream,
                                      AVCodecContext& decoder, const std::string& file_name) {
    generic_.TransferOptions(&decoder, generic_.CodecHolder(AVMEDIA_TYPE_VIDEO),
                             kOptVideo | kOptDecoding);
    options_.frame_width = decoder.width;
    options_.frame_height = decoder.height;
    options_.frame_aspect_ratio = static_cast<float>(DisplayAspect(
        decoder.sample_aspect_ratio, stream.sample_aspect_ratio, decoder.width, decoder.height));
    if (options_.frame_aspect_ratio == 0.0f || std::isnan(options_.frame_aspect_ratio)) {
        OptionContext option_context(*this);
        OptFrameAspectRatio(option_context, FormatText("%d:%d", decoder.width, decoder.height));
    }
    // RealMedia decoders report their format only once they decode.
    const std::string extension = LowerExtension(file_name);
    if (decoder.pix_fmt == AV_PIX_FMT_NONE && !extension.empty() &&
        std::string(".rmvb").compare(0, extension.size(), extension) == 0)
        decoder.pix_fmt = AV_PIX_FMT_YUV420P;
    options_.frame_pix_fmt = decoder.pix_fmt;
    // The library's best guess of the real rate: the raw base rate of interlaced
    // H.264 is the field rate, twice what the viewer sees.
    const AVRational rate = av().av_guess_frame_rate(&context, &stream, nullptr);
    options_.frame_rate = {rate.num, rate.den};
    if (options_.video_disable != 0)
        stream.discard = AVDISCARD_ALL;
    else if (options_.video_discard != 0)
        stream.discard = static_cast<AVDiscard>(options_.video_discard);
}

CodecContextPtr TCustomFFmpeg::OpenStreamDecoder(AVFormatContext& context, AVStream& stream,
                                                 const std::string& file_name) {
    CodecContextPtr decoder(av().avcodec_alloc_context3(nullptr));
    if (!decoder || av().avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0)
        throw FFMpegException(OpenErrorText(file_name, AVERROR(ENOMEM)));
    // The library picks the thread count.
    decoder->thread_count = 0;
    switch (decoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        generic_.TransferOptions(decoder.get(), generic_.CodecHolder(AVMEDIA_TYPE_AUDIO),
                                 kOptAudio | kOptDecoding);
        options_.audio_channels = decoder->ch_layout.nb_channels;
        options_.audio_sample_rate = decoder->sample_rate;
        if (options_.audio_disable != 0)
            stream.discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_VIDEO:
        // A cover picture is no source of video settings: outputs leave it out.
        if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
            ReadVideoSettings(context, stream, *decoder, file_name);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        if (options_.subtitle_disable != 0)
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

bool TCustomFFmpeg::OpenInputFile(const std::string& file_name) {
    const CLocaleScope c_locale; // demuxers and option transfers read numbers with strtod
    // Whatever happens, the settings that describe this one file are used up.
    struct Consume {
        TCustomFFmpeg& job;
        ~Consume() {
            job.options_.video_codec_name.reset();
            job.options_.audio_codec_name.reset();
            job.options_.subtitle_codec_name.reset();
            job.ConsumeFileSettings();
        }
    } consume{*this};

    if (input_files_.size() >= static_cast<size_t>(kMaxInputFiles)) {
        LastError =
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
        if (static_cast<int64_t>(TotalDurationMs) < ms)
            TotalDurationMs = ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
    }
    input.ts_offset =
        options_.copy_ts != 0 ? options_.input_ts_offset : options_.input_ts_offset - start;
    input.rate_emu = options_.rate_emu != 0;
    const int index = static_cast<int>(input_files_.size());
    input_files_.push_back(std::move(input));
    if (Verbosity_ >= kErrorLevel)
        av().av_dump_format(&context, index, file_name.c_str(), 0);
    return true;
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
