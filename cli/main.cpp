// clipwright-cli: the command-line front end over the same engine and profiles as the window.
#include <clocale>
#include <cstdio>
#include <string>

#include "cli/convert.h"
#include "cli/probe.h"
#include "cli/transcode.h"
#include "cli/usage.h"

namespace {

using Runner = int (*)(int, char**);

struct Command {
    const char* name;
    Runner run;
};

constexpr Command kCommands[] = {
    {"probe", clipwright::cli::RunProbe},
    {"transcode", clipwright::cli::RunTranscode},
    {"profiles", clipwright::cli::RunProfiles},
    {"convert", clipwright::cli::RunConvert},
};

} // namespace

int main(int argc, char* argv[]) {
    using namespace clipwright::cli;
    // The user's locale, as the window takes it: the engine reads and prints its numbers as in
    // the "C" locale whatever this is.
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        PrintProgramUsage(stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (IsHelpRequest(first)) {
        PrintProgramUsage(stdout);
        return 0;
    }
    if (first == "--version")
        return PrintVersion();
    for (const Command& command : kCommands) {
        if (first != command.name)
            continue;
        for (int i = 2; i < argc; ++i) {
            if (IsHelpRequest(argv[i])) {
                PrintCommandUsage(stdout, command.name);
                return 0;
            }
        }
        return command.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "clipwright-cli: unknown %s '%s'\n",
                 first.rfind('-', 0) == 0 ? "option" : "command", first.c_str());
    PrintProgramUsage(stderr);
    return 2;
}
