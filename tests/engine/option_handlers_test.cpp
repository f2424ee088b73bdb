// The option handlers with their exact messages, the target presets and the option records.
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/text_format.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/job_options.h"
#include "tests/engine/job_events_recorder.h"
#include "tests/support/comma_locale.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        job_.Prepare();
        job_.SetEvents(&events_);
        events_.log = [this](TCustomFFmpeg&, int, const std::string& text) {
            log_.push_back(text);
        };
    }
    std::string Failure(const std::string& name, const std::string& value) {
        try {
            job_.Dispatch(name, value);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }
    bool Logged(const std::string& text) const {
        for (const std::string& line : log_) {
            if (line == text)
                return true;
        }
        return false;
    }
    int64_t HolderInt(int type, const char* name) {
        int64_t value = 0;
        av().av_opt_get_int(job_.Generic().CodecHolder(type), name, 0, &value);
        return value;
    }
    const OptionState& O() const { return job_.Options(); }

    testing::JobEventsRecorder events_;
    TFFmpeg job_;
    std::vector<std::string> log_;
};

TEST_F(HandlerTest, CropsWorkOnTheCurrentSize) {
    job_.Dispatch("s", "320x240");
    job_.Dispatch("croptop", "8");
    EXPECT_EQ(O().frame_topband, 8);
    EXPECT_EQ(O().frame_height, 232);
    EXPECT_EQ(Failure("cropbottom", "232"),
              "Vertical crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    EXPECT_EQ(Failure("cropleft", "320"),
              "Horizontal crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    job_.Dispatch("croptop", "-1");
    EXPECT_EQ(O().frame_topband, 8);
    EXPECT_EQ(Failure("croptop", "7"), "Top crop size must be a multiple of 2");
    EXPECT_EQ(Failure("cropright", "3"), "Right crop size must be a multiple of 2");
    job_.Dispatch("cropleft", "16");
    EXPECT_EQ(O().frame_width, 304);
}

TEST_F(HandlerTest, FrameSizeRateAndPads) {
    EXPECT_EQ(Failure("s", "321x240"), "Frame size must be a multiple of 2");
    EXPECT_EQ(O().frame_width, 321) << "the size is stored before the check";
    EXPECT_EQ(Failure("s", "big"), "Incorrect frame size");
    job_.Dispatch("s", "cif");
    EXPECT_EQ(O().frame_width, 352);
    EXPECT_EQ(O().frame_height, 288);
    job_.Dispatch("r", "30000/1001");
    EXPECT_EQ(O().frame_rate.num, 30000);
    EXPECT_EQ(O().frame_rate.den, 1001);
    EXPECT_EQ(Failure("r", "fast"), "Incorrect frame rate");
    job_.Dispatch("padtop", "16");
    EXPECT_EQ(O().frame_padtop, 16);
    EXPECT_EQ(Failure("padleft", "5"), "Left pad size must be a multiple of 2");
    EXPECT_EQ(O().frame_width, 352) << "padding leaves the size";
}

TEST_F(HandlerTest, AspectRatio) {
    job_.Dispatch("aspect", "16:9");
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 16.0f / 9.0f);
    job_.Dispatch("aspect", "1.3333");
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 1.3333f);
    for (const char* bad : {"4:0", "0", "abc", "x:3"})
        EXPECT_EQ(Failure("aspect", bad), "Incorrect aspect ratio specification.") << bad;
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 1.3333f);
}

TEST_F(HandlerTest, PadColourInFullRangeYCbCr) {
    job_.Dispatch("padcolor", "255");
    EXPECT_EQ(O().padcolor, (std::array<int32_t, 3>{76, 85, 255}));
    job_.Dispatch("padcolor", "0");
    EXPECT_EQ(O().padcolor, (std::array<int32_t, 3>{0, 128, 128}));
    job_.Dispatch("padcolor", "16777215");
    EXPECT_EQ(O().padcolor, (std::array<int32_t, 3>{255, 128, 128}));
}

TEST_F(HandlerTest, QScalePassTagsAndPixelFormat) {
    EXPECT_EQ(Failure("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Failure("qscale", "255.5"), "qscale must be > 0.0 and <= 255");
    job_.Dispatch("qscale", "255");
    EXPECT_FLOAT_EQ(O().video_qscale, 255.0f);
    EXPECT_EQ(Failure("pass", "3"), "pass number can be only 1 or 2");
    job_.Dispatch("pass", "2");
    EXPECT_EQ(O().do_pass, 2);
    job_.Dispatch("vtag", "DX50");
    EXPECT_EQ(O().video_codec_tag, 808802372u);
    EXPECT_EQ(Failure("vtag", "XVID1"), "video tag parameter must be 4 chars");
    EXPECT_EQ(Failure("atag", "ab"), "audio tag parameter must be 4 chars");
    job_.Dispatch("pix_fmt", "yuv422p");
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_YUV422P);
    job_.Dispatch("pix_fmt", "nonsense");
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_NONE);
    job_.Dispatch("pix_fmt", "list");
    EXPECT_EQ(log_.size(), 41u);
    EXPECT_EQ(log_[1].rfind("yuv420p", 0), 0u) << log_[1];
}

TEST_F(HandlerTest, CodecNamesAndCopy) {
    job_.Dispatch("vcodec", "copy");
    EXPECT_EQ(O().video_stream_copy, 1);
    EXPECT_FALSE(O().video_codec_name.has_value());
    job_.Dispatch("vcodec", "mpeg4");
    EXPECT_EQ(O().video_codec_name, "mpeg4");
    EXPECT_EQ(O().video_stream_copy, 1) << "a later name does not clear the copy flag";
    job_.Dispatch("acodec", "");
    EXPECT_FALSE(O().audio_codec_name.has_value());

    int id = -1;
    EXPECT_TRUE(job_.LookupCodec(std::nullopt, AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(job_.LookupCodec(std::string("libfaac"), AVMEDIA_TYPE_AUDIO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_AAC);
    EXPECT_FALSE(job_.LookupCodec(std::string("nosuch"), AVMEDIA_TYPE_VIDEO, false, id));
    EXPECT_EQ(job_.LastError, "Unknown decoder 'nosuch'");
    EXPECT_FALSE(job_.LookupCodec(std::string("mp2"), AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(job_.LastError, "Invalid encoder type 'mp2'");
    // AMR-NB is the engine's own encoder: the stream names the codec, no library encoder.
    const AVCodec* codec = nullptr;
    EXPECT_TRUE(job_.LookupCodec(std::string("libamr_nb"), AVMEDIA_TYPE_AUDIO, true, id, &codec));
    EXPECT_EQ(id, AV_CODEC_ID_AMR_NB);
    EXPECT_EQ(codec, nullptr);
    EXPECT_FALSE(job_.LookupCodec(std::string("amr_nb"), AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(job_.LastError, "Invalid encoder type 'amr_nb'");
}

TEST_F(HandlerTest, MapsAndTimestampScale) {
    job_.Dispatch("map", "0.1");
    job_.Dispatch("map", "1.0:0.0");
    ASSERT_EQ(O().stream_maps.size(), 2u);
    EXPECT_EQ(O().stream_maps[0].SyncFile, 0);
    EXPECT_EQ(O().stream_maps[0].SyncStream, 1);
    EXPECT_EQ(O().stream_maps[1].File, 1);
    EXPECT_EQ(O().stream_maps[1].SyncStream, 0);
    job_.Dispatch("map_meta_data", "0:1");
    EXPECT_EQ(O().meta_data_maps.at(0).InFile, 1);
    EXPECT_EQ(Failure("itsscale", "25:1.0"), "stream index over MAX_STREAMS(20)");
    job_.Dispatch("itsscale", "1:0.5");
    EXPECT_DOUBLE_EQ(O().input_ts_scale[0][1], 0.5);
}

// The window and the command line run under the user's locale: a comma-decimal one changes
// nothing, neither in the handlers' own reading nor in the libraries'.
TEST_F(HandlerTest, NumbersKeepTheirPointUnderACommaLocale) {
    const testing::CommaLocale locale;
    ASSERT_TRUE(locale.Set()) << testing::kCommaLocaleMissing;
    job_.Dispatch("aspect", "1.7778");
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 1.7778f);
    job_.Dispatch("qscale", "2.5");
    EXPECT_FLOAT_EQ(O().video_qscale, 2.5f);
    job_.Dispatch("itsscale", "1:0.5");
    EXPECT_DOUBLE_EQ(O().input_ts_scale[0][1], 0.5);
    job_.Dispatch("adrift_threshold", "0.25");
    EXPECT_FLOAT_EQ(O().audio_drift_threshold, 0.25f);
    job_.Dispatch("r", "29.97"); // read by the library
    EXPECT_EQ(O().frame_rate.num, 2997);
    EXPECT_EQ(O().frame_rate.den, 100);
    job_.Dispatch("qcomp", "0.7"); // a double on the codec holders, read by the library
    EXPECT_FLOAT_EQ(job_.Generic().CodecHolder(0)->qcompress, 0.7f);
    EXPECT_EQ(Failure("aspect", "1,7778"), "Incorrect aspect ratio specification.")
        << "the point is the separator whatever the locale";
    EXPECT_EQ(Failure("qscale", "2,5"), "'2,5' is not a valid floating point value");
}

TEST_F(HandlerTest, TimeValues) {
    job_.Dispatch("t", "00:01:30");
    EXPECT_EQ(O().recording_time, 90000000);
    EXPECT_EQ(job_.TotalDurationMs, 90000);
    job_.Dispatch("t", "0");
    EXPECT_EQ(O().recording_time, 90000000);
    EXPECT_EQ(Failure("t", "xyz"), "Invalid duration specification for t: xyz");
    job_.Dispatch("ss", "2.5");
    EXPECT_EQ(O().start_time, 2500000);
    job_.Dispatch("timestamp", "1970-01-02 00:00:00Z");
    EXPECT_EQ(O().recording_timestamp, 86400);
    EXPECT_EQ(Failure("timestamp", "yesterday"),
              "Invalid date specification for timestamp: yesterday");
}

TEST_F(HandlerTest, FormatsAndPgmyuv) {
    job_.Dispatch("f", "pgmyuv");
    EXPECT_EQ(O().pgmyuv_compat, 1);
    EXPECT_TRUE(Logged("pgmyuv format is deprecated, use image2"));
    ASSERT_NE(O().forced_output_format, nullptr);
    EXPECT_STREQ(O().forced_output_format->name, "image2");
    EXPECT_EQ(Failure("f", "nosuchformat"), "Unknown input or output format: nosuchformat");
    EXPECT_THROW(job_.SetInputFormat("nosuchformat"), FFMpegException);
    try {
        job_.SetOutputFormat("nosuchformat");
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Unknown output format: nosuchformat");
    }
}

TEST_F(HandlerTest, Matrices) {
    std::string values;
    for (int i = 1; i <= 64; ++i)
        values += std::to_string(i) + (i < 64 ? "," : "");
    job_.Dispatch("intra_matrix", values);
    ASSERT_TRUE(O().intra_matrix.has_value());
    EXPECT_EQ((*O().intra_matrix)[0], 1);
    EXPECT_EQ((*O().intra_matrix)[63], 64);
    const std::string short_values = values.substr(0, values.rfind(','));
    EXPECT_EQ(Failure("inter_matrix", short_values),
              "Syntax error in matrix \"" + short_values + "\" at coeff 62");
    ASSERT_TRUE(O().inter_matrix.has_value()) << "filled up to the failing coefficient";
    EXPECT_EQ((*O().inter_matrix)[62], 63);
}

TEST_F(HandlerTest, VideoHookAndStatisticsFile) {
    job_.Dispatch("vstats_file", "/tmp/stats.log");
    EXPECT_EQ(O().vstats_filename, "/tmp/stats.log");
    job_.Dispatch("vstats", "");
    ASSERT_TRUE(O().vstats_filename.has_value());
    EXPECT_NE(O().vstats_filename->find("/vstats_"), std::string::npos);
    EXPECT_EQ(O().vstats_filename->size() - O().vstats_filename->rfind("vstats_"), 17u);

    const std::string plugin = std::string(HOOK_PLUGIN_DIR) + "/hook_plugin.so";
    job_.Dispatch("vhook", plugin + "|4");
    EXPECT_EQ(job_.VideoHooks().size(), 1u);
    EXPECT_EQ(Failure("vhook", plugin + " fail"),
              "Failed to add video hook function: " + plugin + " fail");
}

TEST_F(HandlerTest, TargetPresets) {
    job_.Dispatch("target", "pal-dvd");
    EXPECT_EQ(O().frame_width, 720);
    EXPECT_EQ(O().frame_height, 576);
    EXPECT_EQ(O().frame_rate.num, 25);
    EXPECT_EQ(HolderInt(0, "g"), 15);
    EXPECT_EQ(HolderInt(1, "b"), 448000);
    EXPECT_EQ(O().audio_sample_rate, 48000);
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 16.0f / 9.0f);
    EXPECT_EQ(O().audio_codec_name, "ac3");
    EXPECT_TRUE(log_.empty()) << "a given norm is not announced";
    ASSERT_NE(O().forced_output_format, nullptr);
    EXPECT_STREQ(O().forced_output_format->name, "dvd");
    // The DVD muxer takes "muxrate" among its own options.
    DictionaryPtr muxer = job_.Generic().PrivateFormatOptionsFor(O().forced_output_format);
    ASSERT_NE(muxer, nullptr);
    EXPECT_STREQ(av().av_dict_get(muxer.get(), "muxrate", nullptr, 0)->value, "10080000");
}

TEST_F(HandlerTest, TargetNormsAndDetection) {
    job_.Dispatch("target", "ntsc-vcd");
    EXPECT_EQ(O().frame_height, 240);
    EXPECT_EQ(O().frame_rate.num, 30000);
    EXPECT_EQ(HolderInt(0, "g"), 18);
    EXPECT_FLOAT_EQ(O().mux_preload, 0.44f);

    job_.Prepare();
    job_.Dispatch("target", "film-dvd");
    EXPECT_EQ(O().frame_height, 480);
    EXPECT_EQ(O().frame_rate.num, 24000);

    job_.Prepare();
    EXPECT_EQ(Failure("target", "dvd"), "frame_rate is invalid.");
    job_.Dispatch("r", "30000/1001");
    job_.Dispatch("target", "dvd");
    EXPECT_TRUE(Logged("Assuming NTSC for target."));
    EXPECT_EQ(O().frame_height, 480);

    job_.Prepare();
    job_.Dispatch("r", "15");
    job_.Dispatch("target", "dv50");
    EXPECT_EQ(O().frame_pix_fmt, AV_PIX_FMT_YUV422P);
    EXPECT_TRUE(Logged("Assuming NTSC for target.")) << "fallback ntsc for the option";
    EXPECT_EQ(Failure("target", "pal-dvx"), "Unknown target type");
}

TEST_F(HandlerTest, TargetChannelsAndAspectKept) {
    job_.Dispatch("ac", "6");
    job_.Dispatch("target", "pal-svcd");
    EXPECT_EQ(O().audio_channels, 6);
    job_.Prepare();
    job_.Dispatch("ac", "1");
    job_.Dispatch("aspect", "2.35");
    job_.Dispatch("target", "pal-svcd");
    EXPECT_EQ(O().audio_channels, 2);
    EXPECT_FLOAT_EQ(O().frame_aspect_ratio, 2.35f);
}

TEST_F(HandlerTest, TargetDetectedFromTheInputsVideo) {
    job_.SetVerbosity(-1);
    ASSERT_TRUE(job_.OpenInputFile(testing::Media().mkv_audio_first)) << job_.LastError;
    job_.SetVerbosity(1);
    job_.Dispatch("r", "15/1");
    job_.Dispatch("target", "vcd");
    EXPECT_TRUE(Logged("Assuming PAL for target."));
    EXPECT_EQ(O().frame_height, 288);
}

TEST_F(HandlerTest, OutputRecordFromTheDefaultsSetsOnlyWhatIsAlwaysApplied) {
    TOutputOptions options;
    InitOutputOptions(options);
    job_.Dispatch("vsync", "1");
    job_.Dispatch("async", "1");
    job_.Dispatch("alang", "eng");
    job_.Dispatch("copyts", "");
    job_.Dispatch("padcolor", "255");
    ApplyOutputOptions(job_, options);
    EXPECT_EQ(O().video_sync_method, -1);
    EXPECT_EQ(O().audio_sync_method, 0);
    EXPECT_EQ(O().audio_language, "");
    EXPECT_EQ(O().copy_ts, 0);
    EXPECT_EQ(O().padcolor, (std::array<int32_t, 3>{0, 128, 128}));
    EXPECT_EQ(O().audio_sample_rate, 44100);
    EXPECT_EQ(O().recording_time, INT64_MAX);
    EXPECT_EQ(O().recording_timestamp, 0);
    EXPECT_TRUE(job_.Generic().GenericOptionNames().empty());
    EXPECT_TRUE(job_.HookRanges.empty());
}

TEST_F(HandlerTest, OutputRecordFieldsOverrideExtraOptions) {
    TOutputOptions options;
    options.ExtraOptions = "vcodec=mpeg4\r\nar=8000\rqmin=4\nemptyline";
    options.VideoCodec = "libxvid";
    options.AudioBitrate = 0;
    options.VideoBitrate = 800000;
    options.Duration = 1500;
    options.Title = std::string("Clip\0ignored", 12);
    options.FrameSize = "320x240";
    options.CropTop = 10;
    ApplyOutputOptions(job_, options);
    EXPECT_EQ(O().video_codec_name, "libxvid");
    EXPECT_EQ(O().audio_sample_rate, 8000);
    EXPECT_EQ(HolderInt(0, "qmin"), 4);
    EXPECT_EQ(HolderInt(0, "b"), 800000);
    EXPECT_EQ(O().recording_time, 1500000);
    EXPECT_EQ(job_.TotalDurationMs, 1500);
    EXPECT_EQ(O().str_title, "Clip");
    EXPECT_EQ(O().frame_height, 230);

    TOutputOptions dvd;
    dvd.TargetType = 3;
    dvd.TVStandard = 2;
    dvd.FrameRate = "25";
    dvd.AudioSampleRate = 22050;
    ApplyOutputOptions(job_, dvd);
    EXPECT_EQ(O().frame_rate.num, 30000);
    EXPECT_EQ(O().audio_sample_rate, 48000);
}

TEST_F(HandlerTest, OutputRecordFailureStopsAtTheField) {
    TOutputOptions options;
    options.AudioTag = "toolong";
    options.VideoCodec = "mpeg4";
    EXPECT_THROW(ApplyOutputOptions(job_, options), std::logic_error);
    EXPECT_FALSE(O().video_codec_name.has_value()) << "fields after the failing one stay unset";
}

TEST_F(HandlerTest, SvcdTargetWithFallbackPal) {
    TOutputOptions options;
    options.TargetType = 2;
    options.TVStandard = 0;
    options.DefaultTVStandard = 1;
    job_.Dispatch("r", "15");
    ApplyOutputOptions(job_, options);
    EXPECT_TRUE(Logged("Assuming PAL for target."));
    EXPECT_EQ(O().frame_width, 480);
    EXPECT_EQ(O().frame_height, 576);
}

TEST_F(HandlerTest, InputRecord) {
    TInputOptions options;
    options.StartTime = 0;
    ApplyInputOptions(job_, options);
    EXPECT_EQ(O().start_time, 0);
    options.StartTime = 1500;
    options.ProgramID = 3;
    options.FileFormat = "avi";
    ApplyInputOptions(job_, options);
    EXPECT_EQ(O().start_time, 1500000);
    EXPECT_EQ(O().opt_programid, 3);
    ASSERT_NE(O().forced_input_format, nullptr);
    options.FileFormat = "nosuchformat";
    try {
        ApplyInputOptions(job_, options);
        ADD_FAILURE();
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Unknown input format: nosuchformat");
    }
}

TEST(JobOptionsTest, TimestampUsesTheStandardBias) {
    EXPECT_EQ(TimestampToUnixSeconds(25569.0, -60), -3600);
    EXPECT_EQ(TimestampToUnixSeconds(25569.5, 0), 43200);
    EXPECT_EQ(TimestampToUnixSeconds(25570.0, 300), 86400 + 5 * 3600);
}

TEST(JobOptionsTest, HookRangesKeepValidOnesSortedByEnd) {
    const auto ranges = ParseHookRanges("  0-1000 , 5000-4000,7000, 2000-3000");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], (std::pair<int64_t, int64_t>{0, 1000000}));
    EXPECT_EQ(ranges[1], (std::pair<int64_t, int64_t>{2000000, 3000000}));
    EXPECT_TRUE(ParseHookRanges("").empty());
    EXPECT_EQ(ParseHookRanges("4000-5000,0-10").front().second, 10000);
}

TEST(JobOptionsTest, SystemColoursResolve) {
    EXPECT_EQ(ResolveColor(0x0000FF), 0x0000FFu);
    EXPECT_EQ(ResolveColor(0x80000005), 0xFFFFFFu); // window background
    EXPECT_EQ(ResolveColor(0x80000008), 0x000000u); // window text
}

} // namespace
} // namespace clipwright
