// The main loop of a run: which input to read next, timestamp correction, decoding, stream
// copy, the writing of every packet, the flush, the trailers and closing the codecs.
#include "FFMPEG/run/transcode.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/binding/timestamps.h"

namespace clipwright {

namespace {

int32_t MaxFrames(const OptionState& o, AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return o.max_frames_video;
    case AVMEDIA_TYPE_AUDIO:
        return o.max_frames_audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return o.max_frames_subtitle;
    default:
        return o.max_frames_data;
    }
}

} // namespace

int Transcoder::ChooseInputFile(double& opts_min) {
    const bool isync = Options().input_sync != 0;
    double ipts_min = 1e100;
    opts_min = 1e100;
    int file = -1;
    for (const TOutputStreamState& ost : outputs_) {
        const StreamClock& clock = ost.Clock();
        if (clock.Finished)
            continue;
        const TInputStreamState& ist = inputs_[ost.SourceIndex];
        const AVCodecContext* enc = ost.Setup->encoder.get();
        // Encoded video counts frames; everything else is as far as its muxer stream got.
        const double opts = enc->codec_type == AVMEDIA_TYPE_VIDEO && ost.EncodingNeeded
                                ? clock.SyncPosition * av_q2d(enc->time_base)
                                : ost.MuxedEnd * av_q2d(ost.Stream->time_base);
        const double ipts = static_cast<double>(ist.Pts);
        if (!files_[ist.FileIndex].EofReached) {
            if (ipts < ipts_min) {
                ipts_min = ipts;
                if (isync)
                    file = ist.FileIndex;
            }
            if (opts < opts_min) {
                opts_min = opts;
                if (!isync)
                    file = ist.FileIndex;
            }
        }
        if (clock.FrameNumber >= MaxFrames(Options(), enc->codec_type))
            return -1;
    }
    return file;
}

void Transcoder::AdjustTimestamps(TInputStreamState& ist, AVPacket* packet) {
    TInputFileState& input = files_[ist.FileIndex];
    const AVRational base = ist.Stream->time_base;
    const int64_t offset = FromMicroseconds(input.TsOffset, base);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += offset;
    const double scale = Options().input_ts_scale[ist.FileIndex][ist.StreamIndex];
    if (scale != 0.0) {
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts = std::llround(packet->pts * scale);
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts = std::llround(packet->dts * scale);
    }
    if (packet->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE || Options().copy_ts != 0)
        return;
    const int64_t packet_dts = ToMicroseconds(packet->dts, base);
    const int64_t delta = packet_dts - ist.NextPts;
    const double threshold = Options().dts_delta_threshold * 1000000.0;
    if (std::fabs(static_cast<double>(delta)) > threshold || packet_dts + 1 < ist.Pts) {
        input.TsOffset -= delta;
        if (control_.Verbosity() >= kAllLevel)
            control_.Log(kInfoLevel, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                                static_cast<long long>(delta),
                                                static_cast<long long>(input.TsOffset)));
        const int64_t shift = FromMicroseconds(delta, base);
        packet->dts -= shift;
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= shift;
    }
}

void Transcoder::RateEmulate(TInputStreamState& ist) {
    if (!ist.RateEmu)
        return;
    // Hold the stream back to its own clock: its position against the wall clock since start.
    const int64_t elapsed = av().av_gettime() - ist.RateEmuStart;
    const int64_t ahead = ist.Pts - elapsed;
    if (ahead > 50000)
        std::this_thread::sleep_for(std::chrono::milliseconds(ahead / 1000));
}

int Transcoder::ProcessPacket(TInputStreamState& ist, AVPacket* packet) {
    const AVRational base = ist.Stream->time_base;
    if (ist.NextPts == AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts;
    if (packet != nullptr && packet->dts != AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts = ToMicroseconds(packet->dts, base);

    const int64_t start_time = Options().start_time;
    AVCodecContext* dec = ist.Decoder->get();
    if (ist.DecodingNeeded) {
        switch (dec->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
        case AVMEDIA_TYPE_VIDEO:
            if ((ist.Parser ? DecodeParsed(ist, packet) : Decode(ist, packet)) < 0)
                return -1;
            break;
        case AVMEDIA_TYPE_SUBTITLE: {
            if (packet == nullptr)
                break;
            AVSubtitle subtitle{};
            int got = 0;
            if (av().avcodec_decode_subtitle2(dec, &subtitle, &got, packet) < 0)
                return -1;
            if (got != 0) {
                if (start_time == 0 || ist.Pts >= start_time)
                    DispatchSubtitle(ist, &subtitle, packet->pts, packet->duration);
                av().avsubtitle_free(&subtitle);
            }
            break;
        }
        default:
            return -1;
        }
    } else if (packet != nullptr) {
        // Packets without timestamps advance the clock by their duration, or by one frame.
        ist.Pts = ist.NextPts;
        ist.NextPts += RescaleDuration(packet->duration, base, kMicroseconds, ist.FrameDuration);
        RateEmulate(ist);
    }

    // Copies take the packet itself, once per packet, whether or not it is also decoded.
    if (packet != nullptr && (start_time == 0 || ist.Pts >= start_time)) {
        ForEachStage(&ist, StageVisitor{[&](StreamCopyStage& copy) { copy.Copy(ist, packet); },
                                        [](auto&) {}});
    }
    if (packet == nullptr) {
        if (ist.DecodingNeeded && dec->codec_type == AVMEDIA_TYPE_VIDEO && ist.Deinterlacer)
            DispatchVideo(ist, nullptr);
        FlushEncoders(ist);
    }
    return 0;
}

int Transcoder::Decode(TInputStreamState& ist, const AVPacket* packet) {
    AVCodecContext* dec = ist.Decoder->get();
    const AVRational base = ist.Stream->time_base;
    const int64_t start_time = Options().start_time;
    const int sent = av().avcodec_send_packet(dec, packet);
    if (sent < 0 && sent != AVERROR_EOF)
        return -1;
    for (;;) {
        const int got = av().avcodec_receive_frame(dec, decoded_.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return 0;
        if (got < 0)
            return -1;
        // The decode-time clock, as the packets carry it: a frame-threaded decoder hands
        // frames back a few packets late, each with its own packet's dts.
        AVFrame* frame = decoded_.get();
        ist.Pts = RescaleTs(frame->pkt_dts, base, kMicroseconds, ist.NextPts);
        ist.ClockStamped = frame->pkt_dts != AV_NOPTS_VALUE;
        int64_t duration = 0;
        if (dec->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (dec->sample_rate > 0)
                duration = int64_t{1000000} * frame->nb_samples / dec->sample_rate;
        } else {
            duration = RescaleDuration(frame->pkt_duration, base, kMicroseconds, ist.FrameDuration);
        }
        ist.NextPts = ist.Pts + duration;
        if (dec->codec_type == AVMEDIA_TYPE_VIDEO) {
            // A picture is placed by when it is shown, so a late video start and reordered
            // pictures keep their place against the sound. One that carries no presentation
            // time (elementary streams, some program streams) follows the picture before it:
            // its decode time would be late by the decoder's delay.
            if (frame->pts != AV_NOPTS_VALUE && frame->best_effort_timestamp != AV_NOPTS_VALUE)
                ist.ShownPts = ToMicroseconds(frame->best_effort_timestamp, base);
            else
                ist.ShownPts = TsOr(ist.ShownEnd, ist.Pts);
            ist.ShownEnd = ist.ShownPts + duration;
        }
        RateEmulate(ist);
        if (start_time == 0 || ist.Pts >= start_time)
            DispatchFrame(ist, frame);
        av().av_frame_unref(frame);
    }
}

int Transcoder::DecodeParsed(TInputStreamState& ist, const AVPacket* packet) {
    // The parser cuts a packet holding several frames into one packet a frame; the first
    // keeps the packet's timestamps, the others follow on the decoded length.
    AVCodecContext* dec = ist.Decoder->get();
    AVPacket* part = parsed_packet_.get();
    const uint8_t* data = packet != nullptr ? packet->data : nullptr;
    int size = packet != nullptr ? packet->size : 0;
    int64_t pts = packet != nullptr ? packet->pts : AV_NOPTS_VALUE;
    int64_t dts = packet != nullptr ? packet->dts : AV_NOPTS_VALUE;
    do {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int used = av().av_parser_parse2(ist.Parser.get(), dec, &out, &out_size, data, size,
                                               pts, dts, packet != nullptr ? packet->pos : -1);
        if (used < 0)
            return -1;
        data = data != nullptr ? data + used : nullptr;
        size -= used;
        pts = dts = AV_NOPTS_VALUE;
        if (out_size > 0) {
            part->data = out;
            part->size = out_size;
            part->pts = ist.Parser->pts;
            part->dts = ist.Parser->dts;
            part->flags = packet != nullptr ? packet->flags : 0;
            if (Decode(ist, part) < 0)
                return -1;
        } else if (packet == nullptr) {
            break; // the parser is drained
        }
    } while (size > 0 || packet == nullptr);
    return packet == nullptr ? Decode(ist, nullptr) : 0;
}

void Transcoder::DispatchFrame(TInputStreamState& ist, AVFrame* frame) {
    AVCodecContext* dec = ist.Decoder->get();
    if (dec->codec_type == AVMEDIA_TYPE_VIDEO) {
        DispatchVideo(ist, frame);
        return;
    }
    int size = 0;
    const uint8_t* samples = ToS16(ist, frame, size);
    ApplyVolume(audio_buffer_.data(), size);
    // A stage reports the input's start ended; the next stage fed by it sees that already.
    ForEachStage(&ist, StageVisitor{[&](AudioEncodeStage& audio) {
                                        if (audio.Output(ist, samples, size))
                                            ist.IsStart = false;
                                    },
                                    [](auto&) {}});
}

void Transcoder::DispatchSubtitle(TInputStreamState& ist, AVSubtitle* subtitle, int64_t pts,
                                  int64_t duration) {
    ForEachStage(&ist, StageVisitor{[&](SubtitleEncodeStage& stage) {
                                        stage.Output(ist, subtitle, pts, duration);
                                    },
                                    [](auto&) {}});
}

void Transcoder::FlushEncoders(TInputStreamState& ist) {
    ForEachStage(&ist,
                 StageVisitor{[](AudioEncodeStage& audio) { audio.Flush(); },
                              [&](VideoEncodeStage& video) { video.Flush(ist); }, [](auto&) {}});
}

bool Transcoder::MainLoop() {
    const OptionState& o = Options();
    const double recording_seconds = Seconds(o.recording_time);
    AVPacket* packet = read_packet_.get();
    while (!control_.StopAsked()) {
        control_.WaitWhilePaused();
        if (control_.StopAsked())
            break;
        double opts_min = 0.0;
        const int file = ChooseInputFile(opts_min);
        if (file >= 0 && opts_min >= recording_seconds) {
            ForEachStage(nullptr,
                         StageVisitor{[](AudioEncodeStage& audio) { audio.CutByRecordingTime(); },
                                      [](auto&) {}});
        }
        if (file < 0 || opts_min >= recording_seconds || context_.PastSizeLimit())
            break;
        InputFile& input = InputFiles()[file];
        if (av().av_read_frame(input.context.get(), packet) < 0) {
            files_[file].EofReached = true;
            if (o.opt_shortest != 0)
                break;
            continue;
        }
        if (o.do_pkt_dump != 0)
            av().av_pkt_dump_log2(nullptr, AV_LOG_INFO, packet, o.do_hex_dump,
                                  input.context->streams[packet->stream_index]);
        TInputFileState& state = files_[file];
        if (packet->stream_index < state.StreamCount &&
            !inputs_[state.FirstStream + packet->stream_index].Discard) {
            TInputStreamState& ist = inputs_[state.FirstStream + packet->stream_index];
            AdjustTimestamps(ist, packet);
            if (ProcessPacket(ist, packet) < 0) {
                if (control_.Verbosity() >= kErrorLevel)
                    control_.Log(kInfoLevel, FormatText("Error while decoding stream #%d.%d",
                                                        ist.FileIndex, ist.StreamIndex));
                av().av_packet_unref(packet);
                continue;
            }
        }
        av().av_packet_unref(packet);
        progress_.Tick(av().av_gettime(), outputs_);
    }

    for (TInputStreamState& ist : inputs_) {
        if (ist.DecodingNeeded)
            ProcessPacket(ist, nullptr);
    }
    WriteTrailers();
    progress_.Final(outputs_);
    CloseCodecs();
    // Only a run that read its inputs to the end owes every stream something: "vframes", "t"
    // or "fs" may end it before a stream's first packet.
    const bool read_to_end = std::all_of(files_.begin(), files_.end(),
                                         [](const TInputFileState& f) { return f.EofReached; });
    if (!control_.StopAsked() && read_to_end)
        CheckEveryStreamWritten();
    return !control_.StopAsked();
}

void Transcoder::CheckEveryStreamWritten() const {
    // An output without the sound or picture it was asked for is no result, even when the
    // muxer wrote a file around it (a source too short for one encoder frame, say).
    for (const TOutputStreamState& ost : outputs_) {
        const AVMediaType type = ost.Stream->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) || ost.PacketsWritten > 0)
            continue;
        throw FFMpegException(FormatText("Output stream #%d.%d got no %s from the input",
                                         ost.FileIndex, ost.StreamIndex,
                                         type == AVMEDIA_TYPE_VIDEO ? "pictures" : "sound"));
    }
}

void Transcoder::WriteTrailers() {
    // Every file gets its trailer; the first failure then fails the job, never a "done" with a
    // file that is cut short or gone.
    std::string failure;
    for (OutputFile& file : OutputFiles()) {
        AVFormatContext* context = file.context.get();
        const int written = av().av_write_trailer(context);
        if (written < 0 && failure.empty())
            failure = OpenErrorText("av_write_trailer()", written);
        std::error_code error;
        if (file.regular_file && failure.empty() && !std::filesystem::exists(context->url, error))
            failure = OpenErrorText(context->url, AVERROR(ENOENT)); // its folder was removed
    }
    if (!failure.empty())
        throw FFMpegException(failure);
}

void Transcoder::CloseCodecs() {
    for (TOutputStreamState& ost : outputs_) {
        // The two-pass statistics input is ours to free, opened or not.
        if (ost.Setup->encoder)
            av().av_freep(&ost.Setup->encoder->stats_in);
        if (!ost.EncoderOpen)
            continue;
        std::lock_guard lock(CodecLock());
        ost.Setup->encoder.reset();
        ost.EncoderOpen = false;
    }
    for (TInputStreamState& ist : inputs_) {
        if (!ist.DecoderOpen)
            continue;
        std::lock_guard lock(CodecLock());
        ist.Decoder->reset();
        ist.DecoderOpen = false;
    }
}

} // namespace clipwright
