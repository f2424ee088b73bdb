#include "cli/convert.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FFMPEG/component/engine.h"
#include "FFMPEG/component/engine_connection.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/conversion_plan.h"
#include "app/profiles/finished_output.h"
#include "app/profiles/job_submission.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/program_folders.h"
#include "cli/batch_wait.h"
#include "cli/library_folder.h"
#include "cli/usage.h"

namespace clipwright::cli {

namespace {

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

namespace {

// The command line's choices before the profile is known.
struct ConvertRequest {
    std::string profile;
    std::string folder;
    bool overwrite = false;
    int volume = 5;
    std::vector<std::pair<std::string, std::string>> selections; // option, text
    std::vector<std::string> files;
};

// False on a usage error.
bool ParseConvert(int argc, char* argv[], ConvertRequest& request) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--overwrite") {
            request.overwrite = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            request.files.push_back(arg);
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (arg == "--profile")
            request.profile = value;
        else if (arg == "--output-folder")
            request.folder = value;
        else if (arg == "--volume") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(value) > 10)
                return false;
            request.volume = std::stoi(value);
        } else
            request.selections.emplace_back(arg, value);
    }
    return true;
}

// Selects each asked entry in the profile's lists; 0 when all are offered, else the exit code.
int ApplySelections(const ConvertRequest& request, ProfileLists& lists) {
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
    for (const auto& [option, text] : request.selections) {
        ProfileList* list = nullptr;
        for (const auto& [name, candidate] : options) {
            if (option == name)
                list = candidate;
        }
        if (list == nullptr)
            return ConvertUsage();
        const auto found = std::find(list->Items.begin(), list->Items.end(), text);
        if (found == list->Items.end()) {
            std::fprintf(stderr,
                         "clipwright-cli: %s \"%s\" is not offered by this profile; "
                         "its entries are:\n",
                         option.c_str(), text.c_str());
            for (const std::string& item : list->Items)
                std::fprintf(stderr, "  \"%s\"\n", item.c_str());
            return 2;
        }
        list->Select(static_cast<int>(found - list->Items.begin()));
    }
    return 0;
}

// The file as the file list would show it; a file the probe cannot read is planned as one
// without video.
PlanSource Probed(TFFmpegEngine& engine, const std::string& file) {
    try {
        return ProbeSource(engine.AVProbe(), file).source;
    } catch (const std::exception&) {
        return PlanSourceOf(file, {});
    }
}

// The engine, one job at a time, and what the last one's end said.
class OneByOne {
public:
    explicit OneByOne(TFFmpegEngine& engine)
        : engine_(engine),
          connection_(engine, {.OnLog = nullptr,
                               .OnProgress = nullptr,
                               .OnTerminate = std::bind_front(&OneByOne::Ended, this)}) {}
    OneByOne(const OneByOne&) = delete;
    OneByOne& operator=(const OneByOne&) = delete;

    // Runs the plan: its outcome, for a failure the reason, and the name the output took.
    struct Result {
        ConversionOutcome outcome;
        std::string reason;
        std::string file;
    };
    Result Run(const ConversionPlan& plan, bool overwrite) {
        // Written under its temporary name; removed unless Done (a SIGKILL leaves it for the
        // next run of the same file to write over).
        PartialOutput partial(plan.output_file, plan.input.FileName, overwrite);
        if (!partial.Held())
            return {ConversionOutcome::Fail, partial.Error(), plan.output_file};
        engine_.ClearTasks();
        {
            std::lock_guard guard(lock_);
            ended_ = false;
            outcome_ = ConversionOutcome::Fail;
            message_.clear();
        }
        if (const SubmittedJob job = SubmitPlan(engine_, plan); !job.Started())
            return {ConversionOutcome::Fail, job.reason, plan.output_file};
        std::unique_lock guard(lock_);
        WaitForBatch(engine_, guard, batch_ended_, ended_);
        if (outcome_ == ConversionOutcome::Done && !partial.Commit())
            return {ConversionOutcome::Fail, partial.Error(), plan.output_file};
        return {outcome_, message_, partial.FinalFile()};
    }

private:
    // The engine's OnTerminate, on its threads.
    void Ended(int32_t index, bool finished, bool failed, const std::string& text) {
        std::lock_guard guard(lock_);
        if (index < 0) {
            ended_ = true;
            batch_ended_.notify_all();
            return;
        }
        outcome_ = OutcomeOf(finished, failed, InterruptScope::Interrupted());
        message_ = failed ? text : "";
    }

    TFFmpegEngine& engine_;
    std::mutex lock_; // guards ended_, outcome_, message_
    std::condition_variable batch_ended_;
    bool ended_ = false;
    ConversionOutcome outcome_ = ConversionOutcome::Fail;
    std::string message_;
    TEngineConnection connection_; // last: it goes first, before what its handler uses
};

} // namespace

int RunConvert(int argc, char* argv[]) {
    ConvertRequest request;
    if (!ParseConvert(argc, argv, request))
        return ConvertUsage();
    ConversionChoices choices;
    choices.profile = ResolveProfile(request.profile);
    if (choices.profile.empty() || request.folder.empty() || request.files.empty())
        return ConvertUsage();
    FillProfileCombos(choices.lists, choices.profile, choices.output_type);
    if (const int refused = ApplySelections(request, choices.lists); refused != 0)
        return refused;
    choices.volume_level = VolumeLevel(request.volume);

    TFFmpegEngine engine;
    if (!engine.LoadAVLib(LibraryFolder(), true)) {
        std::fprintf(stderr, "%s\n", engine.LastErrMsg().c_str());
        return 2;
    }
    engine.SetLogLevel(llError);
    OneByOne runner(engine);
    // SIGTERM too: the temporary file of the row being converted is removed before the end.
    const InterruptScope interrupt(true);
    bool any_failed = false;
    for (const std::string& file : request.files) {
        if (InterruptScope::Interrupted())
            break;
        const ConversionPlan plan =
            PlanConversion(Probed(engine, file), choices, request.folder, request.overwrite);
        for (const std::string& note : plan.notes)
            std::fprintf(stderr, "%s: %s\n", file.c_str(), note.c_str());
        const auto [outcome, reason, output] =
            plan.Planned()
                ? runner.Run(plan, request.overwrite)
                : OneByOne::Result{ConversionOutcome::Fail, plan.reason, plan.output_file};
        std::printf("%s -> %s: %s%s%s\n", file.c_str(), output.c_str(), OutcomeText(outcome),
                    reason.empty() ? "" : ": ", reason.c_str());
        std::fflush(stdout);
        any_failed = any_failed || outcome == ConversionOutcome::Fail;
    }
    if (InterruptScope::Interrupted())
        return InterruptScope::ExitStatus();
    return any_failed ? 1 : 0;
}

} // namespace clipwright::cli
