// Re-encoding a 640x480 H.264 + AAC file: the engine's whole job against a bare decode →
// scale → encode → mux loop written here over the same libraries and settings, in one run.
// Prints the ratios of wall time and of peak memory for MPEG-4 + MP3 in AVI, libx264 + AAC in
// MP4, and the encoders of today's profiles with those profiles' settings.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/run/run_job.h"
#include "bench/bench_common.h"
#include "tests/support/media_gen/media_gen.h"

namespace {

using clipwright::bench::Check;

struct Target {
    const char* name;
    const char* file;
    const char* video_codec;
    const char* audio_codec;
    const char* settings = ""; // the video encoder's own options, name=value lines
};

// The settings lines as the options avcodec_open2 takes.
AVDictionary* Settings(const char* lines) {
    AVDictionary* settings = nullptr;
    const std::string text = lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            av_dict_set(&settings, line.substr(0, equals).c_str(), line.substr(equals + 1).c_str(),
                        0);
        start = end + 1;
    }
    return settings;
}

struct Encoder {
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
};

void WriteAll(AVFormatContext* out, Encoder& enc, AVFrame* frame, AVPacket* packet) {
    Check(avcodec_send_frame(enc.codec, frame), "send frame");
    while (avcodec_receive_packet(enc.codec, packet) >= 0) {
        av_packet_rescale_ts(packet, enc.codec->time_base, enc.stream->time_base);
        packet->stream_index = enc.stream->index;
        Check(av_interleaved_write_frame(out, packet), "write");
    }
}

// The bare pipeline, with the engine's choices: codec defaults, the input's size, rate and
// sample format conversions, the library's own thread count.
void BareEncode(const std::string& input, const std::string& output, const Target& target) {
    AVFormatContext* in = nullptr;
    Check(avformat_open_input(&in, input.c_str(), nullptr, nullptr), "open input");
    Check(avformat_find_stream_info(in, nullptr), "stream info");
    AVFormatContext* out = nullptr;
    Check(avformat_alloc_output_context2(&out, nullptr, nullptr, output.c_str()), "output");

    AVCodecContext* decoders[2] = {};
    Encoder encoders[2];
    for (int i = 0; i < 2; ++i) {
        AVStream* stream = in->streams[i];
        const AVCodec* dec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoders[i] = avcodec_alloc_context3(dec);
        avcodec_parameters_to_context(decoders[i], stream->codecpar);
        decoders[i]->thread_count = 0;
        decoders[i]->pkt_timebase = stream->time_base;
        Check(avcodec_open2(decoders[i], dec, nullptr), "open decoder");
    }
    for (int i = 0; i < 2; ++i) {
        const bool video = decoders[i]->codec_type == AVMEDIA_TYPE_VIDEO;
        const AVCodec* codec =
            avcodec_find_encoder_by_name(video ? target.video_codec : target.audio_codec);
        AVCodecContext* enc = avcodec_alloc_context3(codec);
        enc->thread_count = 0;
        if (out->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (video) {
            const AVRational rate = av_guess_frame_rate(in, in->streams[i], nullptr);
            enc->width = decoders[i]->width;
            enc->height = decoders[i]->height;
            enc->pix_fmt = AV_PIX_FMT_YUV420P;
            enc->time_base = av_inv_q(rate);
            enc->framerate = rate;
            enc->sample_aspect_ratio = AVRational{1, 1};
        } else {
            enc->sample_rate = decoders[i]->sample_rate;
            av_channel_layout_copy(&enc->ch_layout, &decoders[i]->ch_layout);
            enc->sample_fmt = codec->sample_fmts[0];
            enc->time_base = AVRational{1, enc->sample_rate};
        }
        AVDictionary* settings = video ? Settings(target.settings) : nullptr;
        Check(avcodec_open2(enc, codec, &settings), "open encoder");
        av_dict_free(&settings);
        encoders[i].codec = enc;
        encoders[i].stream = avformat_new_stream(out, nullptr);
        avcodec_parameters_from_context(encoders[i].stream->codecpar, enc);
        encoders[i].stream->time_base = enc->time_base;
    }
    Check(avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE), "open output");
    Check(avformat_write_header(out, nullptr), "header");

    const int v = decoders[0]->codec_type == AVMEDIA_TYPE_VIDEO ? 0 : 1;
    const int a = 1 - v;
    SwsContext* scale =
        sws_getContext(decoders[v]->width, decoders[v]->height, decoders[v]->pix_fmt,
                       encoders[v].codec->width, encoders[v].codec->height,
                       encoders[v].codec->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    SwrContext* resample = nullptr;
    swr_alloc_set_opts2(&resample, &encoders[a].codec->ch_layout, encoders[a].codec->sample_fmt,
                        encoders[a].codec->sample_rate, &decoders[a]->ch_layout,
                        decoders[a]->sample_fmt, decoders[a]->sample_rate, 0, nullptr);
    swr_init(resample);
    AVAudioFifo* fifo = av_audio_fifo_alloc(encoders[a].codec->sample_fmt,
                                            encoders[a].codec->ch_layout.nb_channels, 4096);
    AVPacket* packet = av_packet_alloc();
    AVPacket* out_packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    AVFrame* scaled = av_frame_alloc();
    scaled->format = encoders[v].codec->pix_fmt;
    scaled->width = encoders[v].codec->width;
    scaled->height = encoders[v].codec->height;
    av_frame_get_buffer(scaled, 0);
    AVFrame* samples = av_frame_alloc();
    const int frame_size = encoders[a].codec->frame_size;
    samples->nb_samples = frame_size;
    samples->format = encoders[a].codec->sample_fmt;
    samples->sample_rate = encoders[a].codec->sample_rate;
    av_channel_layout_copy(&samples->ch_layout, &encoders[a].codec->ch_layout);
    av_frame_get_buffer(samples, 0);
    int64_t video_pts = 0;
    int64_t audio_pts = 0;

    auto drain = [&](int index) {
        while (avcodec_receive_frame(decoders[index], decoded) >= 0) {
            if (index == v) {
                av_frame_make_writable(scaled);
                sws_scale(scale, decoded->data, decoded->linesize, 0, decoded->height, scaled->data,
                          scaled->linesize);
                scaled->pts = video_pts++;
                WriteAll(out, encoders[v], scaled, out_packet);
            } else {
                uint8_t** converted = nullptr;
                av_samples_alloc_array_and_samples(
                    &converted, nullptr, encoders[a].codec->ch_layout.nb_channels,
                    decoded->nb_samples + 256, encoders[a].codec->sample_fmt, 0);
                const int count = swr_convert(resample, converted, decoded->nb_samples + 256,
                                              const_cast<const uint8_t**>(decoded->extended_data),
                                              decoded->nb_samples);
                av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), count);
                av_freep(&converted[0]);
                av_freep(&converted);
                while (av_audio_fifo_size(fifo) >= frame_size) {
                    av_frame_make_writable(samples);
                    av_audio_fifo_read(fifo, reinterpret_cast<void**>(samples->data), frame_size);
                    samples->pts = audio_pts;
                    audio_pts += frame_size;
                    WriteAll(out, encoders[a], samples, out_packet);
                }
            }
            av_frame_unref(decoded);
        }
    };
    while (av_read_frame(in, packet) >= 0) {
        if (packet->stream_index < 2 &&
            avcodec_send_packet(decoders[packet->stream_index], packet) >= 0)
            drain(packet->stream_index);
        av_packet_unref(packet);
    }
    for (int i = 0; i < 2; ++i) {
        avcodec_send_packet(decoders[i], nullptr);
        drain(i);
        WriteAll(out, encoders[i], nullptr, out_packet);
    }
    av_write_trailer(out);

    av_frame_free(&samples);
    av_frame_free(&scaled);
    av_frame_free(&decoded);
    av_packet_free(&out_packet);
    av_packet_free(&packet);
    av_audio_fifo_free(fifo);
    swr_free(&resample);
    sws_freeContext(scale);
    for (int i = 0; i < 2; ++i) {
        avcodec_free_context(&decoders[i]);
        avcodec_free_context(&encoders[i].codec);
    }
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

void EngineEncode(const std::string& input, const std::string& output, const Target& target) {
    clipwright::TFFmpeg job;
    job.Prepare();
    job.SetVerbosity(-1);
    clipwright::TInputOptions in;
    clipwright::TOutputOptions out;
    out.VideoCodec = target.video_codec;
    out.AudioCodec = target.audio_codec;
    out.ExtraOptions = target.settings;
    if (!clipwright::BuildInput(job, input, &in) || !clipwright::BuildOutput(job, output, &out))
        throw std::runtime_error(job.LastError);
    ExecuteJob(job);
    if (!job.CompletedNormally)
        throw std::runtime_error(job.ExceptionMessage);
}

} // namespace

int main() {
    if (!clipwright::bench::BindLibraries())
        return 2;
    setenv("SVT_LOG", "1", 0); // as the engine component keeps the AV1 encoder to its errors
    namespace gen = clipwright::testing;
    const std::string input = clipwright::bench::TempPath("source_640x480.mp4");
    gen::WriteMedia(
        input,
        {.format = "",
         .video = gen::VideoSpec{.codec = "libx264",
                                 .width = 640,
                                 .height = 480,
                                 .frame_rate = {30, 1},
                                 .frames = 300,
                                 .bit_rate = 1500000},
         .audio =
             gen::AudioSpec{.codec = "aac", .sample_rate = 48000, .channels = 2, .seconds = 10.0},
         .metadata = {}});
    av_log_set_level(AV_LOG_QUIET);
    // Today's encoders with their profiles' settings ("Balanced").
    const Target targets[] = {
        {"MPEG-4 + MP3 in AVI", "avi", "mpeg4", "libmp3lame"},
        {"libx264 + AAC in MP4", "mp4", "libx264", "aac"},
        {"H.264 High + AAC in MP4", "mp4", "libx264", "aac", "profile=high\npreset=medium\ncrf=23"},
        {"HEVC + AAC in MP4", "mp4", "libx265", "aac",
         "preset=fast\nx265-params=log-level=error\ncrf=26"},
        {"VP9 + Opus in WebM", "webm", "libvpx-vp9", "libopus",
         "deadline=good\ncpu-used=4\nrow-mt=1\ntile-columns=2\ncrf=33"},
        {"AV1 + Opus in WebM", "webm", "libsvtav1", "libopus", "preset=8\ncrf=35"}};
    const int runs = 3;
    std::printf("re-encoding 10 s of 640x480 H.264 + AAC, median of %d runs\n", runs);
    for (const Target& target : targets) {
        const std::string bare_out =
            clipwright::bench::TempPath(std::string("bare.") + target.file);
        const std::string engine_out =
            clipwright::bench::TempPath(std::string("engine.") + target.file);
        const auto bare =
            clipwright::bench::Run([&] { BareEncode(input, bare_out, target); }, runs);
        const auto engine =
            clipwright::bench::Run([&] { EngineEncode(input, engine_out, target); }, runs);
        std::printf("%s\n", target.name);
        std::printf("  bare loop: %8.3f s  %7ld kB peak\n", bare.seconds, bare.peak_rss_kb);
        std::printf("  engine:    %8.3f s  %7ld kB peak\n", engine.seconds, engine.peak_rss_kb);
        std::printf("  ratio:     %8.3f wall  %7.3f memory\n", engine.seconds / bare.seconds,
                    static_cast<double>(engine.peak_rss_kb) / bare.peak_rss_kb);
        std::printf("  sizes:     %8ju bytes bare, %ju bytes engine\n",
                    static_cast<uintmax_t>(std::filesystem::file_size(bare_out)),
                    static_cast<uintmax_t>(std::filesystem::file_size(engine_out)));
        std::filesystem::remove(bare_out);
        std::filesystem::remove(engine_out);
    }
    std::filesystem::remove(input);
    return 0;
}
