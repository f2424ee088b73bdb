// The binding against the system's real libraries, and what hangs off it: the log level copy,
// engine log lines and the codec lock.
#include <dlfcn.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/codec_lock.h"
#include "FFMPEG/binding/engine_log.h"
#include "FFMPEG/probe/av_probe.h"
#include "tests/engine/log_capture.h"

namespace clipwright {
namespace {

std::string LibraryOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

TEST(TAVBindingTest, TablesPointIntoTheVersionedSystemLibraries) {
    ASSERT_TRUE(LibrariesLoaded());
    EXPECT_EQ(LibraryFileName(AvLibrary::avcodec, true), "libavcodec.so.59");
    EXPECT_EQ(LibraryFileName(AvLibrary::swresample, true), "libswresample.so.4");
    EXPECT_EQ(LibraryFileName(AvLibrary::avformat, false), "libavformat.so");
    EXPECT_NE(LibraryOf(reinterpret_cast<void*>(av().avcodec_open2)).find("libavcodec.so.59"),
              std::string::npos);
    EXPECT_NE(LibraryOf(reinterpret_cast<void*>(av().swr_convert)).find("libswresample.so.4"),
              std::string::npos);
    EXPECT_EQ(av().avcodec_version() >> 16, static_cast<unsigned>(LIBAVCODEC_VERSION_MAJOR));
}

TEST(TAVBindingTest, UnboundLibrariesStopTheProbeAndAFolderWithoutThemFallsBackToTheSystem) {
    UnloadAllLibraries();
    EXPECT_FALSE(LibraryBound(AvLibrary::avcodec));
    try {
        TAVProbe::CheckLibraries();
        ADD_FAILURE() << "CheckLibraries accepted unbound libraries";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "LibAVCodec not loaded.");
    }
    TAVProbe probe;
    EXPECT_THROW(probe.LoadFile("/nonexistent.avi", ""), std::runtime_error);

    // A folder that holds none of the files: every library comes through the system's search.
    ASSERT_TRUE(LoadAllLibraries("/nonexistent-folder", true)) << LoadErrorText();
    EXPECT_NO_THROW(TAVProbe::CheckLibraries());
}

TEST(EngineLogTest, LevelsMapBothWays) {
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_QUIET), -1);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_PANIC), 0);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_ERROR), 0);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_WARNING), 0);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_INFO), 1);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_VERBOSE), 2);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_DEBUG), 2);
    EXPECT_EQ(EngineLevelFromAv(AV_LOG_TRACE), 3);
    for (int level = -1; level <= 3; ++level)
        EXPECT_EQ(EngineLevelFromAv(AvLevelFromEngine(level)), level) << level;
    EXPECT_EQ(AvLevelFromEngine(7), AV_LOG_TRACE);
}

TEST(EngineLogTest, TheProcessWideCopyFollowsTheLibrary) {
    const int saved = av().av_log_get_level();
    SetLibraryLogLevel(0);
    EXPECT_EQ(av().av_log_get_level(), AV_LOG_WARNING);
    EXPECT_EQ(CurrentLogLevel(), 0);
    av().av_log_set_level(AV_LOG_DEBUG);
    EXPECT_EQ(CurrentLogLevel(), 0) << "a copy, refreshed only when asked";
    RefreshCurrentLogLevel();
    EXPECT_EQ(CurrentLogLevel(), 2);
    av().av_log_set_level(saved);
    RefreshCurrentLogLevel();
}

TEST(EngineLogTest, EngineLinesGoThroughTheLibraryLog) {
    testing::LogCapture log;
    EngineLog(0, "abc %d\n", 5);
    EngineLog(1, "info\n");
    EngineLog(2, "debug\n");
    EXPECT_TRUE(log.Contains(0, "abc 5\n"));
    EXPECT_TRUE(log.Contains(1, "info\n"));
    EXPECT_TRUE(log.Contains(2, "debug\n"));
}

TEST(CodecLockTest, IsOneReentrantLockForTheProcess) {
    std::lock_guard outer(CodecLock());
    std::lock_guard inner(CodecLock()); // the same thread may take it again
    std::atomic<bool> other_got_it{true};
    std::thread([&] {
        other_got_it = CodecLock().try_lock();
        if (other_got_it)
            CodecLock().unlock();
    }).join();
    EXPECT_FALSE(other_got_it);
}

} // namespace
} // namespace clipwright
