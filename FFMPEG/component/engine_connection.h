// TEngineConnection: a program's hold on an engine's OnLog, OnProgress and OnTerminate that
// undoes itself. It assigns its handlers when it is made and clears them when it goes; once its
// destructor has returned no handler of it is running or will be called, not even for log lines
// still queued (the engine's shutdown raises those). Declared after the engine and after
// everything its handlers use, it goes first.
//
// One connection per engine at a time: the one that goes clears the events, whoever set them.
// Threads: make and destroy it on any thread but not from inside an event of that engine (the
// handler running would be destroyed). The handlers are called on the engine's threads, as the
// engine's header says. The hook events are raised without the event lock, so no connection can
// take them back safely while a job runs: assign those while no job runs.
#pragma once

#include "FFMPEG/component/engine.h"

namespace clipwright {

class TEngineConnection {
public:
    struct Handlers {
        TCustomFFmpegEngine::TLogEvent OnLog;
        TCustomFFmpegEngine::TProgressEvent OnProgress; // empty: no progress wanted
        TCustomFFmpegEngine::TTerminateEvent OnTerminate;
    };

    TEngineConnection(TCustomFFmpegEngine& engine, Handlers handlers) : engine_(engine) {
        engine_.SetEvents(std::move(handlers.OnLog), std::move(handlers.OnProgress),
                          std::move(handlers.OnTerminate));
    }
    ~TEngineConnection() { engine_.SetEvents(nullptr, nullptr, nullptr); }
    TEngineConnection(const TEngineConnection&) = delete;
    TEngineConnection& operator=(const TEngineConnection&) = delete;

private:
    TCustomFFmpegEngine& engine_;
};

} // namespace clipwright
