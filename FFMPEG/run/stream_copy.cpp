// Stream copy: the input's packets into an output stream as they are, with their timestamps
// moved to the output's time base.
#include "FFMPEG/run/transcode.h"

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/timestamps.h"

namespace clipwright {

void StreamCopyStage::Copy(const TInputStreamState& ist, const AVPacket* packet) {
    if (clock_.Finished || (clock_.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY)))
        return;
    const AVRational from = ist.Stream->time_base;
    // Nothing that starts at or past "t": the other streams of an interleaved file are read
    // on while this one is ahead of them. By decode time, as the loop counts.
    const OptionState& o = run_.Options();
    const int64_t at = RescaleTs(packet->dts, from, kMicroseconds, ist.Pts);
    if (o.recording_time != INT64_MAX && at - o.start_time >= o.recording_time) {
        clock_.Finished = true;
        return;
    }
    AVCodecContext* enc = ost_.Setup->encoder.get();
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
        run_.Counters.AudioBytes += packet->size;
    } else if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        run_.Counters.VideoBytes += packet->size;
        ++clock_.SyncPosition;
    }
    AVPacket* out = run_.OutPacket.get();
    if (av().av_packet_ref(out, packet) < 0)
        throw FFMpegException("av_mallocz fail");
    const AVRational to = ost_.Stream->time_base;
    // Streams without timestamps (elementary video, some program streams) take the input
    // clock; a packet without a duration lasts one frame, so the muxer can end the track.
    out->dts = RescaleTs(packet->dts, from, to, FromMicroseconds(ist.Pts, to));
    out->pts = RescaleTs(packet->pts, from, to, out->dts);
    out->duration =
        RescaleDuration(packet->duration, from, to, FromMicroseconds(ist.FrameDuration, to));
    run_.WritePacket(ost_, out);
    ++clock_.FrameNumber;
}

} // namespace clipwright
