#include "tests/engine/profile_promises.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "tests/support/media_info.h"

namespace clipwright::testing {

namespace {

const ProfilePromise kPromises[] = {
    {"MP4 - H.264 + AAC, plays everywhere (*.mp4)", "MPEG-4", "AVC avc1", "AAC", "1920 x 1080"},
    {"MP4 - H.265/HEVC + AAC (*.mp4)", "MPEG-4", "HEVC hvc1", "AAC", ""},
    {"WebM - VP9 + Opus (*.webm)", "WebM", "VP9 V_VP9", "Opus", ""},
    {"WebM - AV1 + Opus (*.webm)", "WebM", "AV1 V_AV1", "Opus", ""},
    {"MKV - Keep every stream, no re-encoding (*.mkv)", "Matroska", "", "", "", true},
    {"MP4 - Keep streams, no re-encoding (*.mp4)", "MPEG-4", "", "", "", true},
    {"FLAC - Lossless Audio (*.flac)", "FLAC", "", "FLAC", ""},
    {"Opus Audio (*.opus)", "Ogg", "", "Opus", ""},
    {"OGG Vorbis Audio (*.ogg)", "Ogg", "", "Vorbis", ""},
};

// What the rows' sources hold that a remux leaves out: RealVideo has a mapping in both
// containers' tables that their muxers still refuse; MP4 holds no Sorenson H.263, Theora or
// 8-bit PCM.
bool LeftOutOfRemux(const std::string& container, const std::string& codec) {
    if (codec == "rv10" || codec == "rv20")
        return true;
    return container == "MPEG-4" && (codec == "flv1" || codec == "theora" || codec == "pcm_u8");
}

template <typename Stream>
std::vector<const Stream*> Kept(const std::string& container, const std::vector<Stream>& streams) {
    std::vector<const Stream*> kept;
    for (const Stream& stream : streams) {
        if (!LeftOutOfRemux(container, stream.codec))
            kept.push_back(&stream);
    }
    return kept;
}

double Number(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

struct Picture {
    double width = 0, height = 0, aspect = 0;
};

// Width, height and display aspect as mediainfo reads them from the file, as shown: a
// quarter turn stated for display swaps them.
Picture PictureOf(const std::string& file) {
    const std::string text =
        MediaInfo("Video;%Width% %Height% %DisplayAspectRatio% %Rotation%|", file);
    Picture p;
    const size_t first = text.find(' ');
    const size_t second = text.find(' ', first + 1);
    const size_t third = text.find(' ', second + 1);
    p.width = Number(text.substr(0, first));
    p.height = Number(text.substr(first + 1, second - first - 1));
    p.aspect = Number(text.substr(second + 1, third - second - 1));
    if (p.aspect <= 0 && p.height > 0)
        p.aspect = p.width / p.height;
    if (std::lround(Number(text.substr(third + 1))) % 180 == 90) {
        std::swap(p.width, p.height);
        p.aspect = 1 / p.aspect;
    }
    return p;
}

void CheckPicture(const ProfilePromise& promise, const std::string& source,
                  const std::string& output) {
    EXPECT_EQ(MediaInfo("Video;%Format% %CodecID%", output), promise.video);
    EXPECT_EQ(MediaInfo("Video;%ChromaSubsampling%", output), "4:2:0");
    const Picture src = PictureOf(source);
    const Picture out = PictureOf(output);
    double box_width = Number(promise.box);
    const std::string box = promise.box;
    double box_height =
        box.find(" x ") == std::string::npos ? 0 : Number(box.substr(box.find(" x ") + 3));
    if (box_width <= 0) {
        box_width = src.width;
        box_height = src.height;
    } else if (src.height > src.width) {
        std::swap(box_width, box_height);
    }
    EXPECT_TRUE(out.width <= box_width && out.height <= box_height && out.height <= src.height)
        << "picture " << out.width << "x" << out.height << " for a " << src.width << "x"
        << src.height << " source in a " << box_width << "x" << box_height << " box";
    // The shown width, by the source's display aspect, within the even sides' rounding.
    EXPECT_LE(std::fabs(out.aspect - src.aspect) * out.height, 2.0)
        << "display aspect " << out.aspect << " for a source of " << src.aspect;
}

// Whole pictures, samples and subtitles, stream by stream in their order.
void CheckRemux(const std::string& container, const Content& src, const Content& out) {
    const std::vector<const VideoContent*> videos = Kept(container, src.video);
    ASSERT_EQ(out.video.size(), videos.size()) << "video streams kept";
    for (size_t i = 0; i < videos.size(); ++i) {
        EXPECT_EQ(out.video[i].codec, videos[i]->codec);
        EXPECT_EQ(out.video[i].Count(), videos[i]->Count()) << "pictures of video " << i;
        EXPECT_TRUE(out.video[i].last_duration_known || !videos[i]->last_duration_known)
            << "the last picture's length, which the source states, is kept";
    }
    const std::vector<const AudioContent*> audios = Kept(container, src.audio);
    ASSERT_EQ(out.audio.size(), audios.size()) << "audio streams kept";
    for (size_t i = 0; i < audios.size(); ++i) {
        const AudioContent& sa = *audios[i];
        const AudioContent& oa = out.audio[i];
        EXPECT_EQ(oa.codec, sa.codec);
        EXPECT_EQ(oa.channels, sa.channels);
        // A decoder's priming skip that one container states and the other does not: at most
        // one packet's sound.
        const double packet = std::max(double(sa.frame_size), sa.max_packet * sa.sample_rate);
        EXPECT_LE(double(std::llabs(oa.samples - sa.samples)), packet) << "samples of audio " << i;
    }
    ASSERT_EQ(out.subtitles.size(), src.subtitles.size()) << "subtitle streams kept";
    for (size_t i = 0; i < src.subtitles.size(); ++i)
        EXPECT_EQ(out.subtitles[i].events.size(), src.subtitles[i].events.size())
            << "events of subtitle " << i;
}

} // namespace

const ProfilePromise* FindPromise(const std::string& profile) {
    for (const ProfilePromise& promise : kPromises) {
        if (profile == promise.profile)
            return &promise;
    }
    return nullptr;
}

void CheckPromise(const ProfilePromise& promise, const std::string& source, const Content& src,
                  const std::string& output, const Content& out) {
    EXPECT_EQ(MediaInfo("General;%Format%", output), promise.container);
    if (promise.remux) {
        CheckRemux(promise.container, src, out);
        return;
    }
    if (promise.video[0] != '\0') {
        CheckPicture(promise, source, output);
        if (!src.video.empty() && !out.video.empty()) {
            const double period = src.video.front().Period();
            EXPECT_NEAR(out.video.front().Period(), period, std::max(0.001, 0.01 * period))
                << "the source's frame rate under \"Original\"";
        }
    } else {
        EXPECT_EQ(MediaInfo("General;%VideoCount%", output), "");
    }
    EXPECT_EQ(MediaInfo("Audio;%Format%", output), src.audio.empty() ? "" : promise.audio);
    if (!src.audio.empty() && !out.audio.empty()) {
        EXPECT_EQ(out.audio.front().channels, src.audio.front().channels)
            << "the source's channels under \"Original\"";
    }
}

} // namespace clipwright::testing
