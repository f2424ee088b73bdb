#include "cli/transcode.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "FFMPEG/component/engine.h"
#include "FFMPEG/component/engine_connection.h"
#include "app/profiles/conversion_plan.h"
#include "app/profiles/program_folders.h"
#include "cli/batch_wait.h"
#include "cli/library_folder.h"
#include "cli/usage.h"

namespace clipwright::cli {

namespace {

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

// The command line's jobs, log level and run limit; false on a usage error.
struct TranscodeRequest {
    std::vector<JobRequest> jobs;
    TLogLevel level = llInfo;
    int limit = 1;
};

bool ParseTranscode(int argc, char* argv[], TranscodeRequest& request) {
    std::vector<JobRequest>& requests = request.jobs;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (arg == "-i") {
            JobRequest job;
            job.input = value;
            requests.push_back(job);
        } else if (arg == "--jobs") {
            request.limit = std::atoi(value);
            if (request.limit < 1)
                return false;
        } else if (arg == "--log-level") {
            if (!ParseLevel(value, request.level))
                return false;
        } else if (requests.empty()) {
            return false;
        } else if (arg == "-o") {
            requests.back().output = value;
        } else if (arg == "-I") {
            requests.back().input_options += std::string(value) + "\n";
        } else if (arg == "-O") {
            requests.back().output_options += std::string(value) + "\n";
        } else {
            return false;
        }
    }
    return !requests.empty() &&
           std::none_of(requests.begin(), requests.end(),
                        [](const JobRequest& job) { return job.output.empty(); });
}

// The one-line progress bar of a single job, redrawn in place on stderr.
void PrintProgress(double elapsed, int32_t frame, int32_t fps, int32_t current, int32_t total) {
    const int percent = total > 0 ? std::min(100, static_cast<int>(100LL * current / total)) : 0;
    std::string bar(30, ' ');
    for (int i = 0; i < percent * 30 / 100; ++i)
        bar[static_cast<size_t>(i)] = '=';
    std::fprintf(stderr, "\r[%s] %3d%%  %s  %4d fps  frame %d", bar.c_str(), percent,
                 Clock(elapsed).c_str(), fps < 0 ? 0 : fps, frame < 0 ? 0 : frame);
    std::fflush(stderr);
}

// Adds a job per request; one the engine refuses is a Fail with its reason. True if any was.
bool AddJobs(TFFmpegEngine& engine, std::vector<JobRequest>& requests) {
    bool any_failed = false;
    for (JobRequest& request : requests) {
        TInputOptions in;
        in.ExtraOptions = request.input_options;
        const int32_t index = engine.AddInputFile(request.input, &in);
        TOutputOptions out;
        out.ExtraOptions = request.output_options;
        if (index < 0 || !engine.SetOutputFile(index, request.output, &out)) {
            request.outcome = OutcomeText(ConversionOutcome::Fail);
            request.message = engine.LastErrMsg();
            any_failed = true;
            if (index >= 0)
                engine.RemoveTask(index);
            continue;
        }
        request.index = index;
    }
    return any_failed;
}

// What the engine's handlers share with the waiting thread, under `lock`.
struct BatchState {
    std::mutex lock;
    std::condition_variable batch_ended;
    bool ended = false;
    bool progress_shown = false;
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// Log lines and (for one job) the progress line to stderr, the outcomes into `requests`.
TEngineConnection::Handlers PrintingHandlers(BatchState& state, std::vector<JobRequest>& requests,
                                             TLogLevel level) {
    TEngineConnection::Handlers handlers;
    handlers.OnLog = [&state, level](int32_t, TLogLevel line_level, const std::string& message) {
        if (line_level > level)
            return;
        std::lock_guard guard(state.lock);
        if (state.progress_shown)
            std::fputc('\n', stderr);
        state.progress_shown = false;
        std::fprintf(stderr, "%s\n", message.c_str());
    };
    if (requests.size() == 1) {
        handlers.OnProgress = [&state](int32_t, int32_t frame, int32_t fps, int32_t current, float,
                                       float, int64_t, int32_t total) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - state.started)
                    .count();
            std::lock_guard guard(state.lock);
            PrintProgress(elapsed, frame, fps, current, total);
            state.progress_shown = true;
        };
    }
    handlers.OnTerminate = [&state, &requests](int32_t index, bool finished, bool exception,
                                               const std::string& message) {
        std::lock_guard guard(state.lock);
        if (index < 0) {
            state.ended = true;
            state.batch_ended.notify_all();
            return;
        }
        for (JobRequest& request : requests) {
            if (request.index == index) {
                request.outcome = OutcomeText(OutcomeOf(finished, exception, false));
                request.message = message;
            }
        }
    };
    return handlers;
}

// One line per job on stdout; the exit status.
int PrintOutcomes(const std::vector<JobRequest>& requests, bool any_failed) {
    bool any_stopped = false;
    for (const JobRequest& request : requests) {
        std::printf("%s -> %s: %s%s%s\n", request.input.c_str(), request.output.c_str(),
                    request.outcome.c_str(), request.message.empty() ? "" : ": ",
                    request.message.c_str());
        any_failed = any_failed || request.outcome == "Fail";
        any_stopped = any_stopped || request.outcome == "Abort";
    }
    std::fflush(stdout);
    if (any_stopped && InterruptScope::Interrupted())
        return 130;
    return any_failed || any_stopped ? 1 : 0;
}

} // namespace

int RunTranscode(int argc, char* argv[]) {
    TranscodeRequest parsed;
    if (!ParseTranscode(argc, argv, parsed))
        return Usage();
    std::vector<JobRequest>& requests = parsed.jobs;
    TFFmpegEngine engine;
    if (!engine.LoadAVLib(LibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", engine.LastErrMsg().c_str());
        return 2;
    }
    engine.SetLogLevel(parsed.level);

    BatchState state;
    // Declared after the engine and all that the handlers use, it goes first: the log lines the
    // engine's shutdown still raises find no handler.
    const TEngineConnection connection(engine, PrintingHandlers(state, requests, parsed.level));

    const bool any_failed = AddJobs(engine, requests);

    const InterruptScope interrupt;
    if (engine.TaskCount() > 0) {
        engine.StartConvert(parsed.limit);
        std::unique_lock guard(state.lock);
        WaitForBatch(engine, guard, state.batch_ended, state.ended);
        if (state.progress_shown)
            std::fputc('\n', stderr);
    }
    return PrintOutcomes(requests, any_failed);
}

} // namespace clipwright::cli
