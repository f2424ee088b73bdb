// clipwright-cli transcode as a separate program: jobs through the engine on worker threads.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/media_gen/media_gen.h"

namespace clipwright {
namespace {

using testing::Media;

std::string Out(const std::string& name) {
    const std::filesystem::path folder = std::filesystem::path(Media().folder) / "cli";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

// Runs the program with its output in a file; returns the exit status and what it printed,
// with `log` its log lines too, in the order written.
int Transcode(const std::vector<std::string>& args, std::string& out, int interrupt_after_ms = 0,
              bool log = false) {
    // One file a test: ctest runs them side by side.
    const std::string stdout_file =
        Out(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".txt");
    const pid_t child = fork();
    if (child == 0) {
        std::freopen(stdout_file.c_str(), "w", stdout);
        if (log)
            dup2(fileno(stdout), STDERR_FILENO);
        else
            std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv;
        std::string program = CLI_PATH;
        std::string command = "transcode";
        argv.push_back(program.data());
        argv.push_back(command.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(CLI_PATH, argv.data());
        _exit(127);
    }
    if (interrupt_after_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(interrupt_after_ms));
        kill(child, SIGINT);
    }
    int status = 0;
    waitpid(child, &status, 0);
    out.clear();
    if (FILE* file = std::fopen(stdout_file.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            out.append(buffer, n);
        std::fclose(file);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliTranscodeTest, SeveralJobsTwoAtATimeWithOneLineEach) {
    std::string out;
    const std::string missing = Media().folder + "/missing.avi";
    const int status = Transcode({"-i", Media().avi_mpeg4_mp2, "-O", "vcodec=copy", "-o",
                                  Out("a.avi"), "-i", Media().mp3_audio_only, "-o", Out("b.wav"),
                                  "-i", missing, "-o", Out("c.avi"), "--jobs", "2"},
                                 out);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(Media().avi_mpeg4_mp2 + " -> " + Out("a.avi") + ": Done\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(Media().mp3_audio_only + " -> " + Out("b.wav") + ": Done\n"),
              std::string::npos);
    EXPECT_NE(out.find(missing + " -> " + Out("c.avi") + ": Fail: " + missing +
                       ": no such file or directory\n"),
              std::string::npos);

    EXPECT_EQ(Transcode({"-i", Media().mp3_audio_only, "-o", Out("d.wav")}, out), 0) << out;
    EXPECT_EQ(Transcode({"-i", Media().mp3_audio_only}, out), 2);
}

TEST(CliTranscodeTest, InterruptStopsAndKeepsAPlayableFile) {
    std::string out;
    // Read at its own rate, 12 s of input outlast the interrupt after half a second.
    const int status = Transcode({"-i", Media().avi_long, "-I", "re=1", "-O", "vcodec=mpeg4", "-o",
                                  Out("interrupted.avi"), "--log-level", "quiet"},
                                 out, 700);
    EXPECT_EQ(status, 130) << out;
    EXPECT_NE(out.find(": Abort"), std::string::npos) << out;
    ASSERT_TRUE(std::filesystem::exists(Out("interrupted.avi")));
    EXPECT_GT(std::filesystem::file_size(Out("interrupted.avi")), 1000u);
}

// The job stopped before it started keeps its files until the engine goes, and closing them
// logs. Those lines must reach no handler: the command's are gone by then (the handlers used
// its locals after their scope, which a clang AddressSanitizer build reports).
TEST(CliTranscodeTest, InterruptWithAJobNotStartedLogsNothingAfterTheEnd) {
    std::string out;
    const int status = Transcode({"-i", Media().avi_long, "-I", "re=1", "-O", "vcodec=copy", "-o",
                                  Out("first.avi"), "-i", Media().mp3_audio_only, "-o",
                                  Out("never.wav"), "--log-level", "debug"},
                                 out, 700, true);
    EXPECT_EQ(status, 130) << out;
    const std::string last = Out("never.wav") + ": Abort\n";
    EXPECT_EQ(out.rfind(last), out.size() - last.size()) << out;
}

} // namespace
} // namespace clipwright
