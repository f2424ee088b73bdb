#include "FFMPEG/binding/video_hook.h"

#include <dlfcn.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "FFMPEG/binding/engine_log.h"

namespace clipwright {

namespace {

struct ModuleCloser {
    void operator()(void* handle) const noexcept { dlclose(handle); }
};

struct HookModule {
    std::string key;
    std::unique_ptr<void, ModuleCloser> handle;
};

// What a module is known by: the canonical path of its file, so that two names of one file
// share a module and two files (say, names differing only in case) never do. A bare name, which
// the loader looks up along its search path, stays as it is.
std::string ModuleKey(const char* file_name) {
    const std::string name(file_name);
    if (name.find('/') == std::string::npos)
        return name;
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(name, error);
    return error ? name : canonical.string();
}

// Plug-in modules stay loaded until the process ends: entries of finished jobs may be gone,
// but a plug-in may keep state between jobs.
struct HookModules {
    std::mutex lock;
    std::vector<HookModule> modules;
};

HookModules& Modules() {
    static HookModules modules;
    return modules;
}

// The module for `file_name`, loading it on first use; null (and the system's message in the
// log) when it cannot be loaded.
void* FindOrLoadModule(const char* file_name) {
    const std::string key = ModuleKey(file_name);
    HookModules& registry = Modules();
    std::lock_guard guard(registry.lock);
    for (const HookModule& module : registry.modules) {
        if (module.key == key)
            return module.handle.get();
    }
    void* handle = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        EngineLog(kErrorLevel, "%s\n", reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    registry.modules.push_back({key, std::unique_ptr<void, ModuleCloser>(handle)});
    return handle;
}

} // namespace

int VideoHookList::Add(int argc, char* argv[]) {
    if (argc <= 0)
        return -2;
    void* module = FindOrLoadModule(argv[0]);
    if (module == nullptr)
        return -1;

    Entry entry;
    entry.configure = reinterpret_cast<CwHookConfigure>(dlsym(module, "Configure"));
    entry.process = reinterpret_cast<CwHookProcess>(dlsym(module, "Process"));
    entry.release = reinterpret_cast<CwHookRelease>(dlsym(module, "Release"));
    if (entry.process == nullptr) {
        EngineLog(kErrorLevel, "Failed to find Process entrypoint in %s\n", argv[0]);
        return -2;
    }
    if (entry.configure == nullptr && argc > 1) {
        EngineLog(kErrorLevel, "Failed to find Configure entrypoint in %s\n", argv[0]);
        return -2;
    }
    if (entry.configure != nullptr && entry.configure(&entry.context, argc, argv) != 0) {
        EngineLog(kErrorLevel, "Failed to Configure %s\n", argv[0]);
        return -22;
    }
    try {
        entries_.push_back(entry);
    } catch (const std::bad_alloc&) {
        if (entry.release != nullptr)
            entry.release(entry.context);
        return -12;
    }
    return 0;
}

void VideoHookList::Process(CwHookPicture* picture, int pixel_format, int width, int height,
                            int64_t pts) const {
    for (const Entry& entry : entries_)
        entry.process(entry.context, picture, pixel_format, width, height, pts);
}

void VideoHookList::Release() {
    for (const Entry& entry : entries_) {
        if (entry.release != nullptr)
            entry.release(entry.context);
    }
    entries_.clear();
}

std::size_t LoadedHookModuleCount() {
    HookModules& registry = Modules();
    std::lock_guard guard(registry.lock);
    return registry.modules.size();
}

} // namespace clipwright
