// Once per decoded picture, before any output sees it: deinterlacing, the before hook and hook
// ranges, the custom hook on a 24-bit bitmap, and the video-hook plug-ins.
#include "FFMPEG/transcode.h"

#include <cstring>
#include <exception>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/av_error.h"
#include "FFMPEG/custom_ffmpeg.h"
#include "FFMPEG/hook_bitmap.h"
#include "FFMPEG/text_format.h"
#include "FFMPEG/engine_log.h"
#include "FFMPEG/timestamps.h"

namespace clipwright {

namespace {

constexpr AVPixelFormat kRGBPixelFormat = AV_PIX_FMT_BGR24;

// (Re)allocates `frame` as a picture of that format and size unless it already is one.
bool EnsurePicture(FramePtr& frame, int format, int width, int height) {
    if (frame && frame->format == format && frame->width == width && frame->height == height)
        return av().av_frame_make_writable(frame.get()) >= 0;
    frame = allocFrame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    return av().av_frame_get_buffer(frame.get(), 0) >= 0;
}

} // namespace

void Transcoder::OpenDeinterlacer(TInputStreamState& ist, const AVFrame* picture) {
    FilterGraphPtr graph(av().avfilter_graph_alloc());
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    const std::string arguments =
        FormatText("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", picture->width,
                   picture->height, picture->format, AV_TIME_BASE, picture->sample_aspect_ratio.num,
                   picture->sample_aspect_ratio.den != 0 ? picture->sample_aspect_ratio.den : 1);
    AVFilterInOut* outputs = av().avfilter_inout_alloc();
    AVFilterInOut* inputs = av().avfilter_inout_alloc();
    bool ok = graph && outputs != nullptr && inputs != nullptr &&
              av().avfilter_graph_create_filter(&source, av().avfilter_get_by_name("buffer"), "in",
                                                arguments.c_str(), nullptr, graph.get()) >= 0 &&
              av().avfilter_graph_create_filter(&sink, av().avfilter_get_by_name("buffersink"),
                                                "out", nullptr, nullptr, graph.get()) >= 0;
    if (ok) {
        outputs->name = av().av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av().av_strdup("out");
        inputs->filter_ctx = sink;
        // One picture out per picture in, every picture treated, field order from the input.
        ok = av().avfilter_graph_parse_ptr(graph.get(), "bwdif=mode=send_frame:deint=all", &inputs,
                                           &outputs, nullptr) >= 0 &&
             av().avfilter_graph_config(graph.get(), nullptr) >= 0;
    }
    av().avfilter_inout_free(&inputs);
    av().avfilter_inout_free(&outputs);
    if (!ok) {
        job_.Log(kErrorLevel, "deinterlace error.");
        ist.DeinterlaceFailed = true;
        return;
    }
    ist.Deinterlacer = std::move(graph);
    ist.DeinterlaceSource = source;
    ist.DeinterlaceSink = sink;
}

void Transcoder::DispatchVideo(TInputStreamState& ist, AVFrame* picture) {
    const bool deinterlace = Options().do_deinterlace != 0 && !ist.DeinterlaceFailed;
    if (!deinterlace) {
        if (picture != nullptr)
            DispatchPicture(ist, picture);
        return;
    }
    if (picture != nullptr && !ist.Deinterlacer)
        OpenDeinterlacer(ist, picture);
    if (!ist.Deinterlacer) {
        if (picture != nullptr)
            DispatchPicture(ist, picture);
        return;
    }
    // The filter gives each picture back one picture later; its timestamp travels with it.
    if (picture != nullptr)
        picture->pts = ist.ShownPts;
    if (av().av_buffersrc_add_frame_flags(ist.DeinterlaceSource, picture,
                                          AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        job_.Log(kErrorLevel, "deinterlace error.");
        if (picture != nullptr)
            DispatchPicture(ist, picture);
        return;
    }
    const int64_t current = ist.ShownPts;
    // The filter counts in half the input's time base (it can emit fields).
    const AVRational base = av().av_buffersink_get_time_base(ist.DeinterlaceSink);
    AVFrame* out = deinterlaced_.get();
    while (av().av_buffersink_get_frame(ist.DeinterlaceSink, out) >= 0) {
        ist.ShownPts = RescaleTs(out->pts, base, kMicroseconds, ist.ShownPts);
        DispatchPicture(ist, out);
        av().av_frame_unref(out);
    }
    ist.ShownPts = current;
}

void Transcoder::DispatchPicture(TInputStreamState& ist, AVFrame* picture) {
    AVFrame* working = PreprocessVideo(ist, picture);
    for (TOutputStreamState& ost : outputs_) {
        if (&inputs_[ost.SourceIndex] == &ist && ost.EncodingNeeded)
            ost.Video()->Output(working);
    }
}

bool Transcoder::CustomHookActive() const {
    return job_.CustomHookCallback && !custom_hook_stopped_;
}

AVFrame* Transcoder::PreprocessVideo(TInputStreamState& ist, AVFrame* picture) {
    ++hook_frame_counter_;
    const int64_t pts = ist.Pts;
    if (!CustomHookActive() && hooks_enabled_) {
        if (job_.BeforeHookCallback) {
            try {
                job_.BeforeHookCallback(job_, pts, hook_action_);
            } catch (const std::exception& error) {
                job_.Log(kErrorLevel, std::string("Error occurs OnBeforeHook: ") + error.what());
                hook_action_ = haStop;
            }
            if (hook_action_ == haStop)
                hooks_enabled_ = false;
        } else if (!job_.HookRanges.empty()) {
            hook_action_ = haIgnore;
            const std::vector<std::pair<int64_t, int64_t>>& ranges = job_.HookRanges;
            for (size_t i = hook_range_position_; i < ranges.size(); ++i) {
                if (ranges[i].first <= pts && pts <= ranges[i].second) {
                    hook_range_position_ = i;
                    hook_action_ = haContinue;
                    break;
                }
                if (i + 1 == ranges.size() && ranges[i].second < pts) {
                    hook_action_ = haStop;
                    hooks_enabled_ = false;
                }
            }
        }
    }

    const bool plugins = hooks_enabled_ && hook_action_ == haContinue;
    if (!CustomHookActive() && !plugins)
        return picture;
    // Hooks work on a copy: the decoder may still refer to its own picture.
    if (!EnsurePicture(hook_frame_, picture->format, picture->width, picture->height)) {
        job_.Log(kErrorLevel, "hook buf malloc error.");
        return picture;
    }
    AVFrame* working = hook_frame_.get();
    av().av_image_copy(working->data, working->linesize, const_cast<const uint8_t**>(picture->data),
                       picture->linesize, static_cast<AVPixelFormat>(picture->format),
                       picture->width, picture->height);
    av().av_frame_copy_props(working, picture);

    if (CustomHookActive())
        RunCustomHook(working, pts);
    else if (plugins) {
        CwHookPicture hook_picture{};
        for (int p = 0; p < 4; ++p) {
            hook_picture.data[p] = working->data[p];
            hook_picture.linesize[p] = working->linesize[p];
        }
        job_.VideoHooks().Process(&hook_picture, working->format, working->width, working->height,
                                  pts);
    }
    return working;
}

void Transcoder::RunCustomHook(AVFrame* working, int64_t pts) {
    const int width = working->width;
    const int height = working->height;
    const auto format = static_cast<AVPixelFormat>(working->format);
    if (!hook_bitmap_ || hook_bitmap_->Width != width || hook_bitmap_->Height != height)
        hook_bitmap_ = std::make_unique<THookBitmap>(width, height);

    bool stopped = false;
    AVFrame* rgb = working;
    if (format != kRGBPixelFormat) {
        to_rgb_.reset(av().sws_getCachedContext(to_rgb_.release(), width, height, format, width,
                                                height, kRGBPixelFormat, SWS_BICUBIC, nullptr,
                                                nullptr, nullptr));
        if (!to_rgb_ || !EnsurePicture(rgb_frame_, kRGBPixelFormat, width, height)) {
            job_.Log(kErrorLevel, "Cannot initialize the toRGB conversion context");
            stopped = true;
        } else {
            rgb = rgb_frame_.get();
            av().sws_scale(to_rgb_.get(), working->data, working->linesize, 0, height, rgb->data,
                           rgb->linesize);
        }
    }
    if (!stopped) {
        THookBitmap& bitmap = *hook_bitmap_;
        for (int row = 0; row < height; ++row)
            std::memcpy(bitmap.ScanLine(row),
                        rgb->data[0] + static_cast<ptrdiff_t>(row) * rgb->linesize[0],
                        static_cast<size_t>(bitmap.Stride));
        bool update = true;
        bool stop_hook = false;
        try {
            std::lock_guard canvas(bitmap.CanvasLock);
            job_.CustomHookCallback(job_, bitmap, hook_frame_counter_, pts, update, stop_hook);
        } catch (const std::exception& error) {
            job_.Log(kErrorLevel, std::string("Error occurs OnCustomHook: ") + error.what());
            update = false;
        }
        stopped = stop_hook;
        if (update) {
            for (int row = 0; row < height; ++row)
                std::memcpy(rgb->data[0] + static_cast<ptrdiff_t>(row) * rgb->linesize[0],
                            bitmap.ScanLine(row), static_cast<size_t>(bitmap.Stride));
            if (format != kRGBPixelFormat) {
                from_rgb_.reset(av().sws_getCachedContext(from_rgb_.release(), width, height,
                                                          kRGBPixelFormat, width, height, format,
                                                          SWS_BICUBIC, nullptr, nullptr, nullptr));
                if (!from_rgb_) {
                    job_.Log(kErrorLevel, "Cannot initialize the fromRGB conversion context");
                    stopped = true;
                } else {
                    av().sws_scale(from_rgb_.get(), rgb->data, rgb->linesize, 0, height,
                                   working->data, working->linesize);
                }
            }
        }
    }
    if (stopped) {
        // For the rest of the run: no custom hook, no plug-ins.
        custom_hook_stopped_ = true;
        hook_action_ = haStop;
        hooks_enabled_ = false;
    }
}

} // namespace clipwright
