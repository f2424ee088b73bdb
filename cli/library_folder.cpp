#include "cli/library_folder.h"

#include <cstdio>

#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/library_load.h"
#include "app/profiles/program_folders.h"

namespace clipwright::cli {

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
