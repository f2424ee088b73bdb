// The dispatcher, the generic setter and the value conversions, on a prepared job with the real
// libraries' option holders.
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/job/custom_ffmpeg.h"
#include "FFMPEG/job/value_parse.h"
#include "tests/engine/job_events_recorder.h"

namespace clipwright {
namespace {

class OptionJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        job_.Prepare();
        job_.SetEvents(&events_);
        events_.log = [this](TCustomFFmpeg&, int level, const std::string& text) {
            log_.emplace_back(level, text);
        };
    }
    int64_t HolderInt(int type, const char* name) {
        int64_t value = 0;
        av().av_opt_get_int(job_.Generic().CodecHolder(type), name, 0, &value);
        return value;
    }
    bool Logged(const std::string& text) const {
        for (const auto& [level, line] : log_) {
            if (line == text)
                return true;
        }
        return false;
    }
    std::string Failure(const std::string& name, const std::string& value) {
        try {
            job_.Dispatch(name, value);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }

    testing::JobEventsRecorder events_;
    TFFmpeg job_;
    std::vector<std::pair<int, std::string>> log_;
};

const char* const kBitRateWarning =
    "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";

TEST(ValueParseTest, IntegersAndReals) {
    EXPECT_EQ(ParseInteger("42"), 42);
    EXPECT_EQ(ParseInteger("  -7"), -7);
    EXPECT_EQ(ParseInteger("$1F"), 31);
    EXPECT_EQ(ParseInteger("0x10"), 16);
    EXPECT_EQ(ParseInteger("X10"), 16);
    EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInteger64("9223372036854775807"), INT64_MAX);
    for (const char* bad : {"abc", "12 ", "", "2147483648", "1.5", "0x"}) {
        try {
            ParseInteger(bad);
            ADD_FAILURE() << bad;
        } catch (const FFMpegException& error) {
            EXPECT_EQ(error.what(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
    EXPECT_FLOAT_EQ(ParseReal("2.35"), 2.35f);
    EXPECT_FLOAT_EQ(ParseReal(" 1e2 "), 100.0f);
    for (const char* bad : {"abc", "1,5", "nan", ""}) {
        try {
            ParseReal(bad);
            ADD_FAILURE() << bad;
        } catch (const FFMpegException& error) {
            EXPECT_EQ(error.what(),
                      "'" + std::string(bad) + "' is not a valid floating point value");
        }
    }
}

// The C library's strtod in the "C" locale (the test's own) is what ReadCDouble stands for.
TEST(ValueParseTest, ReadCDoubleReadsWhatStrtodReadsInTheCLocale) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const char* const texts[] = {"2.5",       " \t-1.75e2x", "+.5",    "-5.",    "1,5",    "0.0",
                                 "1e",        "1e+",         "e5",     "",       "-",      "+-1",
                                 "0x1p4",     "0X.8",        "0x",     "0xg",    "0xinf",  "inf",
                                 "-Infinity", "nan",         "1e400",  "-1e400", "1e-400", "1e-310",
                                 "0x1p99999", "0.01e-330",   "123e307"};
    for (const char* text : texts) {
        char* end = nullptr;
        errno = 0;
        const double expected = std::strtod(text, &end);
        const bool out_of_range = errno == ERANGE;
        const CDouble read = ReadCDouble(text);
        EXPECT_EQ(read.used, static_cast<size_t>(end - text)) << text;
        EXPECT_EQ(read.out_of_range, out_of_range) << text;
        if (std::isnan(expected))
            EXPECT_TRUE(std::isnan(read.value)) << text;
        else
            EXPECT_EQ(read.value, expected) << text;
    }
}

TEST_F(OptionJobTest, BitRatesWarnBelowOneThousand) {
    job_.Dispatch("vb", "64");
    EXPECT_EQ(HolderInt(0, "b"), 64);
    EXPECT_TRUE(Logged(kBitRateWarning));
    log_.clear();
    job_.Dispatch("vb", "64000");
    EXPECT_EQ(HolderInt(0, "b"), 64000);
    EXPECT_TRUE(log_.empty());
}

TEST_F(OptionJobTest, PlainBitRateLandsInTheVideoDataAndAttachmentHoldersOnce) {
    job_.Dispatch("b", "200000");
    EXPECT_EQ(HolderInt(0, "b"), 200000);
    EXPECT_EQ(HolderInt(2, "b"), 200000);
    EXPECT_EQ(HolderInt(4, "b"), 200000);
    EXPECT_NE(HolderInt(1, "b"), 200000);
    EXPECT_EQ(job_.Generic().GenericOptionNames(), std::vector<std::string>{"b"});
    EXPECT_TRUE(log_.empty());
}

TEST_F(OptionJobTest, AudioBitRateAndPrefixRule) {
    job_.Dispatch("ab", "128000");
    EXPECT_EQ(HolderInt(1, "b"), 128000);
    EXPECT_TRUE(log_.empty());
    job_.Dispatch("vb", "500");
    EXPECT_EQ(HolderInt(0, "b"), 500);
    EXPECT_TRUE(Logged(kBitRateWarning));
}

TEST_F(OptionJobTest, GenericNamesReachTheHoldersOrAreDropped) {
    job_.Dispatch("qmin", "3");
    EXPECT_EQ(HolderInt(0, "qmin"), 3);
    job_.Dispatch("no_such_option_anywhere", "1");
    job_.Dispatch("", "1");
    job_.Dispatch("qmax", "");
    EXPECT_EQ(job_.Generic().GenericOptionNames(), std::vector<std::string>{"qmin"});
    // Case matters for the table: "Title" is not "title".
    job_.Dispatch("Title", "x");
    EXPECT_EQ(job_.Options().str_title, "");
    job_.Dispatch("title", "x");
    EXPECT_EQ(job_.Options().str_title, "x");
    // The old spelling of the picture-group size.
    job_.Dispatch("gop", "18");
    EXPECT_EQ(HolderInt(0, "g"), 18);
}

TEST_F(OptionJobTest, TransferHandsEachHolderItsOwnValues) {
    job_.Dispatch("b", "200000");
    job_.Dispatch("ab", "96000");
    job_.Dispatch("qmin", "5");
    job_.Dispatch("packetsize", "2048");
    CodecContextPtr video(av().avcodec_alloc_context3(nullptr));
    CodecContextPtr audio(av().avcodec_alloc_context3(nullptr));
    job_.Generic().TransferOptions(video.get(), job_.Generic().CodecHolder(0),
                                   kOptVideo | kOptEncoding);
    job_.Generic().TransferOptions(audio.get(), job_.Generic().CodecHolder(1),
                                   kOptAudio | kOptEncoding);
    EXPECT_EQ(video->bit_rate, 200000);
    EXPECT_EQ(video->qmin, 5);
    EXPECT_EQ(audio->bit_rate, 96000);
    EXPECT_NE(audio->qmin, 5) << "qmin is a video option";
    FormatContextPtr format(av().avformat_alloc_context());
    job_.Generic().TransferOptions(format.get(), job_.Generic().FormatHolder(), kOptEncoding);
    EXPECT_EQ(format->packet_size, 2048u);
}

TEST_F(OptionJobTest, CodecPrivateOptionsGoOnlyToTheirCodec) {
    job_.Dispatch("crf", "23");
    job_.Dispatch("preset", "veryfast");
    const AVCodec* x264 = av().avcodec_find_encoder_by_name("libx264");
    const AVCodec* mpeg4 = av().avcodec_find_encoder_by_name("mpeg4");
    ASSERT_NE(x264, nullptr);
    DictionaryPtr for_x264 = job_.PrivateOptionsFor(x264);
    DictionaryPtr for_mpeg4 = job_.PrivateOptionsFor(mpeg4);
    ASSERT_NE(for_x264, nullptr);
    EXPECT_STREQ(av().av_dict_get(for_x264.get(), "crf", nullptr, 0)->value, "23");
    EXPECT_STREQ(av().av_dict_get(for_x264.get(), "preset", nullptr, 0)->value, "veryfast");
    EXPECT_EQ(for_mpeg4, nullptr);
}

TEST_F(OptionJobTest, IgnoredAndUnsupportedNames) {
    job_.Dispatch("benchmark", "");
    EXPECT_TRUE(Logged("Do nothing: option - benchmark"));
    for (const char* name : {"threads", "absf", "vbsf", "sbsf"})
        EXPECT_EQ(Failure(name, "1"), std::string("TODO: option - ") + name);

    TFFmpeg silent;
    silent.Prepare();
    EXPECT_NO_THROW(silent.Dispatch("h", ""));
}

TEST_F(OptionJobTest, SampleRateAndChannels) {
    job_.Dispatch("ar", "0");
    EXPECT_EQ(job_.Options().audio_sample_rate, 44100);
    job_.Dispatch("ar", "22050");
    EXPECT_EQ(job_.Options().audio_sample_rate, 22050);
    EXPECT_EQ(Failure("ar", "abc"), "'abc' is not a valid integer value");
    job_.Dispatch("ac", "-1");
    EXPECT_EQ(job_.Options().audio_channels, 2);
    job_.Dispatch("ac", "1");
    EXPECT_EQ(job_.Options().audio_channels, 1);
}

TEST_F(OptionJobTest, FlagsAndPlainValues) {
    job_.Dispatch("vn", "whatever");
    job_.Dispatch("copyts", "");
    job_.Dispatch("fs", "1048576");
    job_.Dispatch("muxdelay", "0.25");
    job_.Dispatch("vol", "512");
    job_.Dispatch("rc_override", "0,100,2");
    EXPECT_EQ(job_.Options().video_disable, 1);
    EXPECT_EQ(job_.Options().copy_ts, 1);
    EXPECT_EQ(job_.Options().limit_filesize, 1048576);
    EXPECT_FLOAT_EQ(job_.Options().mux_max_delay, 0.25f);
    EXPECT_EQ(job_.Options().audio_volume, 512);
    EXPECT_EQ(job_.Options().video_rc_override_string, "0,100,2");
}

TEST_F(OptionJobTest, VerbositySetsTheLibraryLevelForTheProcess) {
    const int saved = av().av_log_get_level();
    job_.Dispatch("v", "-1");
    EXPECT_EQ(job_.Verbosity(), -1);
    EXPECT_EQ(av().av_log_get_level(), AV_LOG_QUIET);
    job_.Dispatch("v", "2");
    EXPECT_EQ(av().av_log_get_level(), AV_LOG_DEBUG);
    av().av_log_set_level(saved);
}

TEST_F(OptionJobTest, DebugOptionRaisesTheLogLevelToDebug) {
    const int saved = av().av_log_get_level();
    job_.Dispatch("debug", "pict");
    EXPECT_EQ(job_.Verbosity(), 2);
    EXPECT_EQ(av().av_log_get_level(), AV_LOG_DEBUG);
    av().av_log_set_level(saved);
}

TEST_F(OptionJobTest, ResetRestoresEveryDefault) {
    job_.Dispatch("ar", "8000");
    job_.Dispatch("s", "320x240");
    job_.Dispatch("qmin", "3");
    job_.Prepare();
    EXPECT_EQ(job_.Options().audio_sample_rate, 44100);
    EXPECT_EQ(job_.Options().frame_width, 0);
    EXPECT_EQ(job_.Options().recording_time, INT64_MAX);
    EXPECT_EQ(job_.Options().padcolor, (std::array<int32_t, 3>{16, 128, 128}));
    EXPECT_EQ(job_.Options().intra_dc_precision, 8);
    EXPECT_FLOAT_EQ(job_.Options().audio_qscale, -99999.0f);
    EXPECT_TRUE(job_.Generic().GenericOptionNames().empty());
    EXPECT_EQ(job_.TotalDurationMs, -1);
    EXPECT_EQ(job_.Index, -1);
    EXPECT_EQ(job_.ThreadID, 0u);
}

} // namespace
} // namespace clipwright
