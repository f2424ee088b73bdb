// Output file names in the chosen folder, as the conversion driver makes them.
#pragma once

#include <string>

namespace clipwright {

// The folder, the input's file name with the type's extension ("." + lower-cased type tag);
// unless overwriting, "-1", "-2", … before the extension until no file of that name exists.
std::string OutputFileName(const std::string& input, const std::string& folder,
                           const std::string& output_type, bool overwrite);

} // namespace clipwright
