// TAVProbe on files generated with known properties and on the real files in tests/media,
// through the run-time binding.
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/probe/av_probe.h"
#include "FFMPEG/probe/measured_length.h"
#include "app/profiles/list_texts.h"
#include "tests/engine/job_runner.h"
#include "tests/engine/log_capture.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::LogCapture;
using testing::Media;

void ExpectNoFile(const TAVProbe& probe) {
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.ProgramCount(), -1);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.AudioStreamCount(), -1);
    EXPECT_EQ(probe.SubtitleStreamCount(), -1);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_EQ(probe.FirstAudioStream(), -1);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);
    EXPECT_EQ(probe.AttachedPictureCount(), -1);
}

void ExpectDefaults(const TAVVideoInfo& info) {
    EXPECT_EQ(info.Width, -1);
    EXPECT_EQ(info.Height, -1);
    EXPECT_EQ(info.FrameRateNum, -1);
    EXPECT_EQ(info.PixelFormat, -1);
    EXPECT_EQ(info.DisplayAspectRatio, -1.0f);
    EXPECT_EQ(info.CodecName, "");
}

// What the file list would show for the loaded file.
struct ListRow {
    std::string size;
    std::string frame_rate;
    std::string duration;
};

ListRow RowOf(const TAVProbe& probe) {
    ListRow row;
    TAVFileInfo file;
    probe.GetFileInfo(file);
    row.duration = DurationText(file.Duration);
    if (probe.VideoStreamCount() > 0) {
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        row.size = VideoSizeText(video.Width, video.Height);
        row.frame_rate = FrameRateText(video.FrameRateNum, video.FrameRateDen).value_or("?");
    }
    return row;
}

struct GeneratedCase {
    const char* label;
    std::string testing::GeneratedMedia::*file;
    int streams, video, audio, first_video, first_audio;
    const char* size;
    const char* frame_rate;
    const char* duration;
};

class GeneratedFilesTest : public ::testing::TestWithParam<GeneratedCase> {};

TEST_P(GeneratedFilesTest, CountsAndListTexts) {
    const GeneratedCase& c = GetParam();
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().*c.file, "")) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), c.streams);
    EXPECT_EQ(probe.ProgramCount(), 0);
    EXPECT_EQ(probe.VideoStreamCount(), c.video);
    EXPECT_EQ(probe.AudioStreamCount(), c.audio);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), c.first_video);
    EXPECT_EQ(probe.FirstAudioStream(), c.first_audio);
    EXPECT_EQ(probe.FirstSubtitleStream(), -1);
    EXPECT_EQ(probe.AttachedPictureCount(), 0);
    EXPECT_EQ(probe.FormatName(), "");
    const ListRow row = RowOf(probe);
    EXPECT_EQ(row.size, c.size);
    EXPECT_EQ(row.frame_rate, c.frame_rate);
    EXPECT_EQ(row.duration, c.duration);
}

using M = testing::GeneratedMedia;
INSTANTIATE_TEST_SUITE_P(
    Generated, GeneratedFilesTest,
    ::testing::Values(
        GeneratedCase{"avi", &M::avi_mpeg4_mp2, 2, 1, 1, 0, 1, "320x240", "15", "00:00:02"},
        GeneratedCase{"mp4", &M::mp4_h264_aac, 2, 1, 1, 0, 1, "640x480", "29.97", "00:00:01"},
        GeneratedCase{"mp3", &M::mp3_audio_only, 1, 0, 1, -1, 0, "", "", "00:00:03"},
        GeneratedCase{"mkv", &M::mkv_audio_first, 2, 1, 1, 1, 0, "320x240", "25", "00:00:01"},
        GeneratedCase{"mpg", &M::mpg_mpeg2_sar, 1, 1, 0, 0, -1, "720x576", "25", "00:00:01"},
        GeneratedCase{"m4v", &M::m4v_unknown_length, 1, 1, 0, 0, -1, "320x240", "15", "00:00:01"},
        GeneratedCase{"m1v", &M::m1v_elementary, 1, 1, 0, 0, -1, "320x240", "25", "00:00:05"},
        GeneratedCase{"film", &M::avi_film_rate, 1, 1, 0, 0, -1, "320x240", "23.98", "00:00:01"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TAVProbeTest, VideoStreamDetails) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().mp4_h264_aac, "")) << probe.LastError();
    TAVVideoInfo info;
    probe.GetVideoInfo(info);
    EXPECT_EQ(info.Width, 640);
    EXPECT_EQ(info.Height, 480);
    EXPECT_EQ(info.FrameRateNum, 30000);
    EXPECT_EQ(info.FrameRateDen, 1001);
    EXPECT_EQ(PixelFormatName(info.PixelFormat), "yuv420p");
    EXPECT_EQ(info.CodecName, "h264");
    EXPECT_EQ(info.Language, "und");
    EXPECT_GT(info.BitRate, 0);
    EXPECT_GE(info.StartTime, 0);
    EXPECT_GE(info.StartTimeRescaled, 0);
    EXPECT_GT(info.Duration, 0);
    EXPECT_GT(info.DurationRescaled, 0);

    TAVVideoInfo same;
    probe.GetVideoStreamInfo(0, same);
    EXPECT_EQ(same.Width, info.Width);
    EXPECT_EQ(same.FrameRateDen, info.FrameRateDen);
    EXPECT_GT(info.Profile, 0) << "what a plan needs to copy a stream that fits";
    EXPECT_GT(info.Level, 0);
    EXPECT_FALSE(info.Interlaced);
    TAVAudioInfo audio;
    probe.GetAudioInfo(audio);
    EXPECT_EQ(audio.CodecName, "aac");
    EXPECT_EQ(audio.Profile, 1) << "AAC-LC";
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_EQ(audio.SampleRate, 44100);

    ASSERT_TRUE(probe.LoadFile(testing::RealMediaPath("mts_avchd_h264_1080i_ac3.mts"), ""));
    probe.GetVideoInfo(info);
    EXPECT_TRUE(info.Interlaced) << "a camcorder's 1080i";
}

TEST(TAVProbeTest, DisplayAspectOfMpeg2WithSampleAspect16To15) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().mpg_mpeg2_sar, "")) << probe.LastError();
    TAVVideoInfo info;
    probe.GetVideoInfo(info);
    EXPECT_EQ(info.Width, 720);
    EXPECT_EQ(info.Height, 576);
    EXPECT_NEAR(info.DisplayAspectRatio, 1.3333f, 0.0001f);
    EXPECT_EQ(info.CodecName, "mpeg2video");
}

TEST(TAVProbeTest, SquarePixelsAndNoDeclaredSampleAspect) {
    TAVProbe probe;
    // The MPEG-4 encoder declares square pixels.
    ASSERT_TRUE(probe.LoadFile(Media().avi_mpeg4_mp2, ""));
    TAVVideoInfo info;
    probe.GetVideoInfo(info);
    EXPECT_NEAR(info.DisplayAspectRatio, 320.0f / 240.0f, 0.0001f);
    // The H.264 stream declares none.
    ASSERT_TRUE(probe.LoadFile(Media().mp4_h264_aac, ""));
    probe.GetVideoInfo(info);
    EXPECT_TRUE(info.DisplayAspectRatio == 0.0f || std::isnan(info.DisplayAspectRatio))
        << info.DisplayAspectRatio;
}

TEST(TAVProbeTest, AudioOnlyFileHasNoVideoStream) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().mp3_audio_only, ""));
    LogCapture log;
    TAVVideoInfo info;
    info.Width = 99;
    probe.GetVideoInfo(info);
    ExpectDefaults(info);
    EXPECT_TRUE(log.Contains(0, "no video stream.\n"));
}

TEST(TAVProbeTest, CoverPictureIsNoVideoStream) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().mp3_cover_art, "")) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_EQ(probe.AttachedPictureCount(), 1);
    LogCapture log;
    TAVVideoInfo info;
    probe.GetVideoInfo(info);
    ExpectDefaults(info);
    EXPECT_TRUE(log.Contains(0, "no video stream.\n"));
    EXPECT_EQ(RowOf(probe).duration, "00:00:03");
}

TEST(TAVProbeTest, StreamThatIsNotVideoAndIndexOutOfRange) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().mkv_audio_first, ""));
    LogCapture log;
    TAVVideoInfo info;
    probe.GetVideoStreamInfo(0, info);
    ExpectDefaults(info);
    EXPECT_TRUE(log.Contains(0, "stream #0 is not video stream.\n"));

    probe.GetVideoStreamInfo(5, info);
    ExpectDefaults(info);
    EXPECT_TRUE(log.Contains(0, "stream index #5 is invalid.\n"));
    probe.GetVideoStreamInfo(2, info);
    EXPECT_TRUE(log.Contains(0, "stream index #2 is invalid.\n"));

    probe.GetVideoStreamInfo(1, info);
    EXPECT_EQ(info.Width, 320);
}

TEST(TAVProbeTest, MissingFile) {
    TAVProbe probe;
    const std::string missing = Media().folder + "/missing.avi";
    EXPECT_FALSE(probe.LoadFile(missing, ""));
    EXPECT_EQ(probe.LastError(), missing + ": no such file or directory");
    ExpectNoFile(probe);

    LogCapture log;
    TAVFileInfo file;
    probe.GetFileInfo(file);
    EXPECT_EQ(file.Duration, -1);
    EXPECT_EQ(file.StartTime, -1);
    EXPECT_EQ(file.BitRate, -1);
    EXPECT_EQ(file.Year, -1);
    EXPECT_EQ(file.Title, "");
    TAVVideoInfo video;
    probe.GetVideoInfo(video);
    ExpectDefaults(video);
    EXPECT_TRUE(log.Contains(1, "file not loaded.\n"));
}

TEST(TAVProbeTest, UnknownForcedFormatClosesTheFileBefore) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().avi_mpeg4_mp2, ""));
    EXPECT_FALSE(probe.LoadFile(Media().avi_mpeg4_mp2, "nosuchformat"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: nosuchformat");
    ExpectNoFile(probe);
}

TEST(TAVProbeTest, ForcedFormatIsKept) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().avi_mpeg4_mp2, "avi")) << probe.LastError();
    EXPECT_EQ(probe.FormatName(), "avi");
    EXPECT_EQ(probe.StreamCount(), 2);
    probe.CloseFile();
    EXPECT_EQ(probe.FormatName(), "");
    ExpectNoFile(probe);
    // A failure keeps its text until the next failure replaces it.
    EXPECT_FALSE(probe.LoadFile(Media().random_avi, ""));
    const std::string error = probe.LastError();
    EXPECT_TRUE(probe.LoadFile(Media().mp3_audio_only, ""));
    EXPECT_EQ(probe.LastError(), error);
}

TEST(TAVProbeTest, RandomBytesWithAMediaExtensionAreAnUnknownFormat) {
    for (const std::string& file : {Media().random_mp4, Media().random_avi}) {
        TAVProbe probe;
        EXPECT_FALSE(probe.LoadFile(file, ""));
        EXPECT_EQ(probe.LastError(), file + ": Unknown format");
        ExpectNoFile(probe);
    }
}

TEST(TAVProbeTest, TruncatedFiles) {
    TAVProbe probe;
    // The MP4 keeps its index at the end: without it nothing can be described.
    EXPECT_FALSE(probe.LoadFile(Media().mp4_truncated, ""));
    EXPECT_EQ(probe.LastError(), Media().mp4_truncated + ": Unknown format");
    ExpectNoFile(probe);
    // The AVI loses its index but its header and first half remain readable.
    ASSERT_TRUE(probe.LoadFile(Media().avi_truncated, "")) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 2);
    TAVVideoInfo info;
    probe.GetVideoInfo(info);
    EXPECT_EQ(info.Width, 320);
}

TEST(TAVProbeTest, UnknownDurationIsTheNoTimestampValue) {
    // A raw stream that can be read only once: nothing tells its length.
    const testing::PipedCopy pipe(Media().m4v_unknown_length, Media().folder + "/probe_pipe.m4v");
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(pipe.Path(), "")) << probe.LastError();
    TAVFileInfo file;
    probe.GetFileInfo(file);
    EXPECT_EQ(file.Duration, AV_NOPTS_VALUE);
    EXPECT_LT(file.Duration, 0);
    EXPECT_EQ(DurationText(file.Duration), "Unknown");
}

struct MeasuredCase {
    const char* label;
    std::string file;
    double frame_seconds; // the tolerance: one frame
};

// mediainfo's length; for a stream it cannot time (raw MPEG-4), the decoded frames at the
// stream's rate.
double IndependentSeconds(const std::string& file) {
    const std::string text = testing::MediaInfo("General;%Duration%", file);
    if (!text.empty())
        return std::stod(text) / 1000.0;
    const testing::FileReport report = testing::ReadBack(file);
    const testing::StreamReport* video = testing::FirstOf(report, AVMEDIA_TYPE_VIDEO);
    return video != nullptr && video->frame_rate > 0 ? video->frames / video->frame_rate : -1.0;
}

// Files whose demuxer can only guess the length from a bit rate (the MPEG-1 header's VBR
// value makes that 10 ms) or has none: the probe measures them, and the independent count
// agrees within a frame.
TEST(TAVProbeTest, LengthOfStreamsWithoutAnIndexIsMeasured) {
    const MeasuredCase cases[] = {
        {"m1v", Media().m1v_elementary, 1.0 / 25},
        {"m4v", Media().m4v_unknown_length, 1.0 / 15},
        {"tiny mpg", testing::RealMediaPath("mpg_ps_mpeg1_320x240_tiny.mpg"), 1.0 / 30},
        {"amr", testing::RealMediaPath("amr_nb_8k_mono_b.amr"), 0.02},
    };
    for (const MeasuredCase& c : cases) {
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(c.file, "")) << c.label << ": " << probe.LastError();
        TAVFileInfo file;
        probe.GetFileInfo(file);
        EXPECT_NEAR(file.Duration / 1e6, IndependentSeconds(c.file), c.frame_seconds * 1.01)
            << c.label;
    }
}

TEST(TAVProbeTest, LengthOfALongerStreamIsScaledFromThePartRead) {
    // The 5.4 s stream 40 times over: more than is read, 216 s long.
    const std::string file = Media().folder + "/long_raw_mpeg1.m1v";
    {
        std::ifstream in(Media().m1v_elementary, std::ios::binary);
        const std::string once((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < 40; ++i)
            out << once;
    }
    ASSERT_GT(static_cast<int64_t>(testing::FileSize(file)), kMeasuredBytes);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(file, "")) << probe.LastError();
    TAVFileInfo info;
    probe.GetFileInfo(info);
    const double seconds = IndependentSeconds(file);
    EXPECT_NEAR(seconds, 216.0, 0.04);
    EXPECT_NEAR(info.Duration / 1e6, seconds, seconds * 0.01);
}

TEST(TAVProbeTest, ContainerPropertiesAndMetadata) {
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(Media().mp4_h264_aac, ""));
    TAVFileInfo file;
    probe.GetFileInfo(file);
    EXPECT_EQ(file.Title, "Generated Title");
    EXPECT_EQ(file.Author, "Clipwright Tests");
    EXPECT_EQ(file.Comment, "made at test time");
    EXPECT_EQ(file.Year, 2008);
    EXPECT_EQ(file.Track, 0);
    EXPECT_EQ(file.Album, "");
    EXPECT_GE(file.StartTime, 0);
    EXPECT_NEAR(static_cast<double>(file.Duration), 1001000.0, 50000.0);
    EXPECT_GT(file.BitRate, 0);

    ASSERT_TRUE(probe.LoadFile(Media().mp3_audio_only, ""));
    probe.GetFileInfo(file);
    EXPECT_EQ(file.Title, "Tone");
    EXPECT_EQ(file.Album, "Tests");
    EXPECT_EQ(file.Track, 3);
    EXPECT_EQ(file.Genre, "Test");
    EXPECT_EQ(file.Year, 0);
    EXPECT_EQ(file.Timestamp, 0);
}

class RealMediaTest : public ::testing::TestWithParam<testing::RealMediaFile> {};

TEST_P(RealMediaTest, DescribesTheRealFile) {
    const testing::RealMediaFile& f = GetParam();
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(testing::RealMediaPath(f.name), "")) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), f.streams);
    EXPECT_EQ(probe.VideoStreamCount(), f.video_streams);
    EXPECT_EQ(probe.AudioStreamCount(), f.audio_streams);
    EXPECT_EQ(probe.SubtitleStreamCount(), f.subtitle_streams);
    EXPECT_EQ(probe.FirstVideoStream(), f.first_video_stream);
    EXPECT_EQ(probe.FirstAudioStream(), f.first_audio_stream);
    const ListRow row = RowOf(probe);
    EXPECT_EQ(row.duration, f.duration_text);
    EXPECT_EQ(row.frame_rate, f.frame_rate_text);
    if (f.width > 0)
        EXPECT_EQ(row.size, VideoSizeText(f.width, f.height));
    else
        EXPECT_EQ(row.size, "");
}

INSTANTIATE_TEST_SUITE_P(RealMedia, RealMediaTest, ::testing::ValuesIn(testing::RealMedia()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

TEST(TAVProbeTest, ReadmeOfTheMediaFolderIsNoMedia) {
    TAVProbe probe;
    const std::string readme = testing::RealMediaPath("README.md");
    EXPECT_FALSE(probe.LoadFile(readme, ""));
    EXPECT_EQ(probe.LastError(), readme + ": Unknown format");
}

} // namespace
} // namespace clipwright
