#include "FFMPEG/job/encoder_rate.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_handles.h"
#include "FFMPEG/binding/codec_lock.h"

namespace clipwright {

namespace {

// The largest term of a time base that every encoder here takes (MPEG-4 writes it in 16 bits).
constexpr int kSmallTerm = 65535;

// |a - b| as a reduced fraction with a non-negative numerator.
AVRational Difference(AVRational a, AVRational b) {
    int num = 0;
    int den = 0;
    av().av_reduce(&num, &den,
                   static_cast<int64_t>(a.num) * b.den - static_cast<int64_t>(b.num) * a.den,
                   static_cast<int64_t>(b.den) * a.den, INT32_MAX);
    return AVRational{num < 0 ? -num : num, den};
}

bool Smaller(AVRational a, AVRational b) {
    return static_cast<int64_t>(a.num) * b.den < static_cast<int64_t>(b.num) * a.den;
}

bool Same(AVRational a, AVRational b) {
    return static_cast<int64_t>(a.num) * b.den == static_cast<int64_t>(b.num) * a.den;
}

// Whole rates first, then the NTSC ones (n * 1000/1001), then halves (12.5 fps).
AVRational SnapToCommonRate(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0)
        return rate;
    const double fps = static_cast<double>(rate.num) / rate.den;
    if (fps < 0.5 || fps > 10000.0)
        return rate;
    const double frame_us = 1e6 / fps;
    const AVRational candidates[] = {
        {static_cast<int>(std::lround(fps)), 1},
        {static_cast<int>(std::lround(fps * 1.001)) * 1000, 1001},
        {static_cast<int>(std::lround(fps * 2.0)), 2},
    };
    for (AVRational candidate : candidates) {
        if (candidate.num > 0 &&
            std::fabs(frame_us - 1e6 * candidate.den / candidate.num) <= kRateSnapMicroseconds) {
            av().av_reduce(&candidate.num, &candidate.den, candidate.num, candidate.den, INT32_MAX);
            return candidate;
        }
    }
    return rate;
}

// Opens a throwaway context of `codec` at `rate`: sub-QCIF (a size even H.263 takes) in the
// codec's first pixel format, at `encoder`'s compliance level. Its complaints are demoted to
// the debug level, so that a refused trial leaves nothing in a job's log.
bool EncoderTakesRate(const AVCodec* codec, AVRational rate, const AVCodecContext& encoder) {
    CodecContextPtr trial(av().avcodec_alloc_context3(codec));
    if (!trial)
        return false;
    trial->width = 128;
    trial->height = 96;
    trial->pix_fmt = codec->pix_fmts != nullptr ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    trial->time_base = AVRational{rate.den, rate.num};
    trial->framerate = rate;
    trial->strict_std_compliance = encoder.strict_std_compliance;
    trial->thread_count = 1;
    trial->log_level_offset = AV_LOG_DEBUG - AV_LOG_ERROR;
    std::lock_guard lock(CodecLock());
    const bool opened = av().avcodec_open2(trial.get(), codec, nullptr) >= 0;
    trial.reset();
    return opened;
}

} // namespace

AVRational EncoderFrameRate(AVRational asked, const AVCodec* codec, const AVCodecContext& encoder) {
    const AVRational rate = SnapToCommonRate(asked);
    if (codec == nullptr)
        return rate;
    if (codec->supported_framerates != nullptr) {
        // Nearest first; of equal errors the earlier listed.
        std::vector<AVRational> listed;
        for (const AVRational* p = codec->supported_framerates; p->den != 0; ++p) {
            if (std::none_of(listed.begin(), listed.end(),
                             [p](AVRational seen) { return Same(seen, *p); }))
                listed.push_back(*p);
        }
        std::stable_sort(listed.begin(), listed.end(), [rate](AVRational a, AVRational b) {
            return Smaller(Difference(rate, a), Difference(rate, b));
        });
        for (const AVRational& candidate : listed) {
            if (EncoderTakesRate(codec, candidate, encoder))
                return candidate;
        }
        if (!listed.empty())
            return listed.front(); // none opened: the open proper will say why
        return rate;
    }
    if (rate.num <= kSmallTerm && rate.den <= kSmallTerm)
        return rate;
    if (EncoderTakesRate(codec, rate, encoder))
        return rate;
    const AVRational smaller = av().av_d2q(av_q2d(rate), kSmallTerm);
    return EncoderTakesRate(codec, smaller, encoder) ? smaller : rate;
}

} // namespace clipwright
