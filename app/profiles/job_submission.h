// The road from a file to a running engine job, one for every front end: the engine's probe
// describes the source for its row and its plan, and a plan becomes a job of its own. The window
// and the command line both go through here, so a file is listed, planned and started alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/profiles/conversion_plan.h"

namespace clipwright {

class TAVProbe;
class TFFmpegEngine;

// A source as the file list shows it and as its plan reads it.
struct ProbedSource {
    bool loaded = false; // false: the probe could not open it (`error` says why), nothing is known
    std::string error;
    PlanSource source; // the size text and aspect from the first video stream, if any
    std::optional<std::string> frame_rate = " "; // " " without video; none: a zero denominator
    std::string duration;                        // the container's, as DurationText shows it
};

// Probes `file` with `probe`, closing it again. The probe's exceptions pass through.
ProbedSource ProbeSource(TAVProbe& probe, const std::string& file);

// What became of a plan handed to the engine.
struct SubmittedJob {
    enum class Step { Started, InputRefused, OutputRefused, StartFailed };
    Step step = Step::InputRefused;
    int32_t index = -1; // the job's, once added; after OutputRefused the job is gone again
    std::string reason; // why it did not start

    bool Started() const { return step == Step::Started; }
};

// Adds the plan's job to `engine` (with copies of its records, which the engine writes into),
// gives it the plan's temporary output and starts it, at most one at a time. A job whose output
// is refused is removed again; a start that throws stops the engine. From the thread that owns
// the engine's jobs, not from inside one of its events.
SubmittedJob SubmitPlan(TFFmpegEngine& engine, const ConversionPlan& plan);

} // namespace clipwright
