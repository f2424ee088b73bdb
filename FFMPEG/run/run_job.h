// The one way a job is run: its run takes the job's files and sees the job only as its settings
// and its control (run_control.h); the job is told how the run ended. On the job's thread (its
// worker, or the caller's in place).
#pragma once

#include "FFMPEG/job/custom_ffmpeg.h"

namespace clipwright {

// Runs a job that BeginRun let start, to its end: nothing thrown leaves it, and the job has
// ended (JobEnded raised) when it returns.
void RunBegunJob(TCustomFFmpeg& job) noexcept;

// Starts and runs the job in place: BeginRun, then RunBegunJob when it lets the run start.
void ExecuteJob(TCustomFFmpeg& job);

} // namespace clipwright
