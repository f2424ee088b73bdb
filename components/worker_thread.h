// The worker-thread component: one piece of work on a background thread, its start, progress
// and end reported on the main thread; groups start, stop, suspend and resume their members
// together and report their first start and last end. Groups may belong to groups.
#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace clipwright {

class TWorkerThread;
class TWorkerThreadGroup;

// The operating-system thread of one run. Suspending is cooperative: the work calls
// WaitWhileSuspended() where it can pause.
class TWorkerExecuteThread : public QThread {
public:
    TWorkerExecuteThread(TWorkerThread& owner, void* data);

    TWorkerThread& Owner() { return owner_; }
    void* Data;
    std::atomic<int32_t> Percent{0};

    bool Terminated() const { return isInterruptionRequested(); }
    void SetSuspended(bool suspended);
    bool Suspended() const { return suspended_; }
    void WaitWhileSuspended();

protected:
    void run() override;

private:
    TWorkerThread& owner_;
    std::atomic<bool> suspended_{false};
    std::mutex suspend_lock_;
    std::condition_variable resumed_;
};

using TWorkerThreadDataNotifyEvent =
    std::function<void(TWorkerThread* sender, TWorkerExecuteThread* thread, void*& data)>;
using TWorkerThreadUpdateNotifyEvent = std::function<void(
    TWorkerThread* sender, TWorkerExecuteThread* thread, void*& data, int32_t percent)>;

class TWorkerThreadBase : public QObject {
public:
    ~TWorkerThreadBase() override = default;

    TWorkerThreadUpdateNotifyEvent OnUpdate;
    TWorkerThreadDataNotifyEvent OnStart;
    TWorkerThreadDataNotifyEvent OnTerminate;
    int32_t UpdatePriority = 0;

    TWorkerThreadGroup* ThreadGroup() const { return group_; }
    // Leaves the old group and joins the new one; joining one's own descendant is refused.
    void SetThreadGroup(TWorkerThreadGroup* group);

    virtual bool Running() const = 0;
    void Start() { Start(nullptr); }
    virtual void Start(void* data) = 0;
    virtual void Stop() = 0;
    virtual void Suspend() = 0;
    virtual void Resume() = 0;

    // The threads running under this object: (component, thread).
    virtual void
    CollectRunning(std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>>& running) = 0;

protected:
    std::recursive_mutex lock_; // held around this object's own OnStart, OnUpdate, OnTerminate
    TWorkerThreadGroup* group_ = nullptr;
};

class TWorkerThread : public TWorkerThreadBase {
public:
    TWorkerThread();
    ~TWorkerThread() override;

    TWorkerThreadDataNotifyEvent OnExecute; // runs on the worker thread

    bool Running() const override { return thread_ != nullptr; }
    using TWorkerThreadBase::Start;
    void Start(void* data) override;
    void Stop() override;
    void Suspend() override;
    void Resume() override;

    QThread::Priority Priority() const { return priority_; }
    void SetPriority(QThread::Priority priority);
    bool UpdateEnabled() const { return update_enabled_; }
    void SetUpdateEnabled(bool enabled);
    uint32_t RefreshInterval() const { return static_cast<uint32_t>(timer_.interval()); }
    void SetRefreshInterval(uint32_t milliseconds) {
        timer_.setInterval(static_cast<int>(milliseconds));
    }

    void
    CollectRunning(std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>>& running) override;

    // The execute step, on the worker thread.
    void Execute(TWorkerExecuteThread& thread);

private:
    void UpdateStep();
    void TerminateStep(TWorkerExecuteThread* thread);

    QTimer timer_;
    TWorkerExecuteThread* thread_ = nullptr;
    QThread::Priority priority_ = QThread::NormalPriority;
    bool update_enabled_ = false;
    bool silent_ = false; // being destroyed: the end only forgets the thread
};

class TWorkerThreadGroup : public TWorkerThreadBase {
public:
    ~TWorkerThreadGroup() override;

    TWorkerThreadUpdateNotifyEvent OnThreadUpdate;
    TWorkerThreadDataNotifyEvent OnThreadStart;
    TWorkerThreadDataNotifyEvent OnThreadTerminate;

    bool Running() const override;
    int32_t RunningCount() const;
    using TWorkerThreadBase::Start;
    void Start(void* data) override;
    void Stop() override;
    void Suspend() override;
    void Resume() override;
    void
    CollectRunning(std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>>& running) override;

    const std::vector<TWorkerThreadBase*>& Members() const { return members_; }

    // Notifications from members (and from member groups, upwards).
    void GroupStart(TWorkerThread* sender, TWorkerExecuteThread* thread, void*& data);
    void GroupEnd(TWorkerThread* sender, TWorkerExecuteThread* thread, void*& data);
    void GroupUpdate(TWorkerThread* sender, TWorkerExecuteThread* thread, int32_t percent,
                     int32_t priority, void*& data);

    // False when `member` is this group or one of its ancestors.
    bool Join(TWorkerThreadBase* member);
    void Leave(TWorkerThreadBase* member);

private:
    std::vector<TWorkerThreadBase*> members_;
    int32_t running_count_ = 0;
    mutable std::recursive_mutex group_lock_;
};

} // namespace clipwright
