// The worker-thread component on Qt: events on the main thread, groups, priorities and
// destruction while running.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "components/worker_thread.h"

namespace clipwright {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "components_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Lets the main thread's events run until `done` or 10 s.
bool ProcessUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

class WorkerThreadTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
};

TEST_F(WorkerThreadTest, OnlyOnStartRunsInsideStartThenTheThreadEnds) {
    TWorkerThread worker;
    const std::thread::id main_thread = std::this_thread::get_id();
    std::thread::id start_thread;
    std::thread::id terminate_thread;
    int terminated = 0;
    int data_value = 7;
    worker.OnStart = [&](TWorkerThread* sender, TWorkerExecuteThread*, void*& data) {
        EXPECT_EQ(sender, &worker);
        EXPECT_EQ(data, &data_value);
        start_thread = std::this_thread::get_id();
    };
    worker.OnTerminate = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        terminate_thread = std::this_thread::get_id();
        ++terminated;
    };
    worker.Start(&data_value);
    EXPECT_EQ(start_thread, main_thread) << "OnStart ran before Start returned";
    ASSERT_TRUE(ProcessUntil([&] { return terminated == 1; }));
    EXPECT_EQ(terminate_thread, main_thread);
    EXPECT_FALSE(worker.Running());
}

TEST_F(WorkerThreadTest, SecondStartIsIgnoredWhileRunning) {
    TWorkerThread worker;
    std::atomic<bool> release{false};
    std::atomic<int> runs{0};
    worker.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread* thread, void*&) {
        ++runs;
        while (!release && !thread->Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    worker.Start();
    worker.Start();
    EXPECT_TRUE(worker.Running());
    release = true;
    ASSERT_TRUE(ProcessUntil([&] { return !worker.Running(); }));
    EXPECT_EQ(runs, 1);
}

TEST_F(WorkerThreadTest, DestroyingARunningComponentWaitsAndRaisesNoTerminate) {
    int terminated = 0;
    std::atomic<bool> ended{false};
    {
        auto worker = std::make_unique<TWorkerThread>();
        worker->OnExecute = [&](TWorkerThread*, TWorkerExecuteThread* thread, void*&) {
            while (!thread->Terminated())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ended = true;
        };
        worker->OnTerminate = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) { ++terminated; };
        worker->Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(ended);
    QCoreApplication::processEvents();
    EXPECT_EQ(terminated, 0);
}

TEST_F(WorkerThreadTest, UpdatesOnTheTimerWithPercent) {
    TWorkerThread worker;
    worker.SetRefreshInterval(10);
    worker.SetUpdateEnabled(true);
    std::atomic<bool> release{false};
    std::vector<int32_t> seen;
    worker.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread* thread, void*&) {
        thread->Percent = 42;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    worker.OnUpdate = [&](TWorkerThread*, TWorkerExecuteThread*, void*&, int32_t percent) {
        seen.push_back(percent);
    };
    worker.Start();
    ASSERT_TRUE(ProcessUntil([&] { return !seen.empty() && seen.back() == 42; }));
    release = true;
    ASSERT_TRUE(ProcessUntil([&] { return !worker.Running(); }));
}

TEST_F(WorkerThreadTest, PriorityReachesTheRunningThreadAndSuspendHolds) {
    TWorkerThread worker;
    worker.SetPriority(QThread::LowPriority);
    std::atomic<int> steps{0};
    std::atomic<QThread::Priority> priority{QThread::InheritPriority};
    worker.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread* thread, void*&) {
        while (!thread->Terminated()) {
            thread->WaitWhileSuspended();
            priority = thread->priority();
            ++steps;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    worker.Start();
    ASSERT_TRUE(ProcessUntil([&] { return steps > 3; }));
    EXPECT_EQ(priority, QThread::LowPriority);
    worker.SetPriority(QThread::HighPriority);
    ASSERT_TRUE(ProcessUntil([&] { return priority == QThread::HighPriority; }));
    worker.Suspend();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int held = steps;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(steps - held, 1) << "a suspended thread waits";
    worker.Resume();
    ASSERT_TRUE(ProcessUntil([&] { return steps > held + 3; }));
    worker.Stop();
    ASSERT_TRUE(ProcessUntil([&] { return !worker.Running(); }));
}

TEST_F(WorkerThreadTest, GroupReportsItsFirstStartAndLastEnd) {
    TWorkerThreadGroup group;
    TWorkerThread first;
    TWorkerThread second;
    first.SetThreadGroup(&group);
    second.SetThreadGroup(&group);
    std::atomic<bool> release_first{false};
    std::atomic<bool> release_second{false};
    first.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        while (!release_first)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    second.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        while (!release_second)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    int group_starts = 0;
    int thread_starts = 0;
    std::vector<TWorkerThread*> group_ends;
    group.OnStart = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) { ++group_starts; };
    group.OnThreadStart = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) { ++thread_starts; };
    group.OnTerminate = [&](TWorkerThread* sender, TWorkerExecuteThread*, void*&) {
        group_ends.push_back(sender);
    };
    first.Start();
    second.Start();
    EXPECT_EQ(group_starts, 1);
    EXPECT_EQ(thread_starts, 2);
    EXPECT_EQ(group.RunningCount(), 2);
    release_first = true;
    ASSERT_TRUE(ProcessUntil([&] { return !first.Running(); }));
    EXPECT_TRUE(group_ends.empty());
    release_second = true;
    ASSERT_TRUE(ProcessUntil([&] { return !group_ends.empty(); }));
    EXPECT_EQ(group_ends, std::vector<TWorkerThread*>{&second});
    EXPECT_FALSE(group.Running());
}

TEST_F(WorkerThreadTest, GroupUpdatesComeFromTheHighestPriority) {
    TWorkerThreadGroup group;
    TWorkerThread low;
    TWorkerThread high;
    low.UpdatePriority = 0;
    high.UpdatePriority = 1;
    for (TWorkerThread* worker : {&low, &high}) {
        worker->SetThreadGroup(&group);
        worker->SetRefreshInterval(5);
        worker->SetUpdateEnabled(true);
    }
    std::atomic<bool> release_low{false};
    std::atomic<bool> release_high{false};
    low.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        while (!release_low)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    high.OnExecute = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        while (!release_high)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::vector<TWorkerThread*> updates;
    group.OnUpdate = [&](TWorkerThread* sender, TWorkerExecuteThread*, void*&, int32_t) {
        updates.push_back(sender);
    };
    group.Start();
    ASSERT_TRUE(ProcessUntil([&] { return updates.size() >= 5; }));
    for (TWorkerThread* sender : updates)
        EXPECT_EQ(sender, &high);
    release_high = true;
    ASSERT_TRUE(ProcessUntil([&] { return !high.Running(); }));
    updates.clear();
    ASSERT_TRUE(ProcessUntil([&] { return updates.size() >= 3; }));
    for (TWorkerThread* sender : updates)
        EXPECT_EQ(sender, &low);
    release_low = true;
    ASSERT_TRUE(ProcessUntil([&] { return !group.Running(); }));
}

TEST_F(WorkerThreadTest, AGroupCannotJoinItsOwnMember) {
    TWorkerThreadGroup outer;
    TWorkerThreadGroup inner;
    inner.SetThreadGroup(&outer);
    EXPECT_EQ(inner.ThreadGroup(), &outer);
    outer.SetThreadGroup(&inner);
    EXPECT_EQ(outer.ThreadGroup(), nullptr);
    outer.SetThreadGroup(&outer);
    EXPECT_EQ(outer.ThreadGroup(), nullptr);

    // A thread in the inner group counts in the outer one too.
    TWorkerThread worker;
    worker.SetThreadGroup(&inner);
    int outer_starts = 0;
    outer.OnThreadStart = [&](TWorkerThread*, TWorkerExecuteThread*, void*&) { ++outer_starts; };
    worker.Start();
    EXPECT_EQ(outer_starts, 1);
    ASSERT_TRUE(ProcessUntil([&] { return !outer.Running(); }));
}

} // namespace
} // namespace clipwright
