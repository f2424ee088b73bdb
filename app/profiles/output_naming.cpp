#include "app/profiles/output_naming.h"

#include <filesystem>

#include "FFMPEG/binding/text_format.h"
#include "app/profiles/finished_output.h"

namespace clipwright {

std::string OutputFileName(const std::string& input, const std::string& folder,
                           const std::string& output_type, bool overwrite) {
    namespace fs = std::filesystem;
    const std::string extension = "." + LowerAscii(output_type);
    const fs::path base = fs::path(folder) / fs::path(input).filename().replace_extension();
    const std::string first = base.string() + extension;
    std::error_code error;
    // A name another running conversion will take when it is done counts as taken.
    const auto taken = [&](const std::string& name) {
        return fs::exists(name, error) || OutputInProgress(name);
    };
    if (overwrite ? !OutputInProgress(first) : !taken(first))
        return first;
    for (int n = 1;; ++n) {
        const std::string candidate = base.string() + "-" + std::to_string(n) + extension;
        if (!taken(candidate))
            return candidate;
    }
}

} // namespace clipwright
