// Faults of the disk and the folders around a run: each job that meets one fails with its own
// message and never reports success; nothing but the job's own output is touched, and the
// next job of the batch runs.
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/component/engine.h"
#include "tests/engine/job_runner.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::Media;

constexpr const char* kEncode = "vcodec=mpeg4\nacodec=mp2";

std::string FaultPath(const std::string& name) {
    return testing::OutputPath("faults", name);
}

TEST(FaultsTest, AFullDiskFailsItsJobAndTheBatchGoesOn) {
    // Every write to /dev/full fails with "no space left"; the link gives it an output's name.
    const fs::path full = FaultPath("disk_full.avi");
    fs::remove(full);
    fs::create_symlink("/dev/full", full);
    const fs::path after = FaultPath("after_full.avi");
    fs::remove(after);

    TFFmpegEngine engine;
    ASSERT_TRUE(engine.LoadAVLib("", true));
    std::mutex lock;
    std::condition_variable ended;
    std::vector<std::tuple<int32_t, bool, std::string>> ends;
    engine.OnTerminate = [&](int32_t index, bool, bool exception, const std::string& message) {
        std::lock_guard guard(lock);
        ends.emplace_back(index, exception, message);
        ended.notify_all();
    };
    for (const fs::path& output : {full, after}) {
        const int32_t job = engine.AddInputFile(Media().mp4_h264_aac, nullptr);
        ASSERT_GE(job, 0);
        TOutputOptions options;
        options.ExtraOptions = kEncode;
        ASSERT_TRUE(engine.SetOutputFile(job, output.string(), &options)) << engine.LastErrMsg();
    }
    engine.StartConvert(1);
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(ended.wait_for(guard, std::chrono::minutes(2), [&] {
            return !ends.empty() && std::get<0>(ends.back()) == -1;
        }));
    }
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(std::get<0>(ends[0]), 0);
    EXPECT_TRUE(std::get<1>(ends[0])) << "a full disk is never a success";
    const std::string& message = std::get<2>(ends[0]);
    EXPECT_TRUE(message == "av_interleaved_write_frame(): no space left on device" ||
                message == "av_write_trailer(): no space left on device")
        << message;
    EXPECT_EQ(std::get<0>(ends[1]), 1);
    EXPECT_FALSE(std::get<1>(ends[1])) << std::get<2>(ends[1]);
    EXPECT_TRUE(testing::ReadBack(after.string()).opened);
    EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device is not the job's to delete";
    EXPECT_TRUE(fs::is_symlink(full));
}

TEST(FaultsTest, OutputFolderRemovedWhileWritingFailsTheJob) {
    const fs::path folder = FaultPath("vanishing");
    fs::create_directories(folder);
    const std::string output = (folder / "out.avi").string();
    bool removed = false;
    const testing::JobResult run =
        testing::RunJob({Media().avi_long}, "", output, kEncode, [&](TFFmpeg& job) {
            job.ProgressInterval = 0; // a report after every packet: the first comes early
            testing::RecorderOf(job).progress = [&](TCustomFFmpeg&, const TJobProgress&) {
                if (!removed)
                    removed = fs::remove_all(folder) > 0;
            };
        });
    ASSERT_TRUE(run.built) << run.build_error;
    ASSERT_TRUE(removed);
    EXPECT_TRUE(run.exception) << "the file is gone: no success";
    EXPECT_EQ(run.message, output + ": no such file or directory");
}

TEST(FaultsTest, ARunThatFailsRemovesWhatItWroteAndAStoppedOneKeepsIt) {
    // A WAV that declares its format but holds no sample: the MP3 header is written, then the
    // run finds nothing to encode and fails; that file is no result and goes.
    const std::string empty_wav = FaultPath("no_samples.wav");
    {
        std::ofstream out(empty_wav, std::ios::binary);
        const char header[] = "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x44\xac\0\0"
                              "\x88\x58\x01\0\x02\0\x10\0data\0\0\0\0";
        out.write(header, sizeof header - 1);
    }
    const std::string failed = FaultPath("no_samples.mp3");
    testing::JobResult run = testing::RunJob({empty_wav}, "", failed, "acodec=libmp3lame");
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_TRUE(run.exception);
    EXPECT_EQ(run.message, "Output stream #0.0 got no sound from the input");
    EXPECT_FALSE(fs::exists(failed));
    // A copy into a container whose muxer takes the codec only as a tag no player decodes is
    // refused before anything is written.
    const std::string copied = FaultPath("realvideo.avi");
    run = testing::RunJob({testing::RealMediaPath("rm_rv10_ac3_352x288.rm")}, "", copied,
                          "vcodec=copy\nacodec=copy");
    ASSERT_TRUE(run.built) << run.build_error;
    EXPECT_EQ(run.message, "AVI (Audio Video Interleaved) cannot hold input stream #0.0 (rv10) as "
                           "it is; convert it instead");
    EXPECT_FALSE(fs::exists(copied));

    // Stopped after the first pictures: finished, playable and kept.
    const std::string stopped = FaultPath("stopped_kept.avi");
    int pictures = 0;
    run = testing::RunJob({Media().avi_long}, "", stopped, kEncode, [&](TFFmpeg& job) {
        testing::RecorderOf(job).progress = [&](TCustomFFmpeg& self, const TJobProgress&) {
            if (++pictures == 2)
                self.StopRequested = true;
        };
        job.ProgressInterval = 0;
    });
    EXPECT_FALSE(run.exception) << run.message;
    EXPECT_TRUE(testing::ReadBack(stopped).opened);
}

TEST(FaultsTest, MissingInputAndUnwritableOutputAreMessagesNotCrashes) {
    // An input removed after it was listed.
    const std::string moved = FaultPath("listed_then_removed.avi");
    fs::copy_file(Media().avi_mpeg4_mp2, moved, fs::copy_options::overwrite_existing);
    fs::remove(moved);
    testing::JobResult run = testing::RunJob({moved}, "", FaultPath("never.avi"), kEncode);
    EXPECT_FALSE(run.built);
    EXPECT_EQ(run.build_error, moved + ": no such file or directory");
    // An output whose name is taken by a folder: it cannot be opened for writing, and the
    // folder stays.
    const fs::path taken = FaultPath("taken.avi");
    fs::create_directories(taken / "keep");
    run = testing::RunJob({Media().avi_mpeg4_mp2}, "", taken.string(), kEncode);
    EXPECT_FALSE(run.built);
    EXPECT_EQ(run.build_error, "Could not open '" + taken.string() + "'");
    EXPECT_TRUE(fs::is_directory(taken / "keep"));
}

// Makes a file unwritable for everyone, root included (whom file modes do not stop): the
// immutable flag as root, the modes otherwise. Undone on destruction.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const fs::path& path) : path_(path) {
        if (::geteuid() != 0) {
            fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
            made_ = true;
            return;
        }
        made_ = SetImmutable(true);
    }
    ~ReadOnlyFile() {
        if (::geteuid() == 0)
            SetImmutable(false);
        else
            fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
    }
    bool Made() const { return made_; }

private:
    bool SetImmutable(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }
    fs::path path_;
    bool made_ = false;
};

TEST(FaultsTest, AReadOnlyOutputFileIsRefusedAndKept) {
    const fs::path locked = FaultPath("read_only.avi");
    fs::remove(locked);
    std::ofstream(locked) << "keep me";
    ReadOnlyFile guard(locked);
    if (!guard.Made())
        GTEST_SKIP() << "this file system cannot make a file read-only for root";
    const testing::JobResult run =
        testing::RunJob({Media().avi_mpeg4_mp2}, "", locked.string(), kEncode);
    EXPECT_FALSE(run.built);
    EXPECT_EQ(run.build_error, "Could not open '" + locked.string() + "'");
    EXPECT_EQ(fs::file_size(locked), 7u) << "the file is not the job's to change";
}

} // namespace
} // namespace clipwright
