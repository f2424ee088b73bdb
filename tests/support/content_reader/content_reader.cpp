#include "tests/support/content_reader/content_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "tests/support/libav_owners.h"
#include "tests/support/media_info.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

namespace clipwright::testing {

namespace {

// Decoded audio as it came, frame by frame: each frame's time and its samples per channel.
struct AudioChunk {
    double time = 0;
    int64_t first = 0; // index of its first sample in the stream's sample arrays
    int64_t count = 0;
};

struct StreamState {
    AVStream* stream = nullptr;
    CodecContextOwner decoder;
    bool past_limit = false; // reading went far enough past the limit for this stream
    bool any_packet = false;
    // Video: each picture's own duration from the file, seconds (0: none), beside pictures.
    std::vector<double> own_durations;
    int without_pts = 0; // pictures whose time the decoder could only guess
    VideoContent* video = nullptr;
    // Audio.
    AudioContent* audio = nullptr;
    std::vector<AudioChunk> chunks;
    std::vector<std::vector<float>> samples;
    // Video in RGB or with a palette, converted to be measured.
    ScaleOwner to_yuv;
    FrameOwner yuv;
    double next_time = 0;
    SubtitleContent* subtitle = nullptr;
};

double Seconds(int64_t ts, AVRational base) {
    return static_cast<double>(ts) * av_q2d(base);
}

bool IsError(int code) {
    return code < 0 && code != AVERROR(EAGAIN) && code != AVERROR_EOF;
}

double MeanLuma(const AVFrame* frame) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (desc == nullptr ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                        AV_PIX_FMT_FLAG_BITSTREAM)) ||
        desc->comp[0].depth != 8)
        return -1;
    const AVComponentDescriptor& luma = desc->comp[0];
    // Every fourth pixel of every fourth row: plenty for a mean, and cheap on large pictures.
    double sum = 0;
    int64_t count = 0;
    for (int y = 0; y < frame->height; y += 4) {
        const uint8_t* row = frame->data[luma.plane] +
                             static_cast<ptrdiff_t>(y) * frame->linesize[luma.plane] + luma.offset;
        for (int x = 0; x < frame->width; x += 4) {
            sum += row[static_cast<ptrdiff_t>(x) * luma.step];
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : -1;
}

// Pictures in RGB or with a palette (MS Video 1, Apple's RPZA) measured as an encoder taking
// 4:2:0 YUV sees them.
double MeanConvertedLuma(StreamState& s, const AVFrame* frame) {
    const auto format = static_cast<AVPixelFormat>(frame->format);
    s.to_yuv.reset(sws_getCachedContext(s.to_yuv.release(), frame->width, frame->height, format,
                                        frame->width, frame->height, AV_PIX_FMT_YUV420P, SWS_POINT,
                                        nullptr, nullptr, nullptr));
    if (!s.yuv || s.yuv->width != frame->width || s.yuv->height != frame->height) {
        s.yuv.reset(av_frame_alloc());
        s.yuv->format = AV_PIX_FMT_YUV420P;
        s.yuv->width = frame->width;
        s.yuv->height = frame->height;
        if (av_frame_get_buffer(s.yuv.get(), 0) < 0)
            s.yuv.reset();
    }
    if (!s.to_yuv || !s.yuv)
        return -1;
    sws_scale(s.to_yuv.get(), frame->data, frame->linesize, 0, frame->height, s.yuv->data,
              s.yuv->linesize);
    return MeanLuma(s.yuv.get());
}

float SampleAt(const AVFrame* frame, int channel, int index) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const uint8_t* base = frame->extended_data[planar ? channel : 0];
    const int slot = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        return (base[slot] - 128) / 128.0f;
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t*>(base)[slot] / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return static_cast<float>(reinterpret_cast<const int32_t*>(base)[slot] / 2147483648.0);
    case AV_SAMPLE_FMT_S64:
        return static_cast<float>(
            static_cast<double>(reinterpret_cast<const int64_t*>(base)[slot]) /
            9223372036854775808.0);
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(base)[slot];
    case AV_SAMPLE_FMT_DBL:
        return static_cast<float>(reinterpret_cast<const double*>(base)[slot]);
    default:
        return 0;
    }
}

void TakeVideo(StreamState& s, const AVFrame* frame) {
    VideoContent& v = *s.video;
    const AVRational base = s.stream->time_base;
    Picture picture;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
        picture.time = Seconds(frame->best_effort_timestamp, base);
    else if (!v.pictures.empty())
        picture.time = v.pictures.back().time + (v.frame_rate > 0 ? 1.0 / v.frame_rate : 0);
    if (frame->pts == AV_NOPTS_VALUE)
        ++s.without_pts;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const bool converted = desc != nullptr &&
                           (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
                           !(desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM));
    picture.luma = converted ? MeanConvertedLuma(s, frame) : MeanLuma(frame);
    v.pictures.push_back(picture);
    s.own_durations.push_back(frame->pkt_duration > 0 ? Seconds(frame->pkt_duration, base) : 0);
    if ((frame->flags & AV_FRAME_FLAG_CORRUPT) || frame->decode_error_flags != 0)
        ++v.decode_errors;
}

void TakeAudio(StreamState& s, const AVFrame* frame) {
    AudioContent& a = *s.audio;
    if (frame->nb_samples <= 0)
        return;
    AudioChunk chunk;
    chunk.time = frame->best_effort_timestamp != AV_NOPTS_VALUE
                     ? Seconds(frame->best_effort_timestamp, s.stream->time_base)
                     : s.next_time;
    chunk.count = frame->nb_samples;
    const int channels = frame->ch_layout.nb_channels;
    if (s.samples.empty()) {
        s.samples.resize(static_cast<size_t>(channels));
        a.start = chunk.time;
        a.channels = channels;
        a.sample_rate = frame->sample_rate;
        char text[128] = {};
        av_channel_layout_describe(&frame->ch_layout, text, sizeof text);
        a.layout = text;
        for (int ch = 0; ch < channels; ++ch) {
            av_channel_name(text, sizeof text,
                            av_channel_layout_channel_from_index(&frame->ch_layout, ch));
            a.channel_names.emplace_back(text);
        }
        if (a.frame_size <= 0)
            a.frame_size = frame->nb_samples;
    }
    if (channels != static_cast<int>(s.samples.size()) || frame->sample_rate != a.sample_rate) {
        ++a.decode_errors; // a change of layout mid-stream is not what any source here holds
        return;
    }
    chunk.first = static_cast<int64_t>(s.samples[0].size());
    for (int ch = 0; ch < channels; ++ch) {
        std::vector<float>& out = s.samples[static_cast<size_t>(ch)];
        for (int i = 0; i < frame->nb_samples; ++i)
            out.push_back(SampleAt(frame, ch, i));
    }
    s.chunks.push_back(chunk);
    s.next_time = chunk.time + static_cast<double>(chunk.count) / frame->sample_rate;
    if ((frame->flags & AV_FRAME_FLAG_CORRUPT) || frame->decode_error_flags != 0)
        ++a.decode_errors;
}

void Drain(StreamState& s, AVFrame* frame) {
    for (;;) {
        const int got = avcodec_receive_frame(s.decoder.get(), frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        if (got < 0) {
            if (s.video != nullptr)
                ++s.video->decode_errors;
            if (s.audio != nullptr)
                ++s.audio->decode_errors;
            return;
        }
        if (s.video != nullptr)
            TakeVideo(s, frame);
        else
            TakeAudio(s, frame);
        av_frame_unref(frame);
    }
}

// Bytes of one AMR frame (its header byte included) by frame type; 0 for none known.
int AmrFrameBytes(AVCodecID codec, uint8_t header) {
    static constexpr int kNarrow[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 7, 6, 6, 1, 1, 1, 1};
    static constexpr int kWide[16] = {18, 24, 33, 37, 41, 47, 51, 59, 61, 6, 1, 1, 1, 1, 1, 1};
    const unsigned type = (header >> 3) & 0x0fu;
    return codec == AV_CODEC_ID_AMR_NB ? kNarrow[type] : kWide[type];
}

// The AMR decoders take one frame a packet and drop the rest; 3GP files store several frames
// per packet, so each goes in as a packet of its own, timed from the packet's start.
void DecodeAmr(StreamState& s, const AVPacket* packet, AVFrame* frame) {
    const AVCodecID codec = s.stream->codecpar->codec_id;
    const int frame_samples = codec == AV_CODEC_ID_AMR_NB ? 160 : 320;
    const int rate = codec == AV_CODEC_ID_AMR_NB ? 8000 : 16000;
    PacketOwner single(av_packet_alloc());
    int offset = 0;
    for (int k = 0; offset < packet->size; ++k) {
        const int bytes =
            std::min(AmrFrameBytes(codec, packet->data[offset]), packet->size - offset);
        if (av_new_packet(single.get(), bytes) < 0)
            return;
        std::copy_n(packet->data + offset, bytes, single->data);
        if (k == 0)
            av_packet_copy_props(single.get(), packet); // the first carries any samples to skip
        const int64_t shift =
            av_rescale_q(int64_t{k} * frame_samples, AVRational{1, rate}, s.stream->time_base);
        single->pts = packet->pts != AV_NOPTS_VALUE ? packet->pts + shift : AV_NOPTS_VALUE;
        single->dts = packet->dts != AV_NOPTS_VALUE ? packet->dts + shift : AV_NOPTS_VALUE;
        single->duration = av_rescale_q(frame_samples, AVRational{1, rate}, s.stream->time_base);
        if (IsError(avcodec_send_packet(s.decoder.get(), single.get())))
            ++s.audio->decode_errors;
        Drain(s, frame);
        av_packet_unref(single.get());
        offset += bytes;
    }
}

void Decode(StreamState& s, const AVPacket* packet, AVFrame* frame) {
    if (s.subtitle != nullptr) {
        if (packet == nullptr)
            return;
        AVSubtitle subtitle{};
        int got = 0;
        AVPacket* writable = const_cast<AVPacket*>(packet);
        if (avcodec_decode_subtitle2(s.decoder.get(), &subtitle, &got, writable) < 0) {
            ++s.subtitle->decode_errors;
            return;
        }
        if (got != 0) {
            const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            SubtitleEvent event;
            event.start = (subtitle.pts != AV_NOPTS_VALUE ? subtitle.pts / 1e6
                                                          : Seconds(ts, s.stream->time_base)) +
                          subtitle.start_display_time / 1000.0;
            if (subtitle.end_display_time > subtitle.start_display_time &&
                subtitle.end_display_time != UINT32_MAX)
                event.duration = (subtitle.end_display_time - subtitle.start_display_time) / 1000.0;
            s.subtitle->events.push_back(event);
            avsubtitle_free(&subtitle);
        }
        return;
    }
    const AVCodecID id = s.stream->codecpar->codec_id;
    if (packet != nullptr && packet->size > 0 &&
        (id == AV_CODEC_ID_AMR_NB || id == AV_CODEC_ID_AMR_WB)) {
        DecodeAmr(s, packet, frame);
        return;
    }
    const int sent = avcodec_send_packet(s.decoder.get(), packet);
    if (IsError(sent)) {
        if (s.video != nullptr)
            ++s.video->decode_errors;
        if (s.audio != nullptr)
            ++s.audio->decode_errors;
    }
    Drain(s, frame);
}

void FinishVideo(StreamState& s) {
    VideoContent& v = *s.video;
    std::vector<size_t> order(v.pictures.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return v.pictures[a].time < v.pictures[b].time; });
    std::vector<Picture> sorted;
    std::vector<double> own;
    for (size_t i : order) {
        sorted.push_back(v.pictures[i]);
        own.push_back(s.own_durations[i]);
    }
    v.pictures = std::move(sorted);
    // A stream without presentation times (an elementary stream): the decoder's guesses lag a
    // picture behind its delay, so the pictures follow one another at the stated rate instead.
    if (v.pictures.size() > 1 && s.without_pts + 1 >= static_cast<int>(v.pictures.size()) &&
        v.frame_rate > 0) {
        for (size_t i = 1; i < v.pictures.size(); ++i)
            v.pictures[i].time = v.pictures[0].time + static_cast<double>(i) / v.frame_rate;
    }
    for (size_t i = 0; i + 1 < v.pictures.size(); ++i)
        v.pictures[i].duration = v.pictures[i + 1].time - v.pictures[i].time;
    // Where each picture comes in two field packets, a picture's own duration is its last
    // field's: the spacing of the others tells how many fields make a picture.
    std::vector<double> ratios;
    for (size_t i = 0; i + 1 < v.pictures.size(); ++i) {
        if (own[i] > 0)
            ratios.push_back(v.pictures[i].duration / own[i]);
    }
    double fields = 1;
    if (!ratios.empty()) {
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        fields = std::max(1.0, std::round(ratios[ratios.size() / 2]));
    }
    if (!v.pictures.empty()) {
        v.last_duration_known = own.back() > 0;
        v.pictures.back().duration =
            own.back() > 0 ? own.back() * fields : (v.frame_rate > 0 ? 1.0 / v.frame_rate : 0);
    }
}

void Trim(VideoContent& v, double cut) {
    while (!v.pictures.empty() && v.pictures.back().time >= cut)
        v.pictures.pop_back();
    if (!v.pictures.empty()) {
        Picture& last = v.pictures.back();
        last.duration = std::min(last.duration, cut - last.time);
    }
}

// Sample counts, sound onsets and the last sound, over what lies before `cut`.
void FinishAudio(StreamState& s, double cut, bool keep) {
    AudioContent& a = *s.audio;
    if (s.samples.empty())
        return;
    const double rate = a.sample_rate;
    const int64_t window = std::max<int64_t>(1, std::llround(rate * 0.002));
    const double window_seconds = static_cast<double>(window) / rate;
    double silent_run = std::numeric_limits<double>::infinity(); // the start counts as silence
    double energy = 0;
    int64_t in_window = 0;
    double window_time = 0;
    double first_cross = -1;
    for (AudioChunk& chunk : s.chunks) {
        if (std::isfinite(cut))
            chunk.count = std::clamp<int64_t>(
                static_cast<int64_t>(std::ceil((cut - chunk.time) * rate)), 0, chunk.count);
        a.samples += chunk.count;
        if (chunk.count > 0)
            a.span_end = chunk.time + static_cast<double>(chunk.count) / rate;
        for (int64_t i = 0; i < chunk.count; ++i) {
            const double time = chunk.time + static_cast<double>(i) / rate;
            double peak = 0;
            for (const std::vector<float>& channel : s.samples) {
                const double x = channel[static_cast<size_t>(chunk.first + i)];
                peak = std::max(peak, std::fabs(x));
                energy += x * x;
            }
            if (in_window == 0) {
                window_time = time;
                first_cross = -1;
            }
            if (peak >= AudioContent::kSoundLevel)
                a.last_sound = time;
            if (peak >= AudioContent::kOnsetLevel && first_cross < 0)
                first_cross = time;
            if (++in_window < window)
                continue;
            const double rms = std::sqrt(energy / static_cast<double>(window * s.samples.size()));
            // Quiet is under the onset level: a lossy codec's pre-echo before a burst is not
            // sound of its own.
            if (rms < AudioContent::kSilenceLevel)
                a.silent += window_seconds;
            if (rms < AudioContent::kOnsetLevel) {
                silent_run += window_seconds;
            } else {
                a.sounding += window_seconds;
                if (silent_run >= AudioContent::kQuietBefore)
                    a.onsets.push_back(first_cross >= 0 ? first_cross : window_time);
                silent_run = 0;
            }
            energy = 0;
            in_window = 0;
        }
    }
    if (keep) {
        a.kept.resize(s.samples.size());
        for (size_t ch = 0; ch < s.samples.size(); ++ch) {
            for (const AudioChunk& chunk : s.chunks) {
                const auto from = s.samples[ch].begin() + chunk.first;
                a.kept[ch].insert(a.kept[ch].end(), from, from + chunk.count);
            }
        }
    }
}

} // namespace

double VideoContent::Start() const {
    return pictures.empty() ? 0 : pictures.front().time;
}

double VideoContent::End() const {
    double end = 0;
    for (const Picture& p : pictures)
        end = std::max(end, p.time + p.duration);
    return end;
}

double VideoContent::Length() const {
    return pictures.empty() ? 0 : End() - Start();
}

double VideoContent::Period() const {
    if (pictures.empty())
        return frame_rate > 0 ? 1.0 / frame_rate : 0;
    std::vector<double> durations;
    for (const Picture& p : pictures)
        durations.push_back(p.duration);
    std::nth_element(durations.begin(), durations.begin() + durations.size() / 2, durations.end());
    const double median = durations[durations.size() / 2];
    double sum = 0;
    int count = 0;
    for (double d : durations) {
        if (std::fabs(d - median) <= 0.1 * median) {
            sum += d;
            ++count;
        }
    }
    return count > 0 ? sum / count : median;
}

double AudioContent::ToneLevel(int channel, double hz) const {
    if (channel < 0 || channel >= static_cast<int>(kept.size()) || kept[channel].empty())
        return 0;
    const std::vector<float>& x = kept[static_cast<size_t>(channel)];
    const double w = 2.0 * M_PI * hz / sample_rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float value : x) {
        const double s0 = value + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(x.size());
}

Content ReadContent(const std::string& file, const ContentOptions& options) {
    Content content;
    AVFormatContext* raw = nullptr;
    int code = avformat_open_input(&raw, file.c_str(), nullptr, nullptr);
    if (code < 0) {
        content.error = "cannot open " + file;
        return content;
    }
    InputOwner input(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        content.error = "no stream information in " + file;
        return content;
    }
    content.opened = true;
    content.format = raw->iformat->name;

    // Reserved up front: the states point into these vectors.
    content.video.reserve(raw->nb_streams);
    content.audio.reserve(raw->nb_streams);
    content.subtitles.reserve(raw->nb_streams);
    std::vector<StreamState> states(raw->nb_streams);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        AVStream* stream = raw->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        StreamState& s = states[i];
        s.stream = stream;
        const std::string codec_name = avcodec_get_name(par->codec_id);
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
                ++content.attached_pictures;
                continue;
            }
            VideoContent& v = content.video.emplace_back();
            v.index = static_cast<int>(i);
            v.codec = codec_name;
            v.width = par->width;
            v.height = par->height;
            const AVRational rate = av_guess_frame_rate(raw, stream, nullptr);
            v.frame_rate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
            if (v.frame_rate > 0)
                v.reorder_delay = stream->codecpar->video_delay / v.frame_rate;
            s.video = &v;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            AudioContent& a = content.audio.emplace_back();
            a.index = static_cast<int>(i);
            a.codec = codec_name;
            a.sample_rate = par->sample_rate;
            a.channels = par->ch_layout.nb_channels;
            a.frame_size = par->frame_size > 0                               ? par->frame_size
                           : av_get_exact_bits_per_sample(par->codec_id) > 0 ? 1
                                                                             : 0;
            s.audio = &a;
        } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            SubtitleContent& t = content.subtitles.emplace_back();
            t.index = static_cast<int>(i);
            t.codec = codec_name;
            s.subtitle = &t;
        } else {
            continue;
        }
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (codec == nullptr)
            continue;
        s.decoder.reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(s.decoder.get(), par);
        s.decoder->pkt_timebase = stream->time_base;
        if (avcodec_open2(s.decoder.get(), codec, nullptr) < 0)
            s.decoder.reset();
    }

    // With a limit, each stream is read a margin past it (reordering and interleaving), then
    // cut exactly once the file's time zero is known.
    const double file_start = raw->start_time != AV_NOPTS_VALUE ? raw->start_time / 1e6 : 0;
    const double read_to = options.limit > 0 ? file_start + options.limit + 3.0
                                             : std::numeric_limits<double>::infinity();
    PacketOwner packet(av_packet_alloc());
    FrameOwner frame(av_frame_alloc());
    for (;;) {
        code = av_read_frame(raw, packet.get());
        if (code < 0)
            break;
        StreamState& s = states[static_cast<size_t>(packet->stream_index)];
        const int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (ts != AV_NOPTS_VALUE && Seconds(ts, s.stream->time_base) > read_to)
            s.past_limit = true;
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : ts;
        if (s.audio != nullptr && pts != AV_NOPTS_VALUE &&
            (!s.any_packet || Seconds(pts, s.stream->time_base) < s.audio->packet_start)) {
            s.audio->packet_start = Seconds(pts, s.stream->time_base);
            s.any_packet = true;
        }
        if (s.decoder && !s.past_limit) {
            const size_t before = s.samples.empty() ? 0 : s.samples[0].size();
            Decode(s, packet.get(), frame.get());
            if (s.audio != nullptr && !s.samples.empty() && s.audio->sample_rate > 0)
                s.audio->max_packet =
                    std::max(s.audio->max_packet,
                             double(s.samples[0].size() - before) / s.audio->sample_rate);
        }
        av_packet_unref(packet.get());
        if (std::all_of(states.begin(), states.end(),
                        [](const StreamState& t) { return !t.decoder || t.past_limit; }))
            break;
    }
    for (StreamState& s : states) {
        if (s.decoder)
            Decode(s, nullptr, frame.get());
    }

    bool any = false;
    double origin = 0;
    auto take_start = [&](double start) {
        origin = any ? std::min(origin, start) : start;
        any = true;
    };
    for (StreamState& s : states) {
        if (s.video != nullptr) {
            FinishVideo(s);
            if (!s.video->pictures.empty())
                take_start(s.video->Start());
        }
        if (s.audio != nullptr && !s.chunks.empty())
            take_start(s.audio->start);
    }
    content.origin = origin;
    // The engine's recording time counts from the container's start, which lies before the
    // first decoded content where a decoder holds back its first frame (WMA).
    const double zero = raw->start_time != AV_NOPTS_VALUE ? std::min(origin, file_start) : origin;
    const double cut =
        options.limit > 0 ? zero + options.limit : std::numeric_limits<double>::infinity();
    content.cut = cut;
    for (StreamState& s : states) {
        if (s.video != nullptr)
            Trim(*s.video, cut);
        if (s.audio != nullptr)
            FinishAudio(s, cut, options.keep_samples);
        if (s.subtitle != nullptr) {
            auto& events = s.subtitle->events;
            events.erase(std::remove_if(events.begin(), events.end(),
                                        [&](const SubtitleEvent& e) { return e.start >= cut; }),
                         events.end());
        }
    }
    return content;
}

namespace {

std::vector<double> MediaInfoSeconds(const std::string& section, const std::string& file) {
    const std::string out = MediaInfo(section + ";%Duration%\\n", file);
    std::vector<double> lengths;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line == "\r")
            continue;
        lengths.push_back(line.find_first_of("0123456789") == 0 ? std::stod(line) / 1000.0 : -1);
    }
    return lengths;
}

} // namespace

StatedLengths MediaInfoLengths(const std::string& file) {
    StatedLengths lengths;
    const std::vector<double> general = MediaInfoSeconds("General", file);
    if (!general.empty())
        lengths.general = general.front();
    lengths.video = MediaInfoSeconds("Video", file);
    lengths.audio = MediaInfoSeconds("Audio", file);
    return lengths;
}

} // namespace clipwright::testing
