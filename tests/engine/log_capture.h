// Collects what reaches the library's log while it lives, as the engine's log routing would
// see it: one string per call, formatted, with the call's engine level.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/engine_log.h"

namespace clipwright::testing {

class LogCapture {
public:
    LogCapture() {
        std::lock_guard guard(Lock());
        Entries().clear();
        previous_level_ = av().av_log_get_level();
        av().av_log_set_level(AV_LOG_DEBUG);
        av().av_log_set_callback(&LogCapture::Callback);
    }
    ~LogCapture() {
        av().av_log_set_callback(av().av_log_default_callback);
        av().av_log_set_level(previous_level_);
    }

    // (engine level, text) of every call without a context object, in order.
    std::vector<std::pair<int, std::string>> Messages() const {
        std::lock_guard guard(Lock());
        return Entries();
    }
    bool Contains(int level, const std::string& text) const {
        for (const auto& [l, t] : Messages()) {
            if (l == level && t == text)
                return true;
        }
        return false;
    }

private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::pair<int, std::string>>& Entries() {
        static std::vector<std::pair<int, std::string>> entries;
        return entries;
    }
    static void Callback(void* context, int level, const char* format, va_list args) {
        if (context != nullptr)
            return; // the library's own chatter about its objects
        char text[2048];
        std::vsnprintf(text, sizeof text, format, args);
        std::lock_guard guard(Lock());
        Entries().emplace_back(EngineLevelFromAv(level), text);
    }

    int previous_level_ = AV_LOG_INFO;
};

} // namespace clipwright::testing
