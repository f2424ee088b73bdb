// Whole runs: stream copy end to end on real files, the set-up failures, the loop's choices
// and limits, stopping, the clean-up and the progress report.
#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/run/run_job.h"
#include "FFMPEG/run/transcode.h"
#include "tests/engine/job_runner.h"
#include "tests/support/comma_locale.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::FirstOf;
using testing::JobResult;
using testing::Media;
using testing::ReadBack;
using testing::RunJob;

std::string OutPath(const std::string& name) {
    return testing::OutputPath("transcode", name);
}

struct CopyCase {
    const char* source;
    const char* target;
};

class StreamCopyTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(StreamCopyTest, SameCodecsSizeAndLength) {
    const std::string source = testing::RealMediaPath(GetParam().source);
    const std::string target =
        OutPath(std::string("copy_") + GetParam().source + "." + GetParam().target);
    const JobResult run = RunJob({source}, "", target, "vcodec=copy\nacodec=copy\nsn=1");
    ASSERT_TRUE(run.built) << run.build_error;
    ASSERT_FALSE(run.exception) << run.message;
    EXPECT_TRUE(run.completed);

    const testing::FileReport in = ReadBack(source);
    const testing::FileReport out = ReadBack(target);
    ASSERT_TRUE(out.opened);
    const testing::StreamReport* in_video = FirstOf(in, AVMEDIA_TYPE_VIDEO);
    const testing::StreamReport* out_video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(in_video, nullptr);
    ASSERT_NE(out_video, nullptr);
    EXPECT_EQ(out_video->codec, in_video->codec);
    EXPECT_EQ(out_video->width, in_video->width);
    EXPECT_EQ(out_video->height, in_video->height);
    EXPECT_EQ(out_video->packets, in_video->packets);
    EXPECT_EQ(out_video->decode_errors, 0);
    EXPECT_EQ(out_video->frames, in_video->frames);
    EXPECT_NEAR(out_video->end_seconds, in_video->end_seconds, 1.0 / in_video->frame_rate);
    const testing::StreamReport* in_audio = FirstOf(in, AVMEDIA_TYPE_AUDIO);
    const testing::StreamReport* out_audio = FirstOf(out, AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(out_audio, nullptr);
    EXPECT_EQ(out_audio->codec, in_audio->codec);
    EXPECT_EQ(out_audio->sample_rate, in_audio->sample_rate);
    EXPECT_EQ(out_audio->packets, in_audio->packets);
    EXPECT_EQ(out_audio->decode_errors, 0);
    EXPECT_EQ(testing::MediaInfo("Video;%Width%x%Height%", target),
              std::to_string(in_video->width) + "x" + std::to_string(in_video->height));
}

INSTANTIATE_TEST_SUITE_P(RealFiles, StreamCopyTest,
                         ::testing::Values(CopyCase{"mp4_h264_aac_560x320.mp4", "mp4"},
                                           CopyCase{"mp4_h264_aac_560x320.mp4", "mov"},
                                           CopyCase{"mov_h264_aac_560x320.mov", "mp4"},
                                           CopyCase{"mov_h264_aac_560x320.mov", "mov"},
                                           CopyCase{"flv_h264_aac_480x270.flv", "mp4"},
                                           CopyCase{"flv_h264_aac_480x270.flv", "mov"},
                                           CopyCase{"mkv_h264_2xaac_9xsrt_1024x576.mkv", "mp4"},
                                           CopyCase{"mkv_h264_2xaac_9xsrt_1024x576.mkv", "mov"},
                                           CopyCase{"flv_sorenson_mp3_320x240.flv", "avi"},
                                           CopyCase{"avi_divx5_mp3_512x384.avi", "avi"},
                                           // Tags of another container's table are dropped.
                                           CopyCase{"3gp_h263_amrnb_352x288.3gp", "mkv"}),
                         [](const auto& info) {
                             std::string name = std::string(info.param.source).substr(0, 8) + "_" +
                                                info.param.target;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

TEST(TranscodeTest, StopRequestLeavesAPlayableFile) {
    const std::string target = OutPath("stopped.mp4");
    const JobResult run = RunJob({testing::RealMediaPath("flv_h264_aac_480x270.flv")}, "", target,
                                 "vcodec=copy\nacodec=copy", [](TFFmpeg& job) {
                                     job.ProgressInterval = 0;
                                     testing::RecorderOf(job).progress =
                                         [](TCustomFFmpeg& j, const TJobProgress& progress) {
                                             if (progress.frame_number >= 60)
                                                 j.StopRequested = true;
                                         };
                                 });
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_FALSE(run.completed);
    EXPECT_FALSE(run.exception) << run.message;
    const testing::FileReport out = ReadBack(target);
    ASSERT_TRUE(out.opened);
    const testing::StreamReport* video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_GE(video->packets, 60);
    EXPECT_LT(video->packets, 200);
    EXPECT_EQ(video->decode_errors, 0);
    EXPECT_EQ(video->frames, video->packets);
}

TEST(TranscodeTest, MappingReportAndOneInputStreamFeedingTwoOutputs) {
    const std::string target = OutPath("two_audio.avi");
    const JobResult run =
        RunJob({Media().avi_mpeg4_mp2}, "", target, "vcodec=copy\nacodec=copy", [](TFFmpeg& job) {
            job.Dispatch("acodec", "copy");
            job.Dispatch("newaudio", "");
        });
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_TRUE(run.completed) << run.message;
    EXPECT_TRUE(run.Logged("Stream mapping:"));
    EXPECT_TRUE(run.Logged("  Stream #0.0 -> #0.0"));
    EXPECT_TRUE(run.Logged("  Stream #0.1 -> #0.1"));
    EXPECT_TRUE(run.Logged("  Stream #0.1 -> #0.2"));
    const testing::FileReport out = ReadBack(target);
    ASSERT_EQ(out.streams.size(), 3u);
    EXPECT_EQ(out.streams[1].packets, out.streams[2].packets);
}

struct CoverCase {
    const char* target;
    const char* options;
};

class CoverPictureTest : public ::testing::TestWithParam<CoverCase> {};

// An MP3's cover is a picture, not a video: every output of it is the audio alone.
TEST_P(CoverPictureTest, OutputIsTheAudioAlone) {
    const CoverCase& c = GetParam();
    const std::string target = OutPath(c.target);
    const JobResult run = RunJob({Media().mp3_cover_art}, "", target, c.options);
    ASSERT_TRUE(run.built) << run.build_error;
    ASSERT_TRUE(run.completed) << run.message;
    const testing::FileReport out = ReadBack(target);
    ASSERT_EQ(out.streams.size(), 1u);
    EXPECT_EQ(out.streams[0].type, AVMEDIA_TYPE_AUDIO);
    EXPECT_NEAR(out.streams[0].end_seconds, 3.0, 0.1);
    EXPECT_EQ(testing::MediaInfo("General;%VideoCount%|%AudioCount%", target), "|1");
}

INSTANTIATE_TEST_SUITE_P(
    Mp3WithCover, CoverPictureTest,
    ::testing::Values(CoverCase{"cover.mp4", "vcodec=mpeg4\nr=30000/1001\ns=320x240"},
                      CoverCase{"cover.3gp", "vcodec=h263\ns=176x144\nr=15\nacodec=libamr_nb\n"
                                             "ar=8000\nac=1\nab=12200"},
                      CoverCase{"cover.mkv", "vcodec=copy\nacodec=copy"}),
    [](const auto& info) {
        const std::string target = info.param.target;
        return target.substr(target.find('.') + 1);
    });

TEST(TranscodeTest, VideoOfAnotherInputIsChosenOverACover) {
    const std::string target = OutPath("cover_and_video.avi");
    const JobResult run = RunJob({Media().mp3_cover_art, Media().avi_mpeg4_mp2}, "", target,
                                 "vcodec=mpeg4\nacodec=mp2");
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    EXPECT_TRUE(run.Logged("  Stream #1.0 -> #0.0"));
    EXPECT_TRUE(run.Logged("  Stream #0.0 -> #0.1"));
    const testing::FileReport out = ReadBack(target);
    const testing::StreamReport* video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->frames, 30);
}

TEST(TranscodeTest, SetUpFailuresAndTheirTexts) {
    const std::string target = OutPath("fail.avi");
    JobResult run = RunJob({Media().avi_mpeg4_mp2}, "", target, "map=0.0\nmap=0.1\nmap=0.1");
    EXPECT_TRUE(run.exception);
    EXPECT_EQ(run.message, "Number of stream maps must match number of output streams");
    EXPECT_TRUE(run.Logged("Number of stream maps must match number of output streams"));
    EXPECT_FALSE(fs::exists(target)) << "an output left empty is deleted";

    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "map=0.5\nmap=0.1");
    EXPECT_EQ(run.message, "Could not find input stream #0.5");
    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "map=0.0\nmap=0.1:1.0");
    EXPECT_EQ(run.message, "Could not find sync stream #1.0");
    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "map=0.1\nmap=0.0");
    EXPECT_EQ(run.message, "Codec type mismatch for mapping #0.1 -> #0.0");

    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "vcodec=copy", [](TFFmpeg& job) {
        testing::SetCustomHook(job,
                               [](TCustomFFmpeg&, THookBitmap&, int32_t, int64_t, bool&, bool&) {});
    });
    EXPECT_EQ(run.message, "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
    const std::string plugin = std::string(HOOK_PLUGIN_DIR) + "/hook_plugin.so";
    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "vhook=" + plugin + "|1\nvcodec=copy");
    EXPECT_EQ(run.message, "-vcodec copy and -vhook are incompatible (frames are not decoded)");
    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "acodec=copy\nvol=512");
    EXPECT_EQ(run.message, "-acodec copy and -vol are incompatible (frames are not decoded)");
    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "acodec=copy\nvcodec=copy\nvol=256");
    EXPECT_FALSE(run.exception) << run.message;
    EXPECT_TRUE(run.completed);

    fs::remove("ffmpeg2pass-0.log");
    run = RunJob({Media().avi_mpeg4_mp2}, "", target, "pass=2");
    EXPECT_EQ(run.message, "creat open fail: ffmpeg2pass-0.log");
}

TEST(TranscodeTest, TwoPassesShareTheStatisticsFile) {
    const std::string prefix = OutPath("stats");
    const std::string first = OutPath("pass1.avi");
    JobResult run =
        RunJob({Media().avi_mpeg4_mp2}, "", first, "an=1\npass=1\npasslogfile=" + prefix);
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_GT(fs::file_size(prefix + "-0.log"), 0u);
    run = RunJob({Media().avi_mpeg4_mp2}, "", OutPath("pass2.avi"),
                 "an=1\npass=2\nb=100000\npasslogfile=" + prefix);
    EXPECT_TRUE(run.completed) << run.message;
}

TEST(TranscodeTest, TwoInputsAndShortest) {
    // Video from a 1 s raw stream, audio from a 3 s MP3.
    const std::string target = OutPath("two_inputs.avi");
    JobResult run = RunJob({Media().m4v_unknown_length, Media().mp3_audio_only}, "", target,
                           "vcodec=copy\nacodec=copy");
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    testing::FileReport out = ReadBack(target);
    ASSERT_EQ(out.streams.size(), 2u);
    EXPECT_NEAR(FirstOf(out, AVMEDIA_TYPE_AUDIO)->end_seconds, 3.0, 0.1);

    run = RunJob({Media().m4v_unknown_length, Media().mp3_audio_only}, "", target,
                 "vcodec=copy\nacodec=copy\nshortest=1");
    ASSERT_TRUE(run.completed) << run.message;
    out = ReadBack(target);
    EXPECT_LT(FirstOf(out, AVMEDIA_TYPE_AUDIO)->end_seconds, 1.6);
}

TEST(TranscodeTest, SameQualitySaysOnceThatItUsesAFixedQuality) {
    // This library generation's decoders report no picture quality to carry over.
    const JobResult run =
        RunJob({Media().avi_mpeg4_mp2}, "", OutPath("sameq.avi"), "vcodec=mpeg4\nsameq=1");
    ASSERT_TRUE(run.completed) << run.message;
    const auto said = std::count_if(run.log.begin(), run.log.end(), [](const auto& line) {
        return line.second.rfind("sameq: ", 0) == 0;
    });
    EXPECT_EQ(said, 1);
}

TEST(TranscodeTest, RecordingTimeLimit) {
    // Copies: the AVI stores its sound half a second ahead of the picture, which the loop
    // reads on while the picture is behind.
    const struct {
        const char* source;
        const char* target;
        double seconds;
    } cases[] = {{"flv_h264_aac_480x270.flv", "ten_seconds.mp4", 10.0},
                 {"avi_xvid_ac3_720x528.avi", "four_seconds.mkv", 4.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string target = OutPath(c.target);
        const JobResult run = RunJob({testing::RealMediaPath(c.source)}, "", target,
                                     "vcodec=copy\nacodec=copy\nt=" + std::to_string(c.seconds));
        ASSERT_TRUE(run.completed) << run.message;
        const testing::FileReport out = ReadBack(target);
        for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
            const testing::StreamReport* s = FirstOf(out, type);
            ASSERT_NE(s, nullptr) << type;
            EXPECT_NEAR(s->end_seconds - s->start_seconds, c.seconds, 0.2) << type;
        }
    }
}

TEST(TranscodeTest, CopyStartsAtAKeyFrame) {
    const std::string target = OutPath("key_start.mkv");
    const JobResult run =
        RunJob({Media().mkv_no_key_start}, "", target, "vcodec=copy\nacodec=copy");
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    const testing::FileReport in = ReadBack(Media().mkv_no_key_start);
    const testing::FileReport out = ReadBack(target);
    // GOP 12: packets 3 to 11 of the original wait for the key frame at 12.
    EXPECT_EQ(FirstOf(out, AVMEDIA_TYPE_VIDEO)->packets,
              FirstOf(in, AVMEDIA_TYPE_VIDEO)->packets - 9);
    EXPECT_EQ(FirstOf(out, AVMEDIA_TYPE_VIDEO)->decode_errors, 0);
}

TEST(TranscodeTest, TimestampJumpIsMadeContinuous) {
    const std::string target = OutPath("jump.mkv");
    const JobResult run =
        RunJob({Media().mkv_dts_jump}, "", target, "vcodec=copy\nacodec=copy", {}, false, 3);
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    EXPECT_TRUE(run.LoggedContaining("timestamp discontinuity"));
    const testing::FileReport in = ReadBack(Media().mkv_dts_jump);
    const testing::FileReport out = ReadBack(target);
    EXPECT_GT(FirstOf(in, AVMEDIA_TYPE_VIDEO)->end_seconds, 20.0);
    EXPECT_LT(FirstOf(out, AVMEDIA_TYPE_VIDEO)->end_seconds, 1.5);
}

TEST(TranscodeTest, HeaderOnlyOutputIsKept) {
    const std::string target = OutPath("header_only.mkv");
    const JobResult run = RunJob({Media().avi_mpeg4_mp2}, "", target,
                                 "vcodec=copy\nacodec=copy\nvframes=0", {}, true);
    EXPECT_TRUE(run.completed) << run.message;
    ASSERT_TRUE(fs::exists(target));
    EXPECT_GT(fs::file_size(target), 0u);
    EXPECT_TRUE(run.progress.empty()) << "no report before the first picture";
    EXPECT_FALSE(run.LoggedContaining("video:")) << "nor a summary";
}

TEST(TranscodeTest, JobWithoutFilesEndsAtOnce) {
    testing::JobEventsRecorder events;
    TFFmpeg job;
    job.Prepare();
    job.SetEvents(&events);
    int terminated = 0;
    events.ended = [&](TCustomFFmpeg&) { ++terminated; };
    ExecuteJob(job);
    EXPECT_TRUE(job.ExceptionRaised);
    EXPECT_EQ(job.ExceptionMessage, "Must supply at least one output file");
    EXPECT_TRUE(job.Terminated);
    EXPECT_EQ(terminated, 1);
    ExecuteJob(job);
    EXPECT_EQ(terminated, 1) << "a terminated job is never started again";
}

TEST(ProgressTest, SizeTimeAndBitRateText) {
    double bit_rate = 0.0;
    EXPECT_EQ(ProgressSizeText(1048576, 8.0, bit_rate),
              "size=    1024kB time=8.00 bitrate=1048.6kbits/s");
    EXPECT_DOUBLE_EQ(bit_rate, 1048.576);
}

TEST(ProgressTest, TextsKeepTheirPointUnderACommaLocale) {
    const testing::CommaLocale locale;
    ASSERT_TRUE(locale.Set()) << testing::kCommaLocaleMissing;
    double bit_rate = 0.0;
    EXPECT_EQ(ProgressSizeText(1048576, 8.0, bit_rate),
              "size=    1024kB time=8.00 bitrate=1048.6kbits/s");
    EXPECT_EQ(FormatText("q=%2.1f drift:%.2f leap of %.0f", 2.5, 0.5, 1e3),
              "q=2.5 drift:0.50 leap of 1000");
    EXPECT_EQ(DecimalText(1.77777, 4), "1.7778");
    EXPECT_EQ(DecimalText(29.97, 2), "29.97");
    EXPECT_EQ(DecimalText(2.0, 4), "2");
}

TEST(ProgressTest, AudioOnlyJobReportsMinusOnes) {
    const JobResult run = RunJob({Media().mp3_audio_only}, "", OutPath("audio.wav"), "", {}, true);
    ASSERT_TRUE(run.completed) << run.message;
    ASSERT_FALSE(run.progress.empty());
    for (const testing::ProgressCall& call : run.progress) {
        EXPECT_EQ(call.frame, -1);
        EXPECT_EQ(call.fps, -1);
        EXPECT_EQ(call.quality, -1.0f);
    }
    const testing::ProgressCall& last = run.progress.back();
    EXPECT_NEAR(last.current_ms, 3000, 100);
    EXPECT_NEAR(last.total_ms, 3000, 100);
    EXPECT_GT(last.size, 500000);
    EXPECT_TRUE(run.LoggedContaining("muxing overhead"));
}

TEST(ProgressTest, ElementaryStreamReportsItsMeasuredLength) {
    // Measuring the length leaves the job's own reading whole: every frame is converted.
    const std::string target = OutPath("elementary.avi");
    const JobResult run = RunJob({Media().m1v_elementary}, "", target, "vcodec=mpeg4", {}, true);
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    ASSERT_FALSE(run.progress.empty());
    for (const testing::ProgressCall& call : run.progress)
        EXPECT_NEAR(call.total_ms, 5400, 40);
    EXPECT_NEAR(run.progress.back().current_ms, 5400, 80);
    const testing::FileReport out = ReadBack(target);
    ASSERT_NE(FirstOf(out, AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(FirstOf(out, AVMEDIA_TYPE_VIDEO)->frames, 135);
}

TEST(ProgressTest, StatusLineIsLoggedWithoutAProgressSlot) {
    const JobResult run =
        RunJob({Media().avi_mpeg4_mp2}, "", OutPath("line.avi"), "vcodec=copy\nacodec=copy");
    ASSERT_TRUE(run.completed);
    bool final_line = false;
    for (const auto& [level, text] : run.log)
        final_line |= text.rfind("frame=   30 fps=", 0) == 0 &&
                      text.find("q=-1.0 Lsize=") != std::string::npos;
    EXPECT_TRUE(final_line);
}

} // namespace
} // namespace clipwright
