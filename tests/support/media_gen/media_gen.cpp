#include "tests/support/media_gen/media_gen.h"

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/libav_owners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace clipwright::testing {

namespace {

[[noreturn]] void Fail(const std::string& what, int code = 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (code < 0)
        av_strerror(code, text, sizeof text);
    throw std::runtime_error("media_gen: " + what + (code < 0 ? std::string(": ") + text : ""));
}

void Check(int code, const std::string& what) {
    if (code < 0)
        Fail(what, code);
}

// One encoded stream of the file being written.
struct Track {
    std::unique_ptr<AVCodecContext, CodecContextFree> encoder;
    std::unique_ptr<AVFrame, FrameFree> frame;
    AVStream* stream = nullptr;
    int64_t next_pts = 0; // in the encoder's time base
    int64_t end_pts = 0;
    bool flushed = false;
    AVRational frame_tick{0, 1}; // when set: the stream's time base, one tick a frame
    const VideoSpec* video = nullptr;
    const AudioSpec* audio = nullptr;
    // An encoder that takes RGB only gets the YUV picture converted.
    FrameOwner yuv;
    ScaleOwner to_rgb;
};

int64_t SecondsIn(double seconds, AVRational base) {
    return av_rescale_q(std::llround(seconds * 1e6), AVRational{1, AV_TIME_BASE}, base);
}

void WritePackets(AVFormatContext* output, Track& track, AVPacket* packet) {
    for (;;) {
        const int got = avcodec_receive_packet(track.encoder.get(), packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        Check(got, "receive packet");
        const int64_t pts = packet->pts;
        // The encoder counts frames; so does a stream of frame ticks.
        if (track.frame_tick.num == 0)
            av_packet_rescale_ts(packet, track.encoder->time_base, track.stream->time_base);
        const double start = track.video != nullptr ? track.video->start : track.audio->start;
        const int64_t shift = SecondsIn(start, track.stream->time_base);
        packet->pts += packet->pts != AV_NOPTS_VALUE ? shift : 0;
        packet->dts += packet->dts != AV_NOPTS_VALUE ? shift : 0;
        if (track.video != nullptr) {
            // Every picture states its duration, so that a muxer storing durations only where
            // they differ from the others' keeps the long one.
            if (track.video->last_hold > 0)
                packet->duration =
                    pts == track.end_pts - 1
                        ? SecondsIn(track.video->last_hold, track.stream->time_base)
                        : av_rescale_q(1, track.encoder->time_base, track.stream->time_base);
        }
        packet->stream_index = track.stream->index;
        Check(av_interleaved_write_frame(output, packet), "write packet");
    }
}

void OpenVideo(AVFormatContext* output, const VideoSpec& wanted, Track& track) {
    const AVCodec* codec = avcodec_find_encoder_by_name(wanted.codec.c_str());
    if (codec == nullptr)
        Fail("no encoder " + wanted.codec);
    track.stream = avformat_new_stream(output, nullptr);
    track.encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = track.encoder.get();
    c->width = wanted.width;
    c->height = wanted.height;
    c->time_base = AVRational{wanted.frame_rate.den, wanted.frame_rate.num};
    c->framerate = AVRational{wanted.frame_rate.num, wanted.frame_rate.den};
    c->sample_aspect_ratio = AVRational{wanted.sample_aspect.num, wanted.sample_aspect.den};
    c->pix_fmt = av_get_pix_fmt(wanted.pixel_format.c_str());
    c->bit_rate = wanted.bit_rate;
    c->gop_size = 12;
    if (wanted.b_frames >= 0)
        c->max_b_frames = wanted.b_frames;
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (wanted.codec == "libx264")
        av_dict_set(&options, "preset", "ultrafast", 0);
    const int opened = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    Check(opened, "open " + wanted.codec);
    track.stream->time_base = c->time_base;
    track.stream->avg_frame_rate = c->framerate;
    if (wanted.time_base.num != 0) {
        track.stream->time_base = AVRational{wanted.time_base.num, wanted.time_base.den};
        track.stream->avg_frame_rate = AVRational{wanted.time_base.den, wanted.time_base.num};
        track.frame_tick = track.stream->time_base;
    }
    track.stream->sample_aspect_ratio = c->sample_aspect_ratio;
    if (wanted.rotation != 0) {
        auto* matrix = reinterpret_cast<int32_t*>(
            av_stream_new_side_data(track.stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        if (matrix == nullptr)
            Fail("display matrix");
        av_display_rotation_set(matrix, -wanted.rotation); // counterclockwise in the library
    }
    Check(avcodec_parameters_from_context(track.stream->codecpar, c), "video parameters");
    track.frame.reset(av_frame_alloc());
    track.frame->format = c->pix_fmt;
    track.frame->width = c->width;
    track.frame->height = c->height;
    Check(av_frame_get_buffer(track.frame.get(), 0), "video frame");
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(c->pix_fmt);
    if (desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        track.yuv.reset(av_frame_alloc());
        track.yuv->format = AV_PIX_FMT_YUV420P;
        track.yuv->width = c->width;
        track.yuv->height = c->height;
        Check(av_frame_get_buffer(track.yuv.get(), 0), "video frame");
        track.to_rgb.reset(sws_getContext(c->width, c->height, AV_PIX_FMT_YUV420P, c->width,
                                          c->height, c->pix_fmt, SWS_POINT, nullptr, nullptr,
                                          nullptr));
        if (!track.to_rgb)
            Fail("no conversion to " + wanted.pixel_format);
    }
    track.end_pts = wanted.frames;
    track.video = &wanted; // the caller keeps it for the track's life
}

AVSampleFormat ChooseSampleFormat(const AVCodec* codec) {
    if (codec->sample_fmts == nullptr)
        return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == AV_SAMPLE_FMT_S16 || *f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_S16P)
            return *f;
    }
    return codec->sample_fmts[0];
}

void OpenAudio(AVFormatContext* output, const AudioSpec& wanted, Track& track) {
    const AVCodec* codec = avcodec_find_encoder_by_name(wanted.codec.c_str());
    if (codec == nullptr)
        Fail("no encoder " + wanted.codec);
    track.stream = avformat_new_stream(output, nullptr);
    track.encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = track.encoder.get();
    c->sample_rate = wanted.sample_rate;
    if (wanted.layout.empty())
        av_channel_layout_default(&c->ch_layout, wanted.channels);
    else
        Check(av_channel_layout_from_string(&c->ch_layout, wanted.layout.c_str()),
              "layout " + wanted.layout);
    c->sample_fmt = ChooseSampleFormat(codec);
    c->bit_rate = wanted.bit_rate;
    c->time_base = AVRational{1, wanted.sample_rate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(c, codec, nullptr), "open " + wanted.codec);
    track.stream->time_base = c->time_base;
    Check(avcodec_parameters_from_context(track.stream->codecpar, c), "audio parameters");
    track.frame.reset(av_frame_alloc());
    track.frame->format = c->sample_fmt;
    track.frame->sample_rate = c->sample_rate;
    Check(av_channel_layout_copy(&track.frame->ch_layout, &c->ch_layout), "layout");
    track.frame->nb_samples = c->frame_size > 0 ? c->frame_size : 1024;
    Check(av_frame_get_buffer(track.frame.get(), 0), "audio frame");
    track.end_pts = static_cast<int64_t>(std::llround(wanted.seconds * wanted.sample_rate));
    track.audio = &wanted; // the caller keeps it for the track's life
}

bool Within(const std::vector<Span>& spans, double time) {
    for (const Span& span : spans) {
        if (time >= span.start - 1e-9 && time < span.start + span.seconds - 1e-9)
            return true;
    }
    return false;
}

// A diagonal gradient that moves one step a frame, so encoders see motion; with markers, a dark
// or a bright picture with a faint moving texture.
void FillPicture(AVFrame* frame, int64_t index, const VideoSpec& wanted) {
    Check(av_frame_make_writable(frame), "writable");
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const bool bright = Within(
        wanted.markers,
        static_cast<double>(index) * wanted.frame_rate.den / wanted.frame_rate.num + wanted.start);
    for (int plane = 0; plane < 3 && frame->data[plane] != nullptr; ++plane) {
        const int shift_w = plane == 0 ? 0 : desc->log2_chroma_w;
        const int shift_h = plane == 0 ? 0 : desc->log2_chroma_h;
        const int width = AV_CEIL_RSHIFT(frame->width, shift_w);
        const int height = AV_CEIL_RSHIFT(frame->height, shift_h);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
            for (int x = 0; x < width; ++x) {
                if (wanted.markers.empty())
                    row[x] = plane == 0 ? static_cast<uint8_t>(x + y + index * 3)
                                        : static_cast<uint8_t>(128 + (plane == 1 ? 20 : -20));
                else if (plane == 0)
                    row[x] = static_cast<uint8_t>((bright ? 225 : 20) + (x + y + index) % 8);
                else
                    row[x] = 128;
            }
        }
    }
}

// A 440 Hz tone at half scale (or one tone per channel, or bursts of it), in whatever sample
// format the encoder takes.
void FillTone(AVFrame* frame, int64_t first_sample, const AudioSpec& wanted) {
    Check(av_frame_make_writable(frame), "writable");
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame->ch_layout.nb_channels;
    for (int i = 0; i < frame->nb_samples; ++i) {
        const double time =
            static_cast<double>(first_sample + i) / frame->sample_rate + wanted.start;
        const bool sounding = wanted.bursts.empty() || Within(wanted.bursts, time);
        for (int ch = 0; ch < channels; ++ch) {
            const double value = !sounding ? 0.0
                                 : wanted.tone_per_channel
                                     ? 0.3 * std::sin(2.0 * M_PI * ChannelToneHz(ch) * time)
                                     : 0.5 * std::sin(2.0 * M_PI * 440.0 * time);
            const int plane = planar ? ch : 0;
            const int slot = planar ? i : i * channels + ch;
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<int16_t*>(frame->data[plane])[slot] =
                    static_cast<int16_t>(value * 32767);
                break;
            case AV_SAMPLE_FMT_S32:
                reinterpret_cast<int32_t*>(frame->data[plane])[slot] =
                    static_cast<int32_t>(value * 2147483647.0);
                break;
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float*>(frame->data[plane])[slot] = static_cast<float>(value);
                break;
            default:
                Fail("sample format not generated");
            }
        }
    }
}

// Sends the track's next frame, or the flush once it has reached its end.
void Advance(AVFormatContext* output, Track& track, AVPacket* packet) {
    AVCodecContext* c = track.encoder.get();
    if (track.next_pts >= track.end_pts) {
        Check(avcodec_send_frame(c, nullptr), "flush");
        WritePackets(output, track, packet);
        track.flushed = true;
        return;
    }
    AVFrame* frame = track.frame.get();
    if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (track.yuv) {
            FillPicture(track.yuv.get(), track.next_pts, *track.video);
            Check(av_frame_make_writable(frame), "writable");
            sws_scale(track.to_rgb.get(), track.yuv->data, track.yuv->linesize, 0, frame->height,
                      frame->data, frame->linesize);
        } else {
            FillPicture(frame, track.next_pts, *track.video);
        }
        frame->pts = track.next_pts++;
    } else {
        frame->nb_samples =
            static_cast<int>(std::min<int64_t>(frame->nb_samples, track.end_pts - track.next_pts));
        if (c->frame_size > 0 && !(c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) &&
            frame->nb_samples < c->frame_size) {
            frame->nb_samples = c->frame_size; // a fixed-size encoder takes whole frames only
        }
        FillTone(frame, track.next_pts, *track.audio);
        frame->pts = track.next_pts;
        track.next_pts += frame->nb_samples;
    }
    Check(avcodec_send_frame(c, frame), "send frame");
    WritePackets(output, track, packet);
}

double Seconds(const Track& track) {
    return static_cast<double>(track.next_pts) * av_q2d(track.encoder->time_base) +
           (track.video != nullptr ? track.video->start : track.audio->start);
}

AVStream* AddSubtitles(AVFormatContext* output) {
    AVStream* stream = avformat_new_stream(output, nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    stream->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    stream->time_base = AVRational{1, 1000};
    return stream;
}

void WriteSubtitles(AVFormatContext* output, AVStream* stream, const std::vector<Span>& events,
                    AVPacket* packet) {
    for (size_t i = 0; i < events.size(); ++i) {
        const std::string text = "Line " + std::to_string(i + 1);
        Check(av_new_packet(packet, static_cast<int>(text.size())), "subtitle packet");
        std::memcpy(packet->data, text.data(), text.size());
        packet->stream_index = stream->index;
        packet->pts = packet->dts = SecondsIn(events[i].start, stream->time_base);
        packet->duration = SecondsIn(events[i].seconds, stream->time_base);
        packet->flags |= AV_PKT_FLAG_KEY;
        Check(av_interleaved_write_frame(output, packet), "write subtitle");
    }
}

// A small grey JPEG as the file's attached picture, written right after the header.
AVStream* AddCoverArt(AVFormatContext* output, std::vector<uint8_t>& jpeg) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    CodecContextOwner encoder(avcodec_alloc_context3(codec));
    encoder->width = 64;
    encoder->height = 64;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    encoder->time_base = AVRational{1, 25};
    Check(avcodec_open2(encoder.get(), codec, nullptr), "open mjpeg");
    FrameOwner picture(av_frame_alloc());
    picture->format = encoder->pix_fmt;
    picture->width = 64;
    picture->height = 64;
    Check(av_frame_get_buffer(picture.get(), 0), "cover frame");
    for (int plane = 0; plane < 3; ++plane) // 4:2:0: the chroma planes have half the rows
        std::memset(picture->data[plane], 128,
                    static_cast<size_t>(picture->linesize[plane]) * (plane == 0 ? 64 : 32));
    picture->pts = 0;
    PacketOwner packet(av_packet_alloc());
    Check(avcodec_send_frame(encoder.get(), picture.get()), "encode cover");
    Check(avcodec_send_frame(encoder.get(), nullptr), "flush cover");
    Check(avcodec_receive_packet(encoder.get(), packet.get()), "cover packet");
    jpeg.assign(packet->data, packet->data + packet->size);
    AVStream* stream = avformat_new_stream(output, nullptr);
    Check(avcodec_parameters_from_context(stream->codecpar, encoder.get()), "cover parameters");
    stream->disposition |= AV_DISPOSITION_ATTACHED_PIC;
    stream->time_base = AVRational{1, 90000};
    return stream;
}

void WriteCoverArt(AVFormatContext* output, AVStream* stream, const std::vector<uint8_t>& jpeg,
                   AVPacket* packet) {
    Check(av_new_packet(packet, static_cast<int>(jpeg.size())), "cover packet");
    std::memcpy(packet->data, jpeg.data(), jpeg.size());
    packet->stream_index = stream->index;
    packet->flags |= AV_PKT_FLAG_KEY;
    Check(av_interleaved_write_frame(output, packet), "write cover");
}

} // namespace

void WriteMedia(const std::string& path, const MediaSpec& wanted) {
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(
              &raw, nullptr, wanted.format.empty() ? nullptr : wanted.format.c_str(), path.c_str()),
          "output " + path);
    std::unique_ptr<AVFormatContext, OutputFree> output(raw);

    std::vector<Track> tracks;
    tracks.reserve(2);
    auto add_video = [&] {
        if (wanted.video)
            OpenVideo(output.get(), *wanted.video, tracks.emplace_back());
    };
    auto add_audio = [&] {
        if (wanted.audio)
            OpenAudio(output.get(), *wanted.audio, tracks.emplace_back());
    };
    if (wanted.audio_first) {
        add_audio();
        add_video();
    } else {
        add_video();
        add_audio();
    }
    AVStream* subtitles = wanted.subtitles.empty() ? nullptr : AddSubtitles(output.get());
    std::vector<uint8_t> jpeg;
    AVStream* cover = wanted.cover_art ? AddCoverArt(output.get(), jpeg) : nullptr;
    for (const auto& [key, value] : wanted.metadata)
        av_dict_set(&output->metadata, key.c_str(), value.c_str(), 0);

    if (!(output->oformat->flags & AVFMT_NOFILE))
        Check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "open " + path);
    Check(avformat_write_header(output.get(), nullptr), "header");
    for (const Track& track : tracks) {
        // A muxer that chose a time base of its own would make the ticks mean something else.
        if (track.frame_tick.num != 0 && av_cmp_q(track.stream->time_base, track.frame_tick) != 0)
            Fail("the muxer changed the stream's time base");
    }
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (cover != nullptr)
        WriteCoverArt(output.get(), cover, jpeg, packet.get());
    if (subtitles != nullptr)
        WriteSubtitles(output.get(), subtitles, wanted.subtitles, packet.get());
    for (;;) {
        Track* next = nullptr;
        for (Track& track : tracks) {
            if (!track.flushed && (next == nullptr || Seconds(track) < Seconds(*next)))
                next = &track;
        }
        if (next == nullptr)
            break;
        Advance(output.get(), *next, packet.get());
    }
    Check(av_write_trailer(output.get()), "trailer");
}

double ChannelToneHz(int channel) {
    return 300.0 + 170.0 * channel;
}

void WriteRandomBytes(const std::string& path, std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

void WriteTruncatedCopy(const std::string& source, const std::string& target, std::size_t keep) {
    std::ifstream in(source, std::ios::binary);
    std::string bytes(keep, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(keep));
    std::ofstream(target, std::ios::binary).write(bytes.data(), in.gcount());
}

std::size_t FileSize(const std::string& path) {
    return static_cast<std::size_t>(std::filesystem::file_size(path));
}

void WriteDvbSubtitles(const std::string& path, int count) {
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(&raw, nullptr, "mpegts", path.c_str()), "output");
    std::unique_ptr<AVFormatContext, OutputFree> output(raw);
    std::vector<Track> tracks(1);
    const VideoSpec video{.codec = "mpeg2video", .frame_rate = {25, 1}, .frames = 50};
    OpenVideo(raw, video, tracks[0]); // the track points to `video`
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVB_SUBTITLE);
    std::unique_ptr<AVCodecContext, CodecContextFree> sub(avcodec_alloc_context3(codec));
    sub->time_base = AVRational{1, 90000};
    sub->width = 320;
    sub->height = 240;
    Check(avcodec_open2(sub.get(), codec, nullptr), "open dvbsub");
    AVStream* stream = avformat_new_stream(raw, nullptr);
    stream->time_base = sub->time_base;
    Check(avcodec_parameters_from_context(stream->codecpar, sub.get()), "subtitle parameters");
    Check(avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE), "open " + path);
    Check(avformat_write_header(raw, nullptr), "header");

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::vector<uint8_t> bitmap(64 * 16, 1);
    uint32_t palette[4] = {0x00000000, 0xffffffff, 0xff000000, 0xffff0000};
    for (int i = 0; i < count; ++i) {
        // The video up to this subtitle, then the subtitle itself.
        while (tracks[0].next_pts < (i + 1) * 25 - 20)
            Advance(raw, tracks[0], packet.get());
        AVSubtitleRect rect{};
        rect.x = 10;
        rect.y = 200;
        rect.w = 64;
        rect.h = 16;
        rect.nb_colors = 4;
        rect.type = SUBTITLE_BITMAP;
        rect.data[0] = bitmap.data();
        rect.linesize[0] = 64;
        rect.data[1] = reinterpret_cast<uint8_t*>(palette);
        AVSubtitleRect* rects[1] = {&rect};
        AVSubtitle subtitle{};
        subtitle.start_display_time = 0;
        subtitle.end_display_time = 500;
        subtitle.num_rects = 1;
        subtitle.rects = rects;
        subtitle.pts = av_rescale_q(i * 40 + 10, AVRational{1, 25}, AVRational{1, AV_TIME_BASE});
        std::vector<uint8_t> buffer(65536);
        const int size = avcodec_encode_subtitle(sub.get(), buffer.data(),
                                                 static_cast<int>(buffer.size()), &subtitle);
        Check(size, "encode subtitle");
        Check(av_new_packet(packet.get(), size), "packet");
        std::memcpy(packet->data, buffer.data(), static_cast<size_t>(size));
        packet->stream_index = stream->index;
        packet->pts = packet->dts =
            av_rescale_q(subtitle.pts, AVRational{1, AV_TIME_BASE}, stream->time_base);
        Check(av_interleaved_write_frame(raw, packet.get()), "write subtitle");
    }
    while (!tracks[0].flushed)
        Advance(raw, tracks[0], packet.get());
    Check(av_write_trailer(raw), "trailer");
}

void WriteRemux(const std::string& source, const std::string& target, int skip_video,
                double jump_at, double jump_by) {
    AVFormatContext* in = nullptr;
    Check(avformat_open_input(&in, source.c_str(), nullptr, nullptr), "open " + source);
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
        in, [](AVFormatContext* c) { avformat_close_input(&c); });
    Check(avformat_find_stream_info(in, nullptr), "stream info");
    AVFormatContext* raw = nullptr;
    Check(avformat_alloc_output_context2(&raw, nullptr, nullptr, target.c_str()), "output");
    std::unique_ptr<AVFormatContext, OutputFree> output(raw);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(raw, nullptr);
        Check(avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar), "copy");
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->time_base;
    }
    Check(avio_open(&raw->pb, target.c_str(), AVIO_FLAG_WRITE), "open " + target);
    Check(avformat_write_header(raw, nullptr), "header");
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    int video_seen = 0;
    while (av_read_frame(in, packet.get()) >= 0) {
        const AVStream* from = in->streams[packet->stream_index];
        if (from->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && video_seen++ < skip_video) {
            av_packet_unref(packet.get());
            continue;
        }
        const int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (ts != AV_NOPTS_VALUE && ts * av_q2d(from->time_base) >= jump_at) {
            const int64_t shift = static_cast<int64_t>(jump_by / av_q2d(from->time_base));
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts += shift;
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts += shift;
        }
        av_packet_rescale_ts(packet.get(), from->time_base,
                             raw->streams[packet->stream_index]->time_base);
        Check(av_interleaved_write_frame(raw, packet.get()), "write");
    }
    Check(av_write_trailer(raw), "trailer");
}

namespace {

std::string MakeFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "clipwright-media-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("media_gen: no temporary folder");
    return pattern;
}

struct FolderRemover {
    std::string folder;
    ~FolderRemover() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

// Names every file in `cache` and, when `write`, writes it; the caller holds the cache's lock.
GeneratedMedia Generate(const std::string& cache, bool write) {
    GeneratedMedia media;
    auto at = [&](const char* name) { return cache + "/" + name; };

    media.avi_mpeg4_mp2 = at("mpeg4_320x240_15fps.avi");
    if (write)
        WriteMedia(media.avi_mpeg4_mp2,
                   {.video = VideoSpec{.codec = "mpeg4", .frames = 30},
                    .audio = AudioSpec{
                        .codec = "mp2", .sample_rate = 22050, .channels = 2, .seconds = 2.0}});

    media.mp4_h264_aac = at("h264_640x480_ntsc.mp4");
    if (write)
        WriteMedia(media.mp4_h264_aac,
                   {.video = VideoSpec{.codec = "libx264",
                                       .width = 640,
                                       .height = 480,
                                       .frame_rate = {30000, 1001},
                                       .frames = 30},
                    .audio = AudioSpec{.codec = "aac", .sample_rate = 44100, .channels = 2},
                    .metadata = {{"title", "Generated Title"},
                                 {"artist", "Clipwright Tests"},
                                 {"comment", "made at test time"},
                                 {"date", "2008"}}});

    media.mp3_audio_only = at("tone_44k_stereo.mp3");
    if (write)
        WriteMedia(
            media.mp3_audio_only,
            {.audio =
                 AudioSpec{
                     .codec = "libmp3lame", .sample_rate = 44100, .channels = 2, .seconds = 3.0},
             .metadata = {
                 {"title", "Tone"}, {"album", "Tests"}, {"track", "3/12"}, {"genre", "Test"}}});

    media.mkv_audio_first = at("audio_first.mkv");
    if (write)
        WriteMedia(media.mkv_audio_first,
                   {.video = VideoSpec{.codec = "mpeg4", .frame_rate = {25, 1}, .frames = 25},
                    .audio = AudioSpec{.codec = "mp2", .sample_rate = 48000, .channels = 2},
                    .audio_first = true});

    media.mpg_mpeg2_sar = at("mpeg2_720x576_sar16-15.mpg");
    if (write)
        WriteMedia(media.mpg_mpeg2_sar, {.format = "vob",
                                         .video = VideoSpec{.codec = "mpeg2video",
                                                            .width = 720,
                                                            .height = 576,
                                                            .frame_rate = {25, 1},
                                                            .sample_aspect = {16, 15},
                                                            .frames = 25,
                                                            .bit_rate = 2000000}});

    media.m4v_unknown_length = at("raw_mpeg4.m4v");
    if (write)
        WriteMedia(media.m4v_unknown_length,
                   {.format = "m4v", .video = VideoSpec{.codec = "mpeg4", .frames = 15}});

    media.avi_film_rate = at("mpeg4_film.avi");
    if (write)
        WriteMedia(
            media.avi_film_rate,
            {.video = VideoSpec{.codec = "mpeg4", .frame_rate = {24000, 1001}, .frames = 24}});

    media.mp4_truncated = at("truncated.mp4");
    if (write)
        WriteTruncatedCopy(media.mp4_h264_aac, media.mp4_truncated,
                           FileSize(media.mp4_h264_aac) / 2);
    media.avi_truncated = at("truncated.avi");
    if (write)
        WriteTruncatedCopy(media.avi_mpeg4_mp2, media.avi_truncated,
                           FileSize(media.avi_mpeg4_mp2) / 2);

    media.avi_unknown_codec = at("unknown_codec.avi");
    if (write) {
        std::ifstream in(media.avi_film_rate, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t pos = bytes.find("FMP4"); pos != std::string::npos;
             pos = bytes.find("FMP4", pos))
            bytes.replace(pos, 4, "QQQQ");
        std::ofstream(media.avi_unknown_codec, std::ios::binary) << bytes;
    }
    media.rm_unknown_codec = at("unknown_codec.rm");
    if (write)
        std::filesystem::copy_file(media.avi_unknown_codec, media.rm_unknown_codec);

    media.mkv_no_key_start = at("no_key_start.mkv");
    if (write)
        WriteRemux(media.mkv_audio_first, media.mkv_no_key_start, 3);
    media.mkv_dts_jump = at("dts_jump.mkv");
    if (write)
        WriteRemux(media.mkv_audio_first, media.mkv_dts_jump, 0, 0.5, 20.0);
    media.avi_long = at("long.avi");
    if (write)
        WriteMedia(media.avi_long,
                   {.video = VideoSpec{.codec = "mpeg4",
                                       .width = 160,
                                       .height = 120,
                                       .frame_rate = {10, 1},
                                       .frames = 120},
                    .audio = AudioSpec{
                        .codec = "mp2", .sample_rate = 22050, .channels = 1, .seconds = 12.0}});

    media.ts_dvb_subtitles = at("dvb_subtitles.ts");
    if (write)
        WriteDvbSubtitles(media.ts_dvb_subtitles, 2);

    media.m1v_elementary = at("raw_mpeg1.m1v");
    if (write)
        WriteMedia(
            media.m1v_elementary,
            {.format = "mpeg1video",
             .video = VideoSpec{.codec = "mpeg1video", .frame_rate = {25, 1}, .frames = 135}});

    media.mp3_cover_art = at("tone_with_cover.mp3");
    if (write)
        WriteMedia(media.mp3_cover_art, {.audio = AudioSpec{.codec = "libmp3lame",
                                                            .sample_rate = 44100,
                                                            .channels = 2,
                                                            .seconds = 3.0},
                                         .cover_art = true,
                                         .metadata = {{"title", "Tone with a cover"}}});

    media.avi_rate_15_odd = at("mpeg4_15fps_odd_fraction.avi");
    if (write)
        WriteMedia(media.avi_rate_15_odd,
                   {.video = VideoSpec{.codec = "mpeg4",
                                       .frame_rate = {15, 1},
                                       .frames = 30,
                                       .time_base = {66667, 1000000}},
                    .audio = AudioSpec{
                        .codec = "mp2", .sample_rate = 22050, .channels = 2, .seconds = 2.0}});

    media.avi_rate_187 = at("mpeg4_187fps.avi");
    if (write)
        // JPEG pictures carry no rate of their own to compete with the stream's.
        WriteMedia(media.avi_rate_187, {.video = VideoSpec{.codec = "mjpeg",
                                                           .width = 160,
                                                           .height = 120,
                                                           .frame_rate = {187, 1},
                                                           .frames = 187,
                                                           .pixel_format = "yuvj420p",
                                                           .time_base = {417, 78125}}});

    media.random_mp4 = at("random.mp4");
    if (write)
        WriteRandomBytes(media.random_mp4, 64 * 1024, 1);
    media.random_avi = at("random.avi");
    if (write)
        WriteRandomBytes(media.random_avi, 64 * 1024, 2);
    return media;
}

// Every test process (CTest runs each case in one) shares the files generated by the first; the
// stamp changes whenever this file is rebuilt, so a changed generator writes them anew.
constexpr const char* kCacheStamp = __DATE__ " " __TIME__;

} // namespace

void WithMediaCache(const std::string& subfolder,
                    const std::function<void(const std::string& folder, bool write)>& generate) {
    const std::string cache =
        subfolder.empty() ? CLIPWRIGHT_MEDIA_CACHE : CLIPWRIGHT_MEDIA_CACHE "/" + subfolder;
    std::filesystem::create_directories(cache);
    const std::string lock_path = cache + ".lock";
    const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0)
        throw std::runtime_error("media_gen: cannot lock " + lock_path);
    const std::filesystem::path stamp = std::filesystem::path(cache) / ".stamp";
    std::string written;
    std::getline(std::ifstream(stamp), written);
    const bool fresh = written != kCacheStamp;
    if (fresh) {
        for (const auto& entry : std::filesystem::directory_iterator(cache)) {
            if (entry.path().filename() != ".stamp" && !entry.is_directory())
                std::filesystem::remove(entry.path());
        }
    }
    // The encoders' reports are noise in test output.
    const int log_level = av_log_get_level();
    av_log_set_level(AV_LOG_ERROR);
    try {
        generate(cache, fresh);
    } catch (...) {
        av_log_set_level(log_level);
        close(lock);
        throw;
    }
    av_log_set_level(log_level);
    if (fresh)
        std::ofstream(stamp) << kCacheStamp << "\n";
    close(lock);
}

namespace {

GeneratedMedia GenerateOnce() {
    GeneratedMedia media;
    WithMediaCache("",
                   [&](const std::string& cache, bool write) { media = Generate(cache, write); });
    return media;
}

} // namespace

const GeneratedMedia& Media() {
    static const GeneratedMedia media = [] {
        GeneratedMedia generated = GenerateOnce();
        generated.folder = MakeFolder();
        return generated;
    }();
    static const FolderRemover remover{media.folder};
    return media;
}

PipedCopy::PipedCopy(const std::string& source, const std::string& path) : path_(path) {
    std::filesystem::remove(path_);
    if (mkfifo(path_.c_str(), 0600) != 0)
        throw std::runtime_error("media_gen: cannot make the pipe " + path_);
    std::ifstream in(source, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    writer_ = std::thread([path = path_, bytes = std::move(bytes)] {
        // A reader that leaves early makes the writes fail, not the process end.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC); // waits for a reader
        if (fd < 0)
            return;
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        close(fd);
    });
}

PipedCopy::~PipedCopy() {
    // A reader that never came: one that opens and leaves at once lets the writer go.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
    writer_.join();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::string RealMediaPath(const char* name) {
    return std::string(CLIPWRIGHT_TEST_MEDIA) + "/" + name;
}

} // namespace clipwright::testing
