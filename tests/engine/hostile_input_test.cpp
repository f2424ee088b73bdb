// Inputs that once crashed or endangered a run: the fuzzers' reproducers and the shapes of
// input behind them. Each must end in an answer — a probe result or a job's own message —
// never a crash, and any output written must open.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/probe/av_probe.h"
#include "tests/engine/job_runner.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::Media;
using testing::RunJob;

// The fuzz target's own output options: a small, short re-encode.
constexpr const char* kSmallEncode =
    "vcodec=mpeg4\ns=64x48\nr=10\nacodec=mp2\nar=22050\nac=1\nt=1\nfs=262144";

std::string Reproducer(const std::string& name) {
    return (fs::path(CLIPWRIGHT_FUZZ_REGRESSIONS) / name).string();
}

TEST(HostileInputTest, EveryReproducerProbesAndConvertsWithoutACrash) {
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(CLIPWRIGHT_FUZZ_REGRESSIONS)) {
        ++seen;
        const std::string input = entry.path().string();
        TAVProbe probe;
        if (probe.LoadFile(input, "")) {
            TAVFileInfo info;
            probe.GetFileInfo(info);
            TAVVideoInfo video;
            probe.GetVideoInfo(video);
        }
        const std::string output =
            testing::OutputPath("hostile", entry.path().filename().string() + ".avi");
        const testing::JobResult run = RunJob({input}, "", output, kSmallEncode);
        if (run.built && run.completed && fs::exists(output)) {
            EXPECT_TRUE(testing::ReadBack(output).opened) << input;
        }
        if (run.exception) {
            EXPECT_FALSE(run.message.empty()) << input;
        }
    }
    EXPECT_GT(seen, 0);
}

// A truncated Matroska file whose video stream was never decoded: no size or pixel format.
TEST(HostileInputTest, VideoWithoutAKnownPictureFailsWithAMessage) {
    const testing::JobResult run =
        RunJob({Reproducer("mkv_unknown_pixel_format")}, "",
               testing::OutputPath("hostile", "unknown_format.avi"), kSmallEncode);
    ASSERT_TRUE(run.built);
    EXPECT_TRUE(run.exception);
    EXPECT_EQ(run.message, "Cannot get resampling context");
}

// An APC header claiming 541677121 Hz: the resampler is refused, not left building its
// filters for minutes.
TEST(HostileInputTest, AbsurdSampleRateIsRefused) {
    const testing::JobResult run =
        RunJob({Reproducer("apc_absurd_sample_rate")}, "",
               testing::OutputPath("hostile", "absurd_rate.avi"), kSmallEncode);
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_TRUE(run.exception);
    EXPECT_EQ(run.message, "Can not resample 2 channels @ 541677121 Hz to 1 channels @ 22050 Hz");
}

// An FLV whose timestamps leap by days: the leap is left out instead of filled with millions of
// copies of one picture (the run did not end).
TEST(HostileInputTest, TimestampLeapIsSkippedNotFilled) {
    const std::string output = testing::OutputPath("hostile", "leap.avi");
    const testing::JobResult run =
        RunJob({Reproducer("flv_timestamp_leap")}, "", output, "vcodec=mpeg4\ns=64x48\nr=10");
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_TRUE(run.completed) << run.message;
    EXPECT_TRUE(run.LoggedContaining("timestamp leap of"));
    const testing::FileReport report = testing::ReadBack(output);
    const testing::StreamReport* video = testing::FirstOf(report, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_LT(video->frames, 1000);
}

// Two MPEG-2 program streams of different sizes back to back: the decoder changes size in the
// middle of the run. Every picture must reach the encoder at the size it was set up for.
TEST(HostileInputTest, PictureSizeChangingMidStreamIsConvertedBack) {
    const std::string first = testing::OutputPath("hostile", "part_320.mpg");
    const std::string second = testing::OutputPath("hostile", "part_176.mpg");
    testing::MediaSpec media;
    media.video.emplace();
    media.video->codec = "mpeg2video";
    media.video->frame_rate = {25, 1};
    media.video->frames = 25;
    testing::WriteMedia(first, media); // 320x240
    media.video->width = 176;
    media.video->height = 144;
    testing::WriteMedia(second, media);
    const std::string joined = testing::OutputPath("hostile", "size_change.mpg");
    {
        std::ofstream out(joined, std::ios::binary);
        for (const std::string& part : {first, second})
            out << std::ifstream(part, std::ios::binary).rdbuf();
    }
    for (const char* size : {"320x240", "176x144"}) {
        const std::string output =
            testing::OutputPath("hostile", std::string("size_change_") + size + ".avi");
        const testing::JobResult run =
            RunJob({joined}, "", output, std::string("an=1\nvcodec=mpeg4\ns=") + size);
        ASSERT_TRUE(run.built) << run.build_error;
        EXPECT_TRUE(run.completed) << run.message;
        const testing::FileReport report = testing::ReadBack(output);
        const testing::StreamReport* video = testing::FirstOf(report, AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(std::to_string(video->width) + "x" + std::to_string(video->height), size);
        EXPECT_GE(video->frames, 45) << "the pictures after the change are kept";
        EXPECT_EQ(video->decode_errors, 0);
    }
}

} // namespace
} // namespace clipwright
