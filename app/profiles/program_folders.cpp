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

std::string ProgramFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : exe.parent_path().string();
}

std::string HelpFolder(const std::string& program_folder) {
    const fs::path program(program_folder);
    return FirstExisting(program / "help", program / ".." / "share" / "clipwright" / "help");
}

std::string LibraryFolder(const std::string& program_folder) {
    const fs::path program(program_folder);
    return FirstExisting(program / "Common Files",
                         program / ".." / "lib" / "clipwright" / "Common Files");
}

} // namespace clipwright
