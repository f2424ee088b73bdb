// mediainfo's answer, for checks by a tool apart from the libraries.
#pragma once

#include <cstdio>
#include <string>

namespace clipwright::testing {

// One template over one file ("Video;%Width%"), trailing line breaks removed.
inline std::string MediaInfo(const std::string& inform, const std::string& file) {
    const std::string command = "mediainfo --Inform='" + inform + "' '" + file + "' 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace clipwright::testing
