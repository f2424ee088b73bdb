// The length of a file whose demuxer could only guess it from a bit rate, or not at all (raw
// elementary streams, MPEG files without timestamps), measured from the file's own packets.
#pragma once

#include <cstdint>

struct AVDictionary;
struct AVFormatContext;

namespace clipwright {

// The whole of minutes of audio or of small video, parsed in some 20 ms: the window probes
// each file it lists on its own thread.
inline constexpr int64_t kMeasuredBytes = int64_t{4} << 20;

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
