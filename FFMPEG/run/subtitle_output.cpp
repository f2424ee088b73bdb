// Subtitle output: each decoded subtitle encoded for every subtitle output fed by it.
#include "FFMPEG/run/transcode.h"

#include <cstring>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"

namespace clipwright {

namespace {

// The styles a text subtitle decoder of this generation gives its events when the source
// states none: the header a text encoder such as MP4's timed text needs to open.
constexpr char kDefaultTextHeader[] =
    "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n"
    "ScaledBorderAndShadow: yes\r\n\r\n[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0"
    "\r\n\r\n[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

// A text encoder's header: the source's own styles (ASS, SSA), else the default ones. The
// context frees it.
void SetTextHeader(AVCodecContext& enc, const AVCodecContext& dec) {
    const AVCodecDescriptor* source = av().avcodec_descriptor_get(dec.codec_id);
    if (enc.subtitle_header != nullptr || source == nullptr ||
        !(source->props & AV_CODEC_PROP_TEXT_SUB))
        return;
    const bool own = (dec.codec_id == AV_CODEC_ID_ASS || dec.codec_id == AV_CODEC_ID_SSA) &&
                     dec.extradata_size > 0;
    const char* header = own ? reinterpret_cast<const char*>(dec.extradata) : kDefaultTextHeader;
    const size_t size =
        own ? static_cast<size_t>(dec.extradata_size) : sizeof kDefaultTextHeader - 1;
    auto* copy = static_cast<uint8_t*>(av().av_mallocz(size + 1));
    if (copy == nullptr)
        throw FFMpegException("av_mallocz fail");
    std::memcpy(copy, header, size);
    enc.subtitle_header = copy;
    enc.subtitle_header_size = static_cast<int>(size);
}

} // namespace

void SubtitleEncodeStage::Setup(const TInputStreamState& ist, const AVCodecContext& dec) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const OptionState& o = run_.Options();
    SetTextHeader(*enc, dec);
    // This generation's subtitle encoders want a clock and a canvas: the source's.
    enc->time_base = ist.Stream->time_base;
    if (enc->width == 0) {
        enc->width = dec.width > 0 ? dec.width : o.frame_width;
        enc->height = dec.height > 0 ? dec.height : o.frame_height;
    }
}

void SubtitleEncodeStage::Output(const TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts,
                                 int64_t duration) {
    if (pts == AV_NOPTS_VALUE) {
        run_.Control().Log(kErrorLevel, "Subtitle packets must have a pts");
        return;
    }
    AVCodecContext* enc = ost_.Setup->encoder.get();
    if (buffer_.empty())
        buffer_.resize(65536);
    // DVB subtitles go out twice: once to show, once to clear.
    const int copies = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
    const unsigned rects = subtitle->num_rects;
    int64_t shown_dts = 0;
    for (int i = 0; i < copies; ++i) {
        if (i == 1)
            subtitle->num_rects = 0;
        const int size = av().avcodec_encode_subtitle(enc, buffer_.data(),
                                                      static_cast<int>(buffer_.size()), subtitle);
        subtitle->num_rects = rects;
        if (size < 0) {
            run_.Control().Log(kErrorLevel, "Subtitle encoding failed");
            return;
        }
        AVPacket* out = run_.OutPacket.get();
        if (av().av_new_packet(out, size) < 0)
            throw FFMpegException("av_mallocz fail");
        std::memcpy(out->data, buffer_.data(), static_cast<size_t>(size));
        const int64_t base = av().av_rescale_q(pts, ist.Stream->time_base, ost_.Stream->time_base);
        if (copies == 2) {
            // Display times are in milliseconds; the clearing packet is timed by its pts and
            // follows the showing one in decode order even when the page outlasts the next.
            const uint32_t display =
                i == 0 ? subtitle->start_display_time : subtitle->end_display_time;
            out->pts =
                base + av().av_rescale_q(display, AVRational{1, 1000}, ost_.Stream->time_base);
            out->dts = i == 0 ? out->pts : shown_dts + 1;
            shown_dts = out->dts;
        } else {
            out->pts = out->dts = base;
            // A subtitle is shown for its display time, or for its packet's duration.
            const uint32_t start = subtitle->start_display_time;
            const uint32_t end = subtitle->end_display_time;
            if (end > start && end != UINT32_MAX)
                out->duration =
                    av().av_rescale_q(end - start, AVRational{1, 1000}, ost_.Stream->time_base);
            else if (duration > 0)
                out->duration =
                    av().av_rescale_q(duration, ist.Stream->time_base, ost_.Stream->time_base);
        }
        run_.WritePacket(ost_, out);
    }
}

} // namespace clipwright
