#include "components/worker_thread.h"

#include <QCoreApplication>

#include <algorithm>

namespace clipwright {

// ---- execute thread ----

TWorkerExecuteThread::TWorkerExecuteThread(TWorkerThread& owner, void* data)
    : Data(data), owner_(owner) {}

void TWorkerExecuteThread::run() {
    owner_.Execute(*this);
}

void TWorkerExecuteThread::SetSuspended(bool suspended) {
    {
        std::lock_guard guard(suspend_lock_);
        suspended_ = suspended;
    }
    resumed_.notify_all();
}

void TWorkerExecuteThread::WaitWhileSuspended() {
    std::unique_lock guard(suspend_lock_);
    resumed_.wait(guard, [this] { return !suspended_ || isInterruptionRequested(); });
}

// ---- base ----

void TWorkerThreadBase::SetThreadGroup(TWorkerThreadGroup* group) {
    if (group == group_)
        return;
    if (group_ != nullptr)
        group_->Leave(this);
    group_ = nullptr;
    if (group != nullptr && group->Join(this))
        group_ = group;
}

// ---- thread component ----

TWorkerThread::TWorkerThread() {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { UpdateStep(); });
}

TWorkerThread::~TWorkerThread() {
    timer_.stop();
    if (thread_ != nullptr) {
        // The end now only forgets the thread: no OnTerminate from a component going away.
        silent_ = true;
        thread_->SetSuspended(false);
        thread_->requestInterruption();
        while (thread_ != nullptr) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (thread_ != nullptr && thread_->wait(10))
                QCoreApplication::sendPostedEvents(this);
        }
    }
    SetThreadGroup(nullptr);
}

void TWorkerThread::Start(void* data) {
    if (thread_ != nullptr)
        return;
    auto* thread = new TWorkerExecuteThread(*this, data);
    thread_ = thread;
    // Delivered on this object's (the main) thread once the run has finished.
    QObject::connect(
        thread, &QThread::finished, this, [this, thread] { TerminateStep(thread); },
        Qt::QueuedConnection);
    if (group_ != nullptr)
        group_->GroupStart(this, thread, thread->Data);
    if (OnStart) {
        std::lock_guard guard(lock_);
        OnStart(this, thread, thread->Data);
    }
    thread->start(priority_);
    if (update_enabled_)
        timer_.start();
    else
        timer_.stop();
}

void TWorkerThread::Stop() {
    if (thread_ == nullptr)
        return;
    thread_->SetSuspended(false);
    thread_->requestInterruption();
}

void TWorkerThread::Suspend() {
    if (thread_ != nullptr)
        thread_->SetSuspended(true);
}

void TWorkerThread::Resume() {
    if (thread_ != nullptr)
        thread_->SetSuspended(false);
}

void TWorkerThread::SetPriority(QThread::Priority priority) {
    priority_ = priority;
    if (thread_ != nullptr && thread_->isRunning())
        thread_->setPriority(priority);
}

void TWorkerThread::SetUpdateEnabled(bool enabled) {
    update_enabled_ = enabled;
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}

void TWorkerThread::CollectRunning(
    std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>>& running) {
    if (thread_ != nullptr)
        running.emplace_back(this, thread_);
}

void TWorkerThread::Execute(TWorkerExecuteThread& thread) {
    if (OnExecute)
        OnExecute(this, &thread, thread.Data);
}

void TWorkerThread::UpdateStep() {
    TWorkerExecuteThread* thread = thread_;
    if (thread == nullptr)
        return;
    if (group_ != nullptr)
        group_->GroupUpdate(this, thread, thread->Percent, UpdatePriority, thread->Data);
    if (OnUpdate) {
        std::lock_guard guard(lock_);
        OnUpdate(this, thread, thread->Data, thread->Percent);
    }
}

void TWorkerThread::TerminateStep(TWorkerExecuteThread* thread) {
    thread->wait();
    timer_.stop();
    thread_ = nullptr;
    if (!silent_) {
        if (group_ != nullptr)
            group_->GroupEnd(this, thread, thread->Data);
        if (OnTerminate) {
            std::lock_guard guard(lock_);
            OnTerminate(this, thread, thread->Data);
        }
        if (update_enabled_)
            timer_.start();
    }
    thread->deleteLater();
}

// ---- group ----

TWorkerThreadGroup::~TWorkerThreadGroup() {
    const std::vector<TWorkerThreadBase*> members = members_;
    for (TWorkerThreadBase* member : members)
        member->SetThreadGroup(nullptr);
    SetThreadGroup(nullptr);
}

bool TWorkerThreadGroup::Running() const {
    return RunningCount() > 0;
}

int32_t TWorkerThreadGroup::RunningCount() const {
    std::lock_guard guard(group_lock_);
    return running_count_;
}

void TWorkerThreadGroup::Start(void* data) {
    for (TWorkerThreadBase* member : std::vector<TWorkerThreadBase*>(members_))
        member->Start(data);
}

void TWorkerThreadGroup::Stop() {
    for (TWorkerThreadBase* member : std::vector<TWorkerThreadBase*>(members_))
        member->Stop();
}

void TWorkerThreadGroup::Suspend() {
    for (TWorkerThreadBase* member : std::vector<TWorkerThreadBase*>(members_))
        member->Suspend();
}

void TWorkerThreadGroup::Resume() {
    for (TWorkerThreadBase* member : std::vector<TWorkerThreadBase*>(members_))
        member->Resume();
}

void TWorkerThreadGroup::CollectRunning(
    std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>>& running) {
    for (TWorkerThreadBase* member : members_)
        member->CollectRunning(running);
}

void TWorkerThreadGroup::GroupStart(TWorkerThread* sender, TWorkerExecuteThread* thread,
                                    void*& data) {
    int32_t before = 0;
    {
        std::lock_guard guard(group_lock_);
        before = running_count_++;
        if (OnThreadStart)
            OnThreadStart(sender, thread, data);
    }
    if (group_ != nullptr)
        group_->GroupStart(sender, thread, data);
    if (before == 0 && OnStart)
        OnStart(sender, thread, data);
}

void TWorkerThreadGroup::GroupEnd(TWorkerThread* sender, TWorkerExecuteThread* thread,
                                  void*& data) {
    int32_t after = 0;
    {
        std::lock_guard guard(group_lock_);
        if (running_count_ > 0)
            --running_count_;
        after = running_count_;
    }
    if (OnThreadTerminate)
        OnThreadTerminate(sender, thread, data);
    if (group_ != nullptr)
        group_->GroupEnd(sender, thread, data);
    if (after == 0 && OnTerminate)
        OnTerminate(sender, thread, data);
}

void TWorkerThreadGroup::GroupUpdate(TWorkerThread* sender, TWorkerExecuteThread* thread,
                                     int32_t percent, int32_t priority, void*& data) {
    if (OnThreadUpdate)
        OnThreadUpdate(sender, thread, data, percent);
    if (!OnUpdate)
        return;
    // Only the running members of the highest update priority feed the group's OnUpdate.
    for (TWorkerThreadBase* member : members_) {
        if (member->Running() && member->UpdatePriority > priority)
            return;
    }
    OnUpdate(sender, thread, data, percent);
}

bool TWorkerThreadGroup::Join(TWorkerThreadBase* member) {
    for (const TWorkerThreadBase* ancestor = this; ancestor != nullptr;
         ancestor = ancestor->ThreadGroup()) {
        if (ancestor == member)
            return false;
    }
    std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>> running;
    member->CollectRunning(running);
    for (auto& [sender, thread] : running)
        GroupStart(sender, thread, thread->Data);
    std::lock_guard guard(group_lock_);
    members_.push_back(member);
    return true;
}

void TWorkerThreadGroup::Leave(TWorkerThreadBase* member) {
    std::vector<std::pair<TWorkerThread*, TWorkerExecuteThread*>> running;
    member->CollectRunning(running);
    for (auto& [sender, thread] : running)
        GroupEnd(sender, thread, thread->Data);
    std::lock_guard guard(group_lock_);
    members_.erase(std::remove(members_.begin(), members_.end(), member), members_.end());
}

} // namespace clipwright
