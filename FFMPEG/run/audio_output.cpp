// Audio output: decoded audio as interleaved 16-bit samples, the resampler, the "async" clock
// keeping and the sample fifo that cuts encoder frames.
#include "FFMPEG/run/transcode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/binding/timestamps.h"

namespace clipwright {

namespace {

constexpr int kMaxAudioPacket = 131072;   // bytes of silence added at most in one block
constexpr int kGapChunkBytes = 16384;     // silence filling a timestamp gap goes in blocks of this
constexpr double kLeastGapSeconds = 0.01; // a smaller leap of the clock is no gap
constexpr double kLeapSeconds = 600.0;    // a longer one is damage, not a gap (as for video)

AVChannelLayout DefaultLayout(int channels) {
    AVChannelLayout layout{};
    av().av_channel_layout_default(&layout, channels);
    return layout;
}

// The layout the decoder gives, so quad, 2.1 or 5.1(side) are mixed as what they are; the
// default for the channel count only when the decoder names no layout.
AVChannelLayout DecodedLayout(const AVChannelLayout& given, int channels) {
    if (given.order == AV_CHANNEL_ORDER_NATIVE && given.nb_channels == channels)
        return given;
    return DefaultLayout(channels);
}

// A throwaway context of `codec` with `enc`'s rate and layout, opened with its complaints
// demoted to the debug level.
bool EncoderTakesLayout(const AVCodec* codec, const AVCodecContext& enc) {
    CodecContextPtr trial(av().avcodec_alloc_context3(codec));
    if (!trial || av().av_channel_layout_copy(&trial->ch_layout, &enc.ch_layout) < 0)
        return false;
    trial->sample_rate = enc.sample_rate;
    trial->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    trial->time_base = AVRational{1, enc.sample_rate};
    trial->log_level_offset = AV_LOG_DEBUG - AV_LOG_ERROR;
    std::lock_guard lock(CodecLock());
    return av().avcodec_open2(trial.get(), codec, nullptr) >= 0;
}

// With as many channels as the source, the output keeps the source's layout (quad stays quad,
// not the count's default 4.0) when the encoder takes it.
void KeepSourceLayout(AVCodecContext* enc, const AVCodecContext* dec, const AVCodec* codec) {
    const AVChannelLayout& source = dec->ch_layout;
    if (source.order != AV_CHANNEL_ORDER_NATIVE ||
        source.nb_channels != enc->ch_layout.nb_channels ||
        av().av_channel_layout_compare(&source, &enc->ch_layout) == 0)
        return;
    bool taken = codec == nullptr || codec->ch_layouts == nullptr;
    for (const AVChannelLayout* layout = taken ? nullptr : codec->ch_layouts;
         layout != nullptr && layout->nb_channels != 0; ++layout)
        taken = taken || av().av_channel_layout_compare(layout, &source) == 0;
    if (!taken)
        return;
    av().av_channel_layout_copy(&enc->ch_layout, &source);
    // Opus lists the side pair but takes only the Vorbis orders, whose pair is at the back (an
    // AC-3 source decodes as 5.1(side)): asked in a quiet trial, the pair goes to the back
    // where the encoder will not take it at the side; the mixer moves side to back.
    constexpr uint64_t kSide = AV_CH_SIDE_LEFT | AV_CH_SIDE_RIGHT;
    constexpr uint64_t kBack = AV_CH_BACK_LEFT | AV_CH_BACK_RIGHT;
    const uint64_t mask = source.u.mask;
    if (codec != nullptr && (mask & kSide) == kSide && (mask & kBack) == 0 &&
        !EncoderTakesLayout(codec, *enc)) {
        av().av_channel_layout_uninit(&enc->ch_layout);
        av().av_channel_layout_from_mask(&enc->ch_layout, (mask & ~kSide) | kBack);
    }
}

} // namespace

void AudioEncodeStage::Setup(const AVCodecContext& dec) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    KeepSourceLayout(enc, &dec, ost_.Setup->codec);
    state_.SampleFifo.reset(av().av_fifo_alloc2(1024, 1, AV_FIFO_FLAG_AUTO_GROW));
    if (!state_.SampleFifo)
        throw FFMpegException("av_fifo_init fail");
    state_.Resample = enc->sample_rate != dec.sample_rate || run_.Options().audio_sync_method >= 2;
}

void AudioEncodeStage::OpenAmrNb() {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    if (enc->sample_rate != kAmrNbSampleRate || enc->ch_layout.nb_channels != 1)
        throw FFMpegException(
            FormatText("Error while opening codec for output stream #%d.%d - maybe incorrect "
                       "parameters such as bit_rate, rate, width or height",
                       ost_.FileIndex, ost_.StreamIndex));
    state_.Amr = std::make_unique<AmrNbEncoder>(enc->bit_rate);
    enc->frame_size = kAmrNbFrameSamples;
    enc->time_base = AVRational{1, kAmrNbSampleRate};
    enc->bit_rate = AmrNbEncoder::BitRateOfMode(state_.Amr->Mode());
    if (av().avcodec_parameters_from_context(ost_.Stream->codecpar, enc) < 0)
        throw FFMpegException("av_mallocz fail");
    ost_.Stream->time_base = enc->time_base;
}

const uint8_t* Transcoder::ToS16(TInputStreamState& ist, AVFrame* frame, int& size) {
    AVCodecContext* dec = ist.Decoder->get();
    const int channels = frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels
                                                          : dec->ch_layout.nb_channels;
    const int bytes = frame->nb_samples * channels * 2;
    if (audio_buffer_.size() < static_cast<size_t>(bytes))
        audio_buffer_.resize(static_cast<size_t>(bytes));
    size = bytes;
    if (frame->format == AV_SAMPLE_FMT_S16) {
        std::memcpy(audio_buffer_.data(), frame->data[0], static_cast<size_t>(bytes));
        return audio_buffer_.data();
    }
    if (!ist.ToS16 || ist.ToS16Format != frame->format || ist.ToS16Channels != channels) {
        SwrContext* swr = nullptr;
        AVChannelLayout layout = DecodedLayout(frame->ch_layout, channels);
        if (av().swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, frame->sample_rate, &layout,
                                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate,
                                     0, nullptr) < 0 ||
            av().swr_init(swr) < 0) {
            av().swr_free(&swr);
            throw FFMpegException(FormatText("Can not resample %d channels @ %d Hz to %d "
                                             "channels @ %d Hz",
                                             channels, frame->sample_rate, channels,
                                             frame->sample_rate));
        }
        ist.ToS16.reset(swr);
        ist.ToS16Format = frame->format;
        ist.ToS16Channels = channels;
    }
    uint8_t* out[1] = {audio_buffer_.data()};
    const int converted =
        av().swr_convert(ist.ToS16.get(), out, frame->nb_samples,
                         const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    size = converted > 0 ? converted * channels * 2 : 0;
    return audio_buffer_.data();
}

void Transcoder::ApplyVolume(uint8_t* samples, int size) const {
    const int volume = Options().audio_volume;
    if (volume == 256)
        return;
    auto* s = reinterpret_cast<int16_t*>(samples);
    for (int i = 0; i < size / 2; ++i) {
        const int v = (s[i] * volume + 128) >> 8;
        s[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
}

void AudioEncodeStage::OpenResampler(const AVCodecContext& enc, const AVCodecContext& dec) {
    const int enc_channels = enc.ch_layout.nb_channels;
    const int dec_channels = dec.ch_layout.nb_channels;
    SwrContext* swr = nullptr;
    AVChannelLayout out_layout = DecodedLayout(enc.ch_layout, enc_channels);
    AVChannelLayout in_layout = DecodedLayout(dec.ch_layout, dec_channels);
    // A damaged header's rate of millions of Hz would have the resampler build its filter
    // bank for minutes; no real audio goes past 768 kHz.
    constexpr int kHighestRate = 1000000;
    if (dec.sample_rate <= 0 || dec.sample_rate > kHighestRate || enc.sample_rate > kHighestRate ||
        av().swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_S16, enc.sample_rate, &in_layout,
                                 AV_SAMPLE_FMT_S16, dec.sample_rate, 0, nullptr) < 0 ||
        av().swr_init(swr) < 0) {
        av().swr_free(&swr);
        throw FFMpegException(
            FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", dec_channels,
                       dec.sample_rate, enc_channels, enc.sample_rate));
    }
    state_.Resampler.reset(swr);
}

int64_t AudioEncodeStage::FifoSamples() const {
    const int frame_bytes_out = 2 * ost_.Setup->encoder->ch_layout.nb_channels;
    return static_cast<int64_t>(av().av_fifo_can_read(state_.SampleFifo.get())) / frame_bytes_out;
}

bool AudioEncodeStage::CorrectDrift(const TInputStreamState& ist, double sync_ipts,
                                    const uint8_t*& input, int& bytes, bool& start_ended) {
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    const AVCodecContext* dec = ist.Decoder->get();
    const OptionState& o = run_.Options();
    const int dec_channels = dec->ch_layout.nb_channels;
    const int64_t fifo_samples = FifoSamples();
    const double delta = sync_ipts * enc->sample_rate - static_cast<double>(clock_.SyncPosition) -
                         static_cast<double>(fifo_samples);
    const double idelta = delta * dec->sample_rate / enc->sample_rate;
    int byte_delta = static_cast<int>(idelta) * 2 * dec_channels;
    if (std::fabs(delta) > 50) {
        if (ist.IsStart || std::fabs(delta) > o.audio_drift_threshold * enc->sample_rate) {
            if (byte_delta < 0) {
                byte_delta = std::max(byte_delta, -bytes);
                input += -byte_delta;
                bytes += byte_delta;
                if (run_.Control().Verbosity() > kDebugLevel)
                    run_.Control().Log(kInfoLevel, FormatText("discarding %d audio samples",
                                                              static_cast<int>(-delta)));
                if (bytes <= 0)
                    return false;
                start_ended = true;
            } else {
                if (byte_delta + bytes <= kMaxAudioPacket)
                    start_ended = true;
                else
                    byte_delta = kMaxAudioPacket - bytes;
                if (byte_delta < 0)
                    byte_delta = 0;
                state_.Silence.assign(static_cast<size_t>(byte_delta), 0);
                state_.Silence.insert(state_.Silence.end(), input, input + bytes);
                input = state_.Silence.data();
                bytes += byte_delta;
                if (run_.Control().Verbosity() > kDebugLevel)
                    run_.Control().Log(kInfoLevel, FormatText("adding %d audio samples of silence",
                                                              static_cast<int>(delta)));
            }
        } else if (o.audio_sync_method > 1 && state_.Resampler) {
            const int comp =
                std::clamp(static_cast<int>(delta), -o.audio_sync_method, o.audio_sync_method);
            if (run_.Control().Verbosity() > kDebugLevel)
                run_.Control().Log(kInfoLevel, FormatText("compensating audio timestamp drift:%.2f "
                                                          "compensation:%d in:%d",
                                                          delta, comp, enc->sample_rate));
            av().swr_set_compensation(state_.Resampler.get(), comp, enc->sample_rate);
        }
    }
    return true;
}

bool AudioEncodeStage::Output(const TInputStreamState& ist, const uint8_t* samples, int bytes) {
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    const AVCodecContext* dec = ist.Decoder->get();
    const OptionState& o = run_.Options();
    if (enc->ch_layout.nb_channels != dec->ch_layout.nb_channels)
        state_.Resample = true;
    if (state_.Resample && !state_.Resampler)
        OpenResampler(*enc, *dec);

    const uint8_t* input = samples;
    const double sync_ipts = Seconds(ost_.SyncInput->Pts - o.start_time);
    bool start_ended = false;
    if (o.audio_sync_method != 0) {
        if (!CorrectDrift(ist, sync_ipts, input, bytes, start_ended))
            return start_ended;
    } else {
        clock_.SyncPosition = std::llround(sync_ipts * enc->sample_rate) - FifoSamples();
        if (ost_.PicturesStart && state_.NextPts == INT64_MIN && FifoSamples() == 0)
            SilenceBeforeStart();
        FillTimestampGap(ist, sync_ipts);
    }
    Send(ist, input, bytes);
    return start_ended;
}

void AudioEncodeStage::SilenceBeforeStart() {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const int64_t from = std::llround(*ost_.PicturesStart * enc->sample_rate);
    const int64_t late = clock_.SyncPosition - from;
    if (late <= 0 || static_cast<double>(late) > kLeapSeconds * enc->sample_rate)
        return;
    if (state_.GapSilence.empty())
        state_.GapSilence.assign(kGapChunkBytes, 0);
    const int sample_bytes = 2 * enc->ch_layout.nb_channels;
    const int chunk = kGapChunkBytes / sample_bytes;
    clock_.SyncPosition = from;
    for (int64_t left = late; left > 0;) {
        const int count = static_cast<int>(std::min<int64_t>(left, chunk));
        QueueSamples(state_.GapSilence.data(), count);
        left -= count;
    }
}

void AudioEncodeStage::FillTimestampGap(const TInputStreamState& ist, double sync_ipts) {
    // A hole in the source's audio timestamps (a stretch the recording lost) stays a hole, as
    // silence: the sound after it keeps its place instead of playing early. Only a block with
    // a timestamp of its own opens one, and only where the clock leaps ahead of the samples
    // sent by more than the drift threshold past the furthest it ran before: frames cut from
    // one packet repeat its timestamp or have none, and a clock that drifts slowly from the
    // sample count is left as it is. Audio that overlaps is kept, not dropped.
    if (ost_.SyncInput != &ist || !ist.ClockStamped || state_.NextPts == INT64_MIN)
        return;
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    const AVCodecContext* dec = ist.Decoder->get();
    const int enc_bytes = 2 * enc->ch_layout.nb_channels;
    const int dec_bytes = 2 * dec->ch_layout.nb_channels;
    int64_t sent = state_.NextPts +
                   static_cast<int64_t>(av().av_fifo_can_read(state_.SampleFifo.get())) / enc_bytes;
    if (state_.Resampler)
        sent += av().swr_get_delay(state_.Resampler.get(), enc->sample_rate);
    const int64_t lead = std::llround(sync_ipts * enc->sample_rate) - sent;
    const double threshold =
        std::max<double>(run_.Options().audio_drift_threshold, kLeastGapSeconds);
    const int64_t gap = lead - state_.ClockLead;
    if (static_cast<double>(gap) <= threshold * enc->sample_rate || dec->sample_rate <= 0) {
        state_.ClockLead = std::max(state_.ClockLead, lead);
        return;
    }
    if (static_cast<double>(gap) > kLeapSeconds * enc->sample_rate) {
        state_.ClockLead = lead;
        return;
    }
    if (run_.Control().Verbosity() > kDebugLevel)
        run_.Control().Log(kInfoLevel,
                           FormatText("filling a gap of %lld audio samples with silence",
                                      static_cast<long long>(gap)));
    if (state_.GapSilence.empty())
        state_.GapSilence.assign(kGapChunkBytes, 0);
    const int chunk = kGapChunkBytes / dec_bytes * dec_bytes;
    int64_t left = av().av_rescale(gap, dec->sample_rate, enc->sample_rate) * dec_bytes;
    while (left > 0) {
        const int block = static_cast<int>(std::min<int64_t>(left, chunk));
        Send(ist, state_.GapSilence.data(), block);
        left -= block;
    }
}

void AudioEncodeStage::Send(const TInputStreamState& ist, const uint8_t* input, int bytes) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    AVCodecContext* dec = ist.Decoder->get();
    const OptionState& o = run_.Options();
    const int frame_bytes_out = 2 * enc->ch_layout.nb_channels;
    const int dec_channels = dec->ch_layout.nb_channels;
    const uint8_t* data = input;
    int size_out = bytes;
    if (state_.Resample) {
        const int in_samples = bytes / (2 * dec_channels);
        const int64_t capacity =
            av().swr_get_delay(state_.Resampler.get(), enc->sample_rate) +
            av().av_rescale_rnd(in_samples, enc->sample_rate, dec->sample_rate, AV_ROUND_UP) + 256;
        const size_t needed = static_cast<size_t>(capacity) * frame_bytes_out;
        if (state_.WorkBuffer.size() < needed)
            state_.WorkBuffer.resize(needed);
        uint8_t* out[1] = {state_.WorkBuffer.data()};
        const uint8_t* in[1] = {input};
        const int out_samples = av().swr_convert(state_.Resampler.get(), out,
                                                 static_cast<int>(capacity), in, in_samples);
        data = state_.WorkBuffer.data();
        size_out = out_samples > 0 ? out_samples * frame_bytes_out : 0;
    }
    // Nothing past "t": the sound ends where the recording time does, as the picture does.
    if (o.recording_time != INT64_MAX) {
        // Counted from where the samples already sent end on the output's timeline (a late
        // start is part of the time), not from the input clock, which may run ahead of them.
        const int64_t sent = state_.NextPts != INT64_MIN ? state_.NextPts : clock_.SyncPosition;
        const int64_t allowed =
            av().av_rescale(o.recording_time, enc->sample_rate, 1000000) - sent -
            static_cast<int64_t>(av().av_fifo_can_read(state_.SampleFifo.get())) / frame_bytes_out;
        if (allowed * frame_bytes_out <= size_out)
            state_.CutByRecordingTime = true;
        if (allowed <= 0)
            return;
        size_out = static_cast<int>(std::min<int64_t>(size_out, allowed * frame_bytes_out));
    }

    const bool framed = enc->frame_size > 1;
    if (framed) {
        if (av().av_fifo_write(state_.SampleFifo.get(), data, static_cast<size_t>(size_out)) < 0)
            throw FFMpegException("av_fifo_init fail");
        EncodeWholeFrames(static_cast<size_t>(enc->frame_size) * frame_bytes_out);
    } else if (size_out > 0) {
        const int count = size_out / frame_bytes_out;
        EncodeSamples(data, count);
        clock_.SyncPosition += count;
    }
}

bool AudioEncodeStage::DecoderSkipsFirstFrame(const AVCodecContext* enc) {
    return enc->codec_id == AV_CODEC_ID_WMAV1 || enc->codec_id == AV_CODEC_ID_WMAV2;
}

void AudioEncodeStage::EncodeSilentFrame() {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const size_t bytes = static_cast<size_t>(enc->frame_size) * 2 * enc->ch_layout.nb_channels;
    if (state_.SilentFrame.size() < bytes)
        state_.SilentFrame.assign(bytes, 0);
    EncodeSamples(state_.SilentFrame.data(), enc->frame_size);
}

void AudioEncodeStage::EncodeSamples(const uint8_t* samples, int count) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    if (state_.NextPts == INT64_MIN) {
        state_.NextPts = clock_.SyncPosition;
        // A WMA decoder gives its first frame's samples only as the overlap of the second: a
        // frame of silence goes first, one frame early, so the sound keeps its first samples
        // and its place.
        if (DecoderSkipsFirstFrame(enc) && enc->frame_size > 0) {
            state_.NextPts -= enc->frame_size;
            EncodeSilentFrame();
        }
    }
    if (state_.Amr) {
        // One packet a frame of 160 samples, the engine's own encoder.
        AVPacket* out = run_.OutPacket.get();
        if (av().av_new_packet(out, kAmrNbMaxFrameBytes) < 0)
            throw FFMpegException("Audio encoding failed");
        const int size = state_.Amr->Encode(reinterpret_cast<const int16_t*>(samples), out->data);
        if (size <= 0)
            throw FFMpegException("Audio encoding failed");
        out->size = size;
        out->pts = out->dts = state_.NextPts;
        out->duration = count;
        out->flags |= AV_PKT_FLAG_KEY;
        state_.NextPts += count;
        run_.Counters.AudioBytes += size;
        av().av_packet_rescale_ts(out, enc->time_base, ost_.Stream->time_base);
        run_.WritePacket(ost_, out);
        return;
    }
    // One frame per stream, grown when a block is larger; the encoder normally lets go of
    // it before the next block, so making it writable costs nothing.
    if (!state_.Frame || state_.FrameCapacity < count) {
        state_.Frame = allocFrame();
        AVFrame* fresh = state_.Frame.get();
        fresh->nb_samples = std::max(count, enc->frame_size);
        fresh->format = enc->sample_fmt;
        fresh->sample_rate = enc->sample_rate;
        if (av().av_channel_layout_copy(&fresh->ch_layout, &enc->ch_layout) < 0 ||
            av().av_frame_get_buffer(fresh, 0) < 0)
            throw FFMpegException("Audio encoding failed");
        state_.FrameCapacity = fresh->nb_samples;
    }
    AVFrame* frame = state_.Frame.get();
    if (av().av_frame_make_writable(frame) < 0)
        throw FFMpegException("Audio encoding failed");
    frame->nb_samples = count;
    if (enc->sample_fmt == AV_SAMPLE_FMT_S16) {
        std::memcpy(frame->data[0], samples,
                    static_cast<size_t>(count) * 2 * enc->ch_layout.nb_channels);
    } else {
        // The engine holds interleaved 16-bit; the encoder's own format is made here.
        if (!state_.ToEncoder) {
            SwrContext* swr = nullptr;
            if (av().swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                         &enc->ch_layout, AV_SAMPLE_FMT_S16, enc->sample_rate, 0,
                                         nullptr) < 0 ||
                av().swr_init(swr) < 0) {
                av().swr_free(&swr);
                throw FFMpegException("Audio encoding failed");
            }
            state_.ToEncoder.reset(swr);
        }
        const uint8_t* in[1] = {samples};
        av().swr_convert(state_.ToEncoder.get(), frame->extended_data, count, in, count);
    }
    // Packets must rise steadily even when the sync position is re-read from the input clock.
    // Moved by the priming where the file plays the sound from its zero: the first packet,
    // priming and all, then starts at that zero.
    frame->pts = state_.NextPts + std::llround(ost_.PrimingShift * enc->sample_rate);
    state_.NextPts += count;
    Encode(frame);
}

void AudioEncodeStage::Encode(AVFrame* frame) {
    run_.SendFrame(ost_, frame);
    while (AVPacket* packet = run_.NextPacket(ost_))
        run_.WriteEncoded(ost_, packet);
}

void AudioEncodeStage::DrainResampler() {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    const int sample_bytes = 2 * enc->ch_layout.nb_channels;
    const int64_t held = av().swr_get_delay(state_.Resampler.get(), enc->sample_rate) + 256;
    const size_t needed = static_cast<size_t>(held) * sample_bytes;
    if (state_.WorkBuffer.size() < needed)
        state_.WorkBuffer.resize(needed);
    uint8_t* out[1] = {state_.WorkBuffer.data()};
    const int drained =
        av().swr_convert(state_.Resampler.get(), out, static_cast<int>(held), nullptr, 0);
    if (drained > 0)
        QueueSamples(state_.WorkBuffer.data(), drained);
}

void AudioEncodeStage::QueueSamples(const uint8_t* samples, int count) {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    if (enc->frame_size > 1) {
        const size_t bytes = static_cast<size_t>(count) * 2 * enc->ch_layout.nb_channels;
        if (av().av_fifo_write(state_.SampleFifo.get(), samples, bytes) < 0)
            throw FFMpegException("av_fifo_init fail");
    } else {
        EncodeSamples(samples, count);
        clock_.SyncPosition += count;
    }
}

void AudioEncodeStage::EncodeWholeFrames(size_t frame_bytes) {
    const AVCodecContext* enc = ost_.Setup->encoder.get();
    if (state_.FifoFrame.size() < frame_bytes)
        state_.FifoFrame.resize(frame_bytes);
    while (av().av_fifo_can_read(state_.SampleFifo.get()) >= frame_bytes) {
        av().av_fifo_read(state_.SampleFifo.get(), state_.FifoFrame.data(), frame_bytes);
        EncodeSamples(state_.FifoFrame.data(), enc->frame_size);
        clock_.SyncPosition += enc->frame_size;
    }
}

void AudioEncodeStage::Flush() {
    EncodeLastSamples();
    // A WMA decoder gives a frame's samples only with the next frame: one of silence follows.
    if (state_.NextPts != INT64_MIN && DecoderSkipsFirstFrame(ost_.Setup->encoder.get()))
        EncodeSilentFrame();
    // The engine's own AMR-NB encoder holds nothing back.
    if (!state_.Amr)
        Encode(nullptr);
}

void AudioEncodeStage::EncodeLastSamples() {
    AVCodecContext* enc = ost_.Setup->encoder.get();
    // The resampler's filter still holds the last few samples.
    if (state_.Resampler)
        DrainResampler();
    const int sample_bytes = 2 * enc->ch_layout.nb_channels;
    if (enc->frame_size <= 1)
        return;
    const size_t frame_bytes = static_cast<size_t>(enc->frame_size) * sample_bytes;
    // The drained resampler may have made whole frames again.
    EncodeWholeFrames(frame_bytes);
    int trailing = 0; // samples of silence after the last one
    const size_t left = av().av_fifo_can_read(state_.SampleFifo.get());
    if (left >= static_cast<size_t>(sample_bytes)) {
        // The samples short of a whole encoder frame are the end of the sound: an encoder that
        // takes a short last frame gets them as they are, any other a frame padded with
        // silence.
        const bool short_frame = !state_.Amr && enc->codec != nullptr &&
                                 (enc->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME |
                                                              AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
        av().av_fifo_read(state_.SampleFifo.get(), state_.FifoFrame.data(), left);
        const int count = short_frame ? static_cast<int>(left) / sample_bytes : enc->frame_size;
        std::fill(state_.FifoFrame.begin() + static_cast<ptrdiff_t>(left),
                  state_.FifoFrame.begin() + static_cast<ptrdiff_t>(frame_bytes), uint8_t{0});
        EncodeSamples(state_.FifoFrame.data(), count);
        clock_.SyncPosition += count;
        trailing = count - static_cast<int>(left) / sample_bytes;
    }
    // An encoder that cannot be drained still holds its filter's delay when the sound ends
    // (MP2's 481 samples, AC-3's 256): without that much silence after the last sample, the
    // decoder never gives it out. Not after a cut by "t", which ends the sound there; WMA's
    // flush has its own frame of silence.
    const bool drained = enc->codec == nullptr || (enc->codec->capabilities & AV_CODEC_CAP_DELAY);
    if (state_.Amr || drained || state_.CutByRecordingTime || DecoderSkipsFirstFrame(enc) ||
        state_.NextPts == INT64_MIN)
        return;
    for (; trailing < enc->initial_padding; trailing += enc->frame_size) {
        EncodeSilentFrame();
        clock_.SyncPosition += enc->frame_size;
    }
}

} // namespace clipwright
