#include "cli/convert.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "FFMPEG/engine.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/output_naming.h"
#include "app/profiles/program_folders.h"
#include "cli/library_folder.h"
#include "cli/usage.h"

namespace clipwright::cli {

namespace {

std::atomic<bool> gInterrupted{false};
extern "C" void OnConvertInterrupt(int) {
    gInterrupted = true;
}

int ConvertUsage() {
    return UsageError("convert");
}

// The profile named by its caption or its index in the profile list; empty when none.
std::string ResolveProfile(const std::string& name) {
    const std::vector<std::string>& entries = ProfileListEntries();
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
        const size_t index = std::stoul(name);
        if (index < entries.size() && !IsProfileSeparator(entries[index]))
            return entries[index];
        return "";
    }
    return FindProfile(name) != nullptr ? name : "";
}

void PrintList(const char* name, const ProfileList& list) {
    std::printf("%s:\n", name);
    for (size_t i = 0; i < list.Items.size(); ++i)
        std::printf("  %s \"%s\"\n", static_cast<int>(i) == list.ItemIndex ? "*" : " ",
                    list.Items[i].c_str());
}

} // namespace

int RunProfiles(int argc, char* argv[]) {
    const std::vector<std::string>& entries = ProfileListEntries();
    if (argc > 1 || (argc == 1 && argv[0][0] == '-'))
        return UsageError("profiles");
    if (argc == 0) {
        for (size_t i = 0; i < entries.size(); ++i)
            std::printf("%zu\t%s\n", i, entries[i].c_str());
        return 0;
    }
    const std::string caption = ResolveProfile(argv[0]);
    if (caption.empty()) {
        std::fprintf(stderr, "clipwright-cli: no profile '%s'\n", argv[0]);
        return 2;
    }
    ProfileLists lists;
    std::string output_type;
    FillProfileCombos(lists, caption, output_type);
    std::printf("%s\ntype: %s\n", caption.c_str(), output_type.c_str());
    for (const auto& [name, list] : lists.All())
        PrintList(name, *list);
    return 0;
}

int RunConvert(int argc, char* argv[]) {
    std::string profile;
    std::string folder;
    bool overwrite = false;
    int volume = 5;
    std::vector<std::pair<std::string, std::string>> selections; // option, text
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--overwrite") {
            overwrite = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            files.push_back(arg);
            continue;
        }
        if (i + 1 >= argc)
            return ConvertUsage();
        const std::string value = argv[++i];
        if (arg == "--profile")
            profile = value;
        else if (arg == "--output-folder")
            folder = value;
        else if (arg == "--volume") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(value) > 10)
                return ConvertUsage();
            volume = std::stoi(value);
        } else
            selections.emplace_back(arg, value);
    }
    const std::string caption = ResolveProfile(profile);
    if (caption.empty() || folder.empty() || files.empty())
        return ConvertUsage();

    ProfileLists lists;
    std::string output_type;
    FillProfileCombos(lists, caption, output_type);
    const std::pair<const char*, ProfileList*> options[] = {
        {"--video-codec", &lists.ComboVideoCodec},
        {"--video-size", &lists.ComboVideoSize},
        {"--video-bitrate", &lists.ComboVideoBitrate},
        {"--frame-rate", &lists.ComboVideoFramerate},
        {"--audio-codec", &lists.ComboAudioCodec},
        {"--audio-bitrate", &lists.ComboAudioBitrate},
        {"--sampling-rate", &lists.ComboSamplingRate},
        {"--channels", &lists.ComboAudioChannels},
        {"--aspect", &lists.ComboAspectRatio}};
    for (const auto& [option, text] : selections) {
        ProfileList* list = nullptr;
        for (const auto& [name, candidate] : options) {
            if (option == name)
                list = candidate;
        }
        if (list == nullptr)
            return ConvertUsage();
        int found = -1;
        for (size_t i = 0; i < list->Items.size(); ++i) {
            if (list->Items[i] == text)
                found = static_cast<int>(i);
        }
        if (found < 0) {
            std::fprintf(stderr,
                         "clipwright-cli: %s \"%s\" is not offered by this profile; "
                         "its entries are:\n",
                         option.c_str(), text.c_str());
            for (const std::string& item : list->Items)
                std::fprintf(stderr, "  \"%s\"\n", item.c_str());
            return 2;
        }
        list->Select(found);
    }

    TFFmpegEngine engine;
    if (!engine.LoadAVLib(LibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", engine.LastErrMsg().c_str());
        return 2;
    }
    engine.SetLogLevel(llError);
    std::mutex lock;
    std::condition_variable batch_ended;
    bool ended = false;
    std::string outcome;
    std::string message;
    bool stopping = false;
    engine.OnTerminate = [&](int32_t index, bool finished, bool exception,
                             const std::string& text) {
        std::lock_guard guard(lock);
        if (index < 0) {
            ended = true;
            batch_ended.notify_all();
            return;
        }
        outcome = exception ? "Fail" : stopping || !finished ? "Abort" : "Done";
        message = exception ? text : "";
    };

    gInterrupted = false;
    std::signal(SIGINT, OnConvertInterrupt);
    bool any_failed = false;
    for (const std::string& file : files) {
        if (gInterrupted)
            break;
        engine.ClearTasks();
        std::string output = OutputFileName(file, folder, output_type, overwrite);
        std::error_code error;
        auto report = [&](const std::string& result, const std::string& text) {
            std::printf("%s -> %s: %s%s%s\n", file.c_str(), output.c_str(), result.c_str(),
                        text.empty() ? "" : ": ", text.c_str());
            std::fflush(stdout);
            any_failed = any_failed || result == "Fail";
        };
        if (std::filesystem::equivalent(file, output, error)) {
            report("Fail", "the output would replace the input; choose another output folder");
            continue;
        }
        // The row's size text, as the file list shows it: the display aspect comes from it.
        std::string size_text = " ";
        try {
            if (engine.AVProbe().LoadFile(file, "") && engine.AVProbe().VideoStreamCount() > 0) {
                TAVVideoInfo video;
                engine.AVProbe().GetVideoInfo(video);
                size_text = VideoSizeText(video.Width, video.Height);
            }
            engine.AVProbe().CloseFile();
        } catch (const std::exception&) {
        }
        TInputOptions in;
        InitInputOptions(in);
        in.FileName = file;
        in.StartTime = 0;
        const int32_t job = engine.AddInputFile(file, &in);
        if (job < 0) {
            report("Fail", engine.LastErrMsg());
            continue;
        }
        TOutputOptions out;
        InitOutputOptions(out);
        try {
            FindProfile(caption)->Build(lists, output_type, out);
        } catch (const std::exception&) {
            report("Fail", "Fail to add file to list!");
            continue;
        }
        out.AudioVolume = VolumeLevel(volume);
        out.AspectRatio = DisplayAspectValue(lists.ComboAspectRatio.ItemIndex, size_text);
        if (!engine.SetOutputFile(job, output, &out)) {
            report("Fail", engine.LastErrMsg());
            engine.RemoveTask(job);
            continue;
        }
        {
            std::lock_guard guard(lock);
            ended = false;
            outcome.clear();
            message.clear();
        }
        engine.StartConvert(1);
        std::unique_lock guard(lock);
        while (!ended) {
            batch_ended.wait_for(guard, std::chrono::milliseconds(100));
            if (gInterrupted && !stopping) {
                stopping = true;
                guard.unlock();
                engine.Stop();
                guard.lock();
            }
        }
        const std::string result = outcome;
        const std::string text = message;
        guard.unlock();
        report(result, text);
    }
    std::signal(SIGINT, SIG_DFL);
    if (gInterrupted)
        return 130;
    return any_failed ? 1 : 0;
}

} // namespace clipwright::cli
