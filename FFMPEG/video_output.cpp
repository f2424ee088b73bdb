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

AVFrame* VideoEncodeStage::ConformPicture(const AVFrame* picture) {
    // The converter and the picture are made again only when the geometry changes.
    ost_.Video.ConformContext.reset(av().sws_getCachedContext(
        ost_.Video.ConformContext.release(), picture->width, picture->height,
        static_cast<AVPixelFormat>(picture->format), ost_.Video.SourceWidth,
        ost_.Video.SourceHeight, static_cast<AVPixelFormat>(ost_.Video.SourceFormat), SWS_BICUBIC,
        nullptr, nullptr, nullptr));
    if (!ost_.Video.ConformContext)
        return nullptr;
    if (!ost_.Video.ConformPicture) {
        ost_.Video.ConformPicture = allocFrame();
        ost_.Video.ConformPicture->format = ost_.Video.SourceFormat;
        ost_.Video.ConformPicture->width = ost_.Video.SourceWidth;
        ost_.Video.ConformPicture->height = ost_.Video.SourceHeight;
        if (av().av_frame_get_buffer(ost_.Video.ConformPicture.get(), 0) < 0) {
            ost_.Video.ConformPicture.reset();
            return nullptr;
        }
    }
    if (av().av_frame_make_writable(ost_.Video.ConformPicture.get()) < 0)
        return nullptr;
    av().sws_scale(ost_.Video.ConformContext.get(), picture->data, picture->linesize, 0,
                   picture->height, ost_.Video.ConformPicture->data,
                   ost_.Video.ConformPicture->linesize);
    AVFrame* conformed = ost_.Video.ConformPicture.get();
    conformed->pts = picture->pts;
    conformed->interlaced_frame = picture->interlaced_frame;
    conformed->top_field_first = picture->top_field_first;
    return conformed;
}

int VideoEncodeStage::Slots(int& fill) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const OptionState& o = run_.Options();
    fill = 0;
    const TInputStreamState& sync = *ost_.SyncInput;
    const int64_t clock = TsOr(sync.ShownPts, sync.Pts);
    const double sync_ipts = Seconds(clock - o.start_time);
    const double tb = av_q2d(enc->time_base);
    if (!(o.video_sync_method > 0 || (o.video_sync_method != 0 && tb > 0.001))) {
        ost_.SyncPosition = std::llround(sync_ipts / tb);
        return 1;
    }
    double vdelta = sync_ipts / tb - static_cast<double>(ost_.SyncPosition) - ost_.SyncSkew;
    // A leap of more than ten minutes either way is damage in the input, not a gap to fill
    // with copies or to drop up to: the output goes on in step from here.
    if (std::fabs(vdelta) > kLeapSeconds / tb) {
        run_.job_.Log(kErrorLevel,
                      FormatText("*** timestamp leap of %.0f frames, skipping", vdelta - 1));
        ost_.SyncSkew += vdelta;
        vdelta = 0;
    }
    if (o.video_sync_method == 2) {
        if (vdelta < -1.1)
            return DropPicture();
        ost_.SyncPosition = std::llround(sync_ipts / tb);
        return 1;
    }
    // Each picture takes the output slot nearest its own time. The slots before it that no
    // picture took show the previous picture, which lasts until this one starts; the first
    // picture also covers the slots before it (a late video start). A picture whose slot is
    // already taken is dropped.
    const int64_t gap = std::llround(vdelta);
    const bool has_previous = ost_.Video.LastFrame && ost_.Video.LastFrame->buf[0] != nullptr;
    if (gap < 0 && has_previous)
        return DropPicture();
    if (gap <= 0)
        return 1;
    const int copies = static_cast<int>(std::min<int64_t>(gap, INT32_MAX - 1));
    run_.counters_.FramesDuplicated += copies;
    if (run_.job_.Verbosity() > kDebugLevel)
        run_.job_.Log(kInfoLevel, FormatText("*** %d dup!", copies));
    if (has_previous) {
        fill = copies;
        return 1;
    }
    return copies + 1;
}

int VideoEncodeStage::DropPicture() {
    ++run_.counters_.FramesDropped;
    if (run_.job_.Verbosity() > kDebugLevel)
        run_.job_.Log(kInfoLevel, "*** drop!");
    return 0;
}

int VideoEncodeStage::LimitCopies(int copies) const {
    const OptionState& o = run_.Options();
    copies = std::min(copies, o.max_frames_video - ost_.FrameNumber);
    // A timestamp leap in a damaged input asks for a flood of duplicates: none past "t".
    if (o.recording_time != INT64_MAX) {
        const double tb = av_q2d(ost_.Setup->encoder->time_base);
        const double frames_left =
            Seconds(o.recording_time) / tb - static_cast<double>(ost_.SyncPosition);
        if (frames_left < copies)
            copies = frames_left > 0 ? static_cast<int>(std::ceil(frames_left)) : 0;
    }
    return copies;
}

void VideoEncodeStage::Output(AVFrame* picture) {
    int fill = 0;
    const int copies = Slots(fill);
    if (fill > 0)
        EncodeCopies(LimitCopies(fill));
    if (LimitCopies(copies) <= 0)
        return;
    if (!KeepOutputPicture(picture))
        return;
    EncodeCopies(LimitCopies(copies));
}

void VideoEncodeStage::FillToEnd(const TInputStreamState& ist) {
    const OptionState& o = run_.Options();
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const double tb = av_q2d(enc->time_base);
    if (!ost_.Video.LastFrame || ost_.Video.LastFrame->buf[0] == nullptr ||
        ist.ShownEnd == AV_NOPTS_VALUE ||
        !(o.video_sync_method == 1 || (o.video_sync_method < 0 && tb > 0.001)))
        return;
    // The last picture lasts until the source's last picture ends, not just one frame.
    const double end = Seconds(ist.ShownEnd - o.start_time) / tb;
    const double missing = end - static_cast<double>(ost_.SyncPosition) - ost_.SyncSkew;
    if (missing < 0.5 || missing > kLeapSeconds / tb)
        return;
    const int copies = LimitCopies(static_cast<int>(std::llround(missing)));
    run_.counters_.FramesDuplicated += std::max(copies, 0);
    EncodeCopies(copies);
}

bool VideoEncodeStage::KeepOutputPicture(AVFrame* picture) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const OptionState& o = run_.Options();
    // The previous picture is let go first, so the buffers below are ours to write again.
    av().av_frame_unref(ost_.Video.LastFrame.get());
    const int source_quality = picture->quality;
    if (picture->width != ost_.Video.SourceWidth || picture->height != ost_.Video.SourceHeight ||
        picture->format != ost_.Video.SourceFormat) {
        picture = ConformPicture(picture);
        if (picture == nullptr) {
            run_.job_.Log(kErrorLevel, "error converting picture");
            return false;
        }
    }
    const auto source_format = static_cast<AVPixelFormat>(ost_.Video.SourceFormat);
    AVFrame* kept = ost_.Video.LastFrame.get();
    if (!ost_.Video.Resample && !ost_.Video.Pad) {
        // The picture itself, or a crop of it sharing its buffers: no copy, and the encoder
        // holds a reference instead of copying a picture that owns no buffer.
        if (av().av_frame_ref(kept, picture) < 0)
            throw FFMpegException("Video encoding failed");
        if (ost_.Video.Crop &&
            !CropView(kept, picture, source_format, ost_.Video.CropTop, ost_.Video.CropLeft)) {
            av().av_frame_unref(kept);
            run_.job_.Log(kErrorLevel, "error cropping picture");
            return false;
        }
    } else {
        AVFrame* view = picture;
        if (ost_.Video.Crop) {
            view = run_.crop_view_.get();
            if (!CropView(view, picture, source_format, ost_.Video.CropTop, ost_.Video.CropLeft)) {
                run_.job_.Log(kErrorLevel, "error cropping picture");
                return false;
            }
        }
        if (!ScaleAndPad(view))
            return false;
        if (av().av_frame_ref(kept, ost_.Video.TempPicture.get()) < 0)
            throw FFMpegException("Video encoding failed");
    }
    kept->width = enc->width;
    kept->height = enc->height;
    kept->format = enc->pix_fmt;
    kept->interlaced_frame = picture->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
        kept->top_field_first =
            o.top_field_first == -1 ? picture->top_field_first : o.top_field_first;
    kept->quality = o.same_quality != 0 ? SameQuality(source_quality)
                                        : static_cast<int>(std::lrint(ost_.Setup->quality));
    kept->pict_type = AV_PICTURE_TYPE_NONE;
    kept->sample_aspect_ratio = enc->sample_aspect_ratio;
    return true;
}

int VideoEncodeStage::SameQuality(int source_quality) {
    if (source_quality > 0)
        return source_quality;
    // This library generation's decoders do not report a picture's quality; the fixed scale
    // of "sameq" stands in, and the log says so once.
    if (!run_.same_quality_logged_) {
        run_.same_quality_logged_ = true;
        run_.job_.Log(kErrorLevel,
                      "sameq: the decoder gives no picture quality; encoding at the best fixed "
                      "quality instead");
    }
    return static_cast<int>(std::lrint(ost_.Setup->quality));
}

bool VideoEncodeStage::ScaleAndPad(AVFrame* view) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    AVFrame* final_picture = ost_.Video.TempPicture.get();
    if (av().av_frame_make_writable(final_picture) < 0)
        throw FFMpegException("Video encoding failed");
    if (ost_.Video.Resample) {
        AVFrame* target = final_picture;
        if (ost_.Video.Pad) {
            if (!CropView(run_.inner_view_.get(), target, enc->pix_fmt, ost_.Video.PadTop,
                          ost_.Video.PadLeft)) {
                run_.job_.Log(kErrorLevel, "error padding picture");
                return false;
            }
            target = run_.inner_view_.get();
        }
        av().sws_scale(ost_.Video.ScaleContext.get(), view->data, view->linesize, 0,
                       ost_.Video.ResampleHeight, target->data, target->linesize);
    } else {
        CopyInto(final_picture, run_.inner_view_.get(), view, enc->pix_fmt,
                 enc->width - ost_.Video.PadLeft - ost_.Video.PadRight,
                 enc->height - ost_.Video.PadTop - ost_.Video.PadBottom, ost_.Video.PadTop,
                 ost_.Video.PadLeft);
    }
    if (ost_.Video.Pad)
        PaintPadBands(final_picture, enc->pix_fmt, enc->width, enc->height, ost_.Video.PadTop,
                      ost_.Video.PadBottom, ost_.Video.PadLeft, ost_.Video.PadRight,
                      run_.Options().padcolor);
    return true;
}

void VideoEncodeStage::EncodeCopies(int copies) {
    AVFrame* frame = ost_.Video.LastFrame.get();
    for (int i = 0; i < copies && !run_.job_.StopRequested && !(i > 0 && run_.PastSizeLimit());
         ++i) {
        run_.job_.WaitWhilePaused();
        frame->pts = ost_.SyncPosition;
        frame->pkt_duration = 1;
        const int64_t bytes = run_.Encode(ost_, frame);
        ++ost_.SyncPosition;
        ++ost_.FrameNumber;
        if (bytes > 0)
            run_.WriteVideoStats(ost_, static_cast<int>(bytes));
    }
}

} // namespace clipwright
