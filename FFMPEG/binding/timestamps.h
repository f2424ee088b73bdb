// Timestamp conversions between time bases, with the stand-in for a missing timestamp or an
// unknown duration written once instead of at every site.
#pragma once

#include <cstdint>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/timestamps.h"

namespace clipwright {

inline constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

// `ts`, or `otherwise` where it is missing (AV_NOPTS_VALUE).
inline int64_t TsOr(int64_t ts, int64_t otherwise) {
    return ts != AV_NOPTS_VALUE ? ts : otherwise;
}

// Between a stream's time base and the engine's clock in microseconds.
inline int64_t ToMicroseconds(int64_t ts, AVRational base) {
    return av().av_rescale_q(ts, base, kMicroseconds);
}
inline int64_t FromMicroseconds(int64_t us, AVRational base) {
    return av().av_rescale_q(us, kMicroseconds, base);
}

// Microseconds as seconds.
inline double Seconds(int64_t us) {
    return static_cast<double>(us) / 1000000.0;
}

// `ts` from time base `from` to `to`; a missing one (AV_NOPTS_VALUE) gives `otherwise`, which
// is already in `to`.
inline int64_t RescaleTs(int64_t ts, AVRational from, AVRational to,
                         int64_t otherwise = AV_NOPTS_VALUE) {
    return ts != AV_NOPTS_VALUE ? av().av_rescale_q(ts, from, to) : otherwise;
}

// A duration from `from` to `to`; none (0 or less) gives `otherwise`, already in `to`.
inline int64_t RescaleDuration(int64_t duration, AVRational from, AVRational to,
                               int64_t otherwise) {
    return duration > 0 ? av().av_rescale_q(duration, from, to) : otherwise;
}

} // namespace clipwright
