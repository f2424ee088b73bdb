#include "FFMPEG/component/engine.h"

#include <cstdlib>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/run/run_job.h"
#include "FFMPEG/component/engine_internal.h"
#include "FFMPEG/component/engine_log_routing.h"

namespace clipwright {

thread_local int tls_event_depth = 0;

namespace {

// The engine level for the component's public level; the jobs and the library routing speak
// engine levels.
int EngineLevelOf(TLogLevel level) {
    switch (level) {
    case llQuiet:
        return kQuietLevel;
    case llError:
        return kErrorLevel;
    case llInfo:
        return kInfoLevel;
    case llDebug:
        return kDebugLevel;
    case llAll:
        break;
    }
    return kAllLevel;
}

// Nice values for the seven priorities, idle to time-critical.
constexpr int kNiceValues[] = {19, 10, 5, 0, -5, -10, -20};

void SetOsThreadPriority(uint32_t thread_id, TConvertPriority priority) {
    // A refused raise is ignored: the job runs at the priority it has.
    setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNiceValues[priority]);
}

// Whether this thread runs a job (its worker thread, or the caller in synchronous mode).
thread_local bool tls_runs_job = false;
// The jobs this thread is to start, while it starts jobs: a job that ends at once and lets the
// next one start adds it here instead of starting it one call deeper.
thread_local std::deque<std::pair<TCustomFFmpegEngine*, TFFmpeg*>>* tls_launches = nullptr;

} // namespace

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// ---- component ----

TCustomFFmpegEngine::TCustomFFmpegEngine() {
    RegisterComponent(this);
}

TCustomFFmpegEngine::~TCustomFFmpegEngine() {
    Shutdown();
}

void TCustomFFmpegEngine::Shutdown() {
    {
        std::lock_guard guard(list_lock_);
        if (shut_down_)
            return;
        shut_down_ = true;
    }
    Stop();
    {
        std::unique_lock guard(list_lock_);
        job_ended_.wait(guard, [this] {
            return std::none_of(
                jobs_.Entries().begin(), jobs_.Entries().end(),
                [](const TFFmpegList::Entry& entry) { return entry.state == TJobState::Running; });
        });
    }
    ClearTasks();
    {
        std::lock_guard guard(list_lock_);
        reaper_stop_ = true;
    }
    reaper_wake_.notify_all();
    if (reaper_.joinable())
        reaper_.join();
    removed_.clear(); // none are left: every thread that used them has returned
    UnregisterComponent(this);
    DeliverLogs();
}

void TCustomFFmpegEngine::SetLogLevel(TLogLevel level) {
    log_level_ = level;
    if (LibrariesLoaded())
        SetLibraryLogLevel(EngineLevelOf(level));
}

void TCustomFFmpegEngine::SetProgressInterval(int32_t milliseconds) {
    progress_interval_ = std::max(milliseconds, 100);
}

const std::string& TCustomFFmpegEngine::LastErrMsg() const {
    std::lock_guard guard(list_lock_);
    return last_err_msg_[std::this_thread::get_id()]; // a node: it stays where it is
}

void TCustomFFmpegEngine::SetLastErrMsg(const std::string& message) {
    std::lock_guard guard(list_lock_);
    last_err_msg_[std::this_thread::get_id()] = message;
}

int32_t TCustomFFmpegEngine::TaskCount() const {
    std::lock_guard guard(list_lock_);
    return jobs_.Count();
}

TFFmpeg& TCustomFFmpegEngine::Task(int32_t index) {
    std::lock_guard guard(list_lock_);
    return *jobs_[index].job;
}

bool TCustomFFmpegEngine::LoadAVLib(const std::string& folder, bool versioned) {
    if (!LoadAllLibraries(folder, versioned)) {
        SetLastErrMsg(LoadErrorText());
        return false;
    }
    InstallLogRouting();
    SetLibraryLogLevel(EngineLevelOf(log_level_.load()));
    // The AV1 encoder prints its settings straight to the terminal unless told to keep to
    // errors; the user's own setting wins. Set here, on the loading thread, before any job.
    setenv("SVT_LOG", "1", 0);
    return true;
}

int32_t TCustomFFmpegEngine::AddInputFile(const std::string& file_name, TInputOptions* options) {
    auto job = std::make_unique<TFFmpeg>();
    try {
        TAVProbe::CheckLibraries();
        job->Prepare();
        job->SetVerbosity(EngineLevelOf(log_level_.load()));
        if (!BuildInput(*job, file_name, options)) {
            SetLastErrMsg(job->LastError);
            return -1;
        }
    } catch (const std::exception& error) {
        SetLastErrMsg(error.what());
        return -1;
    }
    job->SetEvents(this);
    std::lock_guard guard(list_lock_);
    return jobs_.Add(std::move(job), ++last_serial_).job->Index;
}

bool TCustomFFmpegEngine::SetOutputFile(int32_t index, const std::string& file_name,
                                        TOutputOptions* options) {
    TFFmpeg* job = nullptr;
    {
        std::lock_guard guard(list_lock_);
        TFFmpegList::Entry& entry = jobs_[index];
        if (entry.state != TJobState::Queued) {
            last_err_msg_[std::this_thread::get_id()] =
                FormatText("Task %d is in a batch or busy: its output stays as it is", index);
            return false;
        }
        // Outside the lock below, the job's options change: no batch takes it meanwhile, and the
        // pin keeps it from being freed if another thread removes it.
        entry.state = TJobState::Configuring;
        ++entry.pins;
        job = entry.job.get();
    }
    bool opened = false;
    try {
        opened = BuildOutput(*job, file_name, options, [](TFFmpeg& built) {
            if (built.OutputOptions.CustomHookEnabled)
                built.HookCall = THookCall::CustomHook;
            else if (built.OutputOptions.BeforeHookEnabled)
                built.HookCall = THookCall::BeforeHook;
        });
        if (!opened)
            SetLastErrMsg(job->LastError);
    } catch (const std::exception& error) {
        SetLastErrMsg(error.what());
    }
    Unpin(*job);
    return opened;
}

void TCustomFFmpegEngine::RemoveTask(int32_t index) {
    std::vector<TFFmpeg*> starts;
    std::vector<const TFFmpeg*> removed;
    {
        EventScope events(*this);
        const TFFmpeg* job = nullptr;
        {
            std::lock_guard guard(list_lock_);
            job = jobs_[index].job.get();
        }
        EndRemoved(index);
        {
            std::lock_guard guard(list_lock_);
            // The end's handler may have moved or removed the job.
            const int now = jobs_.IndexOf(job);
            if (now >= 0) {
                Bury(jobs_.Take(now));
                removed.push_back(job);
            }
        }
        starts = Advance();
    }
    reaper_wake_.notify_all();
    LaunchAll(std::move(starts));
    WaitFreed(removed);
}

void TCustomFFmpegEngine::ClearTasks() {
    std::vector<TFFmpeg*> starts;
    std::vector<const TFFmpeg*> removed;
    {
        EventScope events(*this);
        for (;;) {
            int running = -1;
            {
                std::lock_guard guard(list_lock_);
                for (int i = 0; i < jobs_.Count() && running < 0; ++i)
                    running = jobs_[i].state == TJobState::Running ? i : -1;
            }
            if (running < 0)
                break;
            EndRemoved(running);
        }
        {
            std::lock_guard guard(list_lock_);
            for (TFFmpegList::Entry& entry : jobs_.TakeAll()) {
                removed.push_back(entry.job.get());
                Bury(std::move(entry));
            }
            const auto own = last_err_msg_.find(std::this_thread::get_id());
            if (own != last_err_msg_.end())
                own->second.clear();
        }
        starts = Advance();
    }
    reaper_wake_.notify_all();
    LaunchAll(std::move(starts));
    WaitFreed(removed);
}

void TCustomFFmpegEngine::EndRemoved(int index) {
    {
        std::lock_guard guard(list_lock_);
        TFFmpegList::Entry& entry = jobs_[index];
        if (entry.state != TJobState::Running)
            return;
        entry.state = TJobState::Ended;
        entry.job->StopRequested = true;
        entry.job->SetPaused(false);
    }
    job_ended_.notify_all();
    // Not the job's own flags: its thread may be writing them while it stops.
    RaiseTerminate(index, false, false, "");
}

void TCustomFFmpegEngine::WaitFreed(const std::vector<const TFFmpeg*>& jobs) {
    if (jobs.empty() || tls_event_depth > 0 || tls_runs_job)
        return;
    std::unique_lock guard(list_lock_);
    // Compared, never followed.
    const auto pending = [&](const TFFmpeg* job) {
        return std::any_of(
                   removed_.begin(), removed_.end(),
                   [job](const TFFmpegList::Entry& entry) { return entry.job.get() == job; }) ||
               std::find(being_freed_.begin(), being_freed_.end(), job) != being_freed_.end();
    };
    freed_.wait(guard, [&] { return std::none_of(jobs.begin(), jobs.end(), pending); });
}

void TCustomFFmpegEngine::StartConvert(int32_t limit) {
    ClearLogList();
    uint64_t batch = 0;
    std::vector<TFFmpeg*> starts;
    {
        EventScope events(*this);
        {
            std::lock_guard guard(list_lock_);
            for (TFFmpegList::Entry& entry : jobs_.Entries()) {
                if (entry.state != TJobState::Queued)
                    continue;
                if (batch == 0) {
                    batch = ++last_batch_;
                    batches_.push_back({batch, limit});
                }
                entry.state = TJobState::Waiting;
                entry.batch = batch;
            }
        }
        if (batch == 0)
            return;
        if (limit > 0)
            starts = Advance();
    }
    if (limit > 0)
        LaunchAll(std::move(starts));
    else
        RunInPlace(batch);
}

std::vector<TFFmpeg*> TCustomFFmpegEngine::Advance() {
    std::vector<TFFmpeg*> starts;
    int ended_batches = 0;
    {
        std::lock_guard guard(list_lock_);
        for (auto batch = batches_.begin(); batch != batches_.end();) {
            int running = 0;
            bool open = false;
            for (const TFFmpegList::Entry& entry : jobs_.Entries()) {
                if (entry.batch != batch->id)
                    continue;
                running += entry.state == TJobState::Running ? 1 : 0;
                open = open || entry.state == TJobState::Waiting ||
                       entry.state == TJobState::Running || entry.state == TJobState::EndDue;
            }
            // Synchronous batches are started by the StartConvert that runs them.
            for (TFFmpegList::Entry& entry : jobs_.Entries()) {
                if (batch->limit <= 0 || running >= batch->limit)
                    break;
                if (entry.batch != batch->id || entry.state != TJobState::Waiting)
                    continue;
                entry.state = TJobState::Running;
                ++entry.pins;
                starts.push_back(entry.job.get());
                ++running;
            }
            if (open) {
                ++batch;
            } else {
                batch = batches_.erase(batch);
                ++ended_batches;
            }
        }
    }
    for (int i = 0; i < ended_batches; ++i)
        DoTerminate(nullptr);
    return starts;
}

void TCustomFFmpegEngine::LaunchAll(std::vector<TFFmpeg*> jobs) {
    if (jobs.empty())
        return;
    if (tls_launches != nullptr) {
        for (TFFmpeg* job : jobs)
            tls_launches->emplace_back(this, job);
        return;
    }
    std::deque<std::pair<TCustomFFmpegEngine*, TFFmpeg*>> launches;
    for (TFFmpeg* job : jobs)
        launches.emplace_back(this, job);
    struct Owner {
        explicit Owner(std::deque<std::pair<TCustomFFmpegEngine*, TFFmpeg*>>* queue) {
            tls_launches = queue;
        }
        ~Owner() { tls_launches = nullptr; }
    } owner(&launches);
    while (!launches.empty()) {
        const auto [engine, job] = launches.front();
        launches.pop_front();
        engine->Launch(*job);
    }
}

void TCustomFFmpegEngine::PrepareRun(TFFmpeg& job) {
    job.ProgressInterval = int64_t{progress_interval_} * 1000;
    job.SetVerbosity(EngineLevelOf(log_level_.load()));
}

void TCustomFFmpegEngine::Launch(TFFmpeg& job) {
    PrepareRun(job);
    if (job.StopRequested) {
        // Stopped or removed between its pick and now: it ends without a run.
        job.Terminate();
    } else if (job.BeginRun()) {
        try {
            job.Worker = std::thread([this, &job, priority = thread_priority_.load()] {
                tls_runs_job = true;
                job.ThreadID = CurrentThreadId();
                SetOsThreadPriority(job.ThreadID, priority);
                RunBegunJob(job);
            });
        } catch (const std::system_error& error) {
            job.ReleaseFiles();
            job.ExceptionRaised = true;
            job.ExceptionMessage = FormatText("Could not start the job's thread: %s", error.what());
            job.Log(kQuietLevel, job.ExceptionMessage);
            job.Terminate();
        }
    }
    Unpin(job);
}

void TCustomFFmpegEngine::RunInPlace(uint64_t batch) {
    const bool ran_job = tls_runs_job;
    for (;;) {
        TFFmpeg* job = nullptr;
        {
            std::lock_guard guard(list_lock_);
            for (TFFmpegList::Entry& entry : jobs_.Entries()) {
                if (entry.batch != batch || entry.state != TJobState::Waiting)
                    continue;
                entry.state = TJobState::Running;
                ++entry.pins;
                entry.in_place = true;
                job = entry.job.get();
                break;
            }
        }
        if (job == nullptr)
            return;
        // Stands in for the one-shot timer of a program with an event loop.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PrepareRun(*job);
        job->ThreadID = CurrentThreadId();
        tls_runs_job = true;
        if (job->StopRequested)
            job->Terminate();
        else if (job->BeginRun())
            RunBegunJob(*job);
        tls_runs_job = ran_job;
        Unpin(*job);
    }
}

void TCustomFFmpegEngine::JobEnded(TCustomFFmpeg& job) {
    std::vector<TFFmpeg*> starts;
    {
        EventScope events(*this);
        bool ended = false;
        {
            std::lock_guard guard(list_lock_);
            const int index = jobs_.IndexOf(&job);
            if (index >= 0 && jobs_[index].state == TJobState::Running) {
                jobs_[index].state = TJobState::Ended;
                ended = true;
            }
        }
        if (!ended)
            return; // removed while running: its end was raised then
        job_ended_.notify_all();
        DoTerminate(&job);
        starts = Advance();
    }
    LaunchAll(std::move(starts));
}

void TCustomFFmpegEngine::Stop() {
    std::vector<TFFmpeg*> starts;
    {
        EventScope events(*this);
        {
            std::lock_guard guard(list_lock_);
            for (TFFmpegList::Entry& entry : jobs_.Entries()) {
                if (entry.state == TJobState::Waiting) {
                    entry.state = TJobState::EndDue;
                } else if (entry.state == TJobState::Running) {
                    entry.job->StopRequested = true;
                    entry.job->SetPaused(false);
                }
            }
        }
        // The ends of the jobs that never started, in list order; a handler may change the list
        // between two of them, so each is looked up afresh.
        for (;;) {
            TFFmpeg* job = nullptr;
            {
                std::lock_guard guard(list_lock_);
                for (TFFmpegList::Entry& entry : jobs_.Entries()) {
                    if (entry.state != TJobState::EndDue)
                        continue;
                    entry.state = TJobState::Ended;
                    job = entry.job.get();
                    job->Running = false;
                    job->Terminated = true;
                    break;
                }
            }
            if (job == nullptr)
                break;
            DoTerminate(job);
        }
        starts = Advance();
    }
    LaunchAll(std::move(starts));
}

void TCustomFFmpegEngine::Pause() {
    std::lock_guard guard(list_lock_);
    for (TFFmpegList::Entry& entry : jobs_.Entries()) {
        // A job running on the caller's thread could never be resumed.
        if (entry.state == TJobState::Running && !entry.in_place)
            entry.job->SetPaused(true);
    }
}

void TCustomFFmpegEngine::Resume() {
    std::lock_guard guard(list_lock_);
    for (TFFmpegList::Entry& entry : jobs_.Entries())
        entry.job->SetPaused(false);
}

// ---- dispatchers ----

} // namespace clipwright
