// What opening a job's files may touch of the job: its settings (read, consumed and, for an
// input, filled with the source's properties), its generic options, the files opened so far, the
// length progress is reported against, its log, and the text that says why an opening failed.
// Made by the job for one call, on the thread that builds it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FFMPEG/job/job_files.h"
#include "FFMPEG/job/option_state.h"

namespace clipwright {

class GenericOptions;

struct FileSetupContext {
    OptionState& options;
    GenericOptions& generic;
    std::vector<InputFile>& inputs;
    std::vector<OutputFile>& outputs;
    std::string& last_error;
    int32_t& total_duration_ms; // the longest input's length, -1 while unknown
    int32_t verbosity;
    std::function<void(int level, const std::string& text)> log;
};

} // namespace clipwright
