// Owners of library objects for the test support that links the libraries directly (the
// engine's owners in FFMPEG/av_handles.h call through its run-time binding instead).
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace clipwright::testing {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct InputClose {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputFree {
    void operator()(AVFormatContext* c) const {
        if (c->pb != nullptr && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct ScaleFree {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};

using CodecContextOwner = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FrameOwner = std::unique_ptr<AVFrame, FrameFree>;
using PacketOwner = std::unique_ptr<AVPacket, PacketFree>;
using InputOwner = std::unique_ptr<AVFormatContext, InputClose>;
using OutputOwner = std::unique_ptr<AVFormatContext, OutputFree>;
using ScaleOwner = std::unique_ptr<SwsContext, ScaleFree>;

} // namespace clipwright::testing
