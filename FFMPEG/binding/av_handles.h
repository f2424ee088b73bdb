// Owners of library objects. Each deleter calls through the binding; the factories throw
// FFMpegException when the library is out of memory. Raw pointers elsewhere are borrowed views.
#pragma once

#include <cstdio>
#include <memory>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVDictionary;
struct AVFifo;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
struct SwsContext;

namespace clipwright {

struct FrameDeleter {
    void operator()(AVFrame* frame) const noexcept;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept;
};
// For a context used only to hold option values.
struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const noexcept;
};
// For a context that avformat_open_input opened.
struct InputFormatDeleter {
    void operator()(AVFormatContext* context) const noexcept;
};
// For a muxer context: closes its byte stream (unless the format has no file), then frees it.
struct OutputFormatDeleter {
    void operator()(AVFormatContext* context) const noexcept;
};
struct SwsDeleter {
    void operator()(SwsContext* context) const noexcept;
};
struct SwrDeleter {
    void operator()(SwrContext* context) const noexcept;
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const noexcept;
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const noexcept;
};
struct FifoDeleter {
    void operator()(AVFifo* fifo) const noexcept;
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const noexcept;
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;
using FifoPtr = std::unique_ptr<AVFifo, FifoDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;

// Lends an owned dictionary to library calls that take AVDictionary** (and may fill, replace
// or free it); the owner takes back whatever they left when the slot ends, also on a throw.
class DictionarySlot {
public:
    explicit DictionarySlot(DictionaryPtr& owner) : owner_(owner), raw_(owner.release()) {}
    ~DictionarySlot() { owner_.reset(raw_); }
    DictionarySlot(const DictionarySlot&) = delete;
    DictionarySlot& operator=(const DictionarySlot&) = delete;
    AVDictionary** get() { return &raw_; }

private:
    DictionaryPtr& owner_;
    AVDictionary* raw_;
};

// An owned copy of `source` (none: an empty dictionary).
DictionaryPtr CopyDictionary(const AVDictionary* source);

// A stdio file the engine writes (two-pass statistics, per-picture statistics).
struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FramePtr allocFrame();
PacketPtr allocPacket();

} // namespace clipwright
