#include "bench/bench_common.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "FFMPEG/binding/av_binding.h"

namespace clipwright::bench {

Measure Run(const std::function<void()>& work, int runs) {
    Measure measure;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    measure.seconds = times[times.size() / 2];
    const pid_t child = fork();
    if (child == 0) {
        work();
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    measure.peak_rss_kb = usage.ru_maxrss;
    return measure;
}

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("clipwright-bench-" + name)).string();
}

void Check(int code, const char* what) {
    if (code < 0)
        throw std::runtime_error(what);
}

bool BindLibraries() {
    if (!LoadAllLibraries("", true)) {
        std::fprintf(stderr, "%s\n", LoadErrorText().c_str());
        return false;
    }
    av_log_set_level(AV_LOG_QUIET);
    return true;
}

} // namespace clipwright::bench
