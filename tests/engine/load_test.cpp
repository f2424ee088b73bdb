// Load: hundreds of queued jobs through one engine component, two at a time. Every job ends
// exactly once, the batch ends once, and memory does not grow with the number of jobs.
#include <malloc.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/component/engine.h"
#include "tests/engine/job_runner.h"

namespace clipwright {
namespace {

using testing::Media;

// Resident memory once the allocator has handed back what it holds free.
long ResidentKiB() {
    malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

class Batch {
public:
    Batch() {
        engine_.OnTerminate = [this](int32_t index, bool, bool exception, const std::string&) {
            std::lock_guard guard(lock_);
            if (index < 0) {
                ++batch_ends_;
                ended_.notify_all();
            } else {
                ended_jobs_.insert(index);
                failures_ += exception ? 1 : 0;
            }
        };
    }
    // Queues `count` stream copies of the small AVI and runs them two at a time.
    void Run(int count, const std::string& tag) {
        {
            std::lock_guard guard(lock_);
            ended_jobs_.clear();
            batch_ends_ = 0;
            failures_ = 0;
        }
        engine_.ClearTasks();
        for (int i = 0; i < count; ++i) {
            const int32_t job = engine_.AddInputFile(Media().avi_mpeg4_mp2, nullptr);
            ASSERT_EQ(job, i);
            TOutputOptions out;
            out.ExtraOptions = "vcodec=copy\nacodec=copy";
            ASSERT_TRUE(engine_.SetOutputFile(
                job, testing::OutputPath("load", tag + std::to_string(i % 4) + ".avi"), &out));
        }
        engine_.StartConvert(2);
        std::unique_lock guard(lock_);
        ASSERT_TRUE(
            ended_.wait_for(guard, std::chrono::minutes(5), [&] { return batch_ends_ > 0; }));
    }
    TFFmpegEngine engine_;
    std::mutex lock_;
    std::condition_variable ended_;
    std::set<int32_t> ended_jobs_;
    int batch_ends_ = 0;
    int failures_ = 0;
};

TEST(LoadTest, TwoHundredQueuedJobsAtLimitTwo) {
    Batch batch;
    ASSERT_TRUE(batch.engine_.LoadAVLib("", true));
    batch.Run(200, "first"); // the libraries' one-time allocations happen here
    EXPECT_EQ(batch.ended_jobs_.size(), 200u);
    EXPECT_EQ(batch.failures_, 0);
    EXPECT_EQ(batch.batch_ends_, 1);
    const long before = ResidentKiB();
    batch.Run(200, "second");
    const long after = ResidentKiB();
    EXPECT_EQ(batch.ended_jobs_.size(), 200u);
    EXPECT_EQ(batch.failures_, 0);
    EXPECT_EQ(batch.batch_ends_, 1);
    std::printf("resident memory: %ld KiB after 200 jobs, %ld KiB after 200 more\n", before, after);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers hold freed memory back on purpose: resident size says nothing there.
#else
    // 200 jobs that each kept 50 KiB would show 10 MiB here.
    EXPECT_LT(after - before, 10 * 1024);
#endif
}

} // namespace
} // namespace clipwright
