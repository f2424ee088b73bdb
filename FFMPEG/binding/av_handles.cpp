#include "FFMPEG/binding/av_handles.h"

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"

namespace clipwright {

void FrameDeleter::operator()(AVFrame* frame) const noexcept {
    av().av_frame_free(&frame);
}

void PacketDeleter::operator()(AVPacket* packet) const noexcept {
    av().av_packet_free(&packet);
}

void ParserDeleter::operator()(AVCodecParserContext* parser) const noexcept {
    av().av_parser_close(parser);
}

void CodecContextDeleter::operator()(AVCodecContext* context) const noexcept {
    av().avcodec_free_context(&context);
}

void FormatContextDeleter::operator()(AVFormatContext* context) const noexcept {
    av().avformat_free_context(context);
}

void InputFormatDeleter::operator()(AVFormatContext* context) const noexcept {
    av().avformat_close_input(&context);
}

void OutputFormatDeleter::operator()(AVFormatContext* context) const noexcept {
    if (context->oformat != nullptr && !(context->oformat->flags & AVFMT_NOFILE))
        av().avio_closep(&context->pb);
    av().avformat_free_context(context);
}

void SwsDeleter::operator()(SwsContext* context) const noexcept {
    av().sws_freeContext(context);
}

void SwrDeleter::operator()(SwrContext* context) const noexcept {
    av().swr_free(&context);
}

void FilterGraphDeleter::operator()(AVFilterGraph* graph) const noexcept {
    av().avfilter_graph_free(&graph);
}

void DictionaryDeleter::operator()(AVDictionary* dictionary) const noexcept {
    av().av_dict_free(&dictionary);
}

DictionaryPtr CopyDictionary(const AVDictionary* source) {
    DictionaryPtr copy;
    av().av_dict_copy(DictionarySlot(copy).get(), source, 0);
    return copy;
}

void FifoDeleter::operator()(AVFifo* fifo) const noexcept {
    av().av_fifo_freep2(&fifo);
}

FramePtr allocFrame() {
    FramePtr frame(av().av_frame_alloc());
    if (!frame)
        throw FFMpegException("Could not allocate frame");
    return frame;
}

PacketPtr allocPacket() {
    PacketPtr packet(av().av_packet_alloc());
    if (!packet)
        throw FFMpegException("Could not allocate packet");
    return packet;
}

} // namespace clipwright
