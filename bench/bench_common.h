// Timing and memory helpers shared by the benchmarks.
#pragma once

#include <functional>
#include <string>

namespace clipwright::bench {

struct Measure {
    double seconds = 0;   // median wall time
    long peak_rss_kb = 0; // peak resident set of a child process that ran the work once
};

// Runs `work` `runs` times in this process for the median wall time, and once in a forked
// child for its peak memory.
Measure Run(const std::function<void()>& work, int runs);

std::string TempPath(const std::string& name);

// Throws std::runtime_error naming `what` when a library call returned an error.
void Check(int code, const char* what);

// Binds the engine's libraries and quiets the log of the ones linked here; false, with the
// reason printed, when they cannot be bound.
bool BindLibraries();

} // namespace clipwright::bench
