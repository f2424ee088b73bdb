// clipwright-cli: the command-line front end over the same engine and profiles as the window.
#include <cstdio>
#include <cstring>

#include "cli/convert.h"
#include "cli/probe.h"
#include "cli/transcode.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: clipwright-cli probe FILE...\n"
                 "  probe   describe each media file, one block of name: value lines per file\n");
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "probe") == 0)
        return clipwright::cli::RunProbe(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "transcode") == 0)
        return clipwright::cli::RunTranscode(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "profiles") == 0)
        return clipwright::cli::RunProfiles(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "convert") == 0)
        return clipwright::cli::RunConvert(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    std::fprintf(stderr, "clipwright-cli: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
