// Builds and runs one job from option lines, collecting its log and progress, and reads back
// what it wrote through the engine's own binding (an independent decode of every packet).
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/run/run_job.h"
#include "tests/engine/job_events_recorder.h"
#include "tests/support/media_gen/media_gen.h"
#include "tests/support/media_info.h"

namespace clipwright::testing {

struct ProgressCall {
    int32_t frame;
    int32_t fps;
    int32_t current_ms;
    float quality;
    float bit_rate;
    int64_t size;
    int32_t total_ms;
};

struct JobResult {
    bool built = false;
    std::string build_error;
    bool completed = false;
    bool exception = false;
    std::string message;
    std::vector<std::pair<int, std::string>> log;
    std::vector<ProgressCall> progress;

    bool Logged(const std::string& line) const {
        for (const auto& [level, text] : log) {
            if (text == line)
                return true;
        }
        return false;
    }
    bool LoggedContaining(const std::string& part) const {
        for (const auto& [level, text] : log) {
            if (text.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
};

// A file of that name in a folder of the generated media that the suite owns.
inline std::string OutputPath(const std::string& suite, const std::string& name) {
    const std::filesystem::path folder = std::filesystem::path(Media().folder) / suite;
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

// `configure` runs on the built job before it starts (to set hooks or a stop request).
inline JobResult RunJobWith(const std::vector<std::string>& inputs,
                            const std::string& input_options, const std::string& output,
                            TOutputOptions out, const std::function<void(TFFmpeg&)>& configure = {},
                            bool progress_slot = false, int verbosity = 0) {
    JobResult result;
    JobEventsRecorder events;
    TFFmpeg job;
    job.Prepare();
    job.SetEvents(&events);
    events.log = [&result](TCustomFFmpeg&, int level, const std::string& text) {
        result.log.emplace_back(level, text);
    };
    if (progress_slot)
        events.progress = [&result](TCustomFFmpeg&, const TJobProgress& p) {
            result.progress.push_back({p.frame_number, p.fps, p.current_duration_ms, p.quality,
                                       p.bit_rate, p.current_size, p.total_duration_ms});
        };
    job.SetVerbosity(verbosity);
    try {
        for (const std::string& input : inputs) {
            TInputOptions in;
            in.ExtraOptions = input_options;
            if (!BuildInput(job, input, &in)) {
                result.build_error = job.LastError;
                return result;
            }
        }
        if (!BuildOutput(job, output, &out)) {
            result.build_error = job.LastError;
            return result;
        }
    } catch (const std::exception& error) {
        result.build_error = error.what();
        return result;
    }
    result.built = true;
    if (configure)
        configure(job);
    ExecuteJob(job);
    job.SetVerbosity(1);
    result.completed = job.CompletedNormally;
    result.exception = job.ExceptionRaised;
    result.message = job.ExceptionMessage;
    return result;
}

// The output's options as "name=value" lines.
inline JobResult RunJob(const std::vector<std::string>& inputs, const std::string& input_options,
                        const std::string& output, const std::string& output_options,
                        const std::function<void(TFFmpeg&)>& configure = {},
                        bool progress_slot = false, int verbosity = 0) {
    TOutputOptions out;
    out.ExtraOptions = output_options;
    return RunJobWith(inputs, input_options, output, std::move(out), configure, progress_slot,
                      verbosity);
}

// What a written file holds, read packet by packet and decoded.
struct StreamReport {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    std::string codec;
    int width = 0, height = 0;
    int sample_rate = 0, channels = 0;
    int packets = 0;
    int frames = 0;
    int decode_errors = 0;
    double start_seconds = 1e100; // earliest packet
    double end_seconds = 0;       // end of the last packet
    double frame_rate = 0;
};

struct FileReport {
    bool opened = false;
    std::string format;
    double duration = 0; // container, seconds
    std::vector<StreamReport> streams;
};

inline FileReport ReadBack(const std::string& file) {
    FileReport report;
    AVFormatContext* raw = nullptr;
    if (av().avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0)
        return report;
    InputFormatPtr context(raw);
    if (av().avformat_find_stream_info(raw, nullptr) < 0)
        return report;
    report.opened = true;
    report.format = raw->iformat->name;
    report.duration = raw->duration != AV_NOPTS_VALUE ? raw->duration / 1e6 : 0;
    std::vector<CodecContextPtr> decoders;
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVCodecParameters* par = raw->streams[i]->codecpar;
        StreamReport s;
        s.type = par->codec_type;
        s.codec = av().avcodec_get_name(par->codec_id);
        s.width = par->width;
        s.height = par->height;
        s.sample_rate = par->sample_rate;
        s.channels = par->ch_layout.nb_channels;
        const AVRational rate = av().av_guess_frame_rate(raw, raw->streams[i], nullptr);
        s.frame_rate = rate.den != 0 ? static_cast<double>(rate.num) / rate.den : 0;
        report.streams.push_back(s);
        CodecContextPtr decoder;
        const AVCodec* codec = av().avcodec_find_decoder(par->codec_id);
        if (codec != nullptr && (s.type == AVMEDIA_TYPE_VIDEO || s.type == AVMEDIA_TYPE_AUDIO)) {
            decoder.reset(av().avcodec_alloc_context3(codec));
            av().avcodec_parameters_to_context(decoder.get(), par);
            decoder->pkt_timebase = raw->streams[i]->time_base;
            if (av().avcodec_open2(decoder.get(), codec, nullptr) < 0)
                decoder.reset();
        }
        decoders.push_back(std::move(decoder));
    }
    PacketPtr packet = allocPacket();
    FramePtr frame = allocFrame();
    auto drain = [&](size_t index) {
        while (av().avcodec_receive_frame(decoders[index].get(), frame.get()) >= 0) {
            ++report.streams[index].frames;
            av().av_frame_unref(frame.get());
        }
    };
    while (av().av_read_frame(raw, packet.get()) >= 0) {
        const size_t index = static_cast<size_t>(packet->stream_index);
        StreamReport& s = report.streams[index];
        ++s.packets;
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE) {
            const double end = (ts + packet->duration) * av_q2d(raw->streams[index]->time_base);
            s.end_seconds = std::max(s.end_seconds, end);
            s.start_seconds =
                std::min(s.start_seconds, ts * av_q2d(raw->streams[index]->time_base));
        }
        if (decoders[index]) {
            if (av().avcodec_send_packet(decoders[index].get(), packet.get()) < 0)
                ++s.decode_errors;
            drain(index);
        }
        av().av_packet_unref(packet.get());
    }
    for (size_t i = 0; i < decoders.size(); ++i) {
        if (decoders[i]) {
            av().avcodec_send_packet(decoders[i].get(), nullptr);
            drain(i);
        }
    }
    return report;
}

// The first stream of that type, or none. The report must outlive the pointer.
inline const StreamReport* FirstOf(const FileReport& report, AVMediaType type) {
    for (const StreamReport& s : report.streams) {
        if (s.type == type)
            return &s;
    }
    return nullptr;
}

} // namespace clipwright::testing
