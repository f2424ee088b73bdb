// Linked into a build compiled with -finstrument-functions: records every caller → callee pair
// of the program's own functions (offsets from its load address), one call stack per thread,
// and writes them to $CALL_WALK_OUT at exit for call_walk.py.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <utility>

namespace {

struct Edges {
    std::mutex lock;
    std::set<std::pair<unsigned long, unsigned long>> pairs;
    unsigned long base = 0;
};

void Write();

__attribute__((no_instrument_function)) Edges& Recorded() {
    static Edges edges;
    // Registered after `edges` is built, so it runs before `edges` goes.
    static const bool registered = [] {
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&Recorded), &info) != 0)
            edges.base = reinterpret_cast<unsigned long>(info.dli_fbase);
        return std::atexit(Write) == 0;
    }();
    (void)registered;
    return edges;
}

__attribute__((no_instrument_function)) void Write() {
    const char* path = std::getenv("CALL_WALK_OUT");
    Edges& edges = Recorded();
    if (path == nullptr)
        return;
    if (FILE* out = std::fopen(path, "w")) {
        const std::lock_guard<std::mutex> hold(edges.lock);
        for (const auto& [caller, callee] : edges.pairs)
            std::fprintf(out, "%lx %lx\n", caller, callee);
        std::fclose(out);
    }
}

// Plain arrays: nothing to destroy when a thread ends while instrumented code still runs.
constexpr int kDepth = 4096;
thread_local unsigned long stack[kDepth];
thread_local int depth = 0;

} // namespace

extern "C" {

__attribute__((no_instrument_function)) void __cyg_profile_func_enter(void* function, void*) {
    Edges& edges = Recorded();
    const unsigned long self = reinterpret_cast<unsigned long>(function) - edges.base;
    const unsigned long caller = depth > 0 ? stack[depth - 1] : 0;
    {
        const std::lock_guard<std::mutex> hold(edges.lock);
        edges.pairs.emplace(caller, self);
    }
    if (depth < kDepth)
        stack[depth] = self;
    ++depth;
}

__attribute__((no_instrument_function)) void __cyg_profile_func_exit(void*, void*) {
    if (depth > 0)
        --depth;
}

} // extern "C"
