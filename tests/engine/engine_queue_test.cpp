// The job queue under calls that change it while a batch runs, and from inside its events:
// each job ends once, each batch ends once after its jobs, indexes follow the list, and every
// case ends by itself (bounded waits; a watchdog for a hang inside the engine).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/component/engine.h"
#include "tests/engine/engine_events.h"
#include "tests/engine/job_runner.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::EndRecorder;
using testing::Eventually;
using testing::Media;
using testing::Termination;
using testing::Watchdog;

const Termination kBatchEnd{-1, true, false, ""};
const Termination kStopped0{0, false, false, ""};

std::string Out(const std::string& name) {
    return testing::OutputPath("queue", name);
}

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine_->LoadAVLib("", true)) << engine_->LastErrMsg();
        recorder_ = std::make_unique<EndRecorder>(*engine_, [this](int32_t index) {
            if (after_end_)
                after_end_(index);
        });
    }
    void TearDown() override {
        if (engine_) {
            engine_->Stop();
            engine_->ClearTasks();
        }
    }

    int32_t AddJob(const std::string& input, const std::string& output,
                   const std::string& output_options, const std::string& input_options = "") {
        TInputOptions in;
        in.ExtraOptions = input_options;
        const int32_t index = engine_->AddInputFile(input, &in);
        EXPECT_GE(index, 0) << engine_->LastErrMsg();
        TOutputOptions out;
        out.ExtraOptions = output_options;
        EXPECT_TRUE(engine_->SetOutputFile(index, output, &out)) << engine_->LastErrMsg();
        return index;
    }
    // Read at its own rate: it runs as long as its input plays (2 s, or 12 s for the long one)
    // unless stopped.
    int32_t AddPaced(const std::string& name, bool long_input = true) {
        return AddJob(long_input ? Media().avi_long : Media().avi_mpeg4_mp2, Out(name),
                      "vcodec=mpeg4", "re=1");
    }
    int32_t AddShort(const std::string& name) {
        return AddJob(Media().mp3_audio_only, Out(name), "t=0.3");
    }
    void WaitRunning(int32_t index) {
        ASSERT_TRUE(Eventually([&] { return engine_->Task(index).Running.load(); }));
    }
    std::vector<Termination> JobEnds() {
        std::vector<Termination> ends = recorder_->Ends();
        ends.erase(std::remove(ends.begin(), ends.end(), kBatchEnd), ends.end());
        return ends;
    }

    // First: it outlives the engine, so a hang in TearDown or in the destructor is caught too.
    Watchdog watchdog_{::testing::UnitTest::GetInstance()->current_test_info()->name(), 150};
    std::unique_ptr<TFFmpegEngine> engine_ = std::make_unique<TFFmpegEngine>();
    std::function<void(int32_t)> after_end_; // set before a batch starts
    std::atomic<bool> acting_{true};         // after_end_ acts while true
    std::atomic<bool> once_{false};
    std::unique_ptr<EndRecorder> recorder_;
};

TEST_F(QueueTest, RemovingQueuedOrRunningJobsDuringABatch) {
    // A queued job removed: it leaves no end, the batch goes on with the others.
    AddPaced("rq_slow.avi", false);
    AddShort("rq_a.wav");
    AddShort("rq_b.wav");
    engine_->StartConvert(1);
    WaitRunning(0);
    engine_->RemoveTask(2);
    EXPECT_EQ(engine_->TaskCount(), 2);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(1));
    EXPECT_EQ(recorder_->Ends(),
              (std::vector<Termination>{{0, true, false, ""}, {1, true, false, ""}, kBatchEnd}));

    // The running job removed: its end comes with the index it had, then the next job runs.
    engine_->ClearTasks();
    AddPaced("rr_slow.avi");
    AddShort("rr_a.wav");
    AddShort("rr_b.wav");
    engine_->StartConvert(1);
    WaitRunning(0);
    engine_->RemoveTask(0);
    ASSERT_GE(recorder_->Ends().size(), 4u);
    EXPECT_EQ(recorder_->Ends()[3], kStopped0) << "ended by the removal, before the next job";
    EXPECT_TRUE(testing::ReadBack(Out("rr_slow.avi")).opened)
        << "stopped, closed and freed before RemoveTask returned";
    EXPECT_EQ(engine_->TaskCount(), 2);
    EXPECT_EQ(engine_->Task(1).Index, 1);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(2));
    const std::vector<Termination> ends = recorder_->Ends();
    EXPECT_EQ(std::vector<Termination>(ends.begin() + 3, ends.end()),
              (std::vector<Termination>{
                  kStopped0, {0, true, false, ""}, {1, true, false, ""}, kBatchEnd}));
    EXPECT_TRUE(testing::ReadBack(Out("rr_a.wav")).opened) << "the job after it was not skipped";
    EXPECT_TRUE(testing::ReadBack(Out("rr_b.wav")).opened);
}

TEST_F(QueueTest, ClearingDuringABatchEndsItAndTheNextBatchRuns) {
    AddPaced("clear_slow.avi");
    AddShort("clear_a.wav");
    AddShort("clear_b.wav");
    engine_->StartConvert(1);
    WaitRunning(0);
    engine_->ClearTasks();
    EXPECT_EQ(engine_->TaskCount(), 0);
    EXPECT_EQ(recorder_->Ends(), (std::vector<Termination>{kStopped0, kBatchEnd}))
        << "the running job and the batch end before ClearTasks returns; queued jobs vanish";

    AddShort("clear_c.wav");
    AddShort("clear_d.wav");
    engine_->StartConvert(2);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(2));
    std::vector<Termination> ends = recorder_->Ends();
    ASSERT_EQ(ends.size(), 5u);
    EXPECT_EQ(ends.back(), kBatchEnd);
    std::sort(ends.begin() + 2, ends.end() - 1);
    EXPECT_EQ(ends[2], (Termination{0, true, false, ""}));
    EXPECT_EQ(ends[3], (Termination{1, true, false, ""}));
}

// A paced job and three short ones at limit 1, stopped twice once the first runs, the last two
// then removed: four ends, each once, then the batch end.
TEST_F(QueueTest, StopEndsEachJobOnceHoweverOftenAndWhateverIsRemovedAfter) {
    const auto queue = [this](const std::string& tag) {
        AddPaced("stop_" + tag + ".avi");
        for (const char* name : {"_a.wav", "_b.wav", "_c.wav"})
            AddShort("stop_" + tag + name);
    };
    const auto stop_and_remove = [this] {
        engine_->Stop();
        engine_->Stop();
        engine_->RemoveTask(3);
        engine_->RemoveTask(2);
    };
    const auto expect_ends = [this](int batches) {
        ASSERT_TRUE(recorder_->WaitForBatchEnds(batches));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a late duplicate lands
        std::vector<Termination> ends = recorder_->Ends();
        ASSERT_EQ(ends.size(), 5u * batches);
        ends.erase(ends.begin(), ends.end() - 5);
        EXPECT_EQ(ends.back(), kBatchEnd) << "after every job's end";
        ends.pop_back();
        std::sort(ends.begin(), ends.end());
        EXPECT_EQ(
            ends,
            (std::vector<Termination>{
                kStopped0, {1, false, false, ""}, {2, false, false, ""}, {3, false, false, ""}}));
        EXPECT_EQ(engine_->TaskCount(), 2);
    };

    // From the caller's thread.
    queue("caller");
    engine_->StartConvert(1);
    WaitRunning(0);
    stop_and_remove();
    engine_->Stop();
    expect_ends(1);

    // From inside an event, before anything the first Stop set going can have run.
    engine_->ClearTasks();
    engine_->OnProgress = [this, stop_and_remove](int32_t, int32_t, int32_t, int32_t, float, float,
                                                  int64_t, int32_t) {
        if (!once_.exchange(true))
            stop_and_remove();
    };
    queue("event");
    engine_->StartConvert(1);
    expect_ends(2);
}

TEST_F(QueueTest, RemovingAndClearingFromInsideTheEndEvents) {
    // Each job removes itself from its own end; the batch end clears what is left.
    after_end_ = [this](int32_t index) {
        if (!acting_)
            return;
        if (index >= 0)
            engine_->RemoveTask(index);
        else
            engine_->ClearTasks();
    };
    AddShort("inside_a.wav");
    AddShort("inside_b.wav");
    AddShort("inside_c.wav");
    engine_->StartConvert(2);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(1));
    ASSERT_TRUE(Eventually([&] { return engine_->TaskCount() == 0; }));
    std::vector<Termination> ends = recorder_->Ends();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends.back(), kBatchEnd);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::get<1>(ends[i])) << i;
        EXPECT_LT(std::get<0>(ends[i]), static_cast<int32_t>(3 - i)) << "indexes follow removals";
    }

    acting_ = false; // the handler may still be returning on a job's thread
    AddShort("inside_d.wav");
    engine_->StartConvert(1);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(2));
    ends = recorder_->Ends();
    ASSERT_EQ(ends.size(), 6u);
    EXPECT_EQ(ends[4], (Termination{0, true, false, ""}));
}

TEST_F(QueueTest, UnbuiltJobsBesideRealOnesAtDebugLevel) {
    // Jobs whose output was refused end at once when started; at llDebug, releasing their input
    // logs while the real jobs log from their own threads.
    engine_->SetLogLevel(llDebug);
    engine_->OnLog = [](int32_t, TLogLevel, const std::string&) {};
    constexpr int kJobs = 64;
    for (int i = 0; i < kJobs; ++i) {
        if (i % 16 == 0) {
            AddJob(Media().avi_long, Out("debug" + std::to_string(i) + ".avi"),
                   "vcodec=mpeg4\nt=2");
            continue;
        }
        const int32_t index = engine_->AddInputFile(Media().avi_mpeg4_mp2, nullptr);
        ASSERT_EQ(index, i) << engine_->LastErrMsg();
        ASSERT_FALSE(engine_->SetOutputFile(index, Out("unbuilt.xyz"), nullptr));
    }
    engine_->StartConvert(2);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(1, 120));
    engine_->SetLogLevel(llInfo);
    std::vector<Termination> ends = recorder_->Ends();
    ASSERT_EQ(ends.size(), kJobs + 1u);
    EXPECT_EQ(ends.back(), kBatchEnd);
    ends.pop_back();
    std::sort(ends.begin(), ends.end());
    for (int i = 0; i < kJobs; ++i) {
        if (i % 16 == 0)
            EXPECT_EQ(ends[i], (Termination{i, true, false, ""}));
        else
            EXPECT_EQ(ends[i],
                      (Termination{i, false, true, "Must supply at least one output file"}));
    }
    EXPECT_EQ(engine_->TaskCount(), kJobs) << "ended jobs stay listed";
}

TEST_F(QueueTest, AJobAddedDuringABatchWaitsForTheNextStart) {
    AddPaced("added_slow.avi", false);
    engine_->StartConvert(1);
    WaitRunning(0);
    AddShort("added.wav");
    ASSERT_TRUE(recorder_->WaitForBatchEnds(1, 30)) << "the batch ends without the added job";
    EXPECT_EQ(recorder_->Ends(), (std::vector<Termination>{{0, true, false, ""}, kBatchEnd}));
    EXPECT_FALSE(engine_->Task(1).Running || engine_->Task(1).Terminated);

    engine_->StartConvert(1);
    ASSERT_TRUE(recorder_->WaitForBatchEnds(2));
    EXPECT_EQ(recorder_->Ends(),
              (std::vector<Termination>{
                  {0, true, false, ""}, kBatchEnd, {1, true, false, ""}, kBatchEnd}));
}

TEST_F(QueueTest, DestroyingTheComponentWhileTwoJobsRun) {
    AddPaced("destroy_0.avi");
    AddPaced("destroy_1.avi");
    AddShort("destroy_2.wav");
    engine_->StartConvert(2);
    WaitRunning(0);
    WaitRunning(1);
    const auto before = std::chrono::steady_clock::now();
    engine_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5))
        << "the jobs were stopped, not waited for";
    std::vector<Termination> ends = recorder_->Ends();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends.back(), kBatchEnd);
    ends.pop_back();
    std::sort(ends.begin(), ends.end());
    EXPECT_EQ(ends,
              (std::vector<Termination>{kStopped0, {1, false, false, ""}, {2, false, false, ""}}));
    EXPECT_TRUE(testing::ReadBack(Out("destroy_0.avi")).opened) << "closed as a stopped output";
}

} // namespace
} // namespace clipwright
