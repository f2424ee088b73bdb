// What the option handlers and target presets may touch of the job being set up: its settings,
// the inputs opened so far, its log, its generic holders and video hooks, and the outputs that a
// new stream joins. Made for one option at a time, on the thread that builds the job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FFMPEG/job/custom_ffmpeg.h"

namespace clipwright {

class OptionContext {
public:
    explicit OptionContext(TCustomFFmpeg& job) : job_(job) {}

    OptionState& Options() { return job_.Options(); }
    // The inputs opened before this option: "itsscale" applies to the next one, "target"
    // guesses its norm from their frame rates.
    const std::vector<InputFile>& Inputs() { return job_.InputFiles(); }

    void Log(int level, const std::string& text) { job_.Log(level, text); }
    bool Logging() const { return job_.Logging(); }
    int32_t Verbosity() const { return job_.Verbosity(); }
    void SetVerbosity(int32_t level) { job_.SetVerbosity(level); }
    // The length the job reports progress against ("t").
    void SetTotalDurationMs(int32_t ms) { job_.TotalDurationMs = ms; }

    bool SetGenericOption(const std::string& name, const std::string& value) {
        return job_.Generic().SetGenericOption(name, value);
    }
    AVCodecContext* CodecHolder(int media_type) const {
        return job_.Generic().CodecHolder(media_type);
    }
    VideoHookList& VideoHooks() { return job_.VideoHooks(); }
    // A stream of that type added to the last output file.
    void NewStream(int media_type) { job_.NewStream(media_type); }

private:
    TCustomFFmpeg& job_;
};

} // namespace clipwright
