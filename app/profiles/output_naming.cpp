#include "app/profiles/output_naming.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace clipwright {

std::string OutputFileName(const std::string& input, const std::string& folder,
                           const std::string& output_type, bool overwrite) {
    namespace fs = std::filesystem;
    std::string extension = "." + output_type;
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const fs::path base = fs::path(folder) / fs::path(input).filename().replace_extension();
    const std::string first = base.string() + extension;
    std::error_code error;
    if (overwrite || !fs::exists(first, error))
        return first;
    for (int n = 1;; ++n) {
        const std::string candidate = base.string() + "-" + std::to_string(n) + extension;
        if (!fs::exists(candidate, error))
            return candidate;
    }
}

} // namespace clipwright
