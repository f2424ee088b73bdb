#include "FFMPEG/binding/av_binding.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <array>
#include <memory>

#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"

// Tests build this file once more with another prefix, so that fake libraries of their own can
// stand in for the real ones without the system's copies being found.
#ifndef CLIPWRIGHT_AV_LIB_PREFIX
#define CLIPWRIGHT_AV_LIB_PREFIX "lib"
#endif

namespace clipwright {

namespace detail {
AvEntryPoints gEntryPoints;
}

namespace {

struct ModuleCloser {
    void operator()(void* handle) const noexcept { dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

struct LibraryState {
    LibraryState(const char* base, int header_major) : base_name(base), major(header_major) {}

    const char* base_name; // "avcodec"
    int major;             // the header's major, which the loaded library must match
    ModuleHandle module;
    bool bound = false;
    bool versioned = false;
    std::string error;
};

// Never destroyed: closing the libraries while the process exits would run their clean-up after
// ours and hide what they still hold from leak checkers. Unloading is an explicit call.
union LibraryStates {
    LibraryStates()
        : all{{{"avcodec", LIBAVCODEC_VERSION_MAJOR},
               {"avformat", LIBAVFORMAT_VERSION_MAJOR},
               {"avutil", LIBAVUTIL_VERSION_MAJOR},
               {"swscale", LIBSWSCALE_VERSION_MAJOR},
               {"swresample", LIBSWRESAMPLE_VERSION_MAJOR},
               {"avfilter", LIBAVFILTER_VERSION_MAJOR}}} {}
    ~LibraryStates() {}
    std::array<LibraryState, kAvLibraryCount> all;
};
LibraryStates gStates;
std::array<LibraryState, kAvLibraryCount>& gLibraries = gStates.all;

bool gLoaded = false;
std::string gLoadError;

LibraryState& State(AvLibrary library) {
    return gLibraries[static_cast<size_t>(library)];
}

std::string FileName(const LibraryState& lib, bool versioned) {
    std::string name = std::string(CLIPWRIGHT_AV_LIB_PREFIX) + lib.base_name + ".so";
    if (versioned)
        name += "." + std::to_string(lib.major);
    return name;
}

std::string LastDlError() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

template <class Slot> bool ResolveEntry(LibraryState& lib, const char* name, Slot& slot) {
    dlerror();
    void* address = dlsym(lib.module.get(), name);
    if (address == nullptr) {
        lib.error = FormatText("Load function %s@%s error: %s", name,
                               FileName(lib, lib.versioned).c_str(), LastDlError().c_str());
        return false;
    }
    slot = reinterpret_cast<Slot>(address);
    return true;
}

// The version function is resolved and checked first: a library of another generation would
// otherwise fail on some missing name, or worse, bind and then crash on a changed layout.
bool CheckVersion(LibraryState& lib, unsigned (*&version_fn)(), const char* version_name) {
    if (!ResolveEntry(lib, version_name, version_fn))
        return false;
    const int found = static_cast<int>(version_fn() >> 16);
    if (found != lib.major) {
        const std::string reason =
            FormatText("major version %d found, %d required", found, lib.major);
        lib.error = FormatText("Load libraray %s error: %s", FileName(lib, lib.versioned).c_str(),
                               reason.c_str());
        return false;
    }
    return true;
}

#define CW_RESOLVE(name)                                                                           \
    if (!ResolveEntry(lib, #name, table.name))                                                     \
        return false;
#define CW_STRINGIFY2(x) #x
#define CW_STRINGIFY(x) CW_STRINGIFY2(x)
#define CW_RESOLVER(Function, Table, VERSION_FN, ENTRY_POINTS)                                     \
    bool Function(LibraryState& lib) {                                                             \
        Table& table = detail::gEntryPoints;                                                       \
        if (!CheckVersion(lib, table.VERSION_FN, CW_STRINGIFY(VERSION_FN)))                        \
            return false;                                                                          \
        ENTRY_POINTS(CW_RESOLVE)                                                                   \
        return true;                                                                               \
    }

CW_RESOLVER(ResolveAvCodec, AvCodecEntryPoints, CW_AVCODEC_VERSION_FN, CW_AVCODEC_ENTRY_POINTS)
CW_RESOLVER(ResolveAvFormat, AvFormatEntryPoints, CW_AVFORMAT_VERSION_FN, CW_AVFORMAT_ENTRY_POINTS)
CW_RESOLVER(ResolveAvUtil, AvUtilEntryPoints, CW_AVUTIL_VERSION_FN, CW_AVUTIL_ENTRY_POINTS)
CW_RESOLVER(ResolveSwScale, SwScaleEntryPoints, CW_SWSCALE_VERSION_FN, CW_SWSCALE_ENTRY_POINTS)
CW_RESOLVER(ResolveSwResample, SwResampleEntryPoints, CW_SWRESAMPLE_VERSION_FN,
            CW_SWRESAMPLE_ENTRY_POINTS)
CW_RESOLVER(ResolveAvFilter, AvFilterEntryPoints, CW_AVFILTER_VERSION_FN, CW_AVFILTER_ENTRY_POINTS)

#undef CW_RESOLVER
#undef CW_RESOLVE

using Resolver = bool (*)(LibraryState&);
constexpr std::array<Resolver, kAvLibraryCount> kResolvers = {ResolveAvCodec,    ResolveAvFormat,
                                                              ResolveAvUtil,     ResolveSwScale,
                                                              ResolveSwResample, ResolveAvFilter};

bool BindLibrary(size_t index, const std::string& folder, bool versioned) {
    LibraryState& lib = gLibraries[index];
    lib.versioned = versioned;
    const std::string file_name = FileName(lib, versioned);
    if (!lib.module) {
        // The folder's copy wins when there is one; the bare name goes through the system's
        // search (the loader ignores the current directory and PATH, so neither is touched).
        std::string path = file_name;
        if (!folder.empty()) {
            const std::string in_folder = folder + "/" + file_name;
            if (access(in_folder.c_str(), F_OK) == 0)
                path = in_folder;
        }
        lib.module.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!lib.module) {
            lib.error =
                FormatText("Load libraray %s error: %s", file_name.c_str(), LastDlError().c_str());
            return false;
        }
    }
    if (!lib.bound)
        lib.bound = kResolvers[index](lib);
    return lib.bound;
}

} // namespace

bool LoadAllLibraries(const std::string& folder, bool versioned) {
    if (gLoaded)
        return true;
    gLoadError.clear();
    bool all_bound = true;
    for (size_t i = 0; i < gLibraries.size(); ++i) {
        if (!BindLibrary(i, folder, versioned)) {
            gLoadError = gLibraries[i].error;
            all_bound = false;
            break;
        }
    }
    gLoaded = all_bound;
    if (gLoaded)
        RefreshCurrentLogLevel();
    else
        UnloadAllLibraries();
    return gLoaded;
}

void UnloadAllLibraries() {
    gLoaded = false;
    // The tables go first: no slot may point into a library that is gone.
    detail::gEntryPoints = {};
    for (LibraryState& lib : gLibraries) {
        lib.module.reset();
        lib.bound = false;
    }
}

bool LibrariesLoaded() {
    return gLoaded;
}
bool LibraryBound(AvLibrary library) {
    return State(library).bound;
}
bool LibraryModuleLoaded(AvLibrary library) {
    return State(library).module != nullptr;
}
const std::string& LibraryErrorText(AvLibrary library) {
    return State(library).error;
}
const std::string& LoadErrorText() {
    return gLoadError;
}

std::string LibraryFileName(AvLibrary library, bool versioned) {
    return FileName(State(library), versioned);
}

BoundLibraryInfo DescribeBoundLibrary(AvLibrary library) {
    const LibraryState& lib = State(library);
    if (!lib.bound)
        return {};
    const AvEntryPoints& entry = av();
    unsigned version = 0;
    switch (library) {
    case AvLibrary::avcodec:
        version = entry.CW_AVCODEC_VERSION_FN();
        break;
    case AvLibrary::avformat:
        version = entry.CW_AVFORMAT_VERSION_FN();
        break;
    case AvLibrary::avutil:
        version = entry.CW_AVUTIL_VERSION_FN();
        break;
    case AvLibrary::swscale:
        version = entry.CW_SWSCALE_VERSION_FN();
        break;
    case AvLibrary::swresample:
        version = entry.CW_SWRESAMPLE_VERSION_FN();
        break;
    case AvLibrary::avfilter:
        version = entry.CW_AVFILTER_VERSION_FN();
        break;
    }
    BoundLibraryInfo info;
    // The libraries pack major.minor.micro as 16.8.8 bits (AV_VERSION_INT).
    info.version = std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xff) +
                   "." + std::to_string(version & 0xff);
    link_map* map = nullptr;
    if (dlinfo(lib.module.get(), RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
        map->l_name != nullptr)
        info.path = map->l_name;
    return info;
}

} // namespace clipwright
