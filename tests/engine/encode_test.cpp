// Re-encoding: every codec pair the profiles use in its container, frame-rate sync, the hooks,
// the audio resampler and clock keeping, PCM sizes, stopping and deinterlacing.
#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "FFMPEG/binding/hook_bitmap.h"
#include "FFMPEG/run/run_job.h"
#include "tests/engine/job_runner.h"
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
    return testing::OutputPath("encode", name);
}

// The dup and drop counts of the final status line (logged at level 2 and above).
std::pair<int, int> DupDrop(const JobResult& run) {
    for (const auto& [level, text] : run.log) {
        const size_t at = text.find(" dup=");
        if (text.find("Lsize=") != std::string::npos && at != std::string::npos) {
            int dup = -1;
            int drop = -1;
            std::sscanf(text.c_str() + at, " dup=%d drop=%d", &dup, &drop);
            return {dup, drop};
        }
    }
    return {-1, -1};
}

struct PairCase {
    const char* name;
    const char* file;
    const char* options;
    const char* video; // codec name the file must show; empty for audio only
    const char* audio;
    int width, height;
    double frame_rate;
    int sample_rate, channels;
};

class CodecPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(CodecPairTest, OutputOpensDecodesAndShowsWhatWasAsked) {
    const PairCase& c = GetParam();
    const std::string target = OutPath(c.file);
    const JobResult run = RunJob({Media().mp4_h264_aac}, "", target, c.options);
    ASSERT_TRUE(run.built) << run.build_error;
    ASSERT_FALSE(run.exception) << run.message;
    ASSERT_TRUE(run.completed);
    const testing::FileReport out = ReadBack(target);
    ASSERT_TRUE(out.opened);
    if (c.video[0] != '\0') {
        const testing::StreamReport* video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->codec, c.video);
        EXPECT_EQ(video->width, c.width);
        EXPECT_EQ(video->height, c.height);
        EXPECT_NEAR(video->frame_rate, c.frame_rate, 0.01);
        EXPECT_EQ(video->decode_errors, 0);
        EXPECT_GT(video->frames, 0);
        EXPECT_NEAR(video->end_seconds - video->start_seconds, 1.0, 0.15);
        EXPECT_EQ(testing::MediaInfo("Video;%Width%x%Height%", target),
                  std::to_string(c.width) + "x" + std::to_string(c.height));
    } else {
        EXPECT_EQ(FirstOf(out, AVMEDIA_TYPE_VIDEO), nullptr);
    }
    const testing::StreamReport* audio = FirstOf(out, AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codec, c.audio);
    EXPECT_EQ(audio->sample_rate, c.sample_rate);
    EXPECT_EQ(audio->channels, c.channels);
    EXPECT_EQ(audio->decode_errors, 0);
    EXPECT_NEAR(audio->end_seconds - audio->start_seconds, 1.0, 0.15);
    EXPECT_EQ(testing::MediaInfo("Audio;%SamplingRate% %Channel(s)%", target),
              std::to_string(c.sample_rate) + " " + std::to_string(c.channels));
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, CodecPairTest,
    ::testing::Values(
        PairCase{"avi_mpeg4_mp3", "a.avi", "vcodec=mpeg4\nacodec=libmp3lame\ns=320x240\nr=25",
                 "mpeg4", "mp3", 320, 240, 25, 44100, 2},
        PairCase{"avi_xvid_mp3", "b.avi",
                 "vcodec=libxvid\nvtag=XVID\nacodec=libmp3lame\nar=22050\ns=320x240", "mpeg4",
                 "mp3", 320, 240, 29.97, 22050, 2},
        PairCase{"mp4_x264_aac", "c.mp4", "vcodec=libx264\nacodec=libfaac\nab=96000", "h264", "aac",
                 640, 480, 29.97, 44100, 2},
        PairCase{"mp4_mpeg4_aac", "d.mp4", "vcodec=mpeg4\nacodec=mpeg4aac\ns=320x240", "mpeg4",
                 "aac", 320, 240, 29.97, 44100, 2},
        PairCase{"wmv_wmv2_wmav2", "e.wmv", "vcodec=wmv2\nacodec=wmav2\ns=320x240\nr=25", "wmv2",
                 "wmav2", 320, 240, 25, 44100, 2},
        PairCase{"gp3_h263_amr", "f.3gp",
                 "vcodec=h263\nacodec=libamr_nb\ns=176x144\nr=15\nar=8000\nac=1\nab=12200", "h263",
                 "amr_nb", 176, 144, 15, 8000, 1},
        PairCase{"g32_mpeg4_aac", "g.3g2", "vcodec=mpeg4\nacodec=libfaac\ns=176x144\nr=15", "mpeg4",
                 "aac", 176, 144, 15, 44100, 2},
        PairCase{"mpg_mpeg1_mp2", "h.mpg", "vcodec=mpeg1video\nacodec=mp2\ns=352x240", "mpeg1video",
                 "mp2", 352, 240, 29.97, 44100, 2},
        PairCase{"mpg_mpeg2_ac3", "i.mpg", "vcodec=mpeg2video\nacodec=ac3\nar=48000", "mpeg2video",
                 "ac3", 640, 480, 29.97, 48000, 2},
        PairCase{"mov_mpeg4_aac", "j.mov", "vcodec=mpeg4\nacodec=libfaac\ns=320x240", "mpeg4",
                 "aac", 320, 240, 29.97, 44100, 2},
        PairCase{"wav_pcm", "k.wav", "acodec=pcm_s16le\nac=1", "", "pcm_s16le", 0, 0, 0, 44100, 1},
        PairCase{"mp3_lame", "l.mp3", "vn=1\nacodec=libmp3lame\nab=128000", "", "mp3", 0, 0, 0,
                 44100, 2},
        PairCase{"m4a_aac", "m.m4a", "vn=1\nf=ipod\nacodec=libfaac", "", "aac", 0, 0, 0, 44100, 2},
        PairCase{"wma_wmav2", "n.wma", "vn=1\nacodec=wmav2\nar=22050", "", "wmav2", 0, 0, 0, 22050,
                 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VideoSyncTest, FasterOutputDuplicatesAndSlowerDrops) {
    // 25 frames a second for 1 s, encoded at 30: about 5 duplicates.
    // The record's sync field always applies, so the method is set on the built job.
    auto vsync = [](const char* method) {
        return [method](TFFmpeg& job) { job.Dispatch("vsync", method); };
    };
    JobResult run = RunJob({Media().mkv_audio_first}, "", OutPath("dup.avi"),
                           "an=1\nvcodec=mpeg4\nr=30", vsync("1"), false, 2);
    ASSERT_TRUE(run.completed) << run.message;
    auto [dup, drop] = DupDrop(run);
    EXPECT_GE(dup, 4);
    EXPECT_LE(dup, 6);
    EXPECT_EQ(drop, 0);
    EXPECT_NEAR(FirstOf(ReadBack(OutPath("dup.avi")), AVMEDIA_TYPE_VIDEO)->frames, 30, 1);

    // 30000/1001 for 1 s, encoded at 25: about 5 dropped.
    run = RunJob({Media().mp4_h264_aac}, "", OutPath("drop.avi"), "an=1\nvcodec=mpeg4\nr=25", {},
                 false, 2);
    ASSERT_TRUE(run.completed) << run.message;
    std::tie(dup, drop) = DupDrop(run);
    EXPECT_GE(drop, 4);
    EXPECT_LE(drop, 6);
    EXPECT_NEAR(FirstOf(ReadBack(OutPath("drop.avi")), AVMEDIA_TYPE_VIDEO)->frames, 25, 1);

    // Without sync, one output picture per decoded picture.
    run = RunJob({Media().mkv_audio_first}, "", OutPath("nosync.avi"), "an=1\nvcodec=mpeg4\nr=30",
                 vsync("0"), false, 2);
    ASSERT_TRUE(run.completed);
    EXPECT_EQ(DupDrop(run), (std::pair<int, int>{0, 0}));
    EXPECT_EQ(FirstOf(ReadBack(OutPath("nosync.avi")), AVMEDIA_TYPE_VIDEO)->frames, 25);
}

TEST(VideoSyncTest, FrameLimitHoldsAgainstDuplication) {
    const JobResult run = RunJob({Media().mkv_audio_first}, "", OutPath("limit.avi"),
                                 "an=1\nvcodec=mpeg4\nr=250\nvframes=100",
                                 [](TFFmpeg& job) { job.Dispatch("vsync", "1"); });
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_EQ(FirstOf(ReadBack(OutPath("limit.avi")), AVMEDIA_TYPE_VIDEO)->frames, 100);
}

TEST(VideoHookTest, CustomHookStopsAtPictureTen) {
    int calls = 0;
    const JobResult run = RunJob(
        {Media().mkv_audio_first}, "", OutPath("hook_stop.avi"), "an=1\nvcodec=mpeg4",
        [&](TFFmpeg& job) {
            testing::SetCustomHook(job, [&](TCustomFFmpeg&, THookBitmap& bitmap, int32_t frame,
                                            int64_t, bool& update, bool& stop) {
                ++calls;
                EXPECT_EQ(frame, calls);
                EXPECT_EQ(bitmap.Width, 320);
                bitmap.ScanLine(0)[0] = 255; // drawing is allowed
                update = true;
                stop = frame == 10;
            });
        });
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_EQ(calls, 10);
    EXPECT_EQ(FirstOf(ReadBack(OutPath("hook_stop.avi")), AVMEDIA_TYPE_VIDEO)->frames, 25);
}

TEST(VideoHookTest, RaisingCustomHookIsLoggedAndOfferedAgain) {
    int calls = 0;
    const JobResult run =
        RunJob({Media().mkv_audio_first}, "", OutPath("hook_throw.avi"), "an=1\nvcodec=mpeg4",
               [&](TFFmpeg& job) {
                   testing::SetCustomHook(
                       job, [&](TCustomFFmpeg&, THookBitmap&, int32_t, int64_t, bool&, bool&) {
                           ++calls;
                           throw std::runtime_error("boom");
                       });
               });
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_EQ(calls, 25);
    EXPECT_TRUE(run.Logged("Error occurs OnCustomHook: boom"));
    EXPECT_EQ(FirstOf(ReadBack(OutPath("hook_throw.avi")), AVMEDIA_TYPE_VIDEO)->frames, 25);
}

int PluginProcessCalls() {
    const std::string plugin = std::string(HOOK_PLUGIN_DIR) + "/hook_plugin.so";
    void* module = dlopen(plugin.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr)
        return 0;
    auto counter = reinterpret_cast<int (*)()>(dlsym(module, "HookPluginProcessCalls"));
    const int calls = counter != nullptr ? counter() : -1;
    dlclose(module);
    return calls;
}

TEST(VideoHookTest, PluginsRunOnlyInsideTheHookRanges) {
    const std::string plugin = std::string(HOOK_PLUGIN_DIR) + "/hook_plugin.so";
    const int before = PluginProcessCalls();
    JobResult run = RunJob({Media().mkv_audio_first}, "", OutPath("plugin_all.avi"),
                           "an=1\nvcodec=mpeg4\nvhook=" + plugin + "|1");
    ASSERT_TRUE(run.completed) << run.message;
    const int all = PluginProcessCalls() - before;
    EXPECT_EQ(all, 25);

    // A single range over the first 200 ms: the pictures after it end the hooks.
    const int start = PluginProcessCalls();
    run = RunJob({Media().mkv_audio_first}, "", OutPath("plugin_range.avi"),
                 "an=1\nvcodec=mpeg4\nvhook=" + plugin + "|1", [](TFFmpeg& job) {
                     job.HookRanges = {{0, 200000}};
                 });
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_EQ(PluginProcessCalls() - start, 5);
}

TEST(AudioOutputTest, ResamplesToAnotherRateAndChannelCount) {
    const std::string target = OutPath("mono22k.wav");
    const JobResult run = RunJob({Media().mp3_audio_only}, "", target, "ar=22050\nac=1");
    ASSERT_TRUE(run.completed) << run.message;
    const testing::FileReport report = ReadBack(target);
    const testing::StreamReport* audio = FirstOf(report, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(audio->sample_rate, 22050);
    EXPECT_EQ(audio->channels, 1);
    EXPECT_NEAR(audio->end_seconds, 3.0, 0.1);
    EXPECT_EQ(testing::MediaInfo("Audio;%SamplingRate% %Channel(s)%", target), "22050 1");
}

TEST(AudioOutputTest, LateAudioIsFilledWithSilence) {
    // Audio starting 0.5 s after the video: with "async" 1 the gap becomes silence.
    const std::string target = OutPath("late.mkv");
    TFFmpeg job;
    job.Prepare();
    job.SetVerbosity(-1);
    ASSERT_TRUE(job.OpenInputFile(Media().m4v_unknown_length));
    job.Dispatch("itsoffset", "0.5");
    ASSERT_TRUE(job.OpenInputFile(Media().mp3_audio_only));
    job.Dispatch("vcodec", "mpeg4");
    job.Dispatch("acodec", "pcm_s16le");
    job.Dispatch("async", "1");
    ASSERT_TRUE(job.OpenOutputFile(target)) << job.LastError;
    ExecuteJob(job);
    ASSERT_TRUE(job.CompletedNormally) << job.ExceptionMessage;
    const testing::FileReport report = ReadBack(target);
    const testing::StreamReport* audio = FirstOf(report, AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(audio, nullptr);
    EXPECT_NEAR(audio->start_seconds, 0.0, 0.05) << "silence fills the first half second";
    EXPECT_NEAR(audio->end_seconds, 3.5, 0.1);
}

TEST(AudioOutputTest, TimestampHolesStayAsSilence) {
    // A WAV has no timestamps: its length shows whether the sound kept its place, the span of
    // the source's packets. A hole in the source's timestamps (the packets from 0.5 s on moved
    // 0.6 s later) becomes silence; AMR packets of five frames, cut apart by the parser, open
    // none.
    const std::string hole = OutPath("hole.mkv");
    testing::WriteRemux(Media().mkv_audio_first, hole, 0, 0.5, 0.6);
    for (const std::string& source :
         {hole, testing::RealMediaPath("3gp_h263_amrnb_176x144_phone.3gp")}) {
        SCOPED_TRACE(source);
        const std::string target = OutPath("hole_check.wav");
        const JobResult run = RunJob({source}, "", target, "vn=1\nacodec=pcm_s16le");
        ASSERT_TRUE(run.completed) << run.message;
        const testing::FileReport source_report = ReadBack(source);
        const testing::FileReport target_report = ReadBack(target);
        const testing::StreamReport* in = FirstOf(source_report, AVMEDIA_TYPE_AUDIO);
        const testing::StreamReport* out = FirstOf(target_report, AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(in != nullptr && out != nullptr);
        EXPECT_NEAR(out->end_seconds - out->start_seconds, in->end_seconds - in->start_seconds,
                    0.03);
    }
}

TEST(AudioOutputTest, TwentyFourBitPcmSizes) {
    const std::string target = OutPath("pcm24.wav");
    const JobResult run = RunJob({Media().mp3_audio_only}, "", target, "acodec=pcm_s24le");
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_EQ(testing::MediaInfo("Audio;%BitDepth% %SamplingRate% %Channel(s)%", target),
              "24 44100 2");
    // Three bytes a sample, two channels, three seconds (the decoder's priming aside).
    EXPECT_NEAR(static_cast<double>(fs::file_size(target)), 3.0 * 44100 * 6, 44100 * 6 * 0.1);
}

TEST(AudioOutputTest, AmrNbNeedsEightKilohertzMono) {
    const JobResult run =
        RunJob({Media().mp3_audio_only}, "", OutPath("amr.3gp"), "acodec=libamr_nb");
    EXPECT_TRUE(run.exception);
    EXPECT_EQ(run.message, "Error while opening codec for output stream #0.0 - maybe incorrect "
                           "parameters such as bit_rate, rate, width or height");
    const JobResult ok = RunJob({Media().mp3_audio_only}, "", OutPath("amr_ok.3gp"),
                                "acodec=libamr_nb\nar=8000\nac=1\nab=5000");
    ASSERT_TRUE(ok.completed) << ok.message;
    EXPECT_EQ(testing::MediaInfo("Audio;%Format% %BitRate_Nominal%", OutPath("amr_ok.3gp")),
              "AMR ");
}

TEST(EncodeTest, StoppedReEncodeIsPlayable) {
    const std::string target = OutPath("stopped.mp4");
    const JobResult run =
        RunJob({Media().avi_long}, "", target, "vcodec=libx264\nacodec=libfaac", [](TFFmpeg& job) {
            job.ProgressInterval = 0;
            testing::RecorderOf(job).progress = [](TCustomFFmpeg& j, const TJobProgress& progress) {
                if (progress.frame_number >= 40)
                    j.StopRequested = true;
            };
        });
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_FALSE(run.completed);
    EXPECT_FALSE(run.exception) << run.message;
    const testing::FileReport out = ReadBack(target);
    ASSERT_TRUE(out.opened);
    const testing::StreamReport* video = FirstOf(out, AVMEDIA_TYPE_VIDEO);
    EXPECT_GE(video->frames, 35);
    EXPECT_LT(video->frames, 120);
    EXPECT_EQ(video->decode_errors, 0);
}

// The share of luma samples, over the first pictures, where a line stands out from both of its
// neighbours in the same direction: the comb teeth that interlaced motion leaves.
double Combing(const std::string& file) {
    AVFormatContext* raw = nullptr;
    if (av().avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0)
        return -1;
    InputFormatPtr context(raw);
    av().avformat_find_stream_info(raw, nullptr);
    const AVCodecParameters* par = raw->streams[0]->codecpar;
    const AVCodec* codec = av().avcodec_find_decoder(par->codec_id);
    CodecContextPtr decoder(av().avcodec_alloc_context3(codec));
    av().avcodec_parameters_to_context(decoder.get(), par);
    av().avcodec_open2(decoder.get(), codec, nullptr);
    PacketPtr packet = allocPacket();
    FramePtr frame = allocFrame();
    double teeth = 0;
    double samples = 0;
    int pictures = 0;
    while (pictures < 8 && av().av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == 0 &&
            av().avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
            while (av().avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                for (int y = 0; y + 2 < frame->height; y += 2) {
                    const uint8_t* a = frame->data[0] + y * frame->linesize[0];
                    const uint8_t* b = a + frame->linesize[0];
                    const uint8_t* c = b + frame->linesize[0];
                    for (int x = 0; x < frame->width; x += 2) {
                        teeth += (b[x] - a[x]) * (b[x] - c[x]) > 100 ? 1 : 0;
                        samples += 1;
                    }
                }
                ++pictures;
                av().av_frame_unref(frame.get());
            }
        }
        av().av_packet_unref(packet.get());
    }
    return samples > 0 ? teeth / samples : -1;
}

TEST(EncodeTest, DeinterlacedAvchdIsProgressive) {
    const std::string interlaced = OutPath("avchd_plain.mkv");
    const std::string progressive = OutPath("avchd_deint.mkv");
    const std::string options = "an=1\nvcodec=mpeg4\nqscale=2\nt=0.5";
    JobResult run =
        RunJob({testing::RealMediaPath("mts_avchd_h264_1080i_ac3.mts")}, "", interlaced, options);
    ASSERT_TRUE(run.completed) << run.message;
    run = RunJob({testing::RealMediaPath("mts_avchd_h264_1080i_ac3.mts")}, "", progressive,
                 options + "\ndeinterlace=1");
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_FALSE(run.LoggedContaining("deinterlace error"));
    const double before = Combing(interlaced);
    const double after = Combing(progressive);
    EXPECT_GT(before, 0);
    EXPECT_LT(after, before * 0.8) << "before " << before << " after " << after;
    EXPECT_NEAR(FirstOf(ReadBack(progressive), AVMEDIA_TYPE_VIDEO)->frames,
                FirstOf(ReadBack(interlaced), AVMEDIA_TYPE_VIDEO)->frames, 1);
}

} // namespace
} // namespace clipwright

namespace clipwright {
namespace {

TEST(SubtitleOutputTest, DvbSubtitlesGoOutTwiceOthersOnce) {
    const testing::FileReport in = testing::ReadBack(testing::Media().ts_dvb_subtitles);
    const testing::StreamReport* source = testing::FirstOf(in, AVMEDIA_TYPE_SUBTITLE);
    ASSERT_NE(source, nullptr);
    ASSERT_EQ(source->codec, "dvb_subtitle");
    ASSERT_EQ(source->packets, 2);

    const std::string encoded = OutPath("dvb_encoded.ts");
    testing::JobResult run = testing::RunJob({testing::Media().ts_dvb_subtitles}, "", encoded,
                                             "vcodec=copy\nscodec=dvbsub");
    ASSERT_TRUE(run.completed) << run.build_error << run.message;
    const testing::FileReport report = testing::ReadBack(encoded);
    const testing::StreamReport* shown_and_cleared =
        testing::FirstOf(report, AVMEDIA_TYPE_SUBTITLE);
    ASSERT_NE(shown_and_cleared, nullptr);
    EXPECT_EQ(shown_and_cleared->packets, 4);

    const std::string copied = OutPath("dvb_copied.ts");
    run = testing::RunJob({testing::Media().ts_dvb_subtitles}, "", copied,
                          "vcodec=copy\nscodec=copy");
    ASSERT_TRUE(run.completed) << run.message;
    EXPECT_EQ(testing::FirstOf(testing::ReadBack(copied), AVMEDIA_TYPE_SUBTITLE)->packets, 2);
}

} // namespace
} // namespace clipwright
