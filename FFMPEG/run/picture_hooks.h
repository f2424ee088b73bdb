// PictureHooks: what every decoded picture passes before the outputs take it — the job's
// before hook or its hook ranges decide whether the video-hook plug-ins run on it, and the
// custom hook draws on it as a 24-bit bitmap. Owned by one run and used on the job's thread
// only; it keeps its own state (which hooks still run, the working copies, the RGB scalers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/job/job_events.h"
#include "FFMPEG/job/run_control.h"

struct AVFrame;

namespace clipwright {

struct THookBitmap;

class PictureHooks {
public:
    PictureHooks(const RunSettings& settings, RunControl& control);
    PictureHooks(const PictureHooks&) = delete;
    PictureHooks& operator=(const PictureHooks&) = delete;
    ~PictureHooks();

    // `picture` itself when no hook runs on it, else the working copy the hooks changed (the
    // decoder may still refer to its own picture). `pts` in microseconds of input time.
    AVFrame* Apply(AVFrame* picture, int64_t pts);

private:
    // The job's custom hook, while it has not asked to stop.
    bool CustomHookActive() const;
    // The before hook or the hook ranges set the action for this picture.
    void ChooseAction(int64_t pts);
    void RunCustomHook(AVFrame* working, int64_t pts);
    // The picture as 24-bit RGB (`rgb`: the working copy itself or the RGB frame); false when
    // the conversion cannot be set up.
    bool ToRgb(AVFrame* working, AVFrame*& rgb);
    bool FromRgb(const AVFrame* rgb, AVFrame* working);
    // For the rest of the run: no custom hook, no plug-ins.
    void StopAll();

    const RunSettings& settings_;
    RunControl& control_;
    int32_t frame_counter_ = 0;
    THookAction action_ = haContinue;
    bool plugins_enabled_ = false;
    bool custom_hook_stopped_ = false;
    std::size_t range_position_ = 0; // the hook range the pictures have reached
    FramePtr working_;
    FramePtr rgb_frame_;
    SwsPtr to_rgb_;
    SwsPtr from_rgb_;
    std::unique_ptr<THookBitmap> bitmap_;
};

} // namespace clipwright
