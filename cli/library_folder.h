// Binding the libraries for the command line, from the same folders as the window.
#pragma once

namespace clipwright::cli {

// Binds the libraries with versioned names; prints the binding's text and returns false on
// failure.
bool BindLibraries();

} // namespace clipwright::cli
