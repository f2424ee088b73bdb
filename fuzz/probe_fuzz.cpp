// libFuzzer target: the media probe on arbitrary bytes. Every answer is read, as the window
// reads them when a file is added.
#include <cstdint>
#include <exception>

#include "FFMPEG/probe/av_probe.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace clipwright;
    fuzz::BindLibrariesOnce();
    const std::string path = fuzz::WriteInput(data, size, "probe-input");
    try {
        TAVProbe probe;
        if (!probe.LoadFile(path, ""))
            return 0;
        TAVFileInfo file;
        probe.GetFileInfo(file);
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        for (int32_t stream = 0; stream < probe.StreamCount(); ++stream)
            probe.GetVideoStreamInfo(stream, video);
        probe.CloseFile();
    } catch (const std::exception&) {
        // A typed failure is an answer, not a finding.
    }
    return 0;
}
