// Video-hook plug-ins: a job's list of hook entries and the process-wide list of plug-in
// modules they come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FFMPEG/binding/video_hook_api.h"

namespace clipwright {

// One job's hooks, in the order added. Used by the main thread while options are applied and
// by the job's own thread while it runs, never by both at once.
class VideoHookList {
public:
    VideoHookList() = default;
    VideoHookList(const VideoHookList&) = delete;
    VideoHookList& operator=(const VideoHookList&) = delete;
    ~VideoHookList() { Release(); }

    // argv[0] is the plug-in's file name. 0 on success; -1 the plug-in cannot be loaded,
    // -2 no arguments or a missing entry point, -12 out of memory, -22 Configure refused.
    int Add(int argc, char* argv[]);
    // Every hook in order, in place on the picture.
    void Process(CwHookPicture* picture, int pixel_format, int width, int height,
                 int64_t pts) const;
    // Calls each Release and empties the list; the modules stay loaded.
    void Release();

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        CwHookConfigure configure = nullptr;
        CwHookProcess process = nullptr;
        CwHookRelease release = nullptr;
        void* context = nullptr;
    };
    std::vector<Entry> entries_;
};

// How many plug-in modules the process holds (each file once, by its canonical path).
std::size_t LoadedHookModuleCount();

} // namespace clipwright
