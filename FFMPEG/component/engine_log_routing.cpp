#include "FFMPEG/component/engine_log_routing.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/c_locale.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/component/engine.h"

namespace clipwright {

namespace {

constexpr size_t kLogBuffer = 2048;

// The live components. A log call takes the lock only to count itself in and out as a user of
// each component, never while it calls one: a component going away waits for its users.
struct Components {
    struct Live {
        TCustomFFmpegEngine* component;
        int users = 0;
        bool leaving = false;
    };
    std::mutex lock; // a leaf
    std::condition_variable left;
    std::vector<Live> live;
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

// The components live now, each counted as used until this object goes.
class ComponentsInUse {
public:
    ComponentsInUse() {
        Components& components = TheComponents();
        std::lock_guard guard(components.lock);
        for (Components::Live& live : components.live) {
            if (live.leaving)
                continue;
            ++live.users;
            used_.push_back(live.component);
        }
    }
    ComponentsInUse(const ComponentsInUse&) = delete;
    ComponentsInUse& operator=(const ComponentsInUse&) = delete;
    ~ComponentsInUse() {
        Components& components = TheComponents();
        {
            std::lock_guard guard(components.lock);
            for (Components::Live& live : components.live) {
                if (std::find(used_.begin(), used_.end(), live.component) != used_.end())
                    --live.users;
            }
        }
        components.left.notify_all();
    }
    const std::vector<TCustomFFmpegEngine*>& Used() const { return used_; }

private:
    std::vector<TCustomFFmpegEngine*> used_;
};

void RouteLines(int av_level, void* context, const char* format, va_list args) {
    const int level = EngineLevelFromAv(av_level);
    if (level > CurrentLogLevel())
        return;
    const uint32_t thread = CurrentThreadId();
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

void EngineLogCallback(void* context, int av_level, const char* format, va_list args) {
    try {
        RouteLines(av_level, context, format, args);
    } catch (...) {
        // Nothing may unwind through the library's frames; the line is lost.
    }
}

} // namespace

void RegisterComponent(TCustomFFmpegEngine* component) {
    Components& components = TheComponents();
    std::lock_guard guard(components.lock);
    components.live.push_back({component});
}

void UnregisterComponent(TCustomFFmpegEngine* component) {
    Components& components = TheComponents();
    std::unique_lock guard(components.lock);
    const auto find = [&] {
        return std::find_if(
            components.live.begin(), components.live.end(),
            [&](const Components::Live& live) { return live.component == component; });
    };
    auto live = find();
    if (live == components.live.end())
        return;
    live->leaving = true;
    components.left.wait(guard, [&] { return find()->users == 0; });
    components.live.erase(find());
}

void InstallLogRouting() {
    av().av_log_set_callback(&EngineLogCallback);
}

void ClearLogList() {
    LogList& list = TheLogList();
    std::lock_guard guard(list.lock);
    list.pending.clear();
}

// Queued in every component with its job on that thread; raised as each component's event lock
// allows, which a log call never waits for.
void TCustomFFmpegEngine::RouteLogLine(uint32_t thread, int level, const std::string& line) {
    const ComponentsInUse components;
    for (TCustomFFmpegEngine* component : components.Used()) {
        uint64_t serial = 0;
        {
            std::lock_guard guard(component->list_lock_);
            const int index = component->jobs_.IndexOfThread(thread);
            serial = index >= 0 ? component->jobs_[index].serial : 0;
        }
        component->QueueLog(serial, level, line);
    }
}

} // namespace clipwright
