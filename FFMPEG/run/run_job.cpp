#include "FFMPEG/run/run_job.h"

#include <exception>

#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/run/transcode.h"

namespace clipwright {

void RunBegunJob(TCustomFFmpeg& job) noexcept {
    // The whole run and its end, on the worker thread or the caller's: see c_locale.h.
    const CLocaleScope c_locale;
    RunOutcome outcome;
    try {
        outcome = RunFilesOf(job, job, job.TakeFiles());
    } catch (const std::exception& error) {
        outcome = {false, true, error.what()};
    } catch (...) {
        outcome = {false, true, "unknown error"};
    }
    // A receiver that throws from JobEnded has been called: the job has ended all the same.
    try {
        job.EndRun(outcome);
    } catch (const std::exception& error) {
        job.ExceptionMessage = error.what();
    } catch (...) {
        job.ExceptionMessage = "unknown error";
    }
}

void ExecuteJob(TCustomFFmpeg& job) {
    if (job.BeginRun())
        RunBegunJob(job);
}

} // namespace clipwright
