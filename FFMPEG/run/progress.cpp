// The progress report (status line, the seven values, the final summary) and the video
// statistics file.
#include "FFMPEG/run/transcode.h"

#include <cmath>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"

namespace clipwright {

namespace {

// Appends to a line that may hold at most 1023 characters, as the report always has.
void Append(std::string& line, const std::string& piece) {
    if (line.size() < 1023)
        line += piece.substr(0, 1023 - line.size());
}

} // namespace

std::string ProgressSizeText(int64_t size, double seconds, double& bit_rate) {
    bit_rate = size * 8.0 / seconds / 1000.0;
    return FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", size / 1024.0, seconds,
                      bit_rate);
}

namespace {

// "PSNR=Y:… U:… V:… *:…": of the last frame, or of the whole run in the final report.
void AppendPsnr(std::string& line, const AVCodecContext& enc, const uint64_t (&last_error)[3],
                bool final_report, int32_t frame_number) {
    double error_sum = 0.0;
    double scale_sum = 0.0;
    const char planes[] = {'Y', 'U', 'V'};
    Append(line, "PSNR=");
    for (int p = 0; p < 3; ++p) {
        double error = 0.0;
        double scale = static_cast<double>(enc.width) * enc.height * 255.0 * 255.0;
        if (final_report) {
            error = static_cast<double>(enc.error[p]);
            scale *= frame_number;
        } else {
            error = static_cast<double>(last_error[p]);
        }
        if (p > 0)
            scale /= 4;
        error_sum += error;
        scale_sum += scale;
        Append(line, FormatText("%c:%2.2f ", planes[p], Psnr(error / scale)));
    }
    Append(line, FormatText("*:%2.2f ", Psnr(error_sum / scale_sum)));
}

} // namespace

int64_t ProgressReport::OutputSize() const {
    AVIOContext* pb = files_.outputs[0].context->pb;
    int64_t size = pb != nullptr ? av().avio_size(pb) : 0;
    if (size < 0 && pb != nullptr)
        size = av().avio_seek(pb, 0, SEEK_CUR);
    return size < 0 ? 0 : size;
}

bool ProgressReport::AppendVideoFigures(std::string& line, const TOutputStreamState& ost, float q,
                                        bool final_report, Figures& figures) {
    const AVCodecContext* enc = ost.Setup->encoder.get();
    const double elapsed = (av().av_gettime() - counters_.TimerStart) / 1000000.0;
    figures.frame_number = ost.Clock().FrameNumber;
    if (figures.frame_number < 1)
        return false; // nothing to report before the first picture
    figures.fps = elapsed > 1.0 ? static_cast<int32_t>(figures.frame_number / elapsed + 0.5) : 0;
    figures.quality = q;
    Append(line, FormatText("frame=%5d fps=%3d q=%3.1f ", figures.frame_number, figures.fps,
                            figures.quality));
    if (final_report)
        Append(line, "L");
    if (Options().qp_hist != 0) {
        const int qp = static_cast<int>(std::lrint(figures.quality));
        if (qp >= 0 && qp < 52)
            ++counters_.QpHistogram[qp];
        for (int j = 0; j < 32; ++j)
            Append(line, FormatText("%X", static_cast<int>(std::lrint(
                                              std::log2(counters_.QpHistogram[j] + 1)))));
    }
    if (const VideoEncodeStage* video = ost.Video(); video && (enc->flags & AV_CODEC_FLAG_PSNR))
        AppendPsnr(line, *enc, video->Feedback().LastError, final_report, figures.frame_number);
    return true;
}

void ProgressReport::Deliver(std::string& line, int64_t size, double time, const Figures& figures,
                             bool final_report) {
    const bool wants_progress = control_.WantsProgress();
    if (wants_progress || control_.Verbosity() > kErrorLevel || final_report) {
        double bit_rate = 0.0;
        Append(line, ProgressSizeText(size, time, bit_rate));
        if (control_.Verbosity() > kInfoLevel)
            Append(line, FormatText(" dup=%d drop=%d", counters_.FramesDuplicated,
                                    counters_.FramesDropped));
        if (wants_progress) {
            control_.Progress({figures.frame_number, figures.fps, static_cast<int32_t>(time * 1000),
                               figures.quality, static_cast<float>(bit_rate), size,
                               settings_.ReportedTotalMs()});
        } else if (control_.Verbosity() >= kErrorLevel && control_.Logging()) {
            control_.Log(kInfoLevel, line);
        }
    }
    if (final_report && control_.Verbosity() >= kErrorLevel && control_.Logging()) {
        const double raw = static_cast<double>(counters_.AudioBytes + counters_.VideoBytes +
                                               counters_.HeaderBytes);
        control_.Log(kInfoLevel,
                     FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing "
                                "overhead %.2f%%",
                                counters_.VideoBytes / 1024.0, counters_.AudioBytes / 1024.0,
                                counters_.HeaderBytes / 1024.0,
                                raw > 0 ? 100.0 * (size - raw) / raw : 0.0));
    }
}

void ProgressReport::Tick(int64_t now, const std::vector<TOutputStreamState>& outputs) {
    if (now - last_report_ <= settings_.ReportInterval())
        return;
    last_report_ = now;
    Report(outputs, false);
}

void ProgressReport::Report(const std::vector<TOutputStreamState>& outputs, bool final_report) {
    if (files_.outputs.empty())
        return;
    const int64_t size = OutputSize();
    Figures figures;
    double time = 1e10;
    bool video_seen = false;
    std::string line;
    for (const TOutputStreamState& ost : outputs) {
        const AVCodecContext* enc = ost.Setup->encoder.get();
        const bool video = enc != nullptr && enc->codec_type == AVMEDIA_TYPE_VIDEO;
        const VideoEncodeStage* stage = ost.Video();
        const float q = stage != nullptr && stage->Feedback().LastQuality >= 0
                            ? stage->Feedback().LastQuality / FF_QP2LAMBDA
                            : -1.0f;
        if (video && video_seen) {
            Append(line, FormatText("q=%2.1f ", q));
        } else if (video) {
            if (!AppendVideoFigures(line, ost, q, final_report, figures))
                return;
            video_seen = true;
        }
        const double position = ost.MuxedEnd * av_q2d(ost.Stream->time_base);
        if (position < time && position > 0)
            time = position;
    }
    if (time == 1e10 || time < 0.01)
        time = 0.01; // no output position yet
    Deliver(line, size, time, figures, final_report);
}

} // namespace clipwright
