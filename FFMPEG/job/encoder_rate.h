// The frame rate a video encoder is set up with, from the rate a job inherited or was asked for.
#pragma once

struct AVCodec;
struct AVCodecContext;
struct AVRational;

namespace clipwright {

// A rate of odd terms that stands for a common one (AVI stores 15 fps as 1000000/66667 in
// whole microseconds a frame) becomes that one. An encoder that lists its rates gets the
// nearest listed rate it opens at (MPEG-1 lists some it takes only at the unofficial
// compliance level); one that refuses a rate of terms above 65535 (MPEG-4) gets the nearest
// fraction of smaller terms. `encoder` gives the compliance level; `codec` may be none.
// Trial opens take CodecLock and log at the debug level only.
AVRational EncoderFrameRate(AVRational asked, const AVCodec* codec, const AVCodecContext& encoder);

// A frame duration within this of a common rate's (AVI's rounding to whole microseconds) is
// taken as that rate.
inline constexpr double kRateSnapMicroseconds = 1.0;

} // namespace clipwright
