#include "FFMPEG/stage_context.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/text_format.h"
#include "FFMPEG/timestamps.h"
#include "FFMPEG/transcode.h"

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

int64_t StageContext::Encode(TOutputStreamState& ost, AVFrame* frame) {
    SendFrame(ost, frame);
    int64_t bytes = 0;
    while (AVPacket* packet = NextPacket(ost)) {
        bytes += packet->size;
        WriteEncoded(ost, packet);
    }
    return bytes;
}

void StageContext::WriteVideoStats(const TOutputStreamState& ost, const VideoFeedback& feedback,
                                   int frame_size) {
    const AVCodecContext* enc = ost.Setup->encoder.get();
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO || !Options().vstats_filename)
        return;
    if (!vstats_) {
        const std::string& name = *Options().vstats_filename;
        vstats_.reset(std::fopen(name.c_str(), "w"));
        if (!vstats_)
            throw FFMpegException("fopen fail: " + name);
    }
    std::string line = FormatText("frame= %5d q= %2.1f ", ost.Clock().FrameNumber,
                                  feedback.LastQuality / FF_QP2LAMBDA);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        line += FormatText("PSNR= %6.2f ",
                           Psnr(feedback.LastError[0] /
                                (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0)));
    line += FormatText("f_size= %6d ", frame_size);
    double ti = ost.Clock().SyncPosition * av_q2d(enc->time_base);
    if (ti < 0.01)
        ti = 0.01;
    const double br = frame_size * 8 / av_q2d(enc->time_base) / 1000.0;
    const double avg = Counters.VideoBytes * 8.0 / ti / 1000.0;
    line += FormatText("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                       Counters.VideoBytes / 1024.0, ti, br, avg);
    line += FormatText("type= %c\n", feedback.LastPictType);
    std::fputs(line.c_str(), vstats_.get());
}

} // namespace clipwright
