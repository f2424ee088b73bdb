// Applying the option records to a job, in the fixed order the records define, and the record
// text formats (ExtraOptions lines, HookRanges, Timestamp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/options.h"

namespace clipwright {

// Every "name=value" line through the dispatcher; LF, CR LF and CR all break lines.
void ApplyExtraOptions(TCustomFFmpeg& job, const std::string& text);

// The record's fields as options. Throws what the handlers throw; fields before the failing
// one stay applied. Opening the file is the caller's next step.
void ApplyInputOptions(TCustomFFmpeg& job, const TInputOptions& options);
void ApplyOutputOptions(TCustomFFmpeg& job, const TOutputOptions& options);

// The job's side of adding an input or output: the record (when given) gets the file name if
// it has none, is copied into the job and applied, then the file is opened. False: LastError
// says why. Handler errors are thrown, as the records' own application throws them.
bool BuildInput(TFFmpeg& job, const std::string& file_name, TInputOptions* options);
// `applied`, when given, runs after the record is applied and before the file opens (the
// component wires the hook events there).
bool BuildOutput(TFFmpeg& job, const std::string& file_name, TOutputOptions* options,
                 const std::function<void(TFFmpeg&)>& applied = {});

// "0-1000, 2000-3000": the kept ranges in microseconds, sorted by their ends.
std::vector<std::pair<int64_t, int64_t>> ParseHookRanges(const std::string& text);

// Days since 1899-12-30 local time to seconds since 1970 UTC, with the zone's standard bias
// in minutes (UTC = local + bias).
int64_t TimestampToUnixSeconds(double days, int bias_minutes);
// The zone's standard bias in minutes, daylight saving not applied.
int StandardBiasMinutes();

// 0x00BBGGRR, with a system colour (top byte 0x80) resolved to its classic default.
uint32_t ResolveColor(uint32_t color);

} // namespace clipwright
