#include "app/profiles/job_submission.h"

#include <exception>

#include "FFMPEG/probe/av_probe.h"
#include "FFMPEG/component/engine.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/source_facts.h"

namespace clipwright {

ProbedSource ProbeSource(TAVProbe& probe, const std::string& file) {
    ProbedSource probed;
    probed.source.file = file;
    probed.loaded = probe.LoadFile(file, "");
    if (!probed.loaded) {
        probed.error = probe.LastError();
        probe.CloseFile();
        return probed;
    }
    probed.source.facts = DescribeSource(probe);
    // The size column follows the stream even when the stream states no size.
    if (probe.VideoStreamCount() != 0) {
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        probed.source.video_size_text = VideoSizeText(video.Width, video.Height);
        probed.source.display_aspect = video.DisplayAspectRatio;
        probed.frame_rate = FrameRateText(video.FrameRateNum, video.FrameRateDen);
    }
    TAVFileInfo info;
    probe.GetFileInfo(info);
    probed.duration = DurationText(info.Duration);
    probe.CloseFile();
    return probed;
}

SubmittedJob SubmitPlan(TFFmpegEngine& engine, const ConversionPlan& plan) {
    SubmittedJob job;
    TInputOptions input = plan.input;
    job.index = engine.AddInputFile(plan.input.FileName, &input);
    if (job.index < 0) {
        job.reason = engine.LastErrMsg();
        return job;
    }
    TOutputOptions output = plan.output;
    if (!engine.SetOutputFile(job.index, plan.partial_file, &output)) {
        job.step = SubmittedJob::Step::OutputRefused;
        job.reason = engine.LastErrMsg();
        engine.RemoveTask(job.index);
        return job;
    }
    try {
        engine.StartConvert(1);
    } catch (const std::exception& error) {
        // Nothing of the job started, so no end of it will be raised.
        engine.Stop();
        job.step = SubmittedJob::Step::StartFailed;
        job.reason = error.what();
        return job;
    }
    job.step = SubmittedJob::Step::Started;
    return job;
}

} // namespace clipwright
