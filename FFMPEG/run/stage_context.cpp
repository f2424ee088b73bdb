#include "FFMPEG/run/stage_context.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/timestamps.h"
#include "FFMPEG/run/transcode.h"

namespace clipwright {

namespace {

const char* EncodingFailure(const AVCodecContext& enc) {
    return enc.codec_type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed";
}

} // namespace

double Psnr(double d) {
    return -10.0 * std::log10(d);
}

bool StageContext::PastSizeLimit() const {
    const int64_t limit = Options().limit_filesize;
    if (limit == 0 || OutputFiles().empty())
        return false;
    AVIOContext* pb = OutputFiles()[0].context->pb;
    return pb != nullptr && av().avio_seek(pb, 0, SEEK_CUR) > limit;
}

void StageContext::WritePacket(TOutputStreamState& ost, AVPacket* packet) {
    packet->stream_index = ost.StreamIndex;
    ++ost.PacketsWritten;
    const int64_t end =
        TsOr(packet->dts, packet->pts) + (packet->duration > 0 ? packet->duration : 0);
    if (end > ost.MuxedEnd)
        ost.MuxedEnd = end;
    // The bitstream-filter chains are always empty: their options are not supported.
    const int written =
        av().av_interleaved_write_frame(OutputFiles()[ost.FileIndex].context.get(), packet);
    av().av_packet_unref(packet);
    if (written < 0)
        throw FFMpegException(OpenErrorText("av_interleaved_write_frame()", written));
}

void StageContext::SendFrame(TOutputStreamState& ost, AVFrame* frame) {
    AVCodecContext* enc = ost.Setup->encoder.get();
    const int sent = av().avcodec_send_frame(enc, frame);
    if (sent < 0 && sent != AVERROR_EOF)
        throw FFMpegException(EncodingFailure(*enc));
}

AVPacket* StageContext::NextPacket(TOutputStreamState& ost) {
    AVCodecContext* enc = ost.Setup->encoder.get();
    AVPacket* out = OutPacket.get();
    const int got = av().avcodec_receive_packet(enc, out);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
        return nullptr;
    if (got < 0)
        throw FFMpegException(EncodingFailure(*enc));
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        // Every encoded picture lasts one tick of the encoder's time base (one frame); the
        // muxer needs it to give the last picture its length.
        if (out->duration <= 0)
            out->duration = 1;
        Counters.VideoBytes += out->size;
    } else if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
        Counters.AudioBytes += out->size;
    }
    return out;
}

void StageContext::WriteEncoded(TOutputStreamState& ost, AVPacket* packet) {
    av().av_packet_rescale_ts(packet, ost.Setup->encoder->time_base, ost.Stream->time_base);
    WritePacket(ost, packet);
}

std::FILE* StageContext::VideoStatsFile() {
    if (!Options().vstats_filename)
        return nullptr;
    if (!vstats_) {
        const std::string& name = *Options().vstats_filename;
        vstats_.reset(std::fopen(name.c_str(), "w"));
        if (!vstats_)
            throw FFMpegException("fopen fail: " + name);
    }
    return vstats_.get();
}

} // namespace clipwright
