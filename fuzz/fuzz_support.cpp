#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/engine_log.h"

namespace clipwright::fuzz {
namespace {

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("clipwright-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

} // namespace

void BindLibrariesOnce() {
    static const bool bound = [] {
        if (!LoadAllLibraries("", true)) {
            std::fprintf(stderr, "libraries: %s\n", LoadErrorText().c_str());
            std::abort();
        }
        SetLibraryLogLevel(-1); // quiet: the library's complaints about bad input are expected
        return true;
    }();
    (void)bound;
}

std::string WriteInput(const uint8_t* data, size_t size, const std::string& name) {
    const std::filesystem::path path = Folder() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path.string();
}

std::string WorkPath(const std::string& name) {
    return (Folder() / name).string();
}

} // namespace clipwright::fuzz
