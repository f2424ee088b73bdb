// Once per decoded picture, before any output sees it: deinterlacing and turning, then the
// hooks (PictureHooks), then every video output the picture's stream feeds.
#include "FFMPEG/run/transcode.h"

#include <string>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/binding/timestamps.h"

namespace clipwright {

namespace {

// The filters for the pictures of `ist`, in the library's graph syntax.
std::string PictureFilters(bool deinterlace, int turn) {
    std::string chain;
    // One picture out per picture in, every picture treated, field order from the input.
    if (deinterlace)
        chain = "bwdif=mode=send_frame:deint=all";
    const char* turning = turn == 90    ? "transpose=clock"
                          : turn == 180 ? "hflip,vflip"
                          : turn == 270 ? "transpose=cclock"
                                        : nullptr;
    if (turning != nullptr)
        chain += (chain.empty() ? "" : ",") + std::string(turning);
    return chain;
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
        const std::string chain = PictureFilters(Options().do_deinterlace != 0, ist.Turn);
        ok = av().avfilter_graph_parse_ptr(graph.get(), chain.c_str(), &inputs, &outputs,
                                           nullptr) >= 0 &&
             av().avfilter_graph_config(graph.get(), nullptr) >= 0;
    }
    av().avfilter_inout_free(&inputs);
    av().avfilter_inout_free(&outputs);
    if (!ok) {
        control_.Log(kErrorLevel, "deinterlace error.");
        ist.DeinterlaceFailed = true;
        return;
    }
    ist.Deinterlacer = std::move(graph);
    ist.DeinterlaceSource = source;
    ist.DeinterlaceSink = sink;
}

void Transcoder::DispatchVideo(TInputStreamState& ist, AVFrame* picture) {
    const bool deinterlace =
        (Options().do_deinterlace != 0 || ist.Turn != 0) && !ist.DeinterlaceFailed;
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
        control_.Log(kErrorLevel, "deinterlace error.");
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
    AVFrame* working = hooks_.Apply(picture, ist.Pts);
    ForEachStage(
        &ist, StageVisitor{[&](VideoEncodeStage& video) { video.Output(working); }, [](auto&) {}});
}

} // namespace clipwright
