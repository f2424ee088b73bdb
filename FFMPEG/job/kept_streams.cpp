// "map_all": an output that keeps every stream of its inputs without re-encoding, as far as its
// container can hold them, with the files' tags and chapters.
#include "FFMPEG/job/output_setup.h"

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/container_check.h"

namespace clipwright {

namespace {

// Whether the muxer takes `codec` as it is: an unknown answer (a muxer with no table) counts as
// yes, and the header decides.
bool Holds(const AVOutputFormat* format, AVCodecID codec) {
    return av().avformat_query_codec(format, codec, FF_COMPLIANCE_UNOFFICIAL) != 0;
}

// The text form a container holds subtitles in: its own default, else the first it takes of the
// common ones (MP4 names none but takes timed text). None when it holds no text.
AVCodecID TextSubtitleCodec(const AVOutputFormat* format) {
    for (const AVCodecID codec : {format->subtitle_codec, AV_CODEC_ID_MOV_TEXT, AV_CODEC_ID_WEBVTT,
                                  AV_CODEC_ID_ASS, AV_CODEC_ID_SUBRIP}) {
        if (codec != AV_CODEC_ID_NONE && Holds(format, codec))
            return codec;
    }
    return AV_CODEC_ID_NONE;
}

bool IsTextSubtitle(AVCodecID codec) {
    const AVCodecDescriptor* descriptor = av().avcodec_descriptor_get(codec);
    return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_TEXT_SUB) != 0;
}

const char* KindOf(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "attachment";
    default:
        return "data";
    }
}

void CopyChapters(const AVFormatContext& from, AVFormatContext& to) {
    for (unsigned i = 0; i < from.nb_chapters; ++i) {
        const AVChapter& source = *from.chapters[i];
        auto* chapter = static_cast<AVChapter*>(av().av_mallocz(sizeof(AVChapter)));
        auto* grown = static_cast<AVChapter**>(
            av().av_realloc_array(to.chapters, to.nb_chapters + 1, sizeof(AVChapter*)));
        if (chapter == nullptr || grown == nullptr) {
            av().av_free(chapter);
            if (grown != nullptr)
                to.chapters = grown;
            throw FFMpegException("Could not alloc stream");
        }
        chapter->id = source.id;
        chapter->time_base = source.time_base;
        chapter->start = source.start;
        chapter->end = source.end;
        av().av_dict_copy(&chapter->metadata, source.metadata, 0);
        to.chapters = grown;
        to.chapters[to.nb_chapters++] = chapter; // freed with the context
    }
}

} // namespace

bool OutputSetup::CreateKeptStreams(OutputFile& output) {
    AVFormatContext* out = output.context.get();
    const AVOutputFormat* format = out->oformat;
    if (!job_.options.stream_maps.empty()) {
        job_.last_error = "map_all takes every stream: no map may be given with it";
        return false;
    }
    try {
        for (size_t f = 0; f < job_.inputs.size(); ++f) {
            const AVFormatContext& input = *job_.inputs[f].context;
            for (unsigned s = 0; s < input.nb_streams; ++s) {
                const AVStream& stream = *input.streams[s];
                const AVMediaType type = stream.codecpar->codec_type;
                const AVCodecID codec = stream.codecpar->codec_id;
                const std::string name = FormatText("Stream #%d.%u (%s %s)", static_cast<int>(f), s,
                                                    KindOf(type), av().avcodec_get_name(codec));
                const bool media = type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO ||
                                   type == AVMEDIA_TYPE_SUBTITLE;
                if (!media || (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) ||
                    codec == AV_CODEC_ID_NONE) {
                    job_.log(kInfoLevel,
                             name + " left out: only video, sound and subtitles are kept");
                    continue;
                }
                const bool takes = ContainerTakes(*format, *stream.codecpar);
                const AVCodecID text_codec = TextSubtitleCodec(format);
                const bool as_text = type == AVMEDIA_TYPE_SUBTITLE && !takes &&
                                     IsTextSubtitle(codec) && text_codec != AV_CODEC_ID_NONE;
                if (!as_text && !takes) {
                    job_.log(kInfoLevel, FormatText("%s left out: %s cannot hold it", name.c_str(),
                                                    format->long_name));
                    continue;
                }
                if (type == AVMEDIA_TYPE_VIDEO) {
                    job_.options.video_stream_copy = 1;
                    NewVideoStream(output);
                } else if (type == AVMEDIA_TYPE_AUDIO) {
                    job_.options.audio_stream_copy = 1;
                    NewAudioStream(output);
                } else if (as_text) {
                    job_.options.subtitle_codec_name = av().avcodec_get_name(text_codec);
                    NewSubtitleStream(output);
                    job_.log(kInfoLevel, FormatText("%s kept as %s", name.c_str(),
                                                    av().avcodec_get_name(text_codec)));
                } else {
                    job_.options.subtitle_stream_copy = 1;
                    NewSubtitleStream(output);
                }
                av().av_dict_copy(&out->streams[out->nb_streams - 1]->metadata, stream.metadata, 0);
                job_.options.stream_maps.push_back(
                    {static_cast<int32_t>(f), static_cast<int32_t>(s), static_cast<int32_t>(f),
                     static_cast<int32_t>(s)});
            }
        }
        if (out->nb_streams == 0) {
            job_.last_error = FormatText(
                "Nothing to keep: %s holds none of the streams of the source", format->long_name);
            return false;
        }
        if (!job_.inputs.empty()) {
            av().av_dict_copy(&out->metadata, job_.inputs[0].context->metadata, 0);
            CopyChapters(*job_.inputs[0].context, *out);
        }
    } catch (const std::exception& error) {
        job_.last_error = error.what();
        return false;
    }
    return true;
}

} // namespace clipwright
