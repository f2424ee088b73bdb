// Where the command line binds the libraries from: "Common Files" beside the program.
#pragma once

#include <string>

namespace clipwright::cli {

std::string ProgramFolder();
std::string LibraryFolder();

// Binds the libraries with versioned names; prints the binding's text and returns false on
// failure.
bool BindLibraries();

} // namespace clipwright::cli
