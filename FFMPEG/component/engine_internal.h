// What the component's source files share: the per-thread event depth and the event lock.
#pragma once

#include <atomic>

#include "FFMPEG/component/engine.h"

namespace clipwright {

// How many events, of any component, this thread is inside: such a thread must not wait for
// a job to be freed, since that job's thread may be waiting for the event lock it holds.
extern thread_local int tls_event_depth;

// Holds the event lock. Taking it raises the log lines queued so far, so that a line logged
// before an event is raised before it; leaving it raises those queued meanwhile.
class TCustomFFmpegEngine::EventScope {
public:
    explicit EventScope(TCustomFFmpegEngine& engine) : engine_(engine) {
        engine_.lock_.lock();
        ++tls_event_depth;
        engine_.DeliverLogs();
    }
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;
    ~EventScope() {
        --tls_event_depth;
        engine_.lock_.unlock();
        // Pairs with the fence in QueueLog: a line whose thread found the lock held is seen here.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        engine_.DeliverLogs();
    }

private:
    TCustomFFmpegEngine& engine_;
};

} // namespace clipwright
