// Creating outputs: stream choice, what each encoder context receives, the container rules
// and every failure text.
#include <filesystem>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::Media;

class OutputSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        job_.Prepare();
        job_.SetVerbosity(-1);
        folder_ =
            fs::path(Media().folder) /
            ("out-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(folder_);
    }
    void TearDown() override { job_.SetVerbosity(1); }
    std::string Out(const std::string& name) const { return (folder_ / name).string(); }
    AVCodecContext* Encoder(size_t file, size_t stream) {
        return job_.OutputFiles().at(file).streams.at(stream).encoder.get();
    }

    TFFmpeg job_;
    fs::path folder_;
};

TEST_F(OutputSetupTest, EncodersInheritTheInputWithoutOptions) {
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    ASSERT_TRUE(job_.OpenOutputFile(Out("out.avi"))) << job_.LastError;
    ASSERT_EQ(job_.OutputFiles().size(), 1u);
    const OutputFile& output = job_.OutputFiles()[0];
    ASSERT_EQ(output.streams.size(), 2u);
    AVCodecContext* video = Encoder(0, 0);
    AVCodecContext* audio = Encoder(0, 1);
    EXPECT_EQ(video->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_EQ(video->time_base.num, 1);
    EXPECT_EQ(video->time_base.den, 15);
    EXPECT_EQ(audio->sample_rate, 22050);
    EXPECT_EQ(audio->ch_layout.nb_channels, 2);
    EXPECT_EQ(audio->time_base.den, 22050);
    EXPECT_TRUE(fs::exists(Out("out.avi"))) << "the byte stream is open";
    EXPECT_EQ(job_.Options().forced_output_format, nullptr);
}

TEST_F(OutputSetupTest, SampleAspectFromTheInheritedAspect) {
    ASSERT_TRUE(job_.OpenInputFile(Media().mp4_h264_aac)); // 640x480, no sample aspect
    job_.Dispatch("s", "320x240");
    ASSERT_TRUE(job_.OpenOutputFile(Out("out.avi"))) << job_.LastError;
    EXPECT_EQ(Encoder(0, 0)->sample_aspect_ratio.num, 1);
    EXPECT_EQ(Encoder(0, 0)->sample_aspect_ratio.den, 1);
    job_.Dispatch("s", "720x576");
    job_.Dispatch("aspect", "4:3");
    ASSERT_TRUE(job_.OpenOutputFile(Out("sar.avi"))) << job_.LastError;
    EXPECT_EQ(Encoder(1, 0)->sample_aspect_ratio.num, 16);
    EXPECT_EQ(Encoder(1, 0)->sample_aspect_ratio.den, 15);
}

TEST_F(OutputSetupTest, FormatAndNameFailures) {
    EXPECT_FALSE(job_.OpenOutputFile(Out("out.xyz")));
    EXPECT_EQ(job_.LastError,
              "Unable to find a suitable output format for '" + Out("out.xyz") + "'");
    EXPECT_FALSE(job_.OpenOutputFile(Out("frame.jpg")));
    EXPECT_EQ(job_.LastError, OpenErrorText(Out("frame.jpg"), AVERROR(EDOM)));
    EXPECT_TRUE(job_.OpenOutputFile(Out("frame%03d.jpg"))) << job_.LastError;
    const std::string unwritable = "/nonexistent-folder/out.avi";
    EXPECT_FALSE(job_.OpenOutputFile(unwritable));
    EXPECT_EQ(job_.LastError, "Could not open '" + unwritable + "'");
    EXPECT_EQ(job_.OutputFiles().size(), 1u);
}

TEST_F(OutputSetupTest, AFailedOutputLeavesNoTrace) {
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    job_.Dispatch("vcodec", "nosuchencoder");
    EXPECT_FALSE(job_.OpenOutputFile(Out("first.avi")));
    EXPECT_EQ(job_.LastError, "new_video_stream fail: Unknown encoder 'nosuchencoder'");
    EXPECT_FALSE(job_.Options().video_codec_name.has_value()) << "consumed even on failure";
    ASSERT_TRUE(job_.OpenOutputFile(Out("second.avi"))) << job_.LastError;
    ASSERT_EQ(job_.OutputFiles().size(), 1u);
    EXPECT_STREQ(job_.OutputFiles()[0].context->url, Out("second.avi").c_str());
}

TEST_F(OutputSetupTest, NoStreamOfAKindNoInputHas) {
    ASSERT_TRUE(job_.OpenInputFile(Media().m4v_unknown_length)); // video only
    ASSERT_TRUE(job_.OpenOutputFile(Out("video.avi"))) << job_.LastError;
    ASSERT_EQ(job_.OutputFiles()[0].streams.size(), 1u);
    EXPECT_EQ(Encoder(0, 0)->codec_type, AVMEDIA_TYPE_VIDEO);
    job_.Dispatch("vn", "");
    EXPECT_TRUE(job_.OpenOutputFile(Out("none.avi")));
    EXPECT_TRUE(job_.OutputFiles()[1].streams.empty());
    EXPECT_EQ(job_.Options().video_disable, 1) << "only a created stream consumes the flag";
}

TEST_F(OutputSetupTest, CoverPictureOfAnInputIsNoVideo) {
    // Copied, encoded at a fixed rate, or into a format without a default video codec: audio only.
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_cover_art)) << job_.LastError;
    const char* const video_options[][2] = {{"vcodec", "copy"}, {"r", "15"}, {"vcodec", "mpeg4"}};
    const char* const names[] = {"copy.mkv", "fixed_rate.mp4", "asked.avi"};
    for (size_t i = 0; i < std::size(names); ++i) {
        job_.Dispatch(video_options[i][0], video_options[i][1]);
        ASSERT_TRUE(job_.OpenOutputFile(Out(names[i]))) << job_.LastError;
        ASSERT_EQ(job_.OutputFiles()[i].streams.size(), 1u) << names[i];
        EXPECT_EQ(Encoder(i, 0)->codec_type, AVMEDIA_TYPE_AUDIO) << names[i];
    }
}

TEST_F(OutputSetupTest, RateControlOverrides) {
    job_.Dispatch("rc_override", "0,100,-50/200,300,5");
    ASSERT_TRUE(job_.OpenOutputFile(Out("rc.avi"))) << job_.LastError;
    AVCodecContext* video = Encoder(0, 0);
    ASSERT_EQ(video->rc_override_count, 2);
    EXPECT_EQ(video->rc_override[0].start_frame, 0);
    EXPECT_EQ(video->rc_override[0].end_frame, 100);
    EXPECT_EQ(video->rc_override[0].qscale, 0);
    EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 0.5f);
    EXPECT_EQ(video->rc_override[1].start_frame, 200);
    EXPECT_EQ(video->rc_override[1].qscale, 5);
    EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 1.0f);
    for (const char* bad : {"10,20", "10,20,5/"}) {
        job_.Dispatch("rc_override", bad);
        EXPECT_FALSE(job_.OpenOutputFile(Out("bad.avi")));
        EXPECT_EQ(job_.LastError, "new_video_stream fail: error parsing rc_override") << bad;
    }
}

TEST_F(OutputSetupTest, SupportedFrameRateNearestToTheAskedOne) {
    job_.Dispatch("vcodec", "mpeg2video");
    job_.Dispatch("r", "26");
    ASSERT_TRUE(job_.OpenOutputFile(Out("a.mpg"))) << job_.LastError;
    EXPECT_EQ(Encoder(0, 0)->time_base.den, 25);
    job_.Dispatch("vcodec", "mpeg2video");
    job_.Dispatch("r", "23.9");
    ASSERT_TRUE(job_.OpenOutputFile(Out("b.mpg")));
    EXPECT_EQ(Encoder(1, 0)->time_base.num, 1001);
    EXPECT_EQ(Encoder(1, 0)->time_base.den, 24000);
    job_.Dispatch("vcodec", "mpeg4");
    job_.Dispatch("r", "23.9");
    ASSERT_TRUE(job_.OpenOutputFile(Out("c.avi")));
    EXPECT_EQ(Encoder(2, 0)->time_base.den, 239) << "a codec without a list takes the rate";
}

TEST_F(OutputSetupTest, GlobalAndLocalHeaders) {
    ASSERT_TRUE(job_.OpenOutputFile(Out("global.mp4"))) << job_.LastError;
    EXPECT_TRUE(Encoder(0, 0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

    TFFmpeg local;
    local.Prepare();
    local.Dispatch("vglobal", "2");
    ASSERT_TRUE(local.OpenOutputFile(Out("local.mp4"))) << local.LastError;
    AVCodecContext* video = local.OutputFiles()[0].streams[0].encoder.get();
    EXPECT_FALSE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_TRUE(video->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
}

TEST_F(OutputSetupTest, VideoEncoderSettings) {
    job_.Dispatch("s", "352x288");
    job_.Dispatch("padtop", "16");
    job_.Dispatch("padbottom", "16");
    job_.Dispatch("pix_fmt", "rgb24");
    job_.Dispatch("qscale", "4");
    job_.Dispatch("intra", "");
    job_.Dispatch("psnr", "");
    job_.Dispatch("pass", "1");
    job_.Dispatch("vtag", "DX50");
    job_.Dispatch("dc", "10");
    job_.Dispatch("vcodec", "libxvid");
    ASSERT_TRUE(job_.OpenOutputFile(Out("settings.avi"))) << job_.LastError;
    const OutputStreamSetup& setup = job_.OutputFiles()[0].streams[0];
    AVCodecContext* video = setup.encoder.get();
    ASSERT_NE(setup.codec, nullptr);
    EXPECT_STREQ(setup.codec->name, "libxvid") << "the named encoder, not the id's default";
    EXPECT_EQ(video->height, 320);
    EXPECT_EQ(video->pix_fmt, setup.codec->pix_fmts[0]) << "an unlisted format falls back";
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(video->global_quality, 4 * FF_QP2LAMBDA);
    EXPECT_EQ(video->gop_size, 0);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PSNR);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PASS1);
    EXPECT_EQ(video->codec_tag, 808802372u);
    EXPECT_EQ(video->intra_dc_precision, 2);
}

TEST_F(OutputSetupTest, AudioAndSubtitleStreams) {
    ASSERT_TRUE(job_.OpenInputFile(Media().mp3_audio_only));
    job_.Dispatch("acodec", "libfaac");
    job_.Dispatch("alang", "english");
    job_.Dispatch("ab", "96000");
    job_.Dispatch("aq", "3");
    ASSERT_TRUE(job_.OpenOutputFile(Out("audio.m4a"))) << job_.LastError;
    const OutputFile& output = job_.OutputFiles()[0];
    ASSERT_EQ(output.streams.size(), 1u);
    AVCodecContext* audio = output.streams[0].encoder.get();
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(audio->bit_rate, 96000);
    EXPECT_TRUE(audio->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_EQ(audio->global_quality, 3 * FF_QP2LAMBDA);
    const AVDictionaryEntry* language =
        av().av_dict_get(output.context->streams[0]->metadata, "language", nullptr, 0);
    ASSERT_NE(language, nullptr);
    EXPECT_STREQ(language->value, "eng");
    EXPECT_EQ(job_.Options().audio_language, "") << "the language is used up";

    job_.Dispatch("scodec", "mov_text");
    job_.Dispatch("slang", "fre");
    job_.Dispatch("newsubtitle", "");
    ASSERT_EQ(output.streams.size(), 2u);
    EXPECT_EQ(output.streams[1].encoder->codec_id, AV_CODEC_ID_MOV_TEXT);
    EXPECT_STREQ(
        av().av_dict_get(output.context->streams[1]->metadata, "language", nullptr, 0)->value,
        "fre");
    job_.Dispatch("scodec", "nosuch");
    try {
        job_.Dispatch("newsubtitle", "");
        ADD_FAILURE();
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Unknown encoder 'nosuch'");
    }
    EXPECT_FALSE(job_.Options().subtitle_codec_name.has_value());
}

TEST_F(OutputSetupTest, NewStreamOptionsNeedAnOutput) {
    try {
        job_.Dispatch("newaudio", "");
        ADD_FAILURE();
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "At least one output file must be specified");
    }
    ASSERT_TRUE(job_.OpenInputFile(Media().avi_mpeg4_mp2));
    ASSERT_TRUE(job_.OpenOutputFile(Out("two.avi")));
    job_.Dispatch("acodec", "mp2");
    job_.Dispatch("newaudio", "");
    ASSERT_EQ(job_.OutputFiles()[0].streams.size(), 3u);
    EXPECT_EQ(Encoder(0, 2)->codec_id, AV_CODEC_ID_MP2);
    EXPECT_EQ(job_.OutputFiles()[0].context->nb_streams, 3u);
}

TEST_F(OutputSetupTest, ContainerMetadataAndMuxerOptions) {
    TOutputOptions options;
    options.Title = "A Title";
    options.Author = "Someone";
    options.Year = 2008;
    options.Track = 7;
    options.Timestamp = 25569.0 + 1.0; // one day after 1970, local time
    options.TargetType = 3;
    options.TVStandard = 1;
    ApplyOutputOptions(job_, options);
    ASSERT_TRUE(job_.OpenOutputFile(Out("disc.vob"))) << job_.LastError;
    const OutputFile& output = job_.OutputFiles()[0];
    auto meta = [&](const char* key) {
        const AVDictionaryEntry* e = av().av_dict_get(output.context->metadata, key, nullptr, 0);
        return e != nullptr ? std::string(e->value) : std::string();
    };
    EXPECT_EQ(meta("title"), "A Title");
    EXPECT_EQ(meta("artist"), "Someone");
    EXPECT_EQ(meta("date"), "2008");
    EXPECT_EQ(meta("track"), "7");
    EXPECT_EQ(meta("creation_time").substr(0, 4), "1970");
    EXPECT_STREQ(output.context->oformat->name, "dvd");
    ASSERT_NE(output.muxer_options, nullptr);
    EXPECT_STREQ(av().av_dict_get(output.muxer_options.get(), "muxrate", nullptr, 0)->value,
                 "10080000");
    EXPECT_STREQ(av().av_dict_get(output.muxer_options.get(), "preload", nullptr, 0)->value,
                 "500000");
    EXPECT_EQ(output.context->max_delay, 700000);
    EXPECT_EQ(output.context->packet_size, 2048u);
}

TEST_F(OutputSetupTest, JobBuiltEntirelyFromTheRecords) {
    TInputOptions input;
    InitInputOptions(input);
    input.ExtraOptions = "v=-1";
    ASSERT_TRUE(BuildInput(job_, Media().avi_mpeg4_mp2, &input)) << job_.LastError;
    EXPECT_EQ(input.FileName, Media().avi_mpeg4_mp2) << "the caller's record gets the name";
    TOutputOptions output;
    InitOutputOptions(output);
    output.VideoCodec = "mpeg4";
    output.FrameSize = "160x120";
    output.AudioCodec = "mp2";
    output.AudioSampleRate = 44100;
    output.AudioChannels = 1;
    ASSERT_TRUE(BuildOutput(job_, Out("built.avi"), &output)) << job_.LastError;
    EXPECT_EQ(job_.OutputOptions.FileName, Out("built.avi"));
    EXPECT_EQ(Encoder(0, 0)->width, 160);
    EXPECT_EQ(Encoder(0, 1)->sample_rate, 44100);
    EXPECT_EQ(Encoder(0, 1)->ch_layout.nb_channels, 1);
    EXPECT_FALSE(BuildOutput(job_, Out("x.xyz"), nullptr));
    EXPECT_EQ(job_.OutputFiles().size(), 1u);
}

TEST_F(OutputSetupTest, TwentyFirstOutputIsRefused) {
    job_.Dispatch("vn", "");
    for (int i = 0; i < kMaxOutputFiles; ++i)
        ASSERT_TRUE(job_.OpenOutputFile(Out(std::to_string(i) + ".wav"))) << i;
    EXPECT_FALSE(job_.OpenOutputFile(Out("21.wav")));
    EXPECT_EQ(job_.LastError, Out("21.wav") + ": too many output files (at most 20)");
}

struct ContainerCase {
    const char* file;
    const char* format; // forced; empty: from the name
    const char* muxer;
    bool video;
};

class ProfileContainerTest : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(ProfileContainerTest, CreatedFromARealInputWithDefaultStreams) {
    const ContainerCase& c = GetParam();
    TFFmpeg job;
    job.Prepare();
    job.SetVerbosity(-1);
    ASSERT_TRUE(job.OpenInputFile(testing::RealMediaPath("mp4_h264_aac_560x320.mp4")));
    job.SetOutputFormat(c.format);
    if (!c.video)
        job.Dispatch("vn", "");
    const std::string file = (fs::path(Media().folder) / c.file).string();
    ASSERT_TRUE(job.OpenOutputFile(file)) << job.LastError;
    const OutputFile& output = job.OutputFiles().at(0);
    EXPECT_STREQ(output.context->oformat->name, c.muxer);
    ASSERT_EQ(output.streams.size(), c.video ? 2u : 1u);
    const AVCodecContext* audio = output.streams.back().encoder.get();
    EXPECT_EQ(audio->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(audio->sample_rate, 48000);
    if (c.video) {
        EXPECT_EQ(output.streams[0].encoder->width, 560);
        EXPECT_EQ(output.streams[0].encoder->height, 320);
    }
    EXPECT_TRUE(fs::exists(file));
    job.SetVerbosity(1);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ProfileContainerTest,
    ::testing::Values(
        ContainerCase{"p.mp4", "", "mp4", true}, ContainerCase{"p.wmv", "", "asf", true},
        ContainerCase{"p.wma", "", "asf", false}, ContainerCase{"p.m4a", "ipod", "ipod", false},
        ContainerCase{"p.mp3", "", "mp3", false}, ContainerCase{"p.wav", "", "wav", false},
        ContainerCase{"p.3gp", "", "3gp", true}, ContainerCase{"p.3g2", "", "3g2", true},
        ContainerCase{"p.avi", "", "avi", true}, ContainerCase{"p.mov", "", "mov", true},
        ContainerCase{"p.mpg", "", "mpeg", true}),
    [](const auto& info) { return std::string(info.param.muxer) + "_" + (info.param.file + 2); });

} // namespace
} // namespace clipwright
