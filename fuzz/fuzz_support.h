// What both fuzz targets share: the libraries bound once, the library's own log silenced, and
// the bytes of one input written to a file of this process (the engine opens inputs by name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace clipwright::fuzz {

// Binds the libraries from the system; aborts the run when they cannot be bound, since no
// input could then reach the code under test.
void BindLibrariesOnce();

// Writes the bytes to a per-process file named `name` and returns its path.
std::string WriteInput(const uint8_t* data, size_t size, const std::string& name);

// A path in the same per-process folder for an output.
std::string WorkPath(const std::string& name);

} // namespace clipwright::fuzz
