// The rate an output is encoded at: an inherited or asked rate of odd terms becomes the common
// rate it stands for, or the nearest one the encoder takes; an encoder that lists its rates gets
// the nearest it accepts.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/probe/av_probe.h"
#include "FFMPEG/job/job_options.h"
#include "FFMPEG/job/options.h"
#include "app/profiles/catalogue.h"
#include "tests/engine/job_runner.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::FirstOf;
using testing::Media;
using testing::ReadBack;

std::string OutPath(const std::string& name) {
    return testing::OutputPath("rate", name);
}

// The records a profile's builder makes from its default selections, as the window and
// `clipwright-cli convert` make them.
TOutputOptions ProfileRecords(int index) {
    const std::string caption = ProfileListEntries().at(static_cast<size_t>(index));
    ProfileLists lists;
    std::string type;
    EXPECT_TRUE(FillProfileCombos(lists, caption, type)) << caption;
    TOutputOptions out;
    InitOutputOptions(out);
    FindProfile(caption)->Build(lists, type, out);
    return out;
}

struct Rate {
    int num;
    int den;
};

Rate ProbedRate(const std::string& file) {
    TAVProbe probe;
    EXPECT_TRUE(probe.LoadFile(file, "")) << probe.LastError();
    TAVVideoInfo info;
    probe.GetVideoInfo(info);
    return {info.FrameRateNum, info.FrameRateDen};
}

struct ProfileRateCase {
    const char* label;
    std::string testing::GeneratedMedia::*source;
    Rate stored; // what the source's stream says
    int profile; // an MPEG-4 profile whose frame rate is "Auto"
    const char* extension;
    Rate expected; // what the output is encoded at
    const char* mediainfo_rate;
};

class ProfileRateTest : public ::testing::TestWithParam<ProfileRateCase> {};

TEST_P(ProfileRateTest, OddRateIsReducedAndTheLengthKept) {
    const ProfileRateCase& c = GetParam();
    const std::string source = Media().*c.source;
    const Rate stored = ProbedRate(source);
    ASSERT_EQ(stored.num, c.stored.num);
    ASSERT_EQ(stored.den, c.stored.den);

    const std::string target = OutPath(std::string(c.label) + c.extension);
    const testing::JobResult run =
        testing::RunJobWith({source}, "", target, ProfileRecords(c.profile));
    ASSERT_TRUE(run.built) << run.build_error;
    ASSERT_TRUE(run.completed) << run.message;

    const Rate written = ProbedRate(target);
    EXPECT_EQ(written.num, c.expected.num);
    EXPECT_EQ(written.den, c.expected.den);
    EXPECT_EQ(testing::MediaInfo("Video;%FrameRate%", target), c.mediainfo_rate);
    const testing::FileReport in = ReadBack(source);
    const testing::FileReport out = ReadBack(target);
    const testing::StreamReport* in_video = FirstOf(in, AVMEDIA_TYPE_VIDEO);
    const testing::StreamReport* out_video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(out_video, nullptr);
    EXPECT_EQ(out_video->decode_errors, 0);
    EXPECT_EQ(out_video->frames, in_video->frames);
    const double frame = static_cast<double>(c.expected.den) / c.expected.num;
    EXPECT_NEAR(out_video->end_seconds - out_video->start_seconds,
                in_video->end_seconds - in_video->start_seconds, frame);
}

using M = testing::GeneratedMedia;
// 1000000/66667 is 15 fps in AVI's microseconds a frame; 78125/417 has no common rate near it,
// and the MPEG-4 encoder takes no time-base term above 65535: 63137/337 is the nearest.
INSTANTIATE_TEST_SUITE_P(
    Mpeg4Profiles, ProfileRateTest,
    ::testing::Values(
        ProfileRateCase{
            "mp4_15", &M::avi_rate_15_odd, {1000000, 66667}, 21, ".mp4", {15, 1}, "15.000"},
        ProfileRateCase{
            "avi_15", &M::avi_rate_15_odd, {1000000, 66667}, 18, ".avi", {15, 1}, "15.000"},
        ProfileRateCase{
            "3gp_15", &M::avi_rate_15_odd, {1000000, 66667}, 16, ".3gp", {15, 1}, "15.000"},
        ProfileRateCase{
            "mp4_187", &M::avi_rate_187, {78125, 417}, 21, ".mp4", {63137, 337}, "187.350"},
        ProfileRateCase{
            "avi_187", &M::avi_rate_187, {78125, 417}, 19, ".avi", {63137, 337}, "187.350"}),
    [](const auto& info) { return std::string(info.param.label); });

// MPEG-1 lists rates it takes only with the unofficial compliance level: 15 fps is one.
TEST(OutputRateTest, Mpeg1TakesTheNearestRateItAccepts) {
    for (const char* options : {"vcodec=mpeg1video", "vcodec=mpeg1video\nr=15"}) {
        const std::string target = OutPath("mpeg1.mpg");
        const testing::JobResult run =
            testing::RunJob({Media().avi_mpeg4_mp2}, "", target, options);
        ASSERT_TRUE(run.completed) << options << ": " << run.build_error << run.message;
        const Rate written = ProbedRate(target);
        EXPECT_EQ(written.num, 24000) << options;
        EXPECT_EQ(written.den, 1001) << options;
        EXPECT_EQ(testing::MediaInfo("Video;%FrameRate%", target), "23.976");
        const testing::FileReport out = ReadBack(target);
        const testing::StreamReport* video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr);
        // At another rate the sync repeats a frame only once the source is more than a frame
        // ahead: the last source frame may fill one output frame less.
        EXPECT_NEAR(video->end_seconds - video->start_seconds, 2.0, 1.0 / 15 + 1001.0 / 24000)
            << options;
    }
    // Asked for, the unofficial level lets it keep 15 fps.
    const std::string target = OutPath("mpeg1_unofficial.mpg");
    const testing::JobResult run = testing::RunJob({Media().avi_mpeg4_mp2}, "", target,
                                                   "vcodec=mpeg1video\nstrict=unofficial");
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    const Rate written = ProbedRate(target);
    EXPECT_EQ(written.num, 15);
    EXPECT_EQ(written.den, 1);
}

struct TimeBaseCase {
    const char* label;
    std::string testing::GeneratedMedia::*source;
    const char* options;
    int num; // the encoder's time base
    int den;
};

class EncoderTimeBaseTest : public ::testing::TestWithParam<TimeBaseCase> {};

TEST_P(EncoderTimeBaseTest, WhatTheEncoderIsSetUpWith) {
    const TimeBaseCase& c = GetParam();
    TFFmpeg job;
    job.Prepare();
    job.SetVerbosity(-1);
    ASSERT_TRUE(job.OpenInputFile(Media().*c.source)) << job.LastError;
    ApplyExtraOptions(job, c.options);
    ASSERT_TRUE(job.OpenOutputFile(OutPath(std::string(c.label) + ".mkv"))) << job.LastError;
    const AVCodecContext* encoder = job.OutputFiles().at(0).streams.at(0).encoder.get();
    EXPECT_EQ(encoder->time_base.num, c.num);
    EXPECT_EQ(encoder->time_base.den, c.den);
    job.SetVerbosity(1);
}

// An encoder that takes large terms keeps the rate; common rates stay as they are; a rate a
// microsecond off a common one in its frame duration becomes that one.
INSTANTIATE_TEST_SUITE_P(
    Rates, EncoderTimeBaseTest,
    ::testing::Values(
        TimeBaseCase{"h264_187", &M::avi_rate_187, "vcodec=libx264", 417, 78125},
        TimeBaseCase{"mpeg4_187", &M::avi_rate_187, "vcodec=mpeg4", 337, 63137},
        TimeBaseCase{"h264_15", &M::avi_rate_15_odd, "vcodec=libx264", 1, 15},
        TimeBaseCase{"film", &M::avi_film_rate, "vcodec=mpeg4", 1001, 24000},
        TimeBaseCase{"asked_ntsc", &M::avi_mpeg4_mp2, "vcodec=mpeg4\nr=2997/100", 1001, 30000},
        TimeBaseCase{"mpeg1_15_odd", &M::avi_rate_15_odd, "vcodec=mpeg1video", 1001, 24000}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace clipwright
