#include "FFMPEG/binding/engine_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/c_locale.h"

namespace clipwright {

namespace {
std::atomic<int> gCurrentLogLevel{kInfoLevel};
}

int AvLevelFromEngine(int engine_level) {
    if (engine_level < kErrorLevel)
        return AV_LOG_QUIET;
    switch (engine_level) {
    case kErrorLevel:
        return AV_LOG_WARNING; // the engine's error level covers warnings too
    case kInfoLevel:
        return AV_LOG_INFO;
    case kDebugLevel:
        return AV_LOG_DEBUG;
    default:
        return AV_LOG_TRACE;
    }
}

int EngineLevelFromAv(int av_level) {
    if (av_level < AV_LOG_PANIC)
        return kQuietLevel;
    if (av_level <= AV_LOG_WARNING)
        return kErrorLevel;
    if (av_level <= AV_LOG_INFO)
        return kInfoLevel;
    if (av_level <= AV_LOG_DEBUG)
        return kDebugLevel;
    return kAllLevel;
}

int CurrentLogLevel() {
    return gCurrentLogLevel.load(std::memory_order_relaxed);
}

void SetCurrentLogLevel(int engine_level) {
    gCurrentLogLevel.store(engine_level, std::memory_order_relaxed);
}

void RefreshCurrentLogLevel() {
    if (av().av_log_get_level != nullptr)
        SetCurrentLogLevel(EngineLevelFromAv(av().av_log_get_level()));
}

void SetLibraryLogLevel(int engine_level) {
    if (av().av_log_set_level != nullptr) {
        av().av_log_set_level(AvLevelFromEngine(engine_level));
        RefreshCurrentLogLevel();
    } else {
        SetCurrentLogLevel(engine_level);
    }
}

void EngineLog(int engine_level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (av().av_vlog != nullptr) {
        av().av_vlog(nullptr, AvLevelFromEngine(engine_level), format, args);
    } else if (engine_level <= CurrentLogLevel()) {
        const CLocaleScope c_locale;
        std::vfprintf(stderr, format, args);
    }
    va_end(args);
}

} // namespace clipwright
