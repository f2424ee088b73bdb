// Output file names in the chosen folder, as the conversion driver makes them.
#pragma once

#include <string>

namespace clipwright {

// The folder, the input's file name with the type's extension ("." + lower-cased type tag);
// unless overwriting, "-1", "-2", … before the extension until no file of that name exists.
// A name a running conversion is writing (OutputInProgress) is skipped even when overwriting:
// two conversions must not write one file.
std::string OutputFileName(const std::string& input, const std::string& folder,
                           const std::string& output_type, bool overwrite);

} // namespace clipwright
