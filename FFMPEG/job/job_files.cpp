#include "FFMPEG/job/job_files.h"

#include <filesystem>

#include "FFMPEG/binding/av_binding.h"

namespace clipwright {

void ReleaseFiles(RunFiles& files, bool failed) {
    for (OutputFile& output : files.outputs) {
        AVFormatContext* context = output.context.get();
        if (context->oformat != nullptr && !(context->oformat->flags & AVFMT_NOFILE))
            av().avio_closep(&context->pb);
        // An output that never received a byte is no file worth keeping; neither is one a
        // failed run wrote (a stopped run's output is finished and plays, so it stays). Files
        // this run never wrote to, such as a read-only one it could not open, are left alone.
        std::error_code error;
        if (context->url != nullptr && std::filesystem::is_regular_file(context->url, error) &&
            ((failed && output.regular_file) ||
             std::filesystem::file_size(context->url, error) == 0))
            std::filesystem::remove(context->url, error);
    }
    files.outputs.clear();
    files.inputs.clear();
}

} // namespace clipwright
