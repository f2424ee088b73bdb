#include "FFMPEG/probe/measured_length.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/timestamps.h"

namespace clipwright {

bool LengthNeedsMeasuring(const AVFormatContext& context) {
    if (context.pb == nullptr || !(context.pb->seekable & AVIO_SEEKABLE_NORMAL) ||
        context.url == nullptr)
        return false;
    return context.duration == AV_NOPTS_VALUE ||
           context.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
}

int64_t MeasureLength(const AVFormatContext& source, const AVDictionary* demuxer_options) {
    AVFormatContext* raw = av().avformat_alloc_context();
    if (raw == nullptr)
        return AV_NOPTS_VALUE;
    raw->video_codec_id = source.video_codec_id;
    raw->audio_codec_id = source.audio_codec_id;
    raw->subtitle_codec_id = source.subtitle_codec_id;
    DictionaryPtr options = CopyDictionary(demuxer_options);
    // On failure the library frees the context it was given.
    const int opened =
        av().avformat_open_input(&raw, source.url, source.iformat, DictionarySlot(options).get());
    if (opened < 0)
        return AV_NOPTS_VALUE;
    const InputFormatPtr context(raw);
    {
        // Raw streams get their frame durations from what this finds.
        std::lock_guard lock(CodecLock());
        if (av().avformat_find_stream_info(raw, nullptr) < 0)
            return AV_NOPTS_VALUE;
    }
    const PacketPtr packet(av().av_packet_alloc());
    if (!packet)
        return AV_NOPTS_VALUE;

    // Per stream, the end of its packets so far: packets without a timestamp follow on.
    std::vector<int64_t> stream_ends(raw->nb_streams, AV_NOPTS_VALUE);
    int64_t first = AV_NOPTS_VALUE;
    int64_t last = AV_NOPTS_VALUE;
    bool whole_file = false;
    int64_t position = 0;
    for (;;) {
        if (av().av_read_frame(raw, packet.get()) < 0) {
            whole_file = true; // the end, or as far as the file can be read
            break;
        }
        const AVStream* stream = raw->streams[packet->stream_index];
        int64_t& stream_end = stream_ends[static_cast<size_t>(packet->stream_index)];
        // A cover picture has no place in time.
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            const int64_t ts = TsOr(packet->pts, packet->dts);
            const int64_t start =
                RescaleTs(ts, stream->time_base, kMicroseconds, TsOr(stream_end, 0));
            const int64_t end =
                start + RescaleDuration(packet->duration, stream->time_base, kMicroseconds, 0);
            stream_end = stream_end == AV_NOPTS_VALUE ? end : std::max(stream_end, end);
            first = first == AV_NOPTS_VALUE ? start : std::min(first, start);
            last = last == AV_NOPTS_VALUE ? end : std::max(last, end);
        }
        av().av_packet_unref(packet.get());
        position = av().avio_seek(raw->pb, 0, SEEK_CUR);
        if (position > kMeasuredBytes)
            break;
    }
    if (first == AV_NOPTS_VALUE || last <= first)
        return AV_NOPTS_VALUE;
    const int64_t length = last - first;
    const int64_t size = av().avio_size(raw->pb);
    if (whole_file || position <= 0 || size <= position)
        return length;
    return av().av_rescale(length, size, position);
}

} // namespace clipwright
