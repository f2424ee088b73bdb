// Timestamp conversions between time bases, with the stand-in for a missing timestamp or an
// unknown duration written once instead of at every site.
#pragma once

#include <cstdint>

#include "FFMPEG/av_binding.h"

namespace clipwright {

inline constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

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
