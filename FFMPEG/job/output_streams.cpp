// The streams of an output file, each built from the option state at that moment; creating a
// stream consumes its kind's codec name, copy flag, disable flag and language.
#include "FFMPEG/job/output_setup.h"

#include <cstdlib>
#include <cstring>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/codec_lookup.h"
#include "FFMPEG/job/encoder_rate.h"
#include "FFMPEG/job/generic_options.h"

namespace clipwright {

namespace {

// "start,end,q/start,end,q…": q > 0 is a quantiser, q <= 0 a quality factor of -q percent.
std::vector<RcOverride> ParseRcOverride(const std::string& text) {
    std::vector<RcOverride> overrides;
    const char* p = text.c_str();
    for (;;) {
        RcOverride entry{};
        char* end = nullptr;
        entry.start_frame = static_cast<int>(std::strtol(p, &end, 10));
        if (end == p || *end == '\0')
            throw FFMpegException("error parsing rc_override");
        p = end + 1;
        entry.end_frame = static_cast<int>(std::strtol(p, &end, 10));
        if (end == p || *end == '\0')
            throw FFMpegException("error parsing rc_override");
        p = end + 1;
        const int q = static_cast<int>(std::strtol(p, &end, 10));
        if (q > 0) {
            entry.qscale = q;
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = static_cast<float>(-q) / 100.0f;
        }
        overrides.push_back(entry);
        p = std::strchr(p, '/');
        if (p == nullptr)
            break;
        ++p;
    }
    return overrides;
}

// The picture the encoder takes: padded size, the aspect ratio as a sample aspect ratio and a
// pixel format the codec lists.
void SetPictureFormat(AVCodecContext& encoder, const AVCodec* codec, const OptionState& o) {
    encoder.width = o.frame_width + o.frame_padright + o.frame_padleft;
    encoder.height = o.frame_height + o.frame_padtop + o.frame_padbottom;
    if (encoder.width > 0) {
        const AVRational sar = av().av_d2q(
            static_cast<double>(o.frame_aspect_ratio) * encoder.height / encoder.width, 255);
        av().av_reduce(&encoder.sample_aspect_ratio.num, &encoder.sample_aspect_ratio.den, sar.num,
                       sar.den, 255);
    }
    encoder.pix_fmt = static_cast<AVPixelFormat>(o.frame_pix_fmt);
    if (codec != nullptr && codec->pix_fmts != nullptr) {
        bool listed = false;
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            listed = listed || *p == encoder.pix_fmt;
        if (!listed)
            encoder.pix_fmt = codec->pix_fmts[0];
    }
}

// The quantiser matrices and rate-control overrides, copied into memory the context frees.
void SetEncoderTables(AVCodecContext& encoder, const OptionState& o) {
    for (auto [matrix, target] : {std::pair{&o.intra_matrix, &encoder.intra_matrix},
                                  std::pair{&o.inter_matrix, &encoder.inter_matrix}}) {
        if (!*matrix)
            continue;
        // The context frees its matrices with av_free.
        *target = static_cast<uint16_t*>(av().av_malloc(sizeof(QuantMatrix)));
        if (*target == nullptr)
            throw FFMpegException("Could not alloc stream");
        std::memcpy(*target, (*matrix)->data(), sizeof(QuantMatrix));
    }
    if (o.video_rc_override_string) {
        const std::vector<RcOverride> overrides = ParseRcOverride(*o.video_rc_override_string);
        encoder.rc_override =
            static_cast<RcOverride*>(av().av_malloc(sizeof(RcOverride) * overrides.size()));
        if (encoder.rc_override == nullptr)
            throw FFMpegException("Could not alloc stream");
        std::memcpy(encoder.rc_override, overrides.data(), sizeof(RcOverride) * overrides.size());
        encoder.rc_override_count = static_cast<int>(overrides.size());
    }
}

// Quantiser, rate-control and pass settings of a video encoder.
void SetVideoRateControl(AVCodecContext& encoder, OutputStreamSetup& setup, const OptionState& o) {
    if (o.intra_only != 0)
        encoder.gop_size = 0;
    if (o.video_qscale != 0.0f || o.same_quality != 0) {
        encoder.flags |= AV_CODEC_FLAG_QSCALE;
        setup.quality = FF_QP2LAMBDA * o.video_qscale;
        encoder.global_quality = static_cast<int>(setup.quality);
    }
    SetEncoderTables(encoder, o);
    if (encoder.rc_initial_buffer_occupancy == 0)
        encoder.rc_initial_buffer_occupancy = encoder.rc_buffer_size * 3 / 4;
    encoder.intra_dc_precision = o.intra_dc_precision - 8;
    if (o.do_psnr != 0)
        encoder.flags |= AV_CODEC_FLAG_PSNR;
    if (o.do_pass == 1)
        encoder.flags |= AV_CODEC_FLAG_PASS1;
    else if (o.do_pass != 0)
        encoder.flags |= AV_CODEC_FLAG_PASS2;
}

} // namespace

OutputStreamSetup& OutputSetup::AddOutputStream(OutputFile& output, int media_type) {
    AVFormatContext* context = output.context.get();
    AVStream* stream = av().avformat_new_stream(context, nullptr);
    if (stream == nullptr)
        throw FFMpegException("Could not alloc stream");
    stream->id = static_cast<int>(context->nb_streams) - 1;
    OutputStreamSetup setup;
    setup.encoder.reset(av().avcodec_alloc_context3(nullptr));
    if (!setup.encoder)
        throw FFMpegException("Could not alloc stream");
    setup.encoder->codec_type = static_cast<AVMediaType>(media_type);
    // The library picks the thread count.
    setup.encoder->thread_count = 0;
    output.streams.push_back(std::move(setup));
    return output.streams.back();
}

// A context made for the chosen codec starts from that codec's own defaults (libx264 refuses
// the generic ones).
void OutputSetup::ResetEncoder(OutputStreamSetup& setup, const AVCodec* codec) {
    const AVMediaType type = setup.encoder->codec_type;
    CodecContextPtr fresh(av().avcodec_alloc_context3(codec));
    if (!fresh)
        throw FFMpegException("Could not alloc stream");
    fresh->codec_type = type;
    fresh->thread_count = 0;
    setup.encoder = std::move(fresh);
}

void OutputSetup::NewVideoStream(OutputFile& output) {
    struct Consume {
        OptionState& o;
        ~Consume() {
            o.video_disable = 0;
            o.video_codec_name.reset();
            o.video_stream_copy = 0;
        }
    } consume{job_.options};

    OutputStreamSetup& setup = AddOutputStream(output, AVMEDIA_TYPE_VIDEO);
    AVCodecContext* holder = job_.generic.CodecHolder(AVMEDIA_TYPE_VIDEO);
    const AVOutputFormat* format = output.context->oformat;
    int id = 0;
    const AVCodec* codec = nullptr;
    if (job_.options.video_stream_copy == 0) {
        if (job_.options.video_codec_name) {
            if (!LookupCodec(job_.options.video_codec_name, AVMEDIA_TYPE_VIDEO, true, id,
                             job_.last_error, &codec))
                throw FFMpegException(job_.last_error);
        } else {
            id = av().av_guess_codec(format, nullptr, output.context->url, nullptr,
                                     AVMEDIA_TYPE_VIDEO);
            codec = av().avcodec_find_encoder(static_cast<AVCodecID>(id));
        }
        ResetEncoder(setup, codec);
    }
    AVCodecContext* encoder = setup.encoder.get();
    if (job_.options.video_codec_tag != 0)
        encoder->codec_tag = job_.options.video_codec_tag;
    // Global headers stay set on the holder so later video streams of the job inherit them.
    if ((job_.options.video_global_header & 1) != 0 ||
        (job_.options.video_global_header == 0 && (format->flags & AVFMT_GLOBALHEADER))) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        holder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if ((job_.options.video_global_header & 2) != 0) {
        encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        holder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
    if (job_.options.video_stream_copy != 0) {
        setup.stream_copy = true;
        return;
    }

    const AVRational fps =
        job_.options.frame_rate.num != 0
            ? AVRational{job_.options.frame_rate.num, job_.options.frame_rate.den}
            : AVRational{25, 1};
    encoder->codec_id = static_cast<AVCodecID>(id);
    setup.codec = codec;
    job_.generic.TransferOptions(encoder, holder, kOptVideo | kOptEncoding);
    // Inherited rates too: a source's rate need not be one its encoder takes.
    const AVRational rate = EncoderFrameRate(fps, codec, *encoder);
    encoder->time_base = AVRational{rate.den, rate.num};
    SetPictureFormat(*encoder, codec, job_.options);
    SetVideoRateControl(*encoder, setup, job_.options);
}

void OutputSetup::NewAudioStream(OutputFile& output) {
    struct Consume {
        OptionState& o;
        ~Consume() {
            o.audio_disable = 0;
            o.audio_codec_name.reset();
            o.audio_stream_copy = 0;
            o.audio_language.clear();
        }
    } consume{job_.options};

    OutputStreamSetup& setup = AddOutputStream(output, AVMEDIA_TYPE_AUDIO);
    AVCodecContext* holder = job_.generic.CodecHolder(AVMEDIA_TYPE_AUDIO);
    const AVOutputFormat* format = output.context->oformat;
    int id = 0;
    const AVCodec* codec = nullptr;
    if (job_.options.audio_stream_copy == 0) {
        id = av().av_guess_codec(format, nullptr, output.context->url, nullptr, AVMEDIA_TYPE_AUDIO);
        codec = av().avcodec_find_encoder(static_cast<AVCodecID>(id));
        if (job_.options.audio_codec_name &&
            !LookupCodec(job_.options.audio_codec_name, AVMEDIA_TYPE_AUDIO, true, id,
                         job_.last_error, &codec))
            throw FFMpegException(job_.last_error);
        ResetEncoder(setup, codec);
    }
    AVCodecContext* encoder = setup.encoder.get();
    if (job_.options.audio_codec_tag != 0)
        encoder->codec_tag = job_.options.audio_codec_tag;
    if (format->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        holder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (job_.options.audio_stream_copy != 0) {
        setup.stream_copy = true;
    } else {
        int id =
            av().av_guess_codec(format, nullptr, output.context->url, nullptr, AVMEDIA_TYPE_AUDIO);
        const AVCodec* codec = av().avcodec_find_encoder(static_cast<AVCodecID>(id));
        job_.generic.TransferOptions(encoder, holder, kOptAudio | kOptEncoding);
        if (job_.options.audio_codec_name &&
            !LookupCodec(job_.options.audio_codec_name, AVMEDIA_TYPE_AUDIO, true, id,
                         job_.last_error, &codec))
            throw FFMpegException(job_.last_error);
        encoder->codec_id = static_cast<AVCodecID>(id);
        setup.codec = codec;
        if (job_.options.audio_qscale > -99999.0f) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;
            setup.quality = FF_QP2LAMBDA * job_.options.audio_qscale;
            encoder->global_quality = static_cast<int>(setup.quality);
        }
    }
    av().av_channel_layout_uninit(&encoder->ch_layout);
    av().av_channel_layout_default(&encoder->ch_layout, job_.options.audio_channels);
    encoder->sample_rate = job_.options.audio_sample_rate;
    encoder->time_base = AVRational{1, job_.options.audio_sample_rate};
    if (!job_.options.audio_language.empty())
        av().av_dict_set(&output.context->streams[output.streams.size() - 1]->metadata, "language",
                         job_.options.audio_language.substr(0, 3).c_str(), 0);
}

void OutputSetup::NewSubtitleStream(OutputFile& output) {
    struct Consume {
        OptionState& o;
        ~Consume() {
            o.subtitle_disable = 0;
            o.subtitle_codec_name.reset();
            o.subtitle_stream_copy = 0;
            o.subtitle_language.clear();
        }
    } consume{job_.options};

    OutputStreamSetup& setup = AddOutputStream(output, AVMEDIA_TYPE_SUBTITLE);
    if (job_.options.subtitle_stream_copy != 0) {
        setup.stream_copy = true;
    } else {
        int id = 0;
        const AVCodec* codec = nullptr;
        if (job_.options.subtitle_codec_name) {
            if (!LookupCodec(job_.options.subtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, true, id,
                             job_.last_error, &codec))
                throw FFMpegException(job_.last_error);
        } else {
            // This generation's muxers name a default subtitle codec (MP4: timed text), as they
            // do for video and audio.
            id = av().av_guess_codec(output.context->oformat, nullptr, output.context->url, nullptr,
                                     AVMEDIA_TYPE_SUBTITLE);
            codec = av().avcodec_find_encoder(static_cast<AVCodecID>(id));
        }
        ResetEncoder(setup, codec);
        AVCodecContext* encoder = setup.encoder.get();
        job_.generic.TransferOptions(encoder, job_.generic.CodecHolder(AVMEDIA_TYPE_SUBTITLE),
                                     kOptSubtitle | kOptEncoding);
        encoder->codec_id = static_cast<AVCodecID>(id);
        setup.codec = codec;
    }
    if (!job_.options.subtitle_language.empty())
        av().av_dict_set(&output.context->streams[output.streams.size() - 1]->metadata, "language",
                         job_.options.subtitle_language.substr(0, 3).c_str(), 0);
}

} // namespace clipwright
