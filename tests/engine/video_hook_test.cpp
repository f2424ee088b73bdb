// Video-hook plug-ins built by the tests: module reuse, order, and every refusal.
#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FFMPEG/binding/video_hook.h"
#include "tests/engine/log_capture.h"

namespace clipwright {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;

const std::string kPlugin = std::string(HOOK_PLUGIN_DIR) + "/hook_plugin.so";
const std::string kNoConfigure = std::string(HOOK_PLUGIN_DIR) + "/hook_no_configure.so";
const std::string kNoProcess = std::string(HOOK_PLUGIN_DIR) + "/hook_no_process.so";

int AddHook(VideoHookList& list, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return list.Add(static_cast<int>(args.size()), argv.data());
}

// Reads one of the plug-in's own counters from the module the process already holds.
int PluginCounter(const char* name) {
    void* module = dlopen(kPlugin.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr)
        return -1;
    auto counter = reinterpret_cast<int (*)()>(dlsym(module, name));
    const int value = counter != nullptr ? counter() : -1;
    dlclose(module);
    return value;
}

uint8_t RunOnPixel(const VideoHookList& list, uint8_t value) {
    uint8_t pixel = value;
    CwHookPicture picture{{&pixel, nullptr, nullptr, nullptr}, {1, 0, 0, 0}};
    list.Process(&picture, 0, 1, 1, 0);
    return pixel;
}

TEST(VideoHookTest, SamePluginTwiceLoadsOneModuleAndRunsBothInOrder) {
    VideoHookList list;
    const std::size_t modules_before = LoadedHookModuleCount();
    ASSERT_EQ(AddHook(list, {kPlugin, "1"}), 0);
    const int configured_before = PluginCounter("HookPluginConfigureCalls") - 1;
    ASSERT_EQ(AddHook(list, {kPlugin, "2"}), 0);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_LE(LoadedHookModuleCount(), modules_before + 1);
    // Both Configure calls counted in one module instance.
    EXPECT_EQ(PluginCounter("HookPluginConfigureCalls"), configured_before + 2);
    EXPECT_EQ(RunOnPixel(list, 0), 12) << "hooks run in the order added";

    // Another name of the same file (through "..", and through a link) reuses the module.
    const std::size_t modules = LoadedHookModuleCount();
    const std::string detour = std::string(HOOK_PLUGIN_DIR) + "/../hook_plugin/hook_plugin.so";
    ASSERT_EQ(AddHook(list, {detour, "3"}), 0);
    EXPECT_EQ(LoadedHookModuleCount(), modules);
    EXPECT_EQ(RunOnPixel(list, 0), 123);
    const fs::path folder = fs::temp_directory_path() / "clipwright_hook_names";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::create_symlink(kPlugin, folder / "linked.so");
    VideoHookList linked;
    ASSERT_EQ(AddHook(linked, {(folder / "linked.so").string(), "4"}), 0);
    EXPECT_EQ(LoadedHookModuleCount(), modules);

    // Two files whose names differ only in case are two modules, each with its own state.
    fs::copy_file(kPlugin, folder / "hook_plugin.so");
    fs::copy_file(kPlugin, folder / "HOOK_PLUGIN.SO");
    VideoHookList copy;
    ASSERT_EQ(AddHook(copy, {(folder / "hook_plugin.so").string(), "5"}), 0);
    EXPECT_EQ(LoadedHookModuleCount(), modules + 1);
    ASSERT_EQ(AddHook(copy, {(folder / "HOOK_PLUGIN.SO").string(), "6"}), 0);
    EXPECT_EQ(LoadedHookModuleCount(), modules + 2);
    EXPECT_EQ(PluginCounter("HookPluginConfigureCalls"), configured_before + 4)
        << "the link's Configure counted in the first module, the copies' not";
    copy.Release();
    linked.Release();

    const int released_before = PluginCounter("HookPluginReleaseCalls");
    list.Release();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(PluginCounter("HookPluginReleaseCalls"), released_before + 3);
    EXPECT_GE(PluginCounter("HookPluginConfigureCalls"), 0) << "the module stays loaded";
    EXPECT_EQ(RunOnPixel(list, 7), 7);
}

TEST(VideoHookTest, PluginWithoutConfigureTakesNoArguments) {
    VideoHookList list;
    ASSERT_EQ(AddHook(list, {kNoConfigure}), 0);
    EXPECT_EQ(RunOnPixel(list, 5), 250);

    LogCapture log;
    EXPECT_EQ(AddHook(list, {kNoConfigure, "x"}), -2);
    EXPECT_TRUE(log.Contains(0, "Failed to find Configure entrypoint in " + kNoConfigure + "\n"));
    EXPECT_EQ(list.size(), 1u);
}

TEST(VideoHookTest, RefusalsAddNothing) {
    VideoHookList list;
    LogCapture log;
    EXPECT_EQ(list.Add(0, nullptr), -2);

    EXPECT_EQ(AddHook(list, {kNoProcess}), -2);
    EXPECT_TRUE(log.Contains(0, "Failed to find Process entrypoint in " + kNoProcess + "\n"));

    EXPECT_EQ(AddHook(list, {kPlugin, "fail"}), -22);
    EXPECT_TRUE(log.Contains(0, "Failed to Configure " + kPlugin + "\n"));

    const std::string missing = std::string(HOOK_PLUGIN_DIR) + "/no_such_plugin.so";
    EXPECT_EQ(AddHook(list, {missing}), -1);
    bool logged = false;
    for (const auto& [level, text] : log.Messages())
        logged |= level == 0 && text.find("no_such_plugin.so") != std::string::npos &&
                  text.back() == '\n';
    EXPECT_TRUE(logged) << "the system's message goes to the log";
    EXPECT_TRUE(list.empty());
}

} // namespace
} // namespace clipwright
