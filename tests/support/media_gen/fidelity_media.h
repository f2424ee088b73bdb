// The generated sources of the fidelity suite: each made to carry one property that
// conversions must keep (sync markers, a late video start, odd rates, held pictures, channel
// layouts, tiny files...), written once per build.
#pragma once

#include <string>
#include <vector>

namespace clipwright::testing {

struct GeneratedSource {
    std::string name; // short name, also in the test names
    std::string path;
    std::string holds; // what property it carries, for failure messages
};

const std::vector<GeneratedSource>& FidelitySources();
const GeneratedSource& FidelitySource(const std::string& name);

} // namespace clipwright::testing
