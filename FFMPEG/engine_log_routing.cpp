#include "FFMPEG/engine_log_routing.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/c_locale.h"
#include "FFMPEG/engine.h"
#include "FFMPEG/engine_log.h"

namespace clipwright {

namespace {

constexpr size_t kLogBuffer = 2048;

struct Components {
    std::mutex lock;
    std::vector<TCustomFFmpegEngine*> live;
};

Components& TheComponents() {
    static Components components;
    return components;
}

// TLogList: the text each thread has logged without a line feed yet.
struct LogList {
    std::mutex lock; // a leaf: nothing else is locked while it is held
    std::unordered_map<uint32_t, std::string> pending;
};

LogList& TheLogList() {
    static LogList list;
    return list;
}

void EngineLogCallback(void* context, int av_level, const char* format, va_list args) {
    const int level = EngineLevelFromAv(av_level);
    if (level > CurrentLogLevel())
        return;
    const uint32_t thread = CurrentThreadId();
    Components& components = TheComponents();
    std::lock_guard components_guard(components.lock);

    std::vector<std::string> lines;
    {
        LogList& list = TheLogList();
        std::lock_guard list_guard(list.lock);
        std::string& pending = list.pending[thread];
        char buffer[kLogBuffer] = {};
        size_t used = 0;
        const AVClass* cls = context != nullptr ? *static_cast<AVClass**>(context) : nullptr;
        if (cls != nullptr && pending.empty()) {
            const char* name =
                cls->item_name != nullptr ? cls->item_name(context) : cls->class_name;
            used = static_cast<size_t>(std::snprintf(
                buffer, kLogBuffer, "[%s @ %08X]", name != nullptr ? name : "",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(cls) & 0xFFFFFFFFu)));
        } else {
            used = std::min(pending.size(), kLogBuffer - 1);
            std::memcpy(buffer, pending.data(), used);
        }
        used = std::min(used, kLogBuffer - 1);
        // Bounded by the buffer: a longer message is cut, never written past it, and what was
        // kept ends its line (the cut-off part held the line feed). The libraries' numbers are
        // printed with a point on every thread, their own codec threads included.
        const CLocaleScope c_locale;
        const int wanted = std::vsnprintf(buffer + used, kLogBuffer - used, format, args);
        std::string text(buffer);
        if (wanted >= 0 && static_cast<size_t>(wanted) >= kLogBuffer - used)
            text += '\n';
        size_t start = 0;
        for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        pending = text.substr(start);
    }
    for (const std::string& line : lines)
        TCustomFFmpegEngine::RouteLogLine(thread, level, line);
}

} // namespace

void RegisterComponent(TCustomFFmpegEngine* component) {
    Components& components = TheComponents();
    std::lock_guard guard(components.lock);
    components.live.push_back(component);
}

void UnregisterComponent(TCustomFFmpegEngine* component) {
    Components& components = TheComponents();
    std::lock_guard guard(components.lock);
    components.live.erase(std::remove(components.live.begin(), components.live.end(), component),
                          components.live.end());
}

void InstallLogRouting() {
    av().av_log_set_callback(&EngineLogCallback);
}

void ClearLogList() {
    LogList& list = TheLogList();
    std::lock_guard guard(list.lock);
    list.pending.clear();
}

// Runs with the component list locked: every component, the job of that thread in it.
void TCustomFFmpegEngine::RouteLogLine(uint32_t thread, int level, const std::string& line) {
    for (TCustomFFmpegEngine* component : TheComponents().live) {
        TFFmpeg* job = component->FindJobByThread(thread);
        component->DoLog(job, level, line);
    }
}

} // namespace clipwright
