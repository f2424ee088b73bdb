// TFFmpegEngine: the component through which programs use the engine. It owns a list of jobs,
// binds the libraries, builds jobs from option records, starts them (each on a worker thread
// of its own, at most a given number at once) and reports through five events, raised on the
// job's thread under the component's lock (the hook events without it).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFMPEG/av_probe.h"
#include "FFMPEG/custom_ffmpeg.h"

namespace clipwright {

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };
enum TConvertPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The operating system's identifier of the calling thread.
uint32_t CurrentThreadId();

// The job list: owns its jobs, keeps each job's Index equal to its position.
class TFFmpegList {
public:
    TFFmpeg& Add(std::unique_ptr<TFFmpeg> job);
    // Frees the job (after its thread has ended) and renumbers the later ones.
    void Delete(int index);
    // Takes the job out of the list, renumbering the later ones; the caller frees it.
    std::unique_ptr<TFFmpeg> Take(int index);
    void Clear();
    TFFmpeg& operator[](int index);
    int Count() const { return static_cast<int>(jobs_.size()); }
    // The first job, in list order, that runs on that thread; none when no job does.
    TFFmpeg* FindByThread(uint32_t thread_id);

private:
    std::vector<std::unique_ptr<TFFmpeg>> jobs_;
};

class TCustomFFmpegEngine {
public:
    using TBeforeHookEvent = std::function<void(int32_t index, int64_t pts, THookAction& action)>;
    using TCustomHookEvent =
        std::function<void(int32_t index, THookBitmap& bitmap, int32_t frame_number, int64_t pts,
                           bool& update, bool& stop_hook)>;
    using TLogEvent = std::function<void(int32_t index, TLogLevel level, const std::string& msg)>;
    using TProgressEvent = std::function<void(
        int32_t index, int32_t frame_number, int32_t fps, int32_t current_duration, float quality,
        float bit_rate, int64_t current_size, int32_t total_output_duration)>;
    using TTerminateEvent = std::function<void(int32_t index, bool finished, bool exception,
                                               const std::string& message)>;

    TCustomFFmpegEngine();
    TCustomFFmpegEngine(const TCustomFFmpegEngine&) = delete;
    TCustomFFmpegEngine& operator=(const TCustomFFmpegEngine&) = delete;
    virtual ~TCustomFFmpegEngine();

    // Events: assigned by the owner before jobs run; raised on the job's thread.
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    TLogLevel LogLevel() const { return log_level_; }
    void SetLogLevel(TLogLevel level);
    int32_t ProgressInterval() const { return progress_interval_; }
    void SetProgressInterval(int32_t milliseconds);
    TConvertPriority ThreadPriority() const { return thread_priority_; }
    void SetThreadPriority(TConvertPriority priority) { thread_priority_ = priority; }
    std::string Version() const { return "2.0b"; }
    std::string About;

    // All operations are called from one thread (the application's main thread).
    bool LoadAVLib(const std::string& folder, bool versioned);
    int32_t AddInputFile(const std::string& file_name, TInputOptions* options);
    bool SetOutputFile(int32_t index, const std::string& file_name, TOutputOptions* options);
    void RemoveTask(int32_t index);
    void ClearTasks();
    void StartConvert(int32_t limit);
    void Stop();
    void Pause();
    void Resume();
    const std::string& LastErrMsg() const { return last_err_msg_; }
    TAVProbe& AVProbe() { return probe_; }
    int32_t TaskCount() const { return jobs_.Count(); }
    TFFmpeg& Task(int32_t index) { return jobs_[index]; }

    // The log routing: every component, and the job of that component running on `thread`.
    static void RouteLogLine(uint32_t thread, int level, const std::string& line);

protected:
    virtual void DoBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action);
    virtual void DoCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap, int32_t frame_number,
                              int64_t pts, bool& update, bool& stop_hook);
    virtual void DoLog(TCustomFFmpeg* job, int level, const std::string& text);
    virtual void DoProgress(TCustomFFmpeg& job, int32_t frame_number, int32_t fps,
                            int32_t current_duration, float quality, float bit_rate,
                            int64_t current_size, int32_t total_output_duration);
    virtual void DoTerminate(TCustomFFmpeg* job);

private:
    TFFmpeg* FindJobByThread(uint32_t thread);
    void StartNext();
    void StartJob(TFFmpeg& job);
    void JoinTerminateThreads();

    std::string last_err_msg_;
    int32_t next_job_ = 0;
    int32_t run_limit_ = 0;
    TFFmpegList jobs_;
    std::mutex jobs_lock_; // a leaf: held only to change or search the list, never to free
    TAVProbe probe_;
    std::recursive_mutex lock_; // around OnLog, OnProgress, OnTerminate, Stop, Pause, Resume
    int32_t terminated_count_ = 0;
    int32_t pending_count_ = 0;
    TLogLevel log_level_ = llInfo;
    int32_t progress_interval_ = 500;
    TConvertPriority thread_priority_ = tpNormal;
    std::vector<TFFmpeg*> sync_queue_; // synchronous mode: jobs due to run on the caller's thread
    // Threads that end jobs stopped before they started; joined before jobs go away.
    std::vector<std::thread> terminate_threads_;
};

class TFFmpegEngine : public TCustomFFmpegEngine {};

} // namespace clipwright
