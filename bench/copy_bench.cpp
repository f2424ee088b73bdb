// Stream copy of a real file into MP4: the engine's whole job against a bare read → rescale →
// write loop over the same libraries. Prints the wall-time and peak-memory ratios.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/run/run_job.h"
#include "bench/bench_common.h"

namespace {

using clipwright::bench::Check;

// The bare pipeline: every packet of the input, rescaled, into the output.
void BareCopy(const std::string& input, const std::string& output) {
    AVFormatContext* in = nullptr;
    Check(avformat_open_input(&in, input.c_str(), nullptr, nullptr), "open input");
    Check(avformat_find_stream_info(in, nullptr), "stream info");
    AVFormatContext* out = nullptr;
    Check(avformat_alloc_output_context2(&out, nullptr, nullptr, output.c_str()), "output");
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out, nullptr);
        Check(avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar), "copy");
        stream->codecpar->codec_tag = 0;
    }
    Check(avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(out, nullptr), "header");
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        Check(av_interleaved_write_frame(out, packet), "write");
    }
    av_write_trailer(out);
    av_packet_free(&packet);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

// `every_stream`: as the remux profiles ask, every stream the container holds.
void EngineCopy(const std::string& input, const std::string& output, bool every_stream) {
    clipwright::TFFmpeg job;
    job.Prepare();
    job.SetVerbosity(-1);
    clipwright::TInputOptions in;
    clipwright::TOutputOptions out;
    if (every_stream) {
        out.ExtraOptions = "map_all=1";
    } else {
        out.VideoCodec = "copy";
        out.AudioCodec = "copy";
    }
    if (!clipwright::BuildInput(job, input, &in) || !clipwright::BuildOutput(job, output, &out))
        throw std::runtime_error(job.LastError);
    ExecuteJob(job);
    if (!job.CompletedNormally)
        throw std::runtime_error(job.ExceptionMessage);
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string input =
        argc > 1 ? argv[1] : std::string(CLIPWRIGHT_TEST_MEDIA) + "/flv_h264_aac_480x270.flv";
    if (!clipwright::bench::BindLibraries())
        return 2;
    const std::string bare_out = clipwright::bench::TempPath("bare.mp4");
    const std::string engine_out = clipwright::bench::TempPath("engine.mp4");
    const int runs = 7;
    const auto bare = clipwright::bench::Run([&] { BareCopy(input, bare_out); }, runs);
    const auto engine = clipwright::bench::Run([&] { EngineCopy(input, engine_out, false); }, runs);
    const auto remux = clipwright::bench::Run([&] { EngineCopy(input, engine_out, true); }, runs);
    std::printf("stream copy of %s into MP4, median of %d runs\n", input.c_str(), runs);
    std::printf("  bare loop: %8.4f s  %7ld kB peak\n", bare.seconds, bare.peak_rss_kb);
    std::printf("  engine:    %8.4f s  %7ld kB peak\n", engine.seconds, engine.peak_rss_kb);
    std::printf("  ratio:     %8.3f wall  %7.3f memory\n", engine.seconds / bare.seconds,
                static_cast<double>(engine.peak_rss_kb) / bare.peak_rss_kb);
    std::printf("  every stream (map_all): %8.4f s, ratio %.3f wall\n", remux.seconds,
                remux.seconds / bare.seconds);
    std::remove(bare_out.c_str());
    std::remove(engine_out.c_str());
    return 0;
}
