// The engine component: the job queue and its batches, stopping, pausing, the events and the
// log routing, with jobs on real worker threads.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/component/engine.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "tests/engine/job_runner.h"
#include "tests/support/comma_locale.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::Media;
using Termination = std::tuple<int32_t, bool, bool, std::string>;

// A component whose events are recorded; the batch end can be waited for.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine_.LoadAVLib("", true)) << engine_.LastErrMsg();
        engine_.OnTerminate = [this](int32_t index, bool finished, bool exception,
                                     const std::string& message) {
            std::lock_guard guard(lock_);
            terminations_.emplace_back(index, finished, exception, message);
            if (index == -1)
                ended_.notify_all();
        };
        engine_.OnLog = [this](int32_t index, TLogLevel level, const std::string& message) {
            std::lock_guard guard(lock_);
            logs_.emplace_back(index, level, message);
        };
        engine_.OnProgress = [this](int32_t index, int32_t, int32_t, int32_t, float, float, int64_t,
                                    int32_t) {
            std::lock_guard guard(lock_);
            progress_.push_back(index);
        };
    }
    void TearDown() override {
        engine_.Stop();
        engine_.ClearTasks();
    }

    int32_t AddJob(const std::string& input, const std::string& output,
                   const std::string& output_options = "", const std::string& input_options = "") {
        TInputOptions in;
        in.ExtraOptions = input_options;
        const int32_t index = engine_.AddInputFile(input, &in);
        EXPECT_GE(index, 0) << engine_.LastErrMsg();
        TOutputOptions out;
        out.ExtraOptions = output_options;
        EXPECT_TRUE(engine_.SetOutputFile(index, output, &out)) << engine_.LastErrMsg();
        return index;
    }
    std::string Out(const std::string& name) { return testing::OutputPath("engine", name); }
    bool WaitForBatchEnd(int seconds = 300) {
        std::unique_lock guard(lock_);
        return ended_.wait_for(guard, std::chrono::seconds(seconds), [this] {
            return !terminations_.empty() && std::get<0>(terminations_.back()) == -1;
        });
    }
    std::vector<Termination> Terminations() {
        std::lock_guard guard(lock_);
        return terminations_;
    }
    std::vector<std::tuple<int32_t, TLogLevel, std::string>> Logs() {
        std::lock_guard guard(lock_);
        return logs_;
    }

    TFFmpegEngine engine_;
    std::mutex lock_;
    std::condition_variable ended_;
    std::vector<Termination> terminations_;
    std::vector<std::tuple<int32_t, TLogLevel, std::string>> logs_;
    std::vector<int32_t> progress_;
};

TEST_F(EngineTest, Properties) {
    engine_.SetProgressInterval(50);
    EXPECT_EQ(engine_.ProgressInterval(), 100);
    engine_.SetProgressInterval(101);
    EXPECT_EQ(engine_.ProgressInterval(), 101);
    EXPECT_EQ(engine_.Version(), "2.0b");
    EXPECT_EQ(engine_.LogLevel(), llInfo);
    EXPECT_EQ(engine_.ThreadPriority(), tpNormal);
}

TEST_F(EngineTest, BuildFailuresSetLastErrMsg) {
    const std::string missing = Media().folder + "/missing.avi";
    EXPECT_EQ(engine_.AddInputFile(missing, nullptr), -1);
    EXPECT_EQ(engine_.LastErrMsg(), missing + ": no such file or directory");
    EXPECT_EQ(engine_.TaskCount(), 0);
    TInputOptions in;
    in.ExtraOptions = "threads=2";
    EXPECT_EQ(engine_.AddInputFile(Media().avi_mpeg4_mp2, &in), -1);
    EXPECT_EQ(engine_.LastErrMsg(), "TODO: option - threads");
    EXPECT_EQ(in.FileName, Media().avi_mpeg4_mp2) << "the caller's record gets the name";

    const int32_t index = engine_.AddInputFile(Media().avi_mpeg4_mp2, nullptr);
    ASSERT_EQ(index, 0);
    EXPECT_FALSE(engine_.SetOutputFile(index, Out("x.xyz"), nullptr));
    EXPECT_EQ(engine_.LastErrMsg(),
              "Unable to find a suitable output format for '" + Out("x.xyz") + "'");
    EXPECT_EQ(engine_.TaskCount(), 1) << "the job stays for the caller to remove";
}

TEST_F(EngineTest, RunLimitOfTwoOverFiveJobs) {
    for (int i = 0; i < 5; ++i)
        AddJob(Media().avi_long, Out("limit" + std::to_string(i) + ".avi"), "vcodec=mpeg4\nt=4");
    engine_.StartConvert(2);
    int most = 0;
    int observed_two = 0;
    for (int tries = 0; tries < 6000 && Terminations().size() < 6; ++tries) {
        int running = 0;
        for (int i = 0; i < 5; ++i)
            running += engine_.Task(i).Running ? 1 : 0;
        most = std::max(most, running);
        observed_two += running == 2 ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(WaitForBatchEnd());
    EXPECT_LE(most, 2);
    EXPECT_GT(observed_two, 0) << "two jobs ran at once";
    const std::vector<Termination> ends = Terminations();
    ASSERT_EQ(ends.size(), 6u);
    std::vector<int32_t> indexes;
    for (size_t i = 0; i < 5; ++i) {
        indexes.push_back(std::get<0>(ends[i]));
        EXPECT_TRUE(std::get<1>(ends[i]));
        EXPECT_FALSE(std::get<2>(ends[i]));
    }
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (std::vector<int32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(ends.back(), (Termination{-1, true, false, ""}));
}

TEST_F(EngineTest, SynchronousModeRunsOnTheCallersThreadInOrder) {
    AddJob(Media().avi_mpeg4_mp2, Out("sync0.avi"), "vcodec=copy\nacodec=copy");
    AddJob(Media().mp3_audio_only, Out("sync1.wav"));
    engine_.StartConvert(0);
    EXPECT_EQ(Terminations(),
              (std::vector<Termination>{
                  {0, true, false, ""}, {1, true, false, ""}, {-1, true, false, ""}}));
    EXPECT_EQ(engine_.Task(0).ThreadID, CurrentThreadId());
    EXPECT_EQ(engine_.Task(1).ThreadID, CurrentThreadId());
    // Both jobs share this thread's id, so library lines go to the first of them.
    bool second_output_logged_for_first = false;
    for (const auto& [index, level, text] : Logs())
        second_output_logged_for_first |= index == 0 && text.find("sync1.wav") != std::string::npos;
    EXPECT_TRUE(second_output_logged_for_first);
}

TEST_F(EngineTest, StopEndsTheRunningJobAndTheUnstartedOnes) {
    // Read at its own rate, the first job takes 12 s: it is still running when stopped.
    AddJob(Media().avi_long, Out("stop0.avi"), "vcodec=mpeg4", "re=1");
    AddJob(Media().avi_mpeg4_mp2, Out("stop1.avi"));
    AddJob(Media().avi_mpeg4_mp2, Out("stop2.avi"));
    engine_.StartConvert(1);
    for (int tries = 0; tries < 200 && !engine_.Task(0).Running; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    engine_.Stop();
    ASSERT_TRUE(WaitForBatchEnd());
    std::vector<Termination> ends = Terminations();
    ASSERT_EQ(ends.size(), 4u);
    EXPECT_EQ(ends.back(), (Termination{-1, true, false, ""}));
    ends.pop_back();
    std::sort(ends.begin(), ends.end());
    EXPECT_EQ(ends, (std::vector<Termination>{
                        {0, false, false, ""}, {1, false, false, ""}, {2, false, false, ""}}));
    const testing::FileReport out = testing::ReadBack(Out("stop0.avi"));
    EXPECT_TRUE(out.opened) << "the stopped output is finished and playable";
}

TEST_F(EngineTest, ASecondPassQueuedBehindTheFirstReadsItsWholeStatistics) {
    // The next job starts as soon as the first one's end is raised: pass 1's statistics must
    // be whole on disk by then. Pass 1 writes one line a picture, 120 here.
    const std::string stats = Out("batch_stats");
    const auto lines_now = [&] {
        std::ifstream in(stats + "-0.log");
        return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(),
                          '\n');
    };
    std::atomic<long> lines_at_first_end{-1};
    const auto record = engine_.OnTerminate;
    engine_.OnTerminate = [&, record](int32_t index, bool finished, bool exception,
                                      const std::string& message) {
        if (index == 0)
            lines_at_first_end = lines_now();
        record(index, finished, exception, message);
    };
    AddJob(Media().avi_long, Out("batch_pass1.avi"), "an=1\npass=1\npasslogfile=" + stats);
    AddJob(Media().avi_long, Out("batch_pass2.avi"),
           "an=1\npass=2\nb=100000\npasslogfile=" + stats);
    engine_.StartConvert(1);
    ASSERT_TRUE(WaitForBatchEnd());
    EXPECT_EQ(Terminations(),
              (std::vector<Termination>{
                  {0, true, false, ""}, {1, true, false, ""}, {-1, true, false, ""}}));
    EXPECT_EQ(lines_now(), 120);
    EXPECT_EQ(lines_at_first_end, 120);
}

TEST_F(EngineTest, FinishedAndFailedJobs) {
    std::remove("ffmpeg2pass-0.log");
    AddJob(Media().avi_mpeg4_mp2, Out("fine.avi"));
    AddJob(Media().avi_mpeg4_mp2, Out("failed.avi"), "pass=2");
    engine_.StartConvert(1);
    ASSERT_TRUE(WaitForBatchEnd());
    EXPECT_EQ(Terminations(),
              (std::vector<Termination>{{0, true, false, ""},
                                        {1, false, true, "creat open fail: ffmpeg2pass-0.log"},
                                        {-1, true, false, ""}}));
    bool quiet = false;
    for (const auto& [index, level, text] : Logs())
        quiet |= index == 1 && level == llQuiet && text == "creat open fail: ffmpeg2pass-0.log";
    EXPECT_TRUE(quiet) << "the ending message is logged at llQuiet";
}

// A front end's job under a comma-decimal locale: the profile's record with the display aspect
// the front ends make from the source's size, run on a worker thread and read back.
TEST_F(EngineTest, ProfileJobUnderACommaLocale) {
    const testing::CommaLocale locale;
    ASSERT_TRUE(locale.Set()) << testing::kCommaLocaleMissing;
    const std::string caption = "Zune Mpeg4 Video (*.mp4)";
    ProfileLists lists;
    std::string output_type;
    ASSERT_TRUE(FillProfileCombos(lists, caption, output_type));
    TOutputOptions out;
    InitOutputOptions(out);
    FindProfile(caption)->Build(lists, output_type, out);
    out.AspectRatio = DisplayAspectValue(0, "560x320");
    ASSERT_EQ(out.AspectRatio, "1.75");
    out.FrameRate = "25.0"; // as other profiles give it, read by the library
    out.Duration = 1000;
    const std::string target = Out("comma_locale.mp4");
    const int32_t index =
        engine_.AddInputFile(testing::RealMediaPath("mp4_h264_aac_560x320.mp4"), nullptr);
    ASSERT_EQ(index, 0) << engine_.LastErrMsg();
    ASSERT_TRUE(engine_.SetOutputFile(index, target, &out)) << engine_.LastErrMsg();
    engine_.StartConvert(1);
    ASSERT_TRUE(WaitForBatchEnd());
    EXPECT_EQ(Terminations(),
              (std::vector<Termination>{{0, true, false, ""}, {-1, true, false, ""}}));
    std::string summary;
    for (const auto& [job, level, text] : Logs()) {
        if (text.find("muxing overhead") != std::string::npos)
            summary = text;
    }
    EXPECT_NE(summary.find('.'), std::string::npos) << summary;
    EXPECT_EQ(summary.find(','), std::string::npos) << summary;

    ASSERT_TRUE(engine_.AVProbe().LoadFile(target, "")) << engine_.AVProbe().LastError();
    TAVVideoInfo video;
    engine_.AVProbe().GetVideoInfo(video);
    EXPECT_EQ(video.Width, 320);
    EXPECT_EQ(video.Height, 240);
    EXPECT_NEAR(video.DisplayAspectRatio, 1.75f, 0.001f);
    EXPECT_EQ(video.FrameRateNum, 25);
    EXPECT_EQ(video.FrameRateDen, 1);
}

TEST_F(EngineTest, JobWithoutOutputEndsWithItsMessage) {
    const int32_t index = engine_.AddInputFile(Media().avi_mpeg4_mp2, nullptr);
    ASSERT_EQ(index, 0);
    engine_.StartConvert(1);
    ASSERT_TRUE(WaitForBatchEnd());
    EXPECT_EQ(Terminations(),
              (std::vector<Termination>{{0, false, true, "Must supply at least one output file"},
                                        {-1, true, false, ""}}));
}

TEST_F(EngineTest, LogLinesArePerThreadAndRoutedToTheirJob) {
    AddJob(Media().avi_mpeg4_mp2, Out("log.avi"));
    engine_.Task(0).ThreadID = CurrentThreadId(); // as if this thread ran the job
    {
        std::lock_guard guard(lock_);
        logs_.clear(); // the input's description, logged while the job was being built
    }
    CodecContextPtr context(av().avcodec_alloc_context3(nullptr));
    const AVClass* cls = context->av_class;
    av().av_log(context.get(), AV_LOG_INFO, "abc\ndef");
    const std::string prefix =
        FormatText("[%s @ %08X]", cls->item_name(context.get()),
                   static_cast<unsigned>(reinterpret_cast<uintptr_t>(cls) & 0xFFFFFFFFu));
    std::vector<std::tuple<int32_t, TLogLevel, std::string>> logs = Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], std::make_tuple(0, llInfo, prefix + "abc"));
    av().av_log(context.get(), AV_LOG_ERROR, "ghi\n");
    logs = Logs();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[1], std::make_tuple(0, llError, std::string("defghi")))
        << "pending text takes no prefix";

    // A long message is cut at the buffer, never written past it.
    av().av_log(nullptr, AV_LOG_INFO, "%s\n", std::string(5000, 'x').c_str());
    logs = Logs();
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_EQ(std::get<2>(logs[2]).size(), 2047u);

    std::thread([] { av().av_log(nullptr, AV_LOG_ERROR, "lonely\n"); }).join();
    logs = Logs();
    ASSERT_EQ(logs.size(), 4u);
    EXPECT_EQ(logs[3], std::make_tuple(-1, llError, std::string("lonely")));
}

TEST_F(EngineTest, LogLevelFiltersLibraryLines) {
    engine_.SetLogLevel(llError);
    av().av_log(nullptr, AV_LOG_INFO, "not wanted\n");
    av().av_log(nullptr, AV_LOG_ERROR, "wanted\n");
    const auto logs = Logs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], std::make_tuple(-1, llError, std::string("wanted")));
    engine_.SetLogLevel(llInfo);
}

TEST_F(EngineTest, RemoveTaskRenumbers) {
    for (int i = 0; i < 3; ++i)
        AddJob(Media().mp3_audio_only, Out("rm" + std::to_string(i) + ".wav"));
    TFFmpeg* third = &engine_.Task(2);
    engine_.RemoveTask(1);
    EXPECT_EQ(engine_.TaskCount(), 2);
    EXPECT_EQ(&engine_.Task(1), third);
    EXPECT_EQ(third->Index, 1);
}

TEST_F(EngineTest, PauseHoldsAJobAndResumeContinuesIt) {
    engine_.SetProgressInterval(100);
    AddJob(Media().avi_long, Out("pause.avi"), "vcodec=mpeg4", "re=1");
    auto reports = [this] {
        std::lock_guard guard(lock_);
        return progress_.size();
    };
    auto wait_for_more = [&](size_t than) {
        for (int tries = 0; tries < 1000 && reports() <= than; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return reports() > than;
    };
    engine_.StartConvert(1);
    ASSERT_TRUE(wait_for_more(0));
    engine_.Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a report in flight lands
    const size_t before = reports();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(reports(), before) << "a paused job makes no progress";
    engine_.Resume();
    EXPECT_TRUE(wait_for_more(before)) << "resumed";
    engine_.Stop();
    ASSERT_TRUE(WaitForBatchEnd());
    EXPECT_EQ(Terminations().front(), (Termination{0, false, false, ""}));
}

TEST_F(EngineTest, TwentyShortJobsTwoAtATime) {
    for (int i = 0; i < 20; ++i)
        AddJob(Media().mp3_audio_only, Out("many" + std::to_string(i) + ".wav"), "t=0.5");
    engine_.StartConvert(2);
    ASSERT_TRUE(WaitForBatchEnd());
    const std::vector<Termination> ends = Terminations();
    ASSERT_EQ(ends.size(), 21u);
    int finished = 0;
    int batch_ends = 0;
    for (const Termination& end : ends) {
        finished += std::get<0>(end) >= 0 && std::get<1>(end) ? 1 : 0;
        batch_ends += std::get<0>(end) == -1 ? 1 : 0;
    }
    EXPECT_EQ(finished, 20);
    EXPECT_EQ(batch_ends, 1);
}

} // namespace
} // namespace clipwright
