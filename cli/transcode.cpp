#include "cli/transcode.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "FFMPEG/engine.h"
#include "app/profiles/program_folders.h"
#include "cli/library_folder.h"
#include "cli/usage.h"

namespace clipwright::cli {

namespace {

std::atomic<bool> gInterrupted{false};

// Ctrl-C only raises a flag: the main thread stops the engine, which finishes the outputs.
extern "C" void OnInterrupt(int) {
    gInterrupted = true;
}

int Usage() {
    return UsageError("transcode");
}

bool ParseLevel(const char* name, TLogLevel& level) {
    const char* names[] = {"quiet", "error", "info", "debug", "all"};
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            level = static_cast<TLogLevel>(i);
            return true;
        }
    }
    return false;
}

struct JobRequest {
    std::string input;
    std::string output;
    std::string input_options;
    std::string output_options;
    int32_t index = -1;
    std::string outcome; // "Done", "Fail", "Abort"
    std::string message;
};

std::string Clock(double seconds) {
    const int total = static_cast<int>(seconds);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", total / 3600, total / 60 % 60, total % 60);
    return text;
}

} // namespace

int RunTranscode(int argc, char* argv[]) {
    std::vector<JobRequest> requests;
    TLogLevel level = llInfo;
    int limit = 1;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        if (arg == "-i") {
            JobRequest request;
            request.input = value;
            requests.push_back(request);
        } else if (arg == "--jobs") {
            limit = std::atoi(value);
            if (limit < 1)
                return Usage();
        } else if (arg == "--log-level") {
            if (!ParseLevel(value, level))
                return Usage();
        } else if (requests.empty()) {
            return Usage();
        } else if (arg == "-o") {
            requests.back().output = value;
        } else if (arg == "-I") {
            requests.back().input_options += std::string(value) + "\n";
        } else if (arg == "-O") {
            requests.back().output_options += std::string(value) + "\n";
        } else {
            return Usage();
        }
    }
    if (requests.empty())
        return Usage();
    for (const JobRequest& request : requests) {
        if (request.output.empty())
            return Usage();
    }

    TFFmpegEngine engine;
    if (!engine.LoadAVLib(LibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", engine.LastErrMsg().c_str());
        return 2;
    }
    engine.SetLogLevel(level);

    std::mutex lock;
    std::condition_variable batch_ended;
    bool ended = false;
    bool progress_shown = false;
    const auto started = std::chrono::steady_clock::now();
    engine.OnLog = [&](int32_t, TLogLevel line_level, const std::string& message) {
        if (line_level > level)
            return;
        std::lock_guard guard(lock);
        if (progress_shown)
            std::fputc('\n', stderr);
        progress_shown = false;
        std::fprintf(stderr, "%s\n", message.c_str());
    };
    if (requests.size() == 1) {
        engine.OnProgress = [&](int32_t, int32_t frame, int32_t fps, int32_t current, float, float,
                                int64_t, int32_t total) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const int percent =
                total > 0 ? std::min(100, static_cast<int>(100LL * current / total)) : 0;
            std::string bar(30, ' ');
            for (int i = 0; i < percent * 30 / 100; ++i)
                bar[static_cast<size_t>(i)] = '=';
            std::lock_guard guard(lock);
            std::fprintf(stderr, "\r[%s] %3d%%  %s  %4d fps  frame %d", bar.c_str(), percent,
                         Clock(elapsed).c_str(), fps < 0 ? 0 : fps, frame < 0 ? 0 : frame);
            std::fflush(stderr);
            progress_shown = true;
        };
    }
    engine.OnTerminate = [&](int32_t index, bool finished, bool exception,
                             const std::string& message) {
        std::lock_guard guard(lock);
        if (index < 0) {
            ended = true;
            batch_ended.notify_all();
            return;
        }
        for (JobRequest& request : requests) {
            if (request.index == index) {
                request.outcome = finished ? "Done" : exception ? "Fail" : "Abort";
                request.message = message;
            }
        }
    };

    bool any_failed = false;
    for (JobRequest& request : requests) {
        TInputOptions in;
        in.ExtraOptions = request.input_options;
        const int32_t index = engine.AddInputFile(request.input, &in);
        TOutputOptions out;
        out.ExtraOptions = request.output_options;
        if (index < 0 || !engine.SetOutputFile(index, request.output, &out)) {
            request.outcome = "Fail";
            request.message = engine.LastErrMsg();
            any_failed = true;
            if (index >= 0)
                engine.RemoveTask(index);
            continue;
        }
        request.index = index;
    }

    if (engine.TaskCount() > 0) {
        gInterrupted = false;
        std::signal(SIGINT, OnInterrupt);
        engine.StartConvert(limit);
        std::unique_lock guard(lock);
        bool stop_sent = false;
        while (!ended) {
            batch_ended.wait_for(guard, std::chrono::milliseconds(100));
            if (gInterrupted && !stop_sent) {
                guard.unlock();
                engine.Stop();
                guard.lock();
                stop_sent = true;
            }
        }
        std::signal(SIGINT, SIG_DFL);
        if (progress_shown)
            std::fputc('\n', stderr);
    }

    bool any_stopped = false;
    for (const JobRequest& request : requests) {
        std::printf("%s -> %s: %s%s%s\n", request.input.c_str(), request.output.c_str(),
                    request.outcome.c_str(), request.message.empty() ? "" : ": ",
                    request.message.c_str());
        any_failed = any_failed || request.outcome == "Fail";
        any_stopped = any_stopped || request.outcome == "Abort";
    }
    std::fflush(stdout);
    if (any_stopped && gInterrupted)
        return 130;
    return any_failed || any_stopped ? 1 : 0;
}

} // namespace clipwright::cli
