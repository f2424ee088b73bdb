#include "cli/transcode.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "FFMPEG/custom_ffmpeg.h"
#include "FFMPEG/job_options.h"
#include "cli/library_folder.h"

namespace clipwright::cli {

namespace {

TCustomFFmpeg* gRunningJob = nullptr;

// Ctrl-C asks the job to stop: it finishes its output files and ends.
extern "C" void OnInterrupt(int) {
    if (gRunningJob != nullptr)
        gRunningJob->StopRequested = true;
}

int Usage() {
    std::fprintf(stderr, "Usage: clipwright-cli transcode -i IN [-I NAME=VALUE]... -o OUT "
                         "[-O NAME=VALUE]... [--log-level quiet|error|info|debug|all]\n");
    return 2;
}

// The engine level a --log-level name stands for: quiet -1 … all 3.
bool ParseLevel(const char* name, int& level) {
    const char* names[] = {"quiet", "error", "info", "debug", "all"};
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            level = i - 1;
            return true;
        }
    }
    return false;
}

} // namespace

int RunTranscode(int argc, char* argv[]) {
    std::string input;
    std::string output;
    std::string input_options;
    std::string output_options;
    int level = 1;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        if (arg == "-i")
            input = value;
        else if (arg == "-o")
            output = value;
        else if (arg == "-I")
            input_options += std::string(value) + "\n";
        else if (arg == "-O")
            output_options += std::string(value) + "\n";
        else if (arg == "--log-level") {
            if (!ParseLevel(value, level))
                return Usage();
        } else
            return Usage();
    }
    if (input.empty() || output.empty())
        return Usage();
    if (!BindLibraries())
        return 2;

    TFFmpeg job;
    job.LogCallback = [level](TCustomFFmpeg&, int line_level, const std::string& text) {
        if (line_level <= level)
            std::fprintf(stderr, "%s\n", text.c_str());
    };
    try {
        job.Prepare();
        job.SetVerbosity(level);
        TInputOptions in;
        InitInputOptions(in);
        in.ExtraOptions = input_options;
        if (!BuildInput(job, input, &in)) {
            std::fprintf(stderr, "error: %s\n", job.LastError.c_str());
            return 1;
        }
        TOutputOptions out;
        InitOutputOptions(out);
        out.ExtraOptions = output_options;
        if (!BuildOutput(job, output, &out)) {
            std::fprintf(stderr, "error: %s\n", job.LastError.c_str());
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "error: %s\n", error.what());
        return 1;
    }

    gRunningJob = &job;
    std::signal(SIGINT, OnInterrupt);
    job.Execute();
    std::signal(SIGINT, SIG_DFL);
    gRunningJob = nullptr;
    if (job.ExceptionRaised) {
        if (level < 0)
            std::fprintf(stderr, "error: %s\n", job.ExceptionMessage.c_str());
        return 1;
    }
    if (!job.CompletedNormally) {
        std::fprintf(stderr, "error: the conversion was stopped\n");
        return 1;
    }
    return 0;
}

} // namespace clipwright::cli
