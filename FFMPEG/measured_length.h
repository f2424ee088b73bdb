// The length of a file whose demuxer could only guess it from a bit rate, or not at all (raw
// elementary streams, MPEG files without timestamps), measured from the file's own packets.
#pragma once

#include <cstdint>

struct AVDictionary;
struct AVFormatContext;

namespace clipwright {

// Enough for every packet of a few minutes of SD video, read in a fraction of a second.
inline constexpr int64_t kMeasuredBytes = int64_t{8} << 20;

// True when `context`'s length is a guess from the bit rate or missing, and its file can be
// read again from the start (a pipe cannot).
bool LengthNeedsMeasuring(const AVFormatContext& context);

// Opens the file of `context` once more, with the same format and a copy of `demuxer_options`,
// and reads its packets: the time from the first packet to the end of the last, in
// microseconds; AV_NOPTS_VALUE when the packets tell nothing. Reads at most kMeasuredBytes; the
// length of a longer file is scaled up from the part read. `context` itself is not read. Takes
// CodecLock while the library reads the stream information.
int64_t MeasureLength(const AVFormatContext& context, const AVDictionary* demuxer_options);

} // namespace clipwright
