#include "cli/usage.h"

#include "FFMPEG/binding/library_load.h"
#include "FFMPEG/run/amrnb_encoder.h"
#include "app/profiles/program_folders.h"
#include "clipwright_version.h"

namespace clipwright::cli {

namespace {

struct CommandText {
    const char* name;
    const char* purpose;
    const char* usage; // the synopsis and the options, each line ending in \n
};

constexpr CommandText kCommands[] = {
    {"probe", "describe media files, one block of name: value lines per file",
     "Usage: clipwright-cli probe [--] FILE...\n"
     "Describes each FILE: streams, counts, duration, bit rate and, for video, size, frame rate,\n"
     "display aspect, pixel format and codec. A file that cannot be probed prints \"error: \" and\n"
     "the reason.\n"
     "Exit status: 0 all described, 1 any failed, 2 usage error or the libraries not bound.\n"},
    {"transcode", "run conversion jobs given in the engine's option names",
     "Usage: clipwright-cli transcode -i IN [-I NAME=VALUE]... -o OUT [-O NAME=VALUE]...\n"
     "                                [-i IN2 ... -o OUT2 ...] [--jobs N]\n"
     "                                [--log-level quiet|error|info|debug|all]\n"
     "  -i IN            start a job that reads IN\n"
     "  -I NAME=VALUE    an option of the last input (repeatable)\n"
     "  -o OUT           the output of the last input\n"
     "  -O NAME=VALUE    an option of the last output, e.g. vcodec=mpeg4, ab=128000, s=320x240\n"
     "  --jobs N         run up to N jobs at once (default 1)\n"
     "  --log-level L    how much of the engine's log goes to stderr (default info)\n"
     "Each job ends with a line \"IN -> OUT: Done|Fail|Abort[: message]\" on stdout.\n"
     "Exit status: 0 every job finished, 1 any failed, 130 stopped with Ctrl-C, 2 usage or\n"
     "binding error.\n"},
    {"profiles", "list the output profiles, or show one profile's lists",
     "Usage: clipwright-cli profiles [CAPTION|INDEX]\n"
     "Without an argument lists the profile list (index, tab, caption); with one prints that\n"
     "profile's lists after its filler ran, the selected entry marked *.\n"
     "Exit status: 0, or 2 when there is no such profile.\n"},
    {"convert", "convert files with an output profile, as the window does",
     "Usage: clipwright-cli convert --profile CAPTION|INDEX --output-folder DIR [OPTION]... "
     "FILE...\n"
     "  --profile P          the profile, by caption or index (see: clipwright-cli profiles)\n"
     "  --output-folder DIR  where the outputs go\n"
     "  --overwrite          replace an existing output instead of adding -1, -2, ...\n"
     "  --video-codec TEXT   --video-size TEXT    --video-bitrate TEXT  --frame-rate TEXT\n"
     "  --audio-codec TEXT   --audio-bitrate TEXT --sampling-rate TEXT  --channels TEXT\n"
     "  --aspect TEXT        an entry of the profile's list of that name, spelled as\n"
     "                       'clipwright-cli profiles P' prints it\n"
     "  --volume 0..10       the volume slider; 5 keeps the volume\n"
     "Each file ends with a line \"IN -> OUT: Done|Fail|Abort[: message]\" on stdout.\n"
     "Exit status: 0 all Done, 1 any Fail, 130 after Ctrl-C, 2 usage or binding error.\n"},
};

const CommandText* FindCommand(const std::string& name) {
    for (const CommandText& command : kCommands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

} // namespace

void PrintProgramUsage(std::FILE* out) {
    std::fprintf(out, "Usage: clipwright-cli COMMAND [ARGUMENT]...\n\nCommands:\n");
    for (const CommandText& command : kCommands)
        std::fprintf(out, "  %-10s %s\n", command.name, command.purpose);
    std::fprintf(out, "\n"
                      "  --help, -h         this list; 'clipwright-cli COMMAND --help' for one "
                      "command\n"
                      "  --version          the program's version and the media libraries it "
                      "binds\n");
}

bool PrintCommandUsage(std::FILE* out, const std::string& command) {
    const CommandText* text = FindCommand(command);
    if (text == nullptr)
        return false;
    std::fputs(text->usage, out);
    return true;
}

int UsageError(const std::string& command) {
    if (!PrintCommandUsage(stderr, command))
        PrintProgramUsage(stderr);
    return 2;
}

bool IsHelpRequest(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

int PrintVersion() {
    std::printf("clipwright-cli %s\n", CLIPWRIGHT_VERSION);
    if (!LoadAllLibraries(LibraryFolder(), true)) {
        std::printf("media libraries not bound: %s\n", LoadErrorText().c_str());
        return 2;
    }
    for (int i = 0; i < kAvLibraryCount; ++i) {
        const auto library = static_cast<AvLibrary>(i);
        const BoundLibraryInfo info = DescribeBoundLibrary(library);
        std::printf("%-23s %-12s %s\n", LibraryFileName(library, true).c_str(),
                    info.version.c_str(), info.path.c_str());
    }
    // Optional: without it only the AMR-NB outputs (3GP profiles) fail.
    std::string amr_error;
    if (AmrNbEncoder::Available(amr_error))
        std::printf("%-23s found\n", "libopencore-amrnb.so.0");
    else
        std::printf("%-23s not found: %s\n", "libopencore-amrnb.so.0", amr_error.c_str());
    return 0;
}

} // namespace clipwright::cli
