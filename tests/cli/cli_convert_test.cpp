// clipwright-cli convert: every profile with its defaults on a real file, checked with
// mediainfo against what the profile and the players ask; the naming and refusal rules.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::Media;

struct CliRun {
    int status = -1;
    std::string out;
};

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// `shell`: commands the shell runs before the program (limits it inherits).
CliRun Cli(const std::string& arguments, const std::string& shell = "") {
    CliRun run;
    const std::string command = shell + std::string(CLI_PATH) + " " + arguments + " 2>/dev/null";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.out.append(buffer, n);
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

std::string MediaInfo(const std::string& inform, const std::string& file) {
    CliRun run;
    const std::string command = "mediainfo --Inform=" + Quote(inform) + " " + Quote(file);
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[1024];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.out.append(buffer, n);
        pclose(pipe);
    }
    while (!run.out.empty() && (run.out.back() == '\n' || run.out.back() == '\r'))
        run.out.pop_back();
    return run.out;
}

fs::path Folder(const std::string& name) {
    const fs::path folder = fs::path(Media().folder) / "convert" / name;
    fs::create_directories(folder);
    return folder;
}

struct ProfileCase {
    int index;
    const char* container; // mediainfo's General format
    const char* video;     // "Format CodecID WxH" or empty for audio only
    const char* audio;     // "Format SamplingRate Channels"
};

const std::string kVideoSource = "mp4_h264_aac_560x320.mp4"; // mono 48 kHz AAC, 30 fps
const std::string kAudioSource = "mp3_44k_stereo_id3v23.mp3";

class ProfileConvertTest : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileConvertTest, DefaultsGiveAFileThePlayersTake) {
    const ProfileCase& c = GetParam();
    const bool video = c.video[0] != '\0';
    const std::string source =
        testing::RealMediaPath(video ? kVideoSource.c_str() : kAudioSource.c_str());
    const fs::path folder = Folder(std::to_string(c.index));
    const CliRun run = Cli("convert --profile " + std::to_string(c.index) + " --output-folder " +
                           Quote(folder.string()) + " " + Quote(source));
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_NE(run.out.find(": Done"), std::string::npos) << run.out;
    ASSERT_FALSE(fs::is_empty(folder));
    const std::string file = fs::directory_iterator(folder)->path().string();

    EXPECT_EQ(MediaInfo("General;%Format%", file), c.container);
    if (video) {
        EXPECT_EQ(MediaInfo("Video;%Format% %CodecID% %Width%x%Height%", file), c.video);
        const std::string format = MediaInfo("Video;%Format%", file);
        if (format == "MPEG-4 Visual") {
            EXPECT_EQ(MediaInfo("Video;%Format_Profile%", file).rfind("Simple@", 0), 0u);
        }
        EXPECT_NE(MediaInfo("Video;%Format_Settings_BVOP%", file), "Yes") << "no B-frames";
    } else {
        EXPECT_EQ(MediaInfo("General;%VideoCount%", file), "");
    }
    EXPECT_EQ(MediaInfo("Audio;%Format% %SamplingRate% %Channel(s)%", file), c.audio);
    if (MediaInfo("Audio;%Format%", file) == "AAC") {
        EXPECT_LE(std::stoi(MediaInfo("Audio;%BitRate%", file)), 161000);
        EXPECT_EQ(MediaInfo("Audio;%Format_AdditionalFeatures%", file), "LC");
    }
}

// Sizes: the profile's selection, or the source's 560x320 for "Original Video Size".
INSTANTIATE_TEST_SUITE_P(
    AllProfiles, ProfileConvertTest,
    ::testing::Values(ProfileCase{0, "MPEG-4", "MPEG-4 Visual mp4v-20 320x240", "AAC 44100 2"},
                      ProfileCase{1, "Windows Media", "WMV2 WMV2 320x240", "WMA 48000 2"},
                      ProfileCase{3, "MPEG-4", "", "AAC 48000 2"},
                      ProfileCase{4, "MPEG Audio", "", "MPEG Audio 48000 2"},
                      ProfileCase{5, "Wave", "", "PCM 44100 2"},
                      ProfileCase{6, "Windows Media", "", "WMA 48000 2"},
                      ProfileCase{8, "MPEG-4", "MPEG-4 Visual mp4v-20 480x320", "AAC 44100 2"},
                      ProfileCase{9, "MPEG-4", "MPEG-4 Visual mp4v-20 640x480", "AAC 44100 2"},
                      ProfileCase{10, "MPEG-4", "MPEG-4 Visual mp4v-20 320x240", "AAC 44100 1"},
                      ProfileCase{11, "MPEG-4", "MPEG-4 Visual mp4v-20 640x480", "AAC 44100 1"},
                      ProfileCase{12, "MPEG-4", "MPEG-4 Visual mp4v-20 480x320", "AAC 44100 1"},
                      ProfileCase{13, "MPEG-4", "MPEG-4 Visual mp4v-20 640x480", "AAC 44100 1"},
                      ProfileCase{14, "MPEG-4", "MPEG-4 Visual mp4v-20 640x480", "AAC 44100 1"},
                      ProfileCase{16, "MPEG-4", "MPEG-4 Visual mp4v-20 176x144", "AMR 8000 1"},
                      ProfileCase{17, "MPEG-4", "MPEG-4 Visual mp4v-20 176x144", "AMR 8000 1"},
                      ProfileCase{18, "AVI", "MPEG-4 Visual XVID 560x320", "PCM 48000 2"},
                      ProfileCase{19, "AVI", "MPEG-4 Visual DX50 560x320", "MPEG Audio 48000 2"},
                      ProfileCase{20, "MPEG-4", "MPEG-4 Visual mp4v-20 560x320", "AAC 44100 2"},
                      ProfileCase{21, "MPEG-4", "MPEG-4 Visual mp4v-20 560x320", "AAC 44100 2"},
                      ProfileCase{22, "MPEG-PS", "MPEG Video  320x240", "MPEG Audio 44100 2"},
                      ProfileCase{23, "MPEG-PS", "MPEG Video  320x240", "MPEG Audio 44100 2"},
                      ProfileCase{24, "Windows Media", "WMV2 WMV2 320x240", "WMA 48000 2"},
                      ProfileCase{26, "AVI", "MPEG-4 Visual XVID 480x272", "MPEG Audio 48000 2"},
                      ProfileCase{27, "AVI", "MPEG-4 Visual XVID 720x480", "MPEG Audio 48000 2"},
                      ProfileCase{28, "MPEG-4", "MPEG-4 Visual mp4v-20 320x240", "AAC 44100 2"},
                      ProfileCase{29, "AVI", "H.263 H263 176x144", "MPEG Audio 44100 2"},
                      ProfileCase{30, "MPEG-4", "MPEG-4 Visual mp4v-20 176x144", "AMR 8000 1"},
                      ProfileCase{31, "AVI", "MPEG-4 Visual XVID 640x480", "MPEG Audio 48000 2"},
                      ProfileCase{32, "AVI", "MPEG-4 Visual XVID 640x480", "MPEG Audio 48000 2"}),
    [](const auto& info) { return "profile_" + std::to_string(info.param.index); });

TEST(CliConvertTest, H264ChoicesAreBaselineAtTheirLevel) {
    const fs::path folder = Folder("h264");
    const std::string source = testing::RealMediaPath(kVideoSource.c_str());
    CliRun run = Cli("convert --profile 10 --video-codec H264 --output-folder " +
                     Quote(folder.string()) + " " + Quote(source));
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string file = (folder / "mp4_h264_aac_560x320.mp4").string();
    EXPECT_EQ(MediaInfo("Video;%Format% %Format_Profile%", file), "AVC Constrained Baseline@L1.3");
    run = Cli("convert --profile 8 --video-codec H264 --overwrite --output-folder " +
              Quote(folder.string()) + " " + Quote(source));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(MediaInfo("Video;%Format_Profile%", file), "Constrained Baseline@L3");
}

// Profiles refuse a source without what they make, and a file system that fills up
// fails the row: each with its reason, none with a file left behind.
TEST(CliConvertTest, RefusalsAndFullDisksLeaveNoFile) {
    const struct {
        const char* profile;
        const char* source;
        const char* reason;
        const char* shell = "";
    } cases[] = {
        {"MP4 - H.264 + AAC, plays everywhere (*.mp4)", "mp3_44k_stereo_id3v23.mp3",
         "The source has no video; a video profile needs video."},
        {"FLAC - Lossless Audio (*.flac)", "mxf_mpeg2_720x576_noaudio.mxf",
         "The source has no sound; an audio profile needs sound."},
        {"MP3 - Mpeg Layer3 Audio (*.mp3)", "mxf_mpeg2_720x576_noaudio.mxf",
         "The source has no sound; an audio profile needs sound."},
        {"MP4 - Keep streams, no re-encoding (*.mp4)", "wav_pcm16_48k_mono.wav",
         "Nothing to keep: MP4 (MPEG-4 Part 14) holds none of the streams of the source"},
        {"MKV - Keep every stream, no re-encoding (*.mkv)", "flv_h264_aac_480x270.flv",
         "av_interleaved_write_frame(): the file grew larger than its file system allows",
         "trap '' XFSZ; ulimit -f 100; "},
    };
    for (const auto& c : cases) {
        const fs::path folder = Folder(std::string("refused-") + c.source);
        const CliRun run =
            Cli("convert --profile " + Quote(c.profile) + " --output-folder " +
                    Quote(folder.string()) + " " + Quote(testing::RealMediaPath(c.source)),
                c.shell);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find(std::string(": Fail: ") + c.reason), std::string::npos) << run.out;
        EXPECT_TRUE(fs::is_empty(folder)) << c.profile;
    }
}

TEST(CliConvertTest, CoverPictureOfAnMp3IsLeftOutOfAVideoProfile) {
    // Zune MPEG-4 at 29.97 fps and 3GP: the audio alone, as for any audio file.
    for (const char* profile : {"0", "16"}) {
        const fs::path folder = Folder(std::string("cover") + profile);
        const CliRun run = Cli("convert --profile " + std::string(profile) + " --output-folder " +
                               Quote(folder.string()) + " " + Quote(Media().mp3_cover_art));
        ASSERT_EQ(run.status, 0) << run.out;
        ASSERT_NE(run.out.find(": Done"), std::string::npos) << run.out;
        const std::string file = fs::directory_iterator(folder)->path().string();
        EXPECT_EQ(MediaInfo("General;%VideoCount%|%AudioCount%", file), "|1") << profile;
    }
}

TEST(CliConvertTest, NamesSelectionsAndRefusals) {
    const fs::path folder = Folder("naming");
    const std::string source = testing::RealMediaPath(kAudioSource.c_str());
    const std::string arguments = "convert --profile " + Quote("WAV - Waveform Audio (*.wav)") +
                                  " --sampling-rate " + Quote("22050 Hz") +
                                  " --channels Mono --volume 10 --output-folder " +
                                  Quote(folder.string()) + " " + Quote(source);
    CliRun run = Cli(arguments);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out,
              source + " -> " + (folder / "mp3_44k_stereo_id3v23.wav").string() + ": Done\n");
    EXPECT_EQ(MediaInfo("Audio;%SamplingRate% %Channel(s)%",
                        (folder / "mp3_44k_stereo_id3v23.wav").string()),
              "22050 1");
    run = Cli(arguments);
    EXPECT_NE(run.out.find("mp3_44k_stereo_id3v23-1.wav: Done"), std::string::npos) << run.out;

    run = Cli("convert --profile 5 --sampling-rate " + Quote("11025 Hz") + " --output-folder " +
              Quote(folder.string()) + " " + Quote(source));
    EXPECT_EQ(run.status, 2);
    run =
        Cli("convert --profile 2 --output-folder " + Quote(folder.string()) + " " + Quote(source));
    EXPECT_EQ(run.status, 2) << "a separator is no profile";

    // An output that would be the input itself is refused, and the input stays as it was.
    const fs::path own = Folder("own");
    const fs::path input = own / "tone.wav";
    fs::copy_file(testing::RealMediaPath("wav_pcm16_48k_mono.wav"), input,
                  fs::copy_options::overwrite_existing);
    const auto size = fs::file_size(input);
    run = Cli("convert --profile 5 --overwrite --output-folder " + Quote(own.string()) + " " +
              Quote(input.string()));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(": Fail: the output would replace the input"), std::string::npos)
        << run.out;
    EXPECT_EQ(fs::file_size(input), size);
}

// A run stopped midway leaves no file under the output's name: SIGTERM removes its temporary
// file, SIGKILL leaves it for the next run of the same file, which writes over it.
TEST(CliConvertTest, StoppedRunsLeaveNoOutputAndTheNextRunFinishes) {
    const fs::path folder = Folder("stopped");
    const std::string source = (folder.parent_path() / "long.avi").string();
    testing::MediaSpec spec;
    spec.video.emplace().frames = 450;
    spec.audio.emplace().seconds = 30;
    testing::WriteMedia(source, spec);
    const fs::path partial = folder / ".long.avi.part";
    for (const int signal : {SIGTERM, SIGKILL}) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            execl(CLI_PATH, CLI_PATH, "convert", "--profile", "31", "--output-folder",
                  folder.c_str(), source.c_str(), nullptr);
            _exit(127);
        }
        // Killed once the job writes: the temporary file has grown.
        std::error_code error;
        for (int i = 0; i < 5000 && (fs::file_size(partial, error) == 0 || error); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status),
                  signal == SIGTERM ? 143 : -SIGKILL);
        EXPECT_EQ(fs::exists(partial), signal == SIGKILL);
        EXPECT_FALSE(fs::exists(folder / "long.avi")) << signal;
    }
    const CliRun run =
        Cli("convert --profile 31 --output-folder " + Quote(folder.string()) + " " + Quote(source));
    EXPECT_EQ(run.out, source + " -> " + (folder / "long.avi").string() + ": Done\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

} // namespace
} // namespace clipwright
