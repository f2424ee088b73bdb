// Video output: keeping the output rate in step with the input clock (drop or duplicate),
// crop, scale and pad, then encoding. Runs once per decoded picture and encoded output.
#include "FFMPEG/run/transcode.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/binding/timestamps.h"

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

void VideoEncodeStage::Setup(const AVCodecContext& dec, int turn) {
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    const OptionState& o = run_.Options();
    // A stream whose pictures were never seen has no geometry to scale from.
    if (dec.pix_fmt == AV_PIX_FMT_NONE || dec.width <= 0 || dec.height <= 0)
        throw FFMpegException("Cannot get resampling context");
    // Pictures turned by a quarter arrive with their sides swapped.
    const bool sideways = turn % 180 != 0;
    const int width = sideways ? dec.height : dec.width;
    const int height = sideways ? dec.width : dec.height;
    state_.LastFrame = allocFrame();
    state_.CropView = allocFrame();
    state_.InnerView = allocFrame();
    state_.SourceWidth = width;
    state_.SourceHeight = height;
    state_.SourceFormat = dec.pix_fmt;
    state_.Crop =
        (o.frame_topband + o.frame_bottomband + o.frame_leftband + o.frame_rightband) != 0;
    state_.Pad = (o.frame_padtop + o.frame_padbottom + o.frame_padleft + o.frame_padright) != 0;
    const int crop_width = width - (o.frame_leftband + o.frame_rightband);
    const int crop_height = height - (o.frame_topband + o.frame_bottomband);
    state_.Resample = enc->width != crop_width + o.frame_padleft + o.frame_padright ||
                      enc->height != crop_height + o.frame_padtop + o.frame_padbottom ||
                      enc->pix_fmt != dec.pix_fmt;
    if (state_.Crop) {
        state_.CropTop = o.frame_topband;
        state_.CropLeft = o.frame_leftband;
    }
    if (state_.Pad) {
        state_.PadTop = o.frame_padtop;
        state_.PadBottom = o.frame_padbottom;
        state_.PadLeft = o.frame_padleft;
        state_.PadRight = o.frame_padright;
        if (!state_.Resample)
            AllocTempPicture("avpicture_alloc fail");
    }
    if (state_.Resample) {
        AllocTempPicture("Cannot allocate temp picture, check pix fmt");
        const int64_t flags = run_.Settings().ScalerFlags();
        state_.ScaleContext.reset(av().sws_getContext(
            crop_width, crop_height, dec.pix_fmt, enc->width - (o.frame_padleft + o.frame_padright),
            enc->height - (o.frame_padtop + o.frame_padbottom), enc->pix_fmt,
            static_cast<int>(flags), nullptr, nullptr, nullptr));
        if (!state_.ScaleContext)
            throw FFMpegException("Cannot get resampling context");
        state_.ResampleHeight = crop_height;
    }
}

void VideoEncodeStage::AllocTempPicture(const char* failure) {
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    state_.TempPicture = allocFrame();
    state_.TempPicture->format = enc->pix_fmt;
    state_.TempPicture->width = enc->width;
    state_.TempPicture->height = enc->height;
    if (av().av_frame_get_buffer(state_.TempPicture.get(), 0) < 0)
        throw FFMpegException(failure);
}

FilePtr OpenPassLogFile(AVCodecContext& enc, const std::string& prefix, int index) {
    if (!(enc.flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return nullptr;
    std::string name =
        FormatText("%s-%d.log", prefix.empty() ? "ffmpeg2pass" : prefix.c_str(), index);
    if (name.size() > 1023)
        name.resize(1023);
    if (enc.flags & AV_CODEC_FLAG_PASS1) {
        FilePtr written(std::fopen(name.c_str(), "w"));
        if (!written)
            throw FFMpegException("creat file fail: " + name);
        return written;
    }
    const FilePtr file(std::fopen(name.c_str(), "r"));
    if (!file)
        throw FFMpegException("creat open fail: " + name);
    std::fseek(file.get(), 0, SEEK_END);
    const long size = std::ftell(file.get());
    std::fseek(file.get(), 0, SEEK_SET);
    char* buffer = static_cast<char*>(av().av_malloc(static_cast<size_t>(size < 0 ? 0 : size) + 1));
    if (buffer == nullptr)
        throw FFMpegException("Could not allocate log buffer");
    const size_t read = std::fread(buffer, 1, static_cast<size_t>(size < 0 ? 0 : size), file.get());
    buffer[read] = '\0';
    enc.stats_in = buffer;
    return nullptr;
}

void VideoEncodeStage::OpenPassLog(int index) {
    pass_log_ =
        OpenPassLogFile(*ost_.Setup->encoder, run_.Options().pass_logfilename_prefix, index);
}

int64_t VideoEncodeStage::EncodeFrame(AVFrame* frame) {
    run_.SendFrame(ost_, frame);
    int64_t bytes = 0;
    while (AVPacket* packet = run_.NextPacket(ost_)) {
        bytes += packet->size;
        Encoded(*packet);
        run_.WriteEncoded(ost_, packet);
    }
    return bytes;
}

void VideoEncodeStage::WriteVideoStats(int frame_size) {
    std::FILE* file = run_.VideoStatsFile();
    if (file == nullptr)
        return;
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    std::string line = FormatText("frame= %5d q= %2.1f ", clock_.FrameNumber,
                                  feedback_.LastQuality / FF_QP2LAMBDA);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        line += FormatText("PSNR= %6.2f ",
                           Psnr(feedback_.LastError[0] /
                                (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0)));
    line += FormatText("f_size= %6d ", frame_size);
    double ti = clock_.SyncPosition * av_q2d(enc->time_base);
    if (ti < 0.01)
        ti = 0.01;
    const double br = frame_size * 8 / av_q2d(enc->time_base) / 1000.0;
    const double avg = run_.Counters.VideoBytes * 8.0 / ti / 1000.0;
    line += FormatText("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                       run_.Counters.VideoBytes / 1024.0, ti, br, avg);
    line += FormatText("type= %c\n", feedback_.LastPictType);
    std::fputs(line.c_str(), file);
}

void VideoEncodeStage::Encoded(const AVPacket& packet) {
    size_t stats_size = 0;
    if (const uint8_t* stats =
            av().av_packet_get_side_data(&packet, AV_PKT_DATA_QUALITY_STATS, &stats_size);
        stats != nullptr && stats_size >= 6) {
        feedback_.LastQuality = static_cast<float>(stats[0] | stats[1] << 8 | stats[2] << 16 |
                                                   static_cast<uint32_t>(stats[3]) << 24);
        feedback_.LastPictType =
            av().av_get_picture_type_char(static_cast<AVPictureType>(stats[4]));
        const int errors = stats[5];
        for (int p = 0; p < 3 && p < errors && stats_size >= 8 + 8 * (p + 1u); ++p) {
            uint64_t error = 0;
            for (int b = 7; b >= 0; --b)
                error = error << 8 | stats[8 + 8 * p + b];
            feedback_.LastError[p] = error;
        }
    }
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    if (pass_log_ && enc->stats_out != nullptr)
        std::fputs(enc->stats_out, pass_log_.get());
}

AVFrame* VideoEncodeStage::ConformPicture(const AVFrame* picture) {
    // The converter and the picture are made again only when the geometry changes.
    state_.ConformContext.reset(av().sws_getCachedContext(
        state_.ConformContext.release(), picture->width, picture->height,
        static_cast<AVPixelFormat>(picture->format), state_.SourceWidth, state_.SourceHeight,
        static_cast<AVPixelFormat>(state_.SourceFormat), SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!state_.ConformContext)
        return nullptr;
    if (!state_.ConformPicture) {
        state_.ConformPicture = allocFrame();
        state_.ConformPicture->format = state_.SourceFormat;
        state_.ConformPicture->width = state_.SourceWidth;
        state_.ConformPicture->height = state_.SourceHeight;
        if (av().av_frame_get_buffer(state_.ConformPicture.get(), 0) < 0) {
            state_.ConformPicture.reset();
            return nullptr;
        }
    }
    if (av().av_frame_make_writable(state_.ConformPicture.get()) < 0)
        return nullptr;
    av().sws_scale(state_.ConformContext.get(), picture->data, picture->linesize, 0,
                   picture->height, state_.ConformPicture->data, state_.ConformPicture->linesize);
    AVFrame* conformed = state_.ConformPicture.get();
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
    const double sync_ipts = Seconds(clock - o.start_time) + ost_.PrimingShift;
    const double tb = av_q2d(enc->time_base);
    if (!(o.video_sync_method > 0 || (o.video_sync_method != 0 && tb > 0.001))) {
        clock_.SyncPosition = std::llround(sync_ipts / tb);
        return 1;
    }
    double vdelta = sync_ipts / tb - static_cast<double>(clock_.SyncPosition) - clock_.SyncSkew;
    // A leap of more than ten minutes either way is damage in the input, not a gap to fill
    // with copies or to drop up to: the output goes on in step from here.
    if (std::fabs(vdelta) > kLeapSeconds / tb) {
        run_.Control().Log(kErrorLevel,
                           FormatText("*** timestamp leap of %.0f frames, skipping", vdelta - 1));
        clock_.SyncSkew += vdelta;
        vdelta = 0;
    }
    if (o.video_sync_method == 2) {
        if (vdelta < -1.1)
            return DropPicture();
        clock_.SyncPosition = std::llround(sync_ipts / tb);
        return 1;
    }
    // Each picture takes the output slot nearest its own time. The slots before it that no
    // picture took show the previous picture, which lasts until this one starts; the first
    // picture also covers the slots before it (a late video start). A picture whose slot is
    // already taken is dropped.
    int64_t gap = std::llround(vdelta);
    const bool has_previous = state_.LastFrame && state_.LastFrame->buf[0] != nullptr;
    if (!has_previous && ost_.PrimingShift > 0) {
        // The slots the priming moved the first picture by hold nothing: the file's zero is
        // before them, and the container shows its first picture from there.
        const int64_t moved = gap - std::llround(vdelta - ost_.PrimingShift / tb);
        clock_.SyncPosition += std::max<int64_t>(moved, 0);
        gap -= std::max<int64_t>(moved, 0);
    }
    if (gap < 0 && has_previous)
        return DropPicture();
    if (gap <= 0)
        return 1;
    const int copies = static_cast<int>(std::min<int64_t>(gap, INT32_MAX - 1));
    run_.Counters.FramesDuplicated += copies;
    if (run_.Control().Verbosity() > kDebugLevel)
        run_.Control().Log(kInfoLevel, FormatText("*** %d dup!", copies));
    if (has_previous) {
        fill = copies;
        return 1;
    }
    return copies + 1;
}

int VideoEncodeStage::DropPicture() {
    ++run_.Counters.FramesDropped;
    if (run_.Control().Verbosity() > kDebugLevel)
        run_.Control().Log(kInfoLevel, "*** drop!");
    return 0;
}

int VideoEncodeStage::LimitCopies(int copies) const {
    const OptionState& o = run_.Options();
    copies = std::min(copies, o.max_frames_video - clock_.FrameNumber);
    // A timestamp leap in a damaged input asks for a flood of duplicates: none past "t".
    if (o.recording_time != INT64_MAX) {
        const double tb = av_q2d(ost_.Setup->encoder->time_base);
        const double frames_left =
            Seconds(o.recording_time) / tb - static_cast<double>(clock_.SyncPosition);
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

void VideoEncodeStage::Flush(const TInputStreamState& ist) {
    FillToEnd(ist);
    EncodeFrame(nullptr);
}

void VideoEncodeStage::FillToEnd(const TInputStreamState& ist) {
    const OptionState& o = run_.Options();
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const double tb = av_q2d(enc->time_base);
    if (!state_.LastFrame || state_.LastFrame->buf[0] == nullptr ||
        ist.ShownEnd == AV_NOPTS_VALUE || o.video_sync_method == 2)
        return;
    // The last picture lasts until the source's last picture ends, not just one frame.
    const double end = (Seconds(ist.ShownEnd - o.start_time) + ost_.PrimingShift) / tb;
    const bool own_times = !(o.video_sync_method == 1 || (o.video_sync_method < 0 && tb > 0.001));
    const double missing = end - static_cast<double>(clock_.SyncPosition) - clock_.SyncSkew;
    if (!own_times && missing >= 0.5 && missing <= kLeapSeconds / tb) {
        const int copies = LimitCopies(static_cast<int>(std::llround(missing)));
        run_.Counters.FramesDuplicated += std::max(copies, 0);
        EncodeCopies(copies);
    }
    MarkEnd(end);
}

void VideoEncodeStage::MarkEnd(double end) {
    // A container that stores no picture durations nor a rate (ASF) times a picture by the
    // next one: a lone picture would last no time at all. A copy of it where it ends (one tick
    // before, where pictures keep their own times) gives it its length.
    const AVFormatContext* file = run_.OutputFiles()[ost_.FileIndex].context.get();
    if (clock_.FrameNumber != 1 || file->oformat == nullptr ||
        std::strcmp(file->oformat->name, "asf") != 0 || LimitCopies(1) <= 0)
        return;
    clock_.SyncPosition = std::max<int64_t>(clock_.SyncPosition, std::llround(end) - 1);
    ++run_.Counters.FramesDuplicated;
    EncodeCopies(1);
}

bool VideoEncodeStage::KeepOutputPicture(AVFrame* picture) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const OptionState& o = run_.Options();
    // The previous picture is let go first, so the buffers below are ours to write again.
    av().av_frame_unref(state_.LastFrame.get());
    const int source_quality = picture->quality;
    if (picture->width != state_.SourceWidth || picture->height != state_.SourceHeight ||
        picture->format != state_.SourceFormat) {
        picture = ConformPicture(picture);
        if (picture == nullptr) {
            run_.Control().Log(kErrorLevel, "error converting picture");
            return false;
        }
    }
    const auto source_format = static_cast<AVPixelFormat>(state_.SourceFormat);
    AVFrame* kept = state_.LastFrame.get();
    if (!state_.Resample && !state_.Pad) {
        // The picture itself, or a crop of it sharing its buffers: no copy, and the encoder
        // holds a reference instead of copying a picture that owns no buffer.
        if (av().av_frame_ref(kept, picture) < 0)
            throw FFMpegException("Video encoding failed");
        if (state_.Crop &&
            !CropView(kept, picture, source_format, state_.CropTop, state_.CropLeft)) {
            av().av_frame_unref(kept);
            run_.Control().Log(kErrorLevel, "error cropping picture");
            return false;
        }
    } else {
        AVFrame* view = picture;
        if (state_.Crop) {
            view = state_.CropView.get();
            if (!CropView(view, picture, source_format, state_.CropTop, state_.CropLeft)) {
                run_.Control().Log(kErrorLevel, "error cropping picture");
                return false;
            }
        }
        if (!ScaleAndPad(view))
            return false;
        if (av().av_frame_ref(kept, state_.TempPicture.get()) < 0)
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
    if (!run_.SameQualityLogged) {
        run_.SameQualityLogged = true;
        run_.Control().Log(
            kErrorLevel, "sameq: the decoder gives no picture quality; encoding at the best fixed "
                         "quality instead");
    }
    return static_cast<int>(std::lrint(ost_.Setup->quality));
}

bool VideoEncodeStage::ScaleAndPad(AVFrame* view) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    AVFrame* final_picture = state_.TempPicture.get();
    if (av().av_frame_make_writable(final_picture) < 0)
        throw FFMpegException("Video encoding failed");
    if (state_.Resample) {
        AVFrame* target = final_picture;
        if (state_.Pad) {
            if (!CropView(state_.InnerView.get(), target, enc->pix_fmt, state_.PadTop,
                          state_.PadLeft)) {
                run_.Control().Log(kErrorLevel, "error padding picture");
                return false;
            }
            target = state_.InnerView.get();
        }
        av().sws_scale(state_.ScaleContext.get(), view->data, view->linesize, 0,
                       state_.ResampleHeight, target->data, target->linesize);
    } else {
        CopyInto(final_picture, state_.InnerView.get(), view, enc->pix_fmt,
                 enc->width - state_.PadLeft - state_.PadRight,
                 enc->height - state_.PadTop - state_.PadBottom, state_.PadTop, state_.PadLeft);
    }
    if (state_.Pad)
        PaintPadBands(final_picture, enc->pix_fmt, enc->width, enc->height, state_.PadTop,
                      state_.PadBottom, state_.PadLeft, state_.PadRight, run_.Options().padcolor);
    return true;
}

void VideoEncodeStage::EncodeCopies(int copies) {
    AVFrame* frame = state_.LastFrame.get();
    for (int i = 0; i < copies && !run_.Control().StopAsked() && !(i > 0 && run_.PastSizeLimit());
         ++i) {
        run_.Control().WaitWhilePaused();
        frame->pts = clock_.SyncPosition;
        frame->pkt_duration = 1;
        const int64_t bytes = EncodeFrame(frame);
        ++clock_.SyncPosition;
        ++clock_.FrameNumber;
        if (bytes > 0)
            WriteVideoStats(static_cast<int>(bytes));
    }
}

} // namespace clipwright
