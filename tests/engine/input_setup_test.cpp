// Opening inputs: what the settings inherit from the source, seeking, offsets, durations and
// every failure path, on generated and real files.
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "app/profiles/list_texts.h"
#include "tests/engine/log_capture.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::Media;

class InputSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        job_.Prepare();
        job_.SetVerbosity(-1); // no format dumps in the test output
    }
    void TearDown() override { job_.SetVerbosity(1); }
    const OptionState& O() const { return job_.Options(); }

    TFFmpeg job_;
};

TEST_F(InputSetupTest, SettingsInheritTheSource) {
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2)) << job_.LastError;
    EXPECT_EQ(O().audio_sample_rate, 22050);
    EXPECT_EQ(O().audio_channels, 2);
    EXPECT_EQ(O().frame_width, 320);
    EXPECT_EQ(O().frame_height, 240);
    EXPECT_EQ(O().frame_rate.num, 15);
    EXPECT_EQ(O().frame_rate.den, 1);
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 320.0f / 240.0f);
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_YUV420P);
    ASSERT_EQ(job_.InputFiles().size(), 1u);
    const InputFile& input = job_.InputFiles()[0];
    ASSERT_EQ(input.decoders.size(), 2u);
    EXPECT_EQ(input.decoders[0]->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(input.decoders[1]->sample_rate, 22050);
    EXPECT_NEAR(job_.TotalDurationMs, 2000, 60);
}

TEST_F(InputSetupTest, CoverPictureLeavesTheVideoSettingsAlone) {
    // The outputs inherit the video of the first input, not a 64x64 still at 90000 fps.
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2)) << job_.LastError;
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_cover_art)) << job_.LastError;
    EXPECT_EQ(O().frame_width, 320);
    EXPECT_EQ(O().frame_height, 240);
    EXPECT_EQ(O().frame_rate.num, 15);
    EXPECT_EQ(O().frame_rate.den, 1);
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(O().audio_sample_rate, 44100);
    EXPECT_EQ(job_.InputFiles()[1].decoders.size(), 2u);
}

TEST_F(InputSetupTest, NoSampleAspectMeansSquarePixels) {
    ASSERT_TRUE(job_.OpenInputFile(Media().mp4_h264_aac)) << job_.LastError;
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 640.0f / 480.0f);
    EXPECT_EQ(O().frame_rate.num, 30000);
    EXPECT_EQ(O().frame_rate.den, 1001);
}

TEST_F(InputSetupTest, VideoWithoutASizeFailsTheAspect) {
    // Random bytes read as raw MPEG-4 video: a stream whose size was never found.
    job_.SetInputFormat("m4v");
    try {
        const bool opened = job_.OpenInputFile(Media().random_avi);
        ADD_FAILURE() << "opened: " << opened << " " << job_.LastError;
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Incorrect aspect ratio specification.");
    }
}

TEST_F(InputSetupTest, RealMediaExtensionGivesAPixelFormat) {
    ASSERT_TRUE(job_.OpenInputFile(Media().rm_unknown_codec)) << job_.LastError;
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(O().frame_width, 320);
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_unknown_codec)) << job_.LastError;
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_NONE);
}

TEST_F(InputSetupTest, QuietJobToleratesMissingStreamInformation) {
    // Random bytes read as a transport stream: the reading of stream information fails.
    job_.SetVerbosity(0);
    job_.SetInputFormat("mpegts");
    EXPECT_FALSE(job_.OpenInputFile(Media().random_avi));
    EXPECT_EQ(job_.LastError, Media().random_avi + ": could not find codec parameters");
    EXPECT_TRUE(job_.InputFiles().empty());
    job_.SetVerbosity(-1);
    job_.SetInputFormat("mpegts");
    EXPECT_TRUE(job_.OpenInputFile(Media().random_avi)) << job_.LastError;
    EXPECT_EQ(job_.InputFiles().size(), 1u);
}

TEST_F(InputSetupTest, StartTimeSeeksOnlyTheFirstInput) {
    job_.Dispatch("ss", "1");
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    EXPECT_EQ(O().start_time, 0) << "consumed by the seek";
    const InputFile& first = job_.InputFiles()[0];
    const int64_t start = first.context->start_time;
    EXPECT_EQ(first.ts_offset, -(1000000 + start));
    PacketPtr packet = allocPacket();
    ASSERT_GE(av().av_read_frame(first.context.get(), packet.get()), 0);
    const AVStream* stream = first.context->streams[packet->stream_index];
    EXPECT_GT(av().av_rescale_q(packet->pts, stream->time_base, AVRational{1, 1000}), 500)
        << "reading starts near the 1 s mark";

    job_.Dispatch("itsoffset", "2");
    ASSERT_TRUE(job_.OpenInputFile(Media().mkv_audio_first));
    const InputFile& second = job_.InputFiles()[1];
    const int64_t second_start =
        second.context->start_time == AV_NOPTS_VALUE ? 0 : second.context->start_time;
    EXPECT_EQ(second.ts_offset, 2000000 - second_start);

    job_.Dispatch("copyts", "");
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only));
    EXPECT_EQ(job_.InputFiles()[2].ts_offset, 2000000);
}

TEST_F(InputSetupTest, TotalDurationIsTheLongestInput) {
    ASSERT_TRUE(job_.OpenInputFile(Media().mp4_h264_aac));
    const int32_t short_one = job_.TotalDurationMs;
    EXPECT_NEAR(short_one, 1001, 50);
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only));
    EXPECT_NEAR(job_.TotalDurationMs, 3000, 60);
    const int32_t longest = job_.TotalDurationMs;
    // A raw stream through a pipe: its length is unknown.
    const testing::PipedCopy pipe(Media().m4v_unknown_length, Media().folder + "/input_pipe.m4v");
    ASSERT_TRUE(job_.OpenInputFile(pipe.Path())) << job_.LastError;
    ASSERT_TRUE(job_.OpenInputFile(Media().mp4_h264_aac));
    EXPECT_EQ(job_.TotalDurationMs, longest);
}

TEST_F(InputSetupTest, LengthOfAnElementaryStreamIsMeasured) {
    // Its header's VBR bit rate would make it 10 ms; it is 135 frames at 25 fps.
    ASSERT_TRUE(job_.OpenInputFile(Media().m1v_elementary)) << job_.LastError;
    EXPECT_NEAR(job_.TotalDurationMs, 5400, 40);
    EXPECT_NEAR(job_.InputFiles()[0].context->duration, 5400000, 40000);
}

TEST_F(InputSetupTest, FailuresLeaveTheListAndConsumeTheFileSettings) {
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only));
    job_.Dispatch("vcodec", "mpeg4");
    job_.Dispatch("re", "");
    job_.Dispatch("f", "avi");
    const std::string missing = Media().folder + "/missing.avi";
    EXPECT_FALSE(job_.OpenInputFile(missing));
    EXPECT_EQ(job_.LastError, missing + ": no such file or directory");
    EXPECT_EQ(job_.InputFiles().size(), 1u);
    EXPECT_FALSE(O().video_codec_name.has_value());
    EXPECT_EQ(O().rate_emu, 0);
    EXPECT_EQ(O().forced_input_format, nullptr);
    EXPECT_EQ(O().forced_output_format, nullptr);

    job_.Dispatch("vcodec", "nosuchdecoder");
    EXPECT_FALSE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    EXPECT_EQ(job_.LastError, "Unknown decoder 'nosuchdecoder'");
    job_.Dispatch("acodec", "mpeg4");
    EXPECT_FALSE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    EXPECT_EQ(job_.LastError, "Invalid decoder type 'mpeg4'");

    EXPECT_FALSE(job_.OpenInputFile(Media().random_mp4));
    EXPECT_EQ(job_.LastError, Media().random_mp4 + ": Unknown format");
    EXPECT_EQ(job_.InputFiles().size(), 1u);
}

TEST_F(InputSetupTest, DisabledKindsAreDiscarded) {
    job_.Dispatch("an", "");
    job_.Dispatch("vn", "");
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    const AVFormatContext* context = job_.InputFiles()[0].context.get();
    EXPECT_EQ(context->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_EQ(context->streams[1]->discard, AVDISCARD_ALL);
}

TEST_F(InputSetupTest, TwentyFirstInputIsRefused) {
    for (int i = 0; i < kMaxInputFiles; ++i)
        ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only)) << i;
    EXPECT_FALSE(job_.OpenInputFile(Media().mp3_audio_only));
    EXPECT_EQ(job_.LastError, Media().mp3_audio_only + ": too many input files (at most 20)");
    EXPECT_EQ(job_.InputFiles().size(), 20u);
}

TEST_F(InputSetupTest, FormatDumpGoesToTheLogUnlessQuiet) {
    auto dumped = [](const testing::LogCapture& log) {
        for (const auto& [level, text] : log.Messages()) {
            if (text.find("Input #") != std::string::npos)
                return true;
        }
        return false;
    };
    {
        testing::LogCapture log; // lets every library level through
        ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only));
        EXPECT_FALSE(dumped(log)) << "a quiet job dumps nothing";
    }
    job_.SetVerbosity(1);
    testing::LogCapture log;
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only));
    EXPECT_TRUE(dumped(log));
}

class RealInputTest : public ::testing::TestWithParam<testing::RealMediaFile> {};

TEST_P(RealInputTest, OpensAndInheritsWhatTheFileHolds) {
    const testing::RealMediaFile& f = GetParam();
    TFFmpeg job;
    job.Prepare();
    job.SetVerbosity(-1);
    ASSERT_TRUE(job.OpenInputFile(testing::RealMediaPath(f.name))) << job.LastError;
    const OptionState& o = job.Options();
    if (f.sample_rate > 0) {
        EXPECT_EQ(o.audio_sample_rate, f.sample_rate);
        EXPECT_EQ(o.audio_channels, f.channels);
    } else {
        EXPECT_EQ(o.audio_sample_rate, 44100) << "no audio: the default stays";
        EXPECT_EQ(o.audio_channels, 2);
    }
    if (f.width > 0) {
        EXPECT_EQ(o.frame_width, f.width);
        EXPECT_EQ(o.frame_height, f.height);
        EXPECT_EQ(FrameRateText(o.frame_rate.num, o.frame_rate.den), f.frame_rate_text);
        EXPECT_GT(o.frame_aspect_ratio, 0.0f);
    } else {
        EXPECT_EQ(o.frame_width, 0);
    }
    EXPECT_EQ(job.InputFiles().at(0).decoders.size(), static_cast<size_t>(f.streams));
    job.SetVerbosity(1);
}

INSTANTIATE_TEST_SUITE_P(RealMedia, RealInputTest, ::testing::ValuesIn(testing::RealMedia()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

} // namespace
} // namespace clipwright
