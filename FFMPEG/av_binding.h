// The run-time binding of the FFmpeg libraries: one entry-point table per library, filled by
// dlopen/dlsym, and the process-wide load state. This is the only engine header that includes
// the FFmpeg headers; every slot is typed from them, so each call through a table is checked.
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

#include "FFMPEG/av_entry_points.h"

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

enum class AvLibrary { avcodec, avformat, avutil, swscale, swresample, avfilter };
inline constexpr int kAvLibraryCount = 6;

// Binds every library in the order above, from `folder` when it holds the file, else through
// the system's search. A second call after a success returns true at once; after a failure
// every library is unloaded again and LoadErrorText() says why.
bool LoadAllLibraries(const std::string& folder, bool versioned);
void UnloadAllLibraries();

bool LibrariesLoaded();
bool LibraryBound(AvLibrary library);
bool LibraryModuleLoaded(AvLibrary library);
const std::string& LibraryErrorText(AvLibrary library);
const std::string& LoadErrorText();

// "libavcodec.so.59" (versioned) or "libavcodec.so" (plain).
std::string LibraryFileName(AvLibrary library, bool versioned);

// A bound library as the loader found it: its run-time version ("59.37.100") and the file it
// was loaded from. Both empty while the library is not bound.
struct BoundLibraryInfo {
    std::string version;
    std::string path;
};
BoundLibraryInfo DescribeBoundLibrary(AvLibrary library);

} // namespace clipwright
