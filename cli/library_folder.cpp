#include "cli/library_folder.h"

#include <cstdio>
#include <filesystem>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/engine_log.h"

namespace clipwright::cli {

std::string ProgramFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : exe.parent_path().string();
}

std::string LibraryFolder() {
    return ProgramFolder() + "/Common Files";
}

bool BindLibraries() {
    if (!LoadAllLibraries(LibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", LoadErrorText().c_str());
        return false;
    }
    // Errors and warnings only: the command line's own output is the report.
    SetLibraryLogLevel(0);
    return true;
}

} // namespace clipwright::cli
