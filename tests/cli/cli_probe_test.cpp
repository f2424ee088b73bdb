// clipwright-cli probe, run as a separate program on generated and real files.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/profiles/list_texts.h"
#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::Media;

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    const std::string err_file = Media().folder + "/cli_stderr.txt";
    std::string command = Quote(program);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " 2>" + Quote(err_file);
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(err_file);
    return result;
}

RunResult Probe(const std::vector<std::string>& files) {
    std::vector<std::string> args = {"probe"};
    args.insert(args.end(), files.begin(), files.end());
    return RunProgram(CLI_PATH, args);
}

// One file's block: its lines as (name, value) in order.
using Block = std::vector<std::pair<std::string, std::string>>;

std::vector<Block> Blocks(const std::string& out) {
    std::vector<Block> blocks(1);
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            blocks.emplace_back();
            continue;
        }
        const size_t colon = line.find(": ");
        blocks.back().emplace_back(line.substr(0, colon),
                                   colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    return blocks;
}

std::vector<std::string> Names(const Block& block) {
    std::vector<std::string> names;
    for (const auto& [name, value] : block)
        names.push_back(name);
    return names;
}

std::map<std::string, std::string> Values(const Block& block) {
    return {block.begin(), block.end()};
}

const std::vector<std::string> kFileLines = {"file",
                                             "streams",
                                             "programs",
                                             "video_streams",
                                             "first_video_stream",
                                             "audio_streams",
                                             "first_audio_stream",
                                             "subtitle_streams",
                                             "first_subtitle_stream",
                                             "attached_pictures",
                                             "duration_us",
                                             "duration",
                                             "bit_rate"};
const std::vector<std::string> kVideoLines = {
    "width",          "height",       "frame_rate", "frame_rate_fraction",
    "display_aspect", "pixel_format", "codec"};

TEST(CliProbeTest, PrintsEachFileInOrderWithABlankLineBetween) {
    const RunResult run =
        Probe({Media().mp4_h264_aac, Media().mp3_audio_only, Media().mpg_mpeg2_sar});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<Block> blocks = Blocks(run.out);
    ASSERT_EQ(blocks.size(), 3u) << run.out;

    std::vector<std::string> video_names = kFileLines;
    video_names.insert(video_names.end(), kVideoLines.begin(), kVideoLines.end());
    EXPECT_EQ(Names(blocks[0]), video_names);
    EXPECT_EQ(Names(blocks[1]), kFileLines) << "no video lines without video";

    auto mp4 = Values(blocks[0]);
    EXPECT_EQ(mp4["file"], Media().mp4_h264_aac);
    EXPECT_EQ(mp4["streams"], "2");
    EXPECT_EQ(mp4["programs"], "0");
    EXPECT_EQ(mp4["first_subtitle_stream"], "-1");
    EXPECT_EQ(mp4["duration"], "00:00:01");
    EXPECT_EQ(mp4["width"], "640");
    EXPECT_EQ(mp4["height"], "480");
    EXPECT_EQ(mp4["frame_rate"], "29.97");
    EXPECT_EQ(mp4["frame_rate_fraction"], "30000/1001");
    EXPECT_EQ(mp4["pixel_format"], "yuv420p");
    EXPECT_EQ(mp4["codec"], "h264");
    EXPECT_GT(std::stol(mp4["bit_rate"]), 0);

    auto mp3 = Values(blocks[1]);
    EXPECT_EQ(mp3["video_streams"], "0");
    EXPECT_EQ(mp3["first_video_stream"], "-1");
    EXPECT_EQ(mp3["duration"], "00:00:03");

    auto mpg = Values(blocks[2]);
    EXPECT_EQ(mpg["display_aspect"], "1.3333");
    EXPECT_EQ(mpg["codec"], "mpeg2video");
}

TEST(CliProbeTest, CoverPictureIsCountedApartFromVideo) {
    const RunResult run = Probe({Media().mp3_cover_art});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<Block> blocks = Blocks(run.out);
    ASSERT_EQ(blocks.size(), 1u) << run.out;
    EXPECT_EQ(Names(blocks[0]), kFileLines) << "no video lines for a cover";
    auto mp3 = Values(blocks[0]);
    EXPECT_EQ(mp3["streams"], "2");
    EXPECT_EQ(mp3["video_streams"], "0");
    EXPECT_EQ(mp3["first_video_stream"], "-1");
    EXPECT_EQ(mp3["attached_pictures"], "1");
}

TEST(CliProbeTest, UnknownDurationAndFailuresSetTheExitStatus) {
    const std::string missing = Media().folder + "/missing.mp4";
    // A raw stream read through a pipe has no length; the same stream as a file is measured.
    const testing::PipedCopy pipe(Media().m4v_unknown_length, Media().folder + "/cli_pipe.m4v");
    const RunResult run =
        Probe({pipe.Path(), missing, Media().random_avi, Media().m4v_unknown_length});
    EXPECT_EQ(run.exit_code, 1);
    const std::vector<Block> blocks = Blocks(run.out);
    ASSERT_EQ(blocks.size(), 4u) << run.out;
    auto piped = Values(blocks[0]);
    EXPECT_EQ(piped["duration"], "Unknown");
    EXPECT_EQ(piped["duration_us"], "-9223372036854775808");
    EXPECT_EQ(blocks[1],
              (Block{{"file", missing}, {"error", missing + ": no such file or directory"}}));
    EXPECT_EQ(blocks[2], (Block{{"file", Media().random_avi},
                                {"error", Media().random_avi + ": Unknown format"}}));
    auto m4v = Values(blocks[3]);
    EXPECT_EQ(m4v["duration"], "00:00:01");
    EXPECT_NEAR(std::stol(m4v["duration_us"]), 1000000, 1000000 / 15);
}

TEST(CliProbeTest, EveryRealFileMatchesWhatItHolds) {
    std::vector<std::string> files;
    for (const auto& f : testing::RealMedia())
        files.push_back(testing::RealMediaPath(f.name));
    const RunResult run = Probe(files);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<Block> blocks = Blocks(run.out);
    ASSERT_EQ(blocks.size(), testing::RealMedia().size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        const testing::RealMediaFile& f = testing::RealMedia()[i];
        auto v = Values(blocks[i]);
        SCOPED_TRACE(f.name);
        EXPECT_EQ(v["streams"], std::to_string(f.streams));
        EXPECT_EQ(v["video_streams"], std::to_string(f.video_streams));
        EXPECT_EQ(v["audio_streams"], std::to_string(f.audio_streams));
        EXPECT_EQ(v["subtitle_streams"], std::to_string(f.subtitle_streams));
        EXPECT_EQ(v["first_video_stream"], std::to_string(f.first_video_stream));
        EXPECT_EQ(v["first_audio_stream"], std::to_string(f.first_audio_stream));
        EXPECT_EQ(v["duration"], f.duration_text);
        if (f.width > 0) {
            EXPECT_EQ(v["width"], std::to_string(f.width));
            EXPECT_EQ(v["height"], std::to_string(f.height));
            EXPECT_EQ(v["frame_rate"], f.frame_rate_text);
        } else {
            EXPECT_EQ(v.count("width"), 0u);
        }
    }
}

TEST(CliProbeTest, NoFileIsAUsageError) {
    const RunResult run = RunProgram(CLI_PATH, {"probe"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find("Usage"), std::string::npos);
    EXPECT_EQ(RunProgram(CLI_PATH, {"frobnicate"}).exit_code, 2);
}

TEST(CliUsageTest, HelpVersionAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        bool on_stdout; // where the text goes
        std::string text;
    };
    const Case cases[] = {
        {{"--help"}, 0, true, "  convert    convert files with an output profile"},
        {{"-h"}, 0, true, "  probe      describe media files"},
        {{}, 2, false, "  transcode  run conversion jobs"},
        {{"frobnicate"}, 2, false, "unknown command 'frobnicate'"},
        {{"--frobnicate"}, 2, false, "unknown option '--frobnicate'"},
        {{"probe", "--help"}, 0, true, "Usage: clipwright-cli probe [--] FILE..."},
        {{"transcode", "-h"}, 0, true, "  --jobs N "},
        {{"profiles", "--help"}, 0, true, "Usage: clipwright-cli profiles [CAPTION|INDEX]"},
        {{"convert", "--profile", "3", "--help"}, 0, true, "  --volume 0..10 "},
        {{"probe", "--frobnicate", "a.mp4"}, 2, false, "Usage: clipwright-cli probe"},
        {{"profiles", "--frobnicate"}, 2, false, "Usage: clipwright-cli profiles"},
        {{"profiles", "1", "2"}, 2, false, "Usage: clipwright-cli profiles"},
        {{"transcode", "-x", "y"}, 2, false, "Usage: clipwright-cli transcode"},
        {{"convert", "--frobnicate", "x", "--profile", "8", "--output-folder", "/tmp", "f"},
         2,
         false,
         "Usage: clipwright-cli convert"},
    };
    for (const Case& c : cases) {
        const RunResult run = RunProgram(CLI_PATH, c.args);
        std::string joined;
        for (const std::string& arg : c.args)
            joined += arg + " ";
        EXPECT_EQ(run.exit_code, c.exit_code) << joined;
        EXPECT_NE((c.on_stdout ? run.out : run.err).find(c.text), std::string::npos)
            << joined << "\n"
            << run.out << run.err;
        EXPECT_EQ((c.on_stdout ? run.err : run.out), "") << joined;
    }
    // "--" ends the options: a file named like one is probed (and is missing).
    const RunResult dashed = RunProgram(CLI_PATH, {"probe", "--", "--no-such-file"});
    EXPECT_EQ(dashed.exit_code, 1);
    EXPECT_NE(dashed.out.find("file: --no-such-file\nerror: "), std::string::npos) << dashed.out;
}

TEST(CliUsageTest, VersionNamesEachBoundLibraryAndItsFile) {
    const RunResult run = RunProgram(CLI_PATH, {"--version"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("clipwright-cli ", 0), 0u) << line;
    for (const char* library : {"libavcodec.so.59", "libavformat.so.59", "libavutil.so.57",
                                "libswscale.so.6", "libswresample.so.4", "libavfilter.so.8"}) {
        ASSERT_TRUE(std::getline(lines, line)) << run.out;
        std::istringstream fields(line);
        std::string name, version, path;
        fields >> name >> version >> path;
        EXPECT_EQ(name, library);
        EXPECT_EQ(version.substr(0, version.find('.')), name.substr(name.rfind('.') + 1)) << line;
        EXPECT_TRUE(fs::exists(path)) << line;
    }
}

TEST(CliProbeTest, LibrariesComeFromCommonFilesBesideTheProgram) {
    // A copy of the program whose "Common Files" holds a broken avcodec: the folder's copy
    // wins over the system's, and the binding's text is printed.
    const fs::path folder = fs::path(Media().folder) / "cli_copy";
    fs::create_directories(folder / "Common Files");
    fs::copy_file(CLI_PATH, folder / "clipwright-cli", fs::copy_options::overwrite_existing);
    std::ofstream(folder / "Common Files" / "libavcodec.so.59") << "not a library";

    const RunResult run =
        RunProgram((folder / "clipwright-cli").string(), {"probe", Media().mp3_audio_only});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    const std::string expected = "Load libraray libavcodec.so.59 error: ";
    EXPECT_EQ(run.err.substr(0, expected.size()), expected) << run.err;
    EXPECT_NE(run.err.find("Common Files/libavcodec.so.59"), std::string::npos) << run.err;
    // --version says why it could not bind them.
    const RunResult version = RunProgram((folder / "clipwright-cli").string(), {"--version"});
    EXPECT_EQ(version.exit_code, 2);
    EXPECT_NE(version.out.find("media libraries not bound: Load libraray libavcodec.so.59 error"),
              std::string::npos)
        << version.out;

    // Without the broken file the system's libraries are found.
    fs::remove(folder / "Common Files" / "libavcodec.so.59");
    EXPECT_EQ(RunProgram((folder / "clipwright-cli").string(), {"probe", Media().mp3_audio_only})
                  .exit_code,
              0);
}

TEST(CliProbeTest, ProgramDoesNotLinkTheMediaLibraries) {
    const RunResult run = RunProgram("ldd", {CLI_PATH});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    for (const char* library :
         {"libavcodec", "libavformat", "libavutil", "libswscale", "libswresample", "libavfilter"})
        EXPECT_EQ(run.out.find(library), std::string::npos) << run.out;
}

} // namespace
} // namespace clipwright
