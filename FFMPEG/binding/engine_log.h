// Engine log levels and the process-wide copy of the library's log level.
// Engine levels: -1 quiet (the message that ended a failed job), 0 error or warning,
// 1 information, 2 debug, 3 and above everything.
#pragma once

namespace clipwright {

// The engine levels by name; jobs carry them as int (their log callback's level).
enum EngineLevel : int {
    kQuietLevel = -1,
    kErrorLevel = 0,
    kInfoLevel = 1,
    kDebugLevel = 2,
    kAllLevel = 3,
};

// The library's level (AV_LOG_*) for an engine level, and back.
int AvLevelFromEngine(int engine_level);
int EngineLevelFromAv(int av_level);

// The process-wide copy, in engine levels, that filters library log callbacks. Shared by all
// jobs: the last one to set it wins.
int CurrentLogLevel();
void SetCurrentLogLevel(int engine_level);

// Re-reads the copy from the bound library (no-op while unbound).
void RefreshCurrentLogLevel();

// Sets the library's level and refreshes the copy (no-op on the library while unbound).
void SetLibraryLogLevel(int engine_level);

// An engine diagnostic through the library's log with no context, like a library message.
// Goes to stderr while the libraries are not bound.
void EngineLog(int engine_level, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace clipwright
