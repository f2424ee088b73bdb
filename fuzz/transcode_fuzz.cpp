// libFuzzer target: one job that opens arbitrary bytes as its input and re-encodes at most one
// second of it into a small AVI (bounded in time and size), as a profile would.
#include <cstdint>
#include <exception>
#include <filesystem>

#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/run/run_job.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace clipwright;
    fuzz::BindLibrariesOnce();
    const std::string input = fuzz::WriteInput(data, size, "transcode-input");
    const std::string output = fuzz::WorkPath("transcode-output.avi");
    try {
        TFFmpeg job;
        job.Prepare();
        job.SetVerbosity(-1);
        TInputOptions in;
        if (BuildInput(job, input, &in)) {
            TOutputOptions out;
            out.ExtraOptions = "vcodec=mpeg4\ns=64x48\nr=10\nacodec=mp2\nar=22050\nac=1\n"
                               "t=1\nfs=262144";
            if (BuildOutput(job, output, &out))
                ExecuteJob(job);
        }
    } catch (const std::exception&) {
        // Typed failures while building are answers, not findings.
    }
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    return 0;
}
