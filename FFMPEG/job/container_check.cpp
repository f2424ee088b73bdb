#include "FFMPEG/job/container_check.h"

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_handles.h"

namespace clipwright {

unsigned CopiedCodecTag(const AVOutputFormat& format, const AVCodecParameters& source) {
    const AVCodecTag* const* table = format.codec_tag;
    if (table == nullptr || av().av_codec_get_id(table, source.codec_tag) == source.codec_id ||
        av().av_codec_get_tag(table, source.codec_id) == 0)
        return source.codec_tag;
    return 0;
}

bool ContainerTakes(const AVOutputFormat& format, const AVCodecParameters& source) {
    if (av().avformat_query_codec(&format, source.codec_id, FF_COMPLIANCE_UNOFFICIAL) == 0)
        return false;
    OutputFormatPtr trial(av().avformat_alloc_context());
    if (!trial)
        return false;
    trial->oformat = &format;
    AVStream* stream = av().avformat_new_stream(trial.get(), nullptr);
    if (stream == nullptr || av().avcodec_parameters_copy(stream->codecpar, &source) < 0)
        return false;
    stream->codecpar->codec_tag = CopiedCodecTag(format, source);
    stream->time_base = AVRational{1, 90000};
    // A seekable sink that keeps nothing: some muxers refuse to write to a stream they cannot
    // seek back in.
    if (!(format.flags & AVFMT_NOFILE) &&
        av().avio_open2(&trial->pb, "/dev/null", AVIO_FLAG_WRITE, nullptr, nullptr) < 0)
        return true; // nothing to try with: the real header decides
    return av().avformat_write_header(trial.get(), nullptr) >= 0;
}

std::string OutputFormatName(const std::string& file_name) {
    if (!LibrariesLoaded())
        return "";
    const AVOutputFormat* format = av().av_guess_format(nullptr, file_name.c_str(), nullptr);
    return format != nullptr ? format->name : "";
}

} // namespace clipwright
