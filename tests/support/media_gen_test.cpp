// The generated media, read by an independent tool (mediainfo), so that the generator and the
// probe cannot agree on a mistake.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/engine/job_runner.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::Media;

using testing::MediaInfo;

TEST(GeneratedMediaTest, MediaInfoSeesThePropertiesAskedFor) {
    EXPECT_EQ(MediaInfo("Video;%Format% %Width%x%Height% %FrameRate%", Media().avi_mpeg4_mp2),
              "MPEG-4 Visual 320x240 15.000");
    EXPECT_EQ(MediaInfo("Audio;%SamplingRate% %Channel(s)%", Media().avi_mpeg4_mp2), "22050 2");
    EXPECT_EQ(MediaInfo("Video;%Format% %Width%x%Height% %FrameRate%", Media().mp4_h264_aac),
              "AVC 640x480 29.970");
    EXPECT_EQ(MediaInfo("Audio;%Format% %SamplingRate% %Channel(s)%", Media().mp4_h264_aac),
              "AAC 44100 2");
    EXPECT_EQ(MediaInfo("General;%VideoCount%|%AudioCount%", Media().mp3_audio_only), "|1");
    EXPECT_EQ(MediaInfo("Video;%Format% %Width%x%Height% %DisplayAspectRatio/String%",
                        Media().mpg_mpeg2_sar),
              "MPEG Video 720x576 4:3");
    EXPECT_EQ(MediaInfo("Video;%FrameRate%", Media().avi_film_rate), "23.976");
    EXPECT_EQ(MediaInfo("Audio;%StreamOrder%", Media().mkv_audio_first), "0");
    EXPECT_EQ(MediaInfo("Video;%StreamOrder%", Media().mkv_audio_first), "1");
    EXPECT_EQ(MediaInfo("Video;%Format% %Format_Version% %FrameRate% %Duration%",
                        Media().m1v_elementary),
              "MPEG Video Version 1 25.000 5400");
    EXPECT_EQ(MediaInfo("General;%VideoCount%|%AudioCount%|%Cover_Mime%", Media().mp3_cover_art),
              "|1|image/jpeg");
    EXPECT_EQ(MediaInfo("Video;%FrameRate% %Duration%", Media().avi_rate_15_odd), "15.000 2000");
    EXPECT_EQ(MediaInfo("Video;%Format% %FrameRate% %FrameCount%", Media().avi_rate_187),
              "JPEG 187.350 187");
}

} // namespace
} // namespace clipwright
