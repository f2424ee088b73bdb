// The run-time binding of the FFmpeg libraries: one entry-point table per library, filled by
// dlopen/dlsym, and the process-wide load state. This is the only engine header that includes
// the FFmpeg headers; every slot is typed from them, so each call through a table is checked.
// Binding and describing the libraries needs none of them: library_load.h.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "FFMPEG/binding/av_entry_points.h"
#include "FFMPEG/binding/library_load.h"

namespace clipwright {

#define CW_TABLE_SLOT(name) decltype(&::name) name = nullptr;

struct AvCodecEntryPoints {
    CW_TABLE_SLOT(CW_AVCODEC_VERSION_FN)
    CW_AVCODEC_ENTRY_POINTS(CW_TABLE_SLOT)
};
struct AvFormatEntryPoints {
    CW_TABLE_SLOT(CW_AVFORMAT_VERSION_FN)
    CW_AVFORMAT_ENTRY_POINTS(CW_TABLE_SLOT)
};
struct AvUtilEntryPoints {
    CW_TABLE_SLOT(CW_AVUTIL_VERSION_FN)
    CW_AVUTIL_ENTRY_POINTS(CW_TABLE_SLOT)
};
struct SwScaleEntryPoints {
    CW_TABLE_SLOT(CW_SWSCALE_VERSION_FN)
    CW_SWSCALE_ENTRY_POINTS(CW_TABLE_SLOT)
};
struct SwResampleEntryPoints {
    CW_TABLE_SLOT(CW_SWRESAMPLE_VERSION_FN)
    CW_SWRESAMPLE_ENTRY_POINTS(CW_TABLE_SLOT)
};
struct AvFilterEntryPoints {
    CW_TABLE_SLOT(CW_AVFILTER_VERSION_FN)
    CW_AVFILTER_ENTRY_POINTS(CW_TABLE_SLOT)
};

#undef CW_TABLE_SLOT

// All six tables in one object, so that a call reads av().avcodec_open2(...).
struct AvEntryPoints : AvCodecEntryPoints,
                       AvFormatEntryPoints,
                       AvUtilEntryPoints,
                       SwScaleEntryPoints,
                       SwResampleEntryPoints,
                       AvFilterEntryPoints {};

namespace detail {
extern AvEntryPoints gEntryPoints;
}

// The tables. Written only by the load and unload calls on the main thread; read-only while
// jobs run, so any thread may call through them.
inline const AvEntryPoints& av() {
    return detail::gEntryPoints;
}

} // namespace clipwright
