#include "FFMPEG/run/picture_hooks.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/hook_bitmap.h"
#include "FFMPEG/binding/video_hook.h"

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

PictureHooks::PictureHooks(const RunSettings& settings, RunControl& control)
    : settings_(settings), control_(control), plugins_enabled_(!control.VideoHooks().empty()) {}

PictureHooks::~PictureHooks() = default;

bool PictureHooks::CustomHookActive() const {
    return control_.CallsHook(THookCall::CustomHook) && !custom_hook_stopped_;
}

void PictureHooks::ChooseAction(int64_t pts) {
    if (control_.CallsHook(THookCall::BeforeHook)) {
        try {
            control_.BeforeHook(pts, action_);
        } catch (const std::exception& error) {
            control_.Log(kErrorLevel, std::string("Error occurs OnBeforeHook: ") + error.what());
            action_ = haStop;
        }
        if (action_ == haStop)
            plugins_enabled_ = false;
        return;
    }
    const std::vector<std::pair<int64_t, int64_t>>& ranges = settings_.HookTimes();
    if (ranges.empty())
        return;
    action_ = haIgnore;
    for (size_t i = range_position_; i < ranges.size(); ++i) {
        if (ranges[i].first <= pts && pts <= ranges[i].second) {
            range_position_ = i;
            action_ = haContinue;
            break;
        }
        if (i + 1 == ranges.size() && ranges[i].second < pts) {
            action_ = haStop;
            plugins_enabled_ = false;
        }
    }
}

AVFrame* PictureHooks::Apply(AVFrame* picture, int64_t pts) {
    ++frame_counter_;
    if (!CustomHookActive() && plugins_enabled_)
        ChooseAction(pts);
    const bool plugins = plugins_enabled_ && action_ == haContinue;
    if (!CustomHookActive() && !plugins)
        return picture;
    if (!EnsurePicture(working_, picture->format, picture->width, picture->height)) {
        control_.Log(kErrorLevel, "hook buf malloc error.");
        return picture;
    }
    AVFrame* working = working_.get();
    av().av_image_copy(working->data, working->linesize, const_cast<const uint8_t**>(picture->data),
                       picture->linesize, static_cast<AVPixelFormat>(picture->format),
                       picture->width, picture->height);
    av().av_frame_copy_props(working, picture);

    if (CustomHookActive()) {
        RunCustomHook(working, pts);
    } else {
        CwHookPicture hook_picture{};
        for (int p = 0; p < 4; ++p) {
            hook_picture.data[p] = working->data[p];
            hook_picture.linesize[p] = working->linesize[p];
        }
        control_.VideoHooks().Process(&hook_picture, working->format, working->width,
                                      working->height, pts);
    }
    return working;
}

bool PictureHooks::ToRgb(AVFrame* working, AVFrame*& rgb) {
    rgb = working;
    const auto format = static_cast<AVPixelFormat>(working->format);
    if (format == kRGBPixelFormat)
        return true;
    const int width = working->width;
    const int height = working->height;
    to_rgb_.reset(av().sws_getCachedContext(to_rgb_.release(), width, height, format, width, height,
                                            kRGBPixelFormat, SWS_BICUBIC, nullptr, nullptr,
                                            nullptr));
    if (!to_rgb_ || !EnsurePicture(rgb_frame_, kRGBPixelFormat, width, height)) {
        control_.Log(kErrorLevel, "Cannot initialize the toRGB conversion context");
        return false;
    }
    rgb = rgb_frame_.get();
    av().sws_scale(to_rgb_.get(), working->data, working->linesize, 0, height, rgb->data,
                   rgb->linesize);
    return true;
}

bool PictureHooks::FromRgb(const AVFrame* rgb, AVFrame* working) {
    const auto format = static_cast<AVPixelFormat>(working->format);
    if (format == kRGBPixelFormat)
        return true;
    const int width = working->width;
    const int height = working->height;
    from_rgb_.reset(av().sws_getCachedContext(from_rgb_.release(), width, height, kRGBPixelFormat,
                                              width, height, format, SWS_BICUBIC, nullptr, nullptr,
                                              nullptr));
    if (!from_rgb_) {
        control_.Log(kErrorLevel, "Cannot initialize the fromRGB conversion context");
        return false;
    }
    av().sws_scale(from_rgb_.get(), rgb->data, rgb->linesize, 0, height, working->data,
                   working->linesize);
    return true;
}

void PictureHooks::RunCustomHook(AVFrame* working, int64_t pts) {
    const int width = working->width;
    const int height = working->height;
    if (!bitmap_ || bitmap_->Width != width || bitmap_->Height != height)
        bitmap_ = std::make_unique<THookBitmap>(width, height);
    AVFrame* rgb = nullptr;
    if (!ToRgb(working, rgb)) {
        StopAll();
        return;
    }
    THookBitmap& bitmap = *bitmap_;
    av().av_image_copy_plane(bitmap.ScanLine(0), bitmap.Stride, rgb->data[0], rgb->linesize[0],
                             bitmap.Stride, height);
    bool update = true;
    bool stop_hook = false;
    try {
        std::lock_guard canvas(bitmap.CanvasLock);
        control_.CustomHook(bitmap, frame_counter_, pts, update, stop_hook);
    } catch (const std::exception& error) {
        control_.Log(kErrorLevel, std::string("Error occurs OnCustomHook: ") + error.what());
        update = false;
    }
    bool stopped = stop_hook;
    if (update) {
        av().av_image_copy_plane(rgb->data[0], rgb->linesize[0], bitmap.ScanLine(0), bitmap.Stride,
                                 bitmap.Stride, height);
        stopped = !FromRgb(rgb, working) || stopped;
    }
    if (stopped)
        StopAll();
}

void PictureHooks::StopAll() {
    custom_hook_stopped_ = true;
    action_ = haStop;
    plugins_enabled_ = false;
}

} // namespace clipwright
