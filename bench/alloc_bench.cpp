// Heap allocations per picture and per packet once a run has started: every allocation of
// the process (the engine's and the libraries') is counted through the C library's entry
// points, for the same job over a short and a long stretch of the same file; the difference
// divided by the extra pictures or packets is what the running loop costs, the set-up cancels.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <malloc.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/run/run_job.h"
#include "bench/bench_common.h"
#include "tests/support/media_gen/media_gen.h"

namespace {

using clipwright::bench::Check;
std::atomic<long> gAllocations{0};
} // namespace

// The allocation entry points of this process, the media libraries' included: each counts
// and hands on to the C library's own.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    void* pointer = memalign(alignment, size);
    if (pointer == nullptr)
        return ENOMEM;
    *out = pointer;
    return 0;
}
}

namespace {

struct Case {
    const char* name;
    const char* output;  // file name; its extension chooses the muxer
    const char* options; // the engine's output options, one per line
    const char* unit;    // what is counted per
    bool bare;           // also count the bare library pipeline doing the same
};

// The bare library pipelines the engine is measured against, over the first `seconds`:
// every packet into the output (copy), or the video decoded and encoded again as MPEG-4.
void Bare(const std::string& input, const std::string& output, bool copy, double seconds) {
    AVFormatContext* in = nullptr;
    Check(avformat_open_input(&in, input.c_str(), nullptr, nullptr), "open input");
    Check(avformat_find_stream_info(in, nullptr), "stream info");
    AVFormatContext* out = nullptr;
    Check(avformat_alloc_output_context2(&out, nullptr, nullptr, output.c_str()), "output");
    AVCodecContext* dec = nullptr;
    AVCodecContext* enc = nullptr;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVCodecParameters* par = in->streams[i]->codecpar;
        if (!copy && par->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        AVStream* stream = avformat_new_stream(out, nullptr);
        Check(avcodec_parameters_copy(stream->codecpar, par), "copy");
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->time_base;
        if (copy)
            continue;
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        dec = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(dec, par);
        dec->thread_count = 0;
        Check(avcodec_open2(dec, decoder, nullptr), "open decoder");
        const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        enc = avcodec_alloc_context3(encoder);
        enc->width = par->width;
        enc->height = par->height;
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->time_base = AVRational{1, 25};
        enc->thread_count = 0;
        Check(avcodec_open2(enc, encoder, nullptr), "open encoder");
        Check(avcodec_parameters_from_context(stream->codecpar, enc), "parameters");
    }
    Check(avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(out, nullptr), "header");
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(enc, packet) >= 0) {
            av_packet_rescale_ts(packet, enc->time_base, out->streams[0]->time_base);
            packet->stream_index = 0;
            Check(av_interleaved_write_frame(out, packet), "write");
        }
    };
    int64_t pictures = 0;
    while (av_read_frame(in, packet) >= 0) {
        const AVStream* from = in->streams[packet->stream_index];
        if (packet->dts != AV_NOPTS_VALUE && packet->dts * av_q2d(from->time_base) >= seconds) {
            av_packet_unref(packet);
            break;
        }
        if (copy) {
            av_packet_rescale_ts(packet, from->time_base,
                                 out->streams[packet->stream_index]->time_base);
            Check(av_interleaved_write_frame(out, packet), "write");
            continue;
        }
        if (from->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            avcodec_send_packet(dec, packet) >= 0) {
            while (avcodec_receive_frame(dec, frame) >= 0) {
                frame->pts = pictures++;
                avcodec_send_frame(enc, frame);
                av_frame_unref(frame);
                drain();
            }
        }
        av_packet_unref(packet);
    }
    if (enc != nullptr) {
        avcodec_send_frame(enc, nullptr);
        drain();
    }
    av_write_trailer(out);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);
    avcodec_free_context(&enc);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

long CountBare(const std::string& input, const std::string& output, bool copy, double seconds) {
    const long before = gAllocations.load();
    Bare(input, output, copy, seconds);
    return gAllocations.load() - before;
}

// Allocations of one whole job limited to `seconds` of input.
long CountJob(const std::string& input, const std::string& output, const std::string& options,
              double seconds) {
    clipwright::TFFmpeg job;
    job.Prepare();
    clipwright::TInputOptions in;
    clipwright::TOutputOptions out;
    out.ExtraOptions = options + "\nt=" + std::to_string(seconds);
    if (!clipwright::BuildInput(job, input, &in) || !clipwright::BuildOutput(job, output, &out))
        throw std::runtime_error(job.LastError);
    const long before = gAllocations.load();
    ExecuteJob(job);
    const long after = gAllocations.load();
    if (!job.CompletedNormally)
        throw std::runtime_error(job.ExceptionMessage);
    return after - before;
}

} // namespace

int main() {
    if (!clipwright::bench::BindLibraries())
        return 2;
    namespace gen = clipwright::testing;
    const std::string input = clipwright::bench::TempPath("alloc_source.avi");
    gen::WriteMedia(input, {.format = "",
                            .video = gen::VideoSpec{.codec = "mpeg4",
                                                    .width = 320,
                                                    .height = 240,
                                                    .frame_rate = {25, 1},
                                                    .frames = 250},
                            .audio = gen::AudioSpec{.codec = "mp2", .seconds = 10.0},
                            .metadata = {}});
    av_log_set_level(AV_LOG_QUIET);
    // Crop only: the encoder takes the cropped picture by reference. Plain: no crop, the
    // same encoder, for comparison. Copy: packets handed from demuxer to muxer.
    const Case cases[] = {
        {"crop only (MPEG-4, 16 rows off top and bottom)", "crop.avi",
         "an=1\nvcodec=mpeg4\ncroptop=16\ncropbottom=16", "picture", false},
        {"plain re-encode (MPEG-4, no crop)", "plain.avi", "an=1\nvcodec=mpeg4", "picture", true},
        {"stream copy (MPEG-4 + MP2 into Matroska)", "copy.mkv", "vcodec=copy\nacodec=copy",
         "packet", true},
    };
    const double short_seconds = 2.0, long_seconds = 8.0;
    std::printf("heap allocations over %.0f s minus those over %.0f s of a 25 fps 320x240 "
                "MPEG-4 + MP2 source\n",
                long_seconds, short_seconds);
    for (const Case& c : cases) {
        const std::string output = clipwright::bench::TempPath(c.output);
        const bool copy = std::string(c.unit) == "packet";
        // Pictures at 25 fps; packets of the copy: 25 video and about 38 MP2 a second.
        const double units = (long_seconds - short_seconds) * (copy ? 25.0 + 44100.0 / 1152 : 25.0);
        const long few = CountJob(input, output, c.options, short_seconds);
        const long many = CountJob(input, output, c.options, long_seconds);
        std::printf("%-48s engine: %5.2f per %s\n", c.name, static_cast<double>(many - few) / units,
                    c.unit);
        if (c.bare) {
            const long bare_few = CountBare(input, output, copy, short_seconds);
            const long bare_many = CountBare(input, output, copy, long_seconds);
            std::printf("%-48s bare:   %5.2f per %s\n", "",
                        static_cast<double>(bare_many - bare_few) / units, c.unit);
        }
        std::filesystem::remove(output);
    }
    std::filesystem::remove(input);
    return 0;
}
