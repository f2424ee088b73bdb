// The command line's own texts: the list of commands, each command's usage, the version.
#pragma once

#include <cstdio>
#include <string>

namespace clipwright::cli {

// Every command with its one-line purpose, then the global options.
void PrintProgramUsage(std::FILE* out);

// One command's usage and options; false when there is no such command.
bool PrintCommandUsage(std::FILE* out, const std::string& command);

// A usage error: the command's usage on stderr; returns the status 2.
int UsageError(const std::string& command);

// True when an argument asks for help (--help or -h).
bool IsHelpRequest(const std::string& argument);

// `--version`: the program's version, then each media library's version and file, or why they
// could not be bound. 0 when bound, 2 when not.
int PrintVersion();

} // namespace clipwright::cli
