// Video output: keeping the output rate in step with the input clock (drop or duplicate),
// crop, scale and pad, then encoding. Runs once per decoded picture and encoded output.
#include "FFMPEG/transcode.h"

#include <cmath>
#include <cstring>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/custom_ffmpeg.h"
#include "FFMPEG/text_format.h"

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
    ost.ConformContext.reset(av().sws_getCachedContext(
        ost.ConformContext.release(), picture->width, picture->height,
        static_cast<AVPixelFormat>(picture->format), ost.SourceWidth, ost.SourceHeight,
        static_cast<AVPixelFormat>(ost.SourceFormat), SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!ost.ConformContext)
        return nullptr;
    if (!ost.ConformPicture) {
        ost.ConformPicture = allocFrame();
        ost.ConformPicture->format = ost.SourceFormat;
        ost.ConformPicture->width = ost.SourceWidth;
        ost.ConformPicture->height = ost.SourceHeight;
        if (av().av_frame_get_buffer(ost.ConformPicture.get(), 0) < 0) {
            ost.ConformPicture.reset();
            return nullptr;
        }
    }
    if (av().av_frame_make_writable(ost.ConformPicture.get()) < 0)
        return nullptr;
    av().sws_scale(ost.ConformContext.get(), picture->data, picture->linesize, 0, picture->height,
                   ost.ConformPicture->data, ost.ConformPicture->linesize);
    AVFrame* conformed = ost.ConformPicture.get();
    conformed->pts = picture->pts;
    conformed->interlaced_frame = picture->interlaced_frame;
    conformed->top_field_first = picture->top_field_first;
    return conformed;
}

void Transcoder::OutputVideo(TOutputStreamState& ost, TInputStreamState& /*ist*/,
                             AVFrame* picture) {
    AVCodecContext* enc = ost.Setup->encoder.get();
    const OptionState& o = job_.Options();

    int nb = 1;
    const double sync_ipts = static_cast<double>(ost.SyncInput->Pts - o.start_time) / 1000000.0;
    const double tb = av_q2d(enc->time_base);
    if (o.video_sync_method > 0 || (o.video_sync_method != 0 && tb > 0.001)) {
        double vdelta = sync_ipts / tb - static_cast<double>(ost.SyncPosition) - ost.SyncSkew;
        // A leap of more than ten minutes either way is damage in the input, not a gap to fill
        // with copies or to drop up to: the output goes on in step from here.
        if (std::fabs(vdelta) > kLeapSeconds / tb) {
            job_.Log(0, FormatText("*** timestamp leap of %.0f frames, skipping", vdelta - 1));
            ost.SyncSkew += vdelta - 1;
            vdelta = 1;
        }
        if (vdelta < -1.1)
            nb = 0;
        else if (o.video_sync_method == 2)
            ost.SyncPosition = std::llround(sync_ipts / tb);
        else if (vdelta > 1.1)
            nb = static_cast<int>(std::nearbyint(vdelta));
        if (nb == 0) {
            ++counters_.FramesDropped;
            if (job_.Verbosity() > 2)
                job_.Log(1, "*** drop!");
        } else if (nb > 1) {
            counters_.FramesDuplicated += nb - 1;
            if (job_.Verbosity() > 2)
                job_.Log(1, FormatText("*** %d dup!", nb - 1));
        }
    } else {
        ost.SyncPosition = std::llround(sync_ipts / tb);
    }
    nb = std::min(nb, o.max_frames_video - ost.FrameNumber);
    // A timestamp leap in a damaged input asks for a flood of duplicates: none past "t".
    if (o.recording_time != INT64_MAX) {
        const double frames_left = static_cast<double>(o.recording_time) / 1000000.0 / tb -
                                   static_cast<double>(ost.SyncPosition);
        if (frames_left < nb)
            nb = frames_left > 0 ? static_cast<int>(std::ceil(frames_left)) : 0;
    }
    if (nb <= 0)
        return;

    if (picture->width != ost.SourceWidth || picture->height != ost.SourceHeight ||
        picture->format != ost.SourceFormat) {
        picture = ConformPicture(ost, picture);
        if (picture == nullptr) {
            job_.Log(0, "error converting picture");
            return;
        }
    }

    // Crop as a view, scale into the temporary picture, pad around.
    AVFrame* view = crop_view_.get();
    if (ost.VideoCrop) {
        if (!CropView(view, picture, static_cast<AVPixelFormat>(ost.SourceFormat), ost.CropTop,
                      ost.CropLeft)) {
            job_.Log(0, "error cropping picture");
            return;
        }
    } else {
        view = picture;
    }
    AVFrame* final_picture = view;
    if (ost.VideoResample || ost.VideoPad) {
        if (av().av_frame_make_writable(ost.TempPicture.get()) < 0)
            throw FFMpegException("Video encoding failed");
        final_picture = ost.TempPicture.get();
    }
    if (ost.VideoResample) {
        AVFrame* target = ost.TempPicture.get();
        if (ost.VideoPad) {
            if (!CropView(inner_view_.get(), target, enc->pix_fmt, ost.PadTop, ost.PadLeft)) {
                job_.Log(0, "error padding picture");
                return;
            }
            target = inner_view_.get();
        }
        av().sws_scale(ost.ScaleContext.get(), view->data, view->linesize, 0, ost.ResampleHeight,
                       target->data, target->linesize);
    } else if (ost.VideoPad) {
        CopyInto(final_picture, inner_view_.get(), view, enc->pix_fmt,
                 enc->width - ost.PadLeft - ost.PadRight, enc->height - ost.PadTop - ost.PadBottom,
                 ost.PadTop, ost.PadLeft);
    }
    if (ost.VideoPad)
        PaintPadBands(final_picture, enc->pix_fmt, enc->width, enc->height, ost.PadTop,
                      ost.PadBottom, ost.PadLeft, ost.PadRight, o.padcolor);

    AVFrame* frame = encode_frame_.get();
    for (int i = 0; i < nb && !job_.StopRequested && !(i > 0 && PastSizeLimit()); ++i) {
        job_.WaitWhilePaused();
        // A refcounted picture is handed over by reference; a view is described in place.
        if (final_picture->buf[0] != nullptr) {
            if (av().av_frame_ref(frame, final_picture) < 0)
                throw FFMpegException("Video encoding failed");
        } else {
            for (int p = 0; p < 4; ++p) {
                frame->data[p] = final_picture->data[p];
                frame->linesize[p] = final_picture->linesize[p];
            }
        }
        frame->width = enc->width;
        frame->height = enc->height;
        frame->format = enc->pix_fmt;
        frame->interlaced_frame = picture->interlaced_frame;
        if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
            frame->top_field_first =
                o.top_field_first == -1 ? picture->top_field_first : o.top_field_first;
        frame->quality = static_cast<int>(std::lrint(ost.Setup->quality));
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->pts = ost.SyncPosition;
        frame->sample_aspect_ratio = enc->sample_aspect_ratio;
        const int64_t bytes = Encode(ost, frame);
        av().av_frame_unref(frame);
        ++ost.SyncPosition;
        ++ost.FrameNumber;
        if (bytes > 0)
            WriteVideoStats(ost, static_cast<int>(bytes));
    }
}

} // namespace clipwright
