// The open files of a job: inputs with one decoder context per stream, outputs with one
// encoder context per stream. Filled by the input and output set-up on the caller's thread,
// used by the transcode on the job's thread.
#pragma once

#include <cstdint>
#include <vector>

#include "FFMPEG/binding/av_handles.h"

struct AVCodec;

namespace clipwright {

inline constexpr int kMaxInputFiles = 20;
inline constexpr int kMaxOutputFiles = 20;

struct InputFile {
    InputFormatPtr context;
    std::vector<CodecContextPtr> decoders; // one per stream, filled from its parameters
    int64_t ts_offset = 0;                 // microseconds
    bool rate_emu = false;                 // read at the native rate ("re")
};

struct OutputStreamSetup {
    CodecContextPtr encoder;        // filled here, opened by the transcode set-up
    const AVCodec* codec = nullptr; // the encoder chosen by name or guess; none for a copy
    bool stream_copy = false;
    float quality = 0.0f; // fixed quantiser scale × lambda step, when set
};

struct OutputFile {
    OutputFormatPtr context;
    std::vector<OutputStreamSetup> streams; // index = the muxer's stream index
    DictionaryPtr muxer_options;            // the muxer's own options, for the header
    bool regular_file = false;              // a plain file on disk when its header was written
};

// The files of one job, which its run takes over with their codec contexts.
struct RunFiles {
    std::vector<InputFile> inputs;
    std::vector<OutputFile> outputs;
};

// Closes every file (outputs first), deleting outputs left empty and, when `failed`, the
// outputs the run wrote (a half-written file is no result); the lists are left empty.
void ReleaseFiles(RunFiles& files, bool failed);

} // namespace clipwright
