#include "FFMPEG/engine.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>

#include "FFMPEG/av_binding.h"
#include "FFMPEG/engine_log.h"
#include "FFMPEG/engine_log_routing.h"
#include "FFMPEG/job_options.h"
#include "FFMPEG/text_format.h"

namespace clipwright {

namespace {

// Nice values for the seven priorities, idle to time-critical.
constexpr int kNiceValues[] = {19, 10, 5, 0, -5, -10, -20};

void SetOsThreadPriority(uint32_t thread_id, TConvertPriority priority) {
    // A refused raise is ignored: the job runs at the priority it has.
    setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNiceValues[priority]);
}

} // namespace

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// ---- job list ----

TFFmpeg& TFFmpegList::Add(std::unique_ptr<TFFmpeg> job) {
    job->Index = static_cast<int32_t>(jobs_.size());
    jobs_.push_back(std::move(job));
    return *jobs_.back();
}

std::unique_ptr<TFFmpeg> TFFmpegList::Take(int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range(FormatText("List index out of bounds (%d)", index));
    std::unique_ptr<TFFmpeg> job = std::move(jobs_[index]);
    jobs_.erase(jobs_.begin() + index);
    for (int i = index; i < Count(); ++i)
        jobs_[i]->Index = i;
    return job;
}

void TFFmpegList::Delete(int index) {
    Take(index);
} // the job's destructor waits for its thread

void TFFmpegList::Clear() {
    jobs_.clear();
}

TFFmpeg& TFFmpegList::operator[](int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range(FormatText("List index out of bounds (%d)", index));
    return *jobs_[index];
}

TFFmpeg* TFFmpegList::FindByThread(uint32_t thread_id) {
    for (const std::unique_ptr<TFFmpeg>& job : jobs_) {
        if (job->ThreadID == thread_id)
            return job.get();
    }
    return nullptr;
}

// ---- component ----

TCustomFFmpegEngine::TCustomFFmpegEngine() {
    RegisterComponent(this);
}

TCustomFFmpegEngine::~TCustomFFmpegEngine() {
    UnregisterComponent(this);
    { std::lock_guard wait_for_holders(lock_); }
    JoinTerminateThreads();
    ClearTasks();
}

void TCustomFFmpegEngine::SetLogLevel(TLogLevel level) {
    log_level_ = level;
    if (LibrariesLoaded())
        SetLibraryLogLevel(static_cast<int>(level) - 1);
}

void TCustomFFmpegEngine::SetProgressInterval(int32_t milliseconds) {
    progress_interval_ = std::max(milliseconds, 100);
}

bool TCustomFFmpegEngine::LoadAVLib(const std::string& folder, bool versioned) {
    if (!LoadAllLibraries(folder, versioned)) {
        last_err_msg_ = LoadErrorText();
        return false;
    }
    InstallLogRouting();
    SetLibraryLogLevel(static_cast<int>(log_level_) - 1);
    return true;
}

int32_t TCustomFFmpegEngine::AddInputFile(const std::string& file_name, TInputOptions* options) {
    auto job = std::make_unique<TFFmpeg>();
    try {
        TAVProbe::CheckLibraries();
        job->Prepare();
        job->SetVerbosity(static_cast<int>(log_level_) - 1);
        if (!BuildInput(*job, file_name, options)) {
            last_err_msg_ = job->LastError;
            return -1;
        }
    } catch (const std::exception& error) {
        last_err_msg_ = error.what();
        return -1;
    }
    job->LogCallback = [this](TCustomFFmpeg& j, int level, const std::string& text) {
        DoLog(&j, level, text);
    };
    job->ProgressCallback = [this](TCustomFFmpeg& j, int32_t frame, int32_t fps, int32_t current,
                                   float quality, float bit_rate, int64_t size, int32_t total) {
        DoProgress(j, frame, fps, current, quality, bit_rate, size, total);
    };
    job->TerminateCallback = [this](TCustomFFmpeg& j) { DoTerminate(&j); };
    std::lock_guard guard(jobs_lock_);
    return jobs_.Add(std::move(job)).Index;
}

bool TCustomFFmpegEngine::SetOutputFile(int32_t index, const std::string& file_name,
                                        TOutputOptions* options) {
    TFFmpeg& job = jobs_[index];
    try {
        if (options != nullptr) {
            if (options->FileName.empty())
                options->FileName = file_name;
            job.OutputOptions = *options;
            ApplyOutputOptions(job, job.OutputOptions);
            if (job.OutputOptions.CustomHookEnabled)
                job.CustomHookCallback = [this](TCustomFFmpeg& j, THookBitmap& bitmap,
                                                int32_t frame, int64_t pts, bool& update,
                                                bool& stop) {
                    DoCustomHook(j, bitmap, frame, pts, update, stop);
                };
            else if (job.OutputOptions.BeforeHookEnabled)
                job.BeforeHookCallback = [this](TCustomFFmpeg& j, int64_t pts,
                                                THookAction& action) {
                    DoBeforeHook(j, pts, action);
                };
        }
        if (!job.OpenOutputFile(file_name)) {
            last_err_msg_ = job.LastError;
            return false;
        }
        return true;
    } catch (const std::exception& error) {
        last_err_msg_ = error.what();
        return false;
    }
}

TFFmpeg* TCustomFFmpegEngine::FindJobByThread(uint32_t thread) {
    std::lock_guard guard(jobs_lock_);
    return jobs_.FindByThread(thread);
}

void TCustomFFmpegEngine::RemoveTask(int32_t index) {
    std::unique_ptr<TFFmpeg> removed;
    {
        std::lock_guard guard(jobs_lock_);
        removed = jobs_.Take(index);
    }
    // Freed outside the list lock: freeing waits for the job's thread.
}

void TCustomFFmpegEngine::ClearTasks() {
    JoinTerminateThreads();
    std::vector<std::unique_ptr<TFFmpeg>> removed;
    {
        std::lock_guard guard(jobs_lock_);
        while (jobs_.Count() > 0)
            removed.push_back(jobs_.Take(jobs_.Count() - 1));
    }
    removed.clear();
    last_err_msg_.clear();
    run_limit_ = 0;
}

void TCustomFFmpegEngine::StartConvert(int32_t limit) {
    JoinTerminateThreads();
    ClearLogList();
    {
        std::lock_guard guard(lock_);
        next_job_ = 0;
        terminated_count_ = 0;
        run_limit_ = limit;
        pending_count_ = jobs_.Count();
        sync_queue_.clear();
        for (int i = 0; i < std::max(limit, 1) && pending_count_ > 0; ++i)
            StartNext();
    }
    // Synchronous mode: each job runs here, after the wait that stands in for the one-shot
    // timer of a program with an event loop, and outside the lock (its log lines take the
    // component list first, then this component's lock).
    for (;;) {
        TFFmpeg* job = nullptr;
        {
            std::lock_guard guard(lock_);
            if (sync_queue_.empty())
                break;
            job = sync_queue_.front();
            sync_queue_.erase(sync_queue_.begin());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        StartJob(*job);
    }
}

void TCustomFFmpegEngine::StartNext() {
    if (pending_count_ <= 0)
        return;
    --pending_count_;
    TFFmpeg& job = jobs_[next_job_++];
    if (run_limit_ <= 0)
        sync_queue_.push_back(&job);
    else
        StartJob(job);
}

void TCustomFFmpegEngine::StartJob(TFFmpeg& job) {
    job.ProgressInterval = int64_t{progress_interval_} * 1000;
    job.SetVerbosity(static_cast<int>(log_level_) - 1);
    if (run_limit_ <= 0) {
        job.ThreadID = CurrentThreadId();
        job.Execute();
        return;
    }
    if (!job.BeginRun())
        return;
    const TConvertPriority priority = thread_priority_;
    if (job.Worker.joinable())
        job.Worker.join();
    job.Worker = std::thread([&job, priority] {
        job.ThreadID = CurrentThreadId();
        SetOsThreadPriority(job.ThreadID, priority);
        job.RunWrapper();
    });
}

void TCustomFFmpegEngine::Stop() {
    std::lock_guard guard(lock_);
    pending_count_ = 0;
    for (int i = 0; i < jobs_.Count(); ++i) {
        TFFmpeg& job = jobs_[i];
        if (job.Running) {
            job.StopRequested = true;
            job.SetPaused(false);
        } else if (!job.Terminated) {
            // Ends the job on a thread of its own, which waits for this lock.
            terminate_threads_.emplace_back([this, &job] {
                SetOsThreadPriority(CurrentThreadId(), tpIdle);
                std::lock_guard wait(lock_);
                job.Terminate();
            });
        }
    }
}

void TCustomFFmpegEngine::Pause() {
    std::lock_guard guard(lock_);
    for (int i = 0; i < jobs_.Count(); ++i) {
        if (jobs_[i].Running && jobs_[i].Worker.joinable())
            jobs_[i].SetPaused(true);
    }
}

void TCustomFFmpegEngine::Resume() {
    std::lock_guard guard(lock_);
    for (int i = 0; i < jobs_.Count(); ++i)
        jobs_[i].SetPaused(false);
}

void TCustomFFmpegEngine::JoinTerminateThreads() {
    for (std::thread& thread : terminate_threads_)
        thread.join();
    terminate_threads_.clear();
}

// ---- dispatchers ----

namespace {
int32_t IndexOf(TCustomFFmpeg* job) {
    return job != nullptr ? dynamic_cast<TFFmpeg&>(*job).Index : -1;
}
} // namespace

void TCustomFFmpegEngine::DoBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action) {
    if (OnBeforeHook)
        OnBeforeHook(IndexOf(&job), pts, action);
}

void TCustomFFmpegEngine::DoCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap,
                                       int32_t frame_number, int64_t pts, bool& update,
                                       bool& stop_hook) {
    if (OnCustomHook)
        OnCustomHook(IndexOf(&job), bitmap, frame_number, pts, update, stop_hook);
}

void TCustomFFmpegEngine::DoLog(TCustomFFmpeg* job, int level, const std::string& text) {
    std::lock_guard guard(lock_);
    if (!OnLog)
        return;
    const TLogLevel mapped = level < 0    ? llQuiet
                             : level >= 4 ? llAll
                                          : static_cast<TLogLevel>(level + 1);
    OnLog(IndexOf(job), mapped, text);
}

void TCustomFFmpegEngine::DoProgress(TCustomFFmpeg& job, int32_t frame_number, int32_t fps,
                                     int32_t current_duration, float quality, float bit_rate,
                                     int64_t current_size, int32_t total_output_duration) {
    std::lock_guard guard(lock_);
    if (OnProgress)
        OnProgress(IndexOf(&job), frame_number, fps, current_duration, quality, bit_rate,
                   current_size, total_output_duration);
}

void TCustomFFmpegEngine::DoTerminate(TCustomFFmpeg* job) {
    std::lock_guard guard(lock_);
    if (job == nullptr) {
        if (OnTerminate)
            OnTerminate(-1, true, false, "");
        ClearLogList();
        return;
    }
    if (OnTerminate)
        OnTerminate(IndexOf(job), job->CompletedNormally, job->ExceptionRaised,
                    job->ExceptionMessage);
    ++terminated_count_;
    if (pending_count_ > 0) {
        StartNext();
    } else if (terminated_count_ >= jobs_.Count()) {
        if (OnTerminate)
            OnTerminate(-1, true, false, "");
        ClearLogList();
    }
}

} // namespace clipwright
