// TFFmpegEngine: the component through which programs use the engine. It owns a list of jobs,
// binds the libraries, builds jobs from option records, runs them in batches (each job on a
// worker thread of its own, at most a given number of a batch at once) and reports through
// five events.
//
// Who may call what. Every operation may be called from any thread, and from inside any event
// or hook (a handler may add, remove, clear, start, stop, pause and resume), except:
//   - the destructor: not from inside an event or a hook of this component, and its handlers
//     start nothing new once it has begun;
//   - Task(): the reference stays good only while no other thread removes jobs (inside an
//     event, for the index the event reports, it is good until the handler returns);
//   - AVProbe(): one thread at a time;
//   - LastErrMsg(): the message of the last failed call made on the calling thread.
// A handler must not throw: an exception out of OnTerminate is dropped so the queue goes on.
//
// Where events are raised:
//   - on a job's worker thread: its OnProgress, hook events and log lines, its OnTerminate,
//     the OnTerminate of jobs it starts that end at once, and the batch end;
//   - on the calling thread: RemoveTask, ClearTasks and Stop raise the ends they cause, and a
//     batch end that follows, before they return; a synchronous StartConvert raises all of its
//     batch's events;
//   - OnLog lines are queued and raised by whichever thread gets the event lock: a thread that
//     logs never waits for it, so a line logged while another thread holds it is raised by
//     that thread when it leaves its event (the lines keep their order).
// OnLog, OnProgress and OnTerminate are raised one at a time under the event lock; the hook
// events without it (their index is the job's at the moment of the call).
//
// Locks, in the one order they may be taken:
//   1. lock_, the event lock (recursive): held while an event is raised and while jobs are
//      ended or renumbered, so a handler sees indexes that hold until it returns.
//   2. list_lock_ (a leaf): the job list with each job's queue state, the open batches, the
//      jobs removed but not yet freed, the reaper's flags and the last error texts. Never held
//      while anything is called out (an event, job code, freeing a job).
//   3. a job's pause lock, which Stop, Pause, Resume and the removals take under list_lock_.
//   log_lock_ (a leaf): the log lines waiting to be raised.
// The process-wide component list and text list of the log routing are leaves too.
//
// Batches. StartConvert(limit) takes every job that waits for a start (added, and not in a
// batch yet) into a new batch; a call that finds none starts nothing and raises nothing. A job
// added while batches run waits for the next StartConvert. Batches may overlap, each with its
// own limit. Each job of a batch ends exactly once, with OnTerminate(its index, ...): when its
// run ends, when Stop ends it before it started (not finished), or when it is removed while
// running (not finished, raised by the removing call while the job still has that index). A
// job removed before it started raises nothing. Once every job of a batch has ended or left,
// OnTerminate(-1, true, false, "") is raised, once per batch. The pending and running counts
// are not kept: they are read from the jobs' states.
//
// Stop asks the running jobs of every batch to stop and ends the batch jobs that have not
// started; jobs not in a batch wait for a later StartConvert. A second Stop changes nothing.
// Pause holds the running jobs at their next check, Resume lets them go on.
//
// Synchronous mode (limit <= 0): the engine has no message loop, so StartConvert runs the
// batch's jobs one after the other on the calling thread, each 100 ms after the previous one
// ended, and returns when the batch has ended.
//
// Freeing. RemoveTask and ClearTasks take jobs out of the list at once, asking a running one to
// stop. The component's reaper thread frees them outside every lock once their threads have
// ended and no call still uses them; a job is never freed on its own thread. A removing call
// waits for that, unless it runs inside an event or on a job's thread: there it returns at
// once. A job removed while running frees its place in the batch at once: it may still be
// stopping while the next job runs, or when its batch has ended. The destructor stops every batch,
// waits for the running jobs to end (their ends and batch ends are still raised), frees every job
// and joins every thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "FFMPEG/probe/av_probe.h"
#include "FFMPEG/job/custom_ffmpeg.h"

namespace clipwright {

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };
enum TConvertPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The operating system's identifier of the calling thread.
uint32_t CurrentThreadId();

// Where a job stands in its component's queue.
enum class TJobState {
    Queued,      // waits for a StartConvert
    Configuring, // SetOutputFile works on it; the next StartConvert passes it over
    Waiting,     // in a batch, not started
    Running,     // started (or being started) and its end not raised yet
    EndDue,      // stopped before it started; its end is about to be raised
    Ended,       // its end was raised (or it ran in no batch)
};

// The job list: owns its jobs in order and keeps each job's Index equal to its position, with
// the component's bookkeeping of each. It has no lock of its own: its component's guards it.
class TFFmpegList {
public:
    struct Entry {
        std::unique_ptr<TFFmpeg> job;
        uint64_t serial = 0; // never reused: names the job in queued log lines
        TJobState state = TJobState::Queued;
        uint64_t batch = 0; // 0: in none yet
        int pins = 0;       // calls using the job outside the locks; it is not freed meanwhile
        bool in_place = false;
    };

    Entry& Add(std::unique_ptr<TFFmpeg> job, uint64_t serial);
    // Takes the entry out, renumbering the later jobs; the taken job's Index becomes -1.
    Entry Take(int index);
    std::vector<Entry> TakeAll();
    // Throws std::out_of_range for an index outside the list.
    Entry& operator[](int index);
    int Count() const { return static_cast<int>(entries_.size()); }
    std::vector<Entry>& Entries() { return entries_; }
    // Positions, -1 for none: by the job itself, by serial, and the first job (in list order)
    // that runs on that thread.
    int IndexOf(const TCustomFFmpeg* job) const;
    int IndexOfSerial(uint64_t serial) const;
    int IndexOfThread(uint32_t thread_id) const;

private:
    std::vector<Entry> entries_;
};

// Its jobs report to it through TJobEvents, which it implements privately: the job's events
// become the component's, raised as above.
class TCustomFFmpegEngine : private TJobEvents {
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

    // Events: assigned by the owner while no job runs (OnLog, OnProgress and OnTerminate also
    // through SetEvents, at any time); raised as the header says.
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // Assigns OnLog, OnProgress and OnTerminate at once under the event lock (an empty handler
    // clears its event), so it may be called while jobs run. Once it returns, no handler it
    // replaced is running or will be called, queued log lines included. Not from inside an
    // event: the handler replaced may be the one running.
    void SetEvents(TLogEvent log, TProgressEvent progress, TTerminateEvent terminate);

    TLogLevel LogLevel() const { return log_level_; }
    void SetLogLevel(TLogLevel level);
    int32_t ProgressInterval() const { return progress_interval_; }
    void SetProgressInterval(int32_t milliseconds);
    TConvertPriority ThreadPriority() const { return thread_priority_; }
    void SetThreadPriority(TConvertPriority priority) { thread_priority_ = priority; }
    std::string Version() const { return "2.0b"; }
    std::string About;

    bool LoadAVLib(const std::string& folder, bool versioned);
    int32_t AddInputFile(const std::string& file_name, TInputOptions* options);
    // Refused (false) for a job already taken into a batch or being given an output by another
    // thread; an index outside the list throws std::out_of_range, as RemoveTask does.
    bool SetOutputFile(int32_t index, const std::string& file_name, TOutputOptions* options);
    void RemoveTask(int32_t index);
    void ClearTasks();
    void StartConvert(int32_t limit);
    void Stop();
    void Pause();
    void Resume();
    const std::string& LastErrMsg() const;
    TAVProbe& AVProbe() { return probe_; }
    int32_t TaskCount() const;
    TFFmpeg& Task(int32_t index);

    // The log routing: a library line logged on `thread`, for every live component, with the
    // index of that component's job running on that thread.
    static void RouteLogLine(uint32_t thread, int level, const std::string& line);

protected:
    // The dispatchers: each raises its event, or nothing while the event is unassigned.
    // DoTerminate with a job raises that job's end; with none, the batch end.
    virtual void DoBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action);
    virtual void DoCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap, int32_t frame_number,
                              int64_t pts, bool& update, bool& stop_hook);
    virtual void DoLog(TCustomFFmpeg* job, int level, const std::string& text);
    virtual void DoProgress(TCustomFFmpeg& job, int32_t frame_number, int32_t fps,
                            int32_t current_duration, float quality, float bit_rate,
                            int64_t current_size, int32_t total_output_duration);
    virtual void DoTerminate(TCustomFFmpeg* job);

    // Stops every batch, waits for the running jobs to end, frees every job and joins every
    // thread; later calls do nothing. A class that overrides a dispatcher calls it first in its
    // destructor, so that no job thread calls into a half-destroyed object.
    void Shutdown();

private:
    class EventScope;
    struct QueuedLine {
        uint64_t serial; // 0: no job
        int level;
        std::string text;
    };

    // Job side (TJobEvents), from the job's own thread; a job's end also from the thread that
    // ended it without running it.
    void JobLog(TCustomFFmpeg& job, int level, const std::string& text) override;
    void JobProgress(TCustomFFmpeg& job, const TJobProgress& progress) override;
    void JobEnded(TCustomFFmpeg& job) override;
    void JobBeforeHook(TCustomFFmpeg& job, int64_t pts, THookAction& action) override;
    void JobCustomHook(TCustomFFmpeg& job, THookBitmap& bitmap, int32_t frame_number, int64_t pts,
                       bool& update, bool& stop_hook) override;
    // With the event lock: raises the batch ends that are due and marks the jobs that may
    // start now (pinned), which the caller starts once it has left the event lock.
    std::vector<TFFmpeg*> Advance();
    // Starts the jobs Advance marked; a job that ends at once has its end handled in the same
    // loop rather than by recursion.
    void LaunchAll(std::vector<TFFmpeg*> jobs);
    void Launch(TFFmpeg& job);
    void RunInPlace(uint64_t batch);
    void PrepareRun(TFFmpeg& job);
    // With the event lock: ends the running job at `index` as removed, raising its end.
    void EndRemoved(int index);
    // Waits until none of `jobs` is waiting to be freed, unless the calling thread must not
    // block (inside an event, or running a job).
    void WaitFreed(const std::vector<const TFFmpeg*>& jobs);
    void Unpin(const TFFmpeg& job);
    // With list_lock_: keeps a job for the reaper to free, starting the reaper on first use.
    void Bury(TFFmpegList::Entry entry);
    void ReaperLoop();
    void RaiseTerminate(int32_t index, bool finished, bool exception, const std::string& message);
    void QueueLog(uint64_t serial, int level, const std::string& text);
    void DeliverLogs();
    int32_t IndexOf(const TCustomFFmpeg& job) const;
    void SetLastErrMsg(const std::string& message);

    TAVProbe probe_;
    std::atomic<TLogLevel> log_level_{llInfo};
    std::atomic<int32_t> progress_interval_{500};
    std::atomic<TConvertPriority> thread_priority_{tpNormal};

    std::recursive_mutex lock_; // the event lock

    // Guarded by list_lock_:
    mutable std::mutex list_lock_;
    TFFmpegList jobs_;
    struct Batch {
        uint64_t id;
        int32_t limit;
    };
    std::vector<Batch> batches_; // open: their end is not raised yet
    uint64_t last_batch_ = 0;
    uint64_t last_serial_ = 0;
    std::vector<TFFmpegList::Entry> removed_; // out of the list, not freed yet
    std::vector<const TFFmpeg*> being_freed_; // taken from removed_ by the reaper, being freed
    bool reaper_stop_ = false;
    bool shut_down_ = false;
    mutable std::unordered_map<std::thread::id, std::string> last_err_msg_;
    std::condition_variable reaper_wake_; // removed_ has a job to free, or the reaper is to end
    std::condition_variable freed_;       // the reaper freed jobs
    std::condition_variable job_ended_;   // a job left Running
    std::thread reaper_;                  // started with the first removal

    // Guarded by log_lock_:
    std::mutex log_lock_;
    std::deque<QueuedLine> log_queue_;
    std::atomic<bool> log_waiting_{false}; // log_queue_ is not empty (read without the lock)
};

class TFFmpegEngine : public TCustomFFmpegEngine {
public:
    ~TFFmpegEngine() override { Shutdown(); }
};

} // namespace clipwright
