#include "app/profiles/program_folders.h"

#include <filesystem>

namespace clipwright {

namespace {

namespace fs = std::filesystem;

std::string FirstExisting(const fs::path& beside, const fs::path& installed) {
    std::error_code error;
    if (fs::is_directory(beside, error))
        return beside.string();
    return installed.lexically_normal().string();
}

} // namespace

std::string HelpFolder(const std::string& program_folder) {
    const fs::path program(program_folder);
    // The build passes the installed help folder relative to bindir, from its install layout.
    return FirstExisting(program / "help", program / CLIPWRIGHT_HELP_FROM_BINDIR);
}

std::string LibraryFolder(const std::string& program_folder) {
    const fs::path program(program_folder);
    return FirstExisting(program / "Common Files",
                         program / ".." / "lib" / "clipwright" / "Common Files");
}

} // namespace clipwright
