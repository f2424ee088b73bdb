// Video output: keeping the output rate in step with the input clock (drop or duplicate),
// crop, scale and pad, then encoding. Runs once per decoded picture and encoded output.
#include "FFMPEG/transcode.h"

#include <cmath>
#include <cstring>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/custom_ffmpeg.h"
#include "FFMPEG/text_format.h"
#include "FFMPEG/engine_log.h"
#include "FFMPEG/timestamps.h"

namespace clipwright {

namespace {

constexpr double kLeapSeconds = 600.0;

// A view of `source` starting `top` rows down and `left` columns in, without a copy.
bool CropView(AVFrame* view, const AVFrame* source, AVPixelFormat format, int top, int left) {
    const AVPixFmtDescriptor* desc = av().av_pix_fmt_desc_get(format);
    if (desc == nullptr || (desc->flags & AV_PIX_FMT_FLAG_PAL) ||
        (desc->flags & AV_PIX_FMT_FLAG_BITSTREAM))
        return false;
    for (int plane = 0; plane < 4; ++plane) {
        view->data[plane] = source->data[plane];
        view->linesize[plane] = source->linesize[plane];
    }
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        const bool chroma = c == 1 || c == 2;
        const int y = chroma ? top >> desc->log2_chroma_h : top;
        const int x = chroma ? left >> desc->log2_chroma_w : left;
        if (view->data[comp.plane] == source->data[comp.plane])
            view->data[comp.plane] += static_cast<ptrdiff_t>(y) * source->linesize[comp.plane] +
                                      static_cast<ptrdiff_t>(x) * comp.step;
    }
    return true;
}

// Paints the pad bands of `picture` (planar YUV) in the pad colour; the inner area is kept.
void PaintPadBands(AVFrame* picture, AVPixelFormat format, int width, int height, int top,
                   int bottom, int left, int right, const std::array<int32_t, 3>& color) {
    const AVPixFmtDescriptor* desc = av().av_pix_fmt_desc_get(format);
    if (desc == nullptr || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || desc->nb_components < 3)
        return;
    for (int plane = 0; plane < 3; ++plane) {
        const int shift_w = plane == 0 ? 0 : desc->log2_chroma_w;
        const int shift_h = plane == 0 ? 0 : desc->log2_chroma_h;
        const int plane_width = width >> shift_w;
        const int plane_height = height >> shift_h;
        const int ptop = top >> shift_h;
        const int pbottom = bottom >> shift_h;
        const int pleft = left >> shift_w;
        const int pright = right >> shift_w;
        const uint8_t value = static_cast<uint8_t>(color[plane]);
        for (int y = 0; y < plane_height; ++y) {
            uint8_t* row =
                picture->data[plane] + static_cast<ptrdiff_t>(y) * picture->linesize[plane];
            if (y < ptop || y >= plane_height - pbottom) {
                std::memset(row, value, static_cast<size_t>(plane_width));
            } else {
                std::memset(row, value, static_cast<size_t>(pleft));
                std::memset(row + plane_width - pright, value, static_cast<size_t>(pright));
            }
        }
    }
}

// Copies `source` into the inner area of `target` that starts at (top, left); `inner` is a
// scratch frame for the view.
void CopyInto(AVFrame* target, AVFrame* inner, const AVFrame* source, AVPixelFormat format,
              int width, int height, int top, int left) {
    if (!CropView(inner, target, format, top, left))
        return;
    av().av_image_copy(inner->data, inner->linesize, const_cast<const uint8_t**>(source->data),
                       source->linesize, format, width, height);
}

} // namespace

AVFrame* Transcoder::ConformPicture(TOutputStreamState& ost, const AVFrame* picture) {
    // The converter and the picture are made again only when the geometry changes.
    ost.Video.ConformContext.reset(av().sws_getCachedContext(
        ost.Video.ConformContext.release(), picture->width, picture->height,
        static_cast<AVPixelFormat>(picture->format), ost.Video.SourceWidth, ost.Video.SourceHeight,
        static_cast<AVPixelFormat>(ost.Video.SourceFormat), SWS_BICUBIC, nullptr, nullptr,
        nullptr));
    if (!ost.Video.ConformContext)
        return nullptr;
    if (!ost.Video.ConformPicture) {
        ost.Video.ConformPicture = allocFrame();
        ost.Video.ConformPicture->format = ost.Video.SourceFormat;
        ost.Video.ConformPicture->width = ost.Video.SourceWidth;
        ost.Video.ConformPicture->height = ost.Video.SourceHeight;
        if (av().av_frame_get_buffer(ost.Video.ConformPicture.get(), 0) < 0) {
            ost.Video.ConformPicture.reset();
            return nullptr;
        }
    }
    if (av().av_frame_make_writable(ost.Video.ConformPicture.get()) < 0)
        return nullptr;
    av().sws_scale(ost.Video.ConformContext.get(), picture->data, picture->linesize, 0,
                   picture->height, ost.Video.ConformPicture->data,
                   ost.Video.ConformPicture->linesize);
    AVFrame* conformed = ost.Video.ConformPicture.get();
    conformed->pts = picture->pts;
    conformed->interlaced_frame = picture->interlaced_frame;
    conformed->top_field_first = picture->top_field_first;
    return conformed;
}

int Transcoder::VideoSlots(TOutputStreamState& ost, int& fill) {
    AVCodecContext* enc = ost.Setup->encoder.get();
    const OptionState& o = job_.Options();
    fill = 0;
    const TInputStreamState& sync = *ost.SyncInput;
    const int64_t clock = TsOr(sync.ShownPts, sync.Pts);
    const double sync_ipts = Seconds(clock - o.start_time);
    const double tb = av_q2d(enc->time_base);
    if (!(o.video_sync_method > 0 || (o.video_sync_method != 0 && tb > 0.001))) {
        ost.SyncPosition = std::llround(sync_ipts / tb);
        return 1;
    }
    double vdelta = sync_ipts / tb - static_cast<double>(ost.SyncPosition) - ost.SyncSkew;
    // A leap of more than ten minutes either way is damage in the input, not a gap to fill
    // with copies or to drop up to: the output goes on in step from here.
    if (std::fabs(vdelta) > kLeapSeconds / tb) {
        job_.Log(kErrorLevel,
                 FormatText("*** timestamp leap of %.0f frames, skipping", vdelta - 1));
        ost.SyncSkew += vdelta;
        vdelta = 0;
    }
    if (o.video_sync_method == 2) {
        if (vdelta < -1.1)
            return DropPicture();
        ost.SyncPosition = std::llround(sync_ipts / tb);
        return 1;
    }
    // Each picture takes the output slot nearest its own time. The slots before it that no
    // picture took show the previous picture, which lasts until this one starts; the first
    // picture also covers the slots before it (a late video start). A picture whose slot is
    // already taken is dropped.
    const int64_t gap = std::llround(vdelta);
    const bool has_previous = ost.Video.LastFrame && ost.Video.LastFrame->buf[0] != nullptr;
    if (gap < 0 && has_previous)
        return DropPicture();
    if (gap <= 0)
        return 1;
    const int copies = static_cast<int>(std::min<int64_t>(gap, INT32_MAX - 1));
    counters_.FramesDuplicated += copies;
    if (job_.Verbosity() > kDebugLevel)
        job_.Log(kInfoLevel, FormatText("*** %d dup!", copies));
    if (has_previous) {
        fill = copies;
        return 1;
    }
    return copies + 1;
}

int Transcoder::DropPicture() {
    ++counters_.FramesDropped;
    if (job_.Verbosity() > kDebugLevel)
        job_.Log(kInfoLevel, "*** drop!");
    return 0;
}

int Transcoder::LimitCopies(const TOutputStreamState& ost, int copies) const {
    const OptionState& o = job_.Options();
    copies = std::min(copies, o.max_frames_video - ost.FrameNumber);
    // A timestamp leap in a damaged input asks for a flood of duplicates: none past "t".
    if (o.recording_time != INT64_MAX) {
        const double tb = av_q2d(ost.Setup->encoder->time_base);
        const double frames_left =
            Seconds(o.recording_time) / tb - static_cast<double>(ost.SyncPosition);
        if (frames_left < copies)
            copies = frames_left > 0 ? static_cast<int>(std::ceil(frames_left)) : 0;
    }
    return copies;
}

void Transcoder::OutputVideo(TOutputStreamState& ost, TInputStreamState& /*ist*/,
                             AVFrame* picture) {
    int fill = 0;
    const int copies = VideoSlots(ost, fill);
    if (fill > 0)
        EncodeCopies(ost, LimitCopies(ost, fill));
    if (LimitCopies(ost, copies) <= 0)
        return;
    if (!KeepOutputPicture(ost, picture))
        return;
    EncodeCopies(ost, LimitCopies(ost, copies));
}

void Transcoder::FillVideoToEnd(TOutputStreamState& ost, const TInputStreamState& ist) {
    const OptionState& o = job_.Options();
    AVCodecContext* enc = ost.Setup->encoder.get();
    const double tb = av_q2d(enc->time_base);
    if (!ost.Video.LastFrame || ost.Video.LastFrame->buf[0] == nullptr ||
        ist.ShownEnd == AV_NOPTS_VALUE ||
        !(o.video_sync_method == 1 || (o.video_sync_method < 0 && tb > 0.001)))
        return;
    // The last picture lasts until the source's last picture ends, not just one frame.
    const double end = Seconds(ist.ShownEnd - o.start_time) / tb;
    const double missing = end - static_cast<double>(ost.SyncPosition) - ost.SyncSkew;
    if (missing < 0.5 || missing > kLeapSeconds / tb)
        return;
    const int copies = LimitCopies(ost, static_cast<int>(std::llround(missing)));
    counters_.FramesDuplicated += std::max(copies, 0);
    EncodeCopies(ost, copies);
}

bool Transcoder::KeepOutputPicture(TOutputStreamState& ost, AVFrame* picture) {
    AVCodecContext* enc = ost.Setup->encoder.get();
    const OptionState& o = job_.Options();
    // The previous picture is let go first, so the buffers below are ours to write again.
    av().av_frame_unref(ost.Video.LastFrame.get());
    const int source_quality = picture->quality;
    if (picture->width != ost.Video.SourceWidth || picture->height != ost.Video.SourceHeight ||
        picture->format != ost.Video.SourceFormat) {
        picture = ConformPicture(ost, picture);
        if (picture == nullptr) {
            job_.Log(kErrorLevel, "error converting picture");
            return false;
        }
    }
    const auto source_format = static_cast<AVPixelFormat>(ost.Video.SourceFormat);
    AVFrame* kept = ost.Video.LastFrame.get();
    if (!ost.Video.Resample && !ost.Video.Pad) {
        // The picture itself, or a crop of it sharing its buffers: no copy, and the encoder
        // holds a reference instead of copying a picture that owns no buffer.
        if (av().av_frame_ref(kept, picture) < 0)
            throw FFMpegException("Video encoding failed");
        if (ost.Video.Crop &&
            !CropView(kept, picture, source_format, ost.Video.CropTop, ost.Video.CropLeft)) {
            av().av_frame_unref(kept);
            job_.Log(kErrorLevel, "error cropping picture");
            return false;
        }
    } else {
        AVFrame* view = picture;
        if (ost.Video.Crop) {
            view = crop_view_.get();
            if (!CropView(view, picture, source_format, ost.Video.CropTop, ost.Video.CropLeft)) {
                job_.Log(kErrorLevel, "error cropping picture");
                return false;
            }
        }
        if (!ScaleAndPad(ost, view))
            return false;
        if (av().av_frame_ref(kept, ost.Video.TempPicture.get()) < 0)
            throw FFMpegException("Video encoding failed");
    }
    kept->width = enc->width;
    kept->height = enc->height;
    kept->format = enc->pix_fmt;
    kept->interlaced_frame = picture->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
        kept->top_field_first =
            o.top_field_first == -1 ? picture->top_field_first : o.top_field_first;
    kept->quality = o.same_quality != 0 ? SameQuality(ost, source_quality)
                                        : static_cast<int>(std::lrint(ost.Setup->quality));
    kept->pict_type = AV_PICTURE_TYPE_NONE;
    kept->sample_aspect_ratio = enc->sample_aspect_ratio;
    return true;
}

int Transcoder::SameQuality(const TOutputStreamState& ost, int source_quality) {
    if (source_quality > 0)
        return source_quality;
    // This library generation's decoders do not report a picture's quality; the fixed scale
    // of "sameq" stands in, and the log says so once.
    if (!same_quality_logged_) {
        same_quality_logged_ = true;
        job_.Log(kErrorLevel,
                 "sameq: the decoder gives no picture quality; encoding at the best fixed "
                 "quality instead");
    }
    return static_cast<int>(std::lrint(ost.Setup->quality));
}

bool Transcoder::ScaleAndPad(TOutputStreamState& ost, AVFrame* view) {
    AVCodecContext* enc = ost.Setup->encoder.get();
    AVFrame* final_picture = ost.Video.TempPicture.get();
    if (av().av_frame_make_writable(final_picture) < 0)
        throw FFMpegException("Video encoding failed");
    if (ost.Video.Resample) {
        AVFrame* target = final_picture;
        if (ost.Video.Pad) {
            if (!CropView(inner_view_.get(), target, enc->pix_fmt, ost.Video.PadTop,
                          ost.Video.PadLeft)) {
                job_.Log(kErrorLevel, "error padding picture");
                return false;
            }
            target = inner_view_.get();
        }
        av().sws_scale(ost.Video.ScaleContext.get(), view->data, view->linesize, 0,
                       ost.Video.ResampleHeight, target->data, target->linesize);
    } else {
        CopyInto(final_picture, inner_view_.get(), view, enc->pix_fmt,
                 enc->width - ost.Video.PadLeft - ost.Video.PadRight,
                 enc->height - ost.Video.PadTop - ost.Video.PadBottom, ost.Video.PadTop,
                 ost.Video.PadLeft);
    }
    if (ost.Video.Pad)
        PaintPadBands(final_picture, enc->pix_fmt, enc->width, enc->height, ost.Video.PadTop,
                      ost.Video.PadBottom, ost.Video.PadLeft, ost.Video.PadRight,
                      job_.Options().padcolor);
    return true;
}

void Transcoder::EncodeCopies(TOutputStreamState& ost, int copies) {
    AVFrame* frame = ost.Video.LastFrame.get();
    for (int i = 0; i < copies && !job_.StopRequested && !(i > 0 && PastSizeLimit()); ++i) {
        job_.WaitWhilePaused();
        frame->pts = ost.SyncPosition;
        frame->pkt_duration = 1;
        const int64_t bytes = Encode(ost, frame);
        ++ost.SyncPosition;
        ++ost.FrameNumber;
        if (bytes > 0)
            WriteVideoStats(ost, static_cast<int>(bytes));
    }
}

} // namespace clipwright
