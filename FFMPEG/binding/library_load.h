// Binding the media libraries and describing what was bound, without their headers: for the
// front ends, which load the libraries but call none of them (av_binding.h has the tables).
#pragma once

#include <string>

namespace clipwright {

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
