#include "app/profiles/conversion_plan.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "FFMPEG/job/container_check.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/finished_output.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/output_naming.h"

namespace clipwright {

PlanSource PlanSourceOf(const std::string& file, const SourceFacts& facts) {
    PlanSource source;
    source.file = file;
    source.facts = facts;
    if (facts.has_video) {
        source.video_size_text = VideoSizeText(facts.width, facts.height);
        source.display_aspect = facts.display_aspect;
    }
    return source;
}

ConversionPlan PlanConversion(const PlanSource& source, const ConversionChoices& choices,
                              const std::string& folder, bool overwrite) {
    ConversionPlan plan;
    plan.output_file = OutputFileName(source.file, folder, choices.output_type, overwrite);
    plan.partial_file = PartialFileName(plan.output_file);
    std::error_code error;
    if (std::filesystem::equivalent(source.file, plan.output_file, error) ||
        std::filesystem::equivalent(source.file, plan.partial_file, error)) {
        // Writing the output would destroy the input.
        plan.refusal = ConversionPlan::Refusal::ReplacesInput;
        plan.reason = "the output would replace the input; choose another output folder";
        return plan;
    }
    InitInputOptions(plan.input);
    plan.input.FileName = source.file;
    plan.input.StartTime = 0;
    InitOutputOptions(plan.output);
    // The job writes the temporary name, whose ".part" names no container.
    plan.output.FileFormat = OutputFormatName(plan.output_file);
    const ProfileEntry* profile = FindProfile(choices.profile);
    try {
        if (profile == nullptr)
            throw std::invalid_argument("no profile");
        profile->Build(choices.lists, choices.output_type, plan.output);
    } catch (const std::exception&) {
        plan.refusal = ConversionPlan::Refusal::NoProfile;
        plan.reason = "Fail to add file to list!";
        return plan;
    }
    plan.output.AudioVolume = choices.volume_level;
    // Anamorphic pixels (DV, DVD) make the picture wider or narrower than its size says.
    const bool original = choices.lists.ComboAspectRatio.ItemIndex == 0;
    plan.output.AspectRatio =
        original && std::isfinite(source.display_aspect) && source.display_aspect > 0
            ? AspectRatioText(source.display_aspect)
            : DisplayAspectValue(choices.lists.ComboAspectRatio.ItemIndex, source.video_size_text);
    if (profile->Adapt != nullptr) {
        SourceFacts facts = source.facts;
        const int aspect_index = choices.lists.ComboAspectRatio.ItemIndex;
        if (aspect_index == 1 || aspect_index == 2)
            facts.display_aspect = aspect_index == 1 ? 4.0 / 3.0 : 16.0 / 9.0;
        plan.reason = profile->Adapt(choices.lists, facts, plan.output, plan.notes);
        if (!plan.reason.empty())
            plan.refusal = ConversionPlan::Refusal::Unsuitable;
    }
    return plan;
}

ConversionOutcome OutcomeOf(bool finished, bool failed, bool stopped) {
    if (failed)
        return ConversionOutcome::Fail;
    return stopped || !finished ? ConversionOutcome::Abort : ConversionOutcome::Done;
}

const char* OutcomeText(ConversionOutcome outcome) {
    switch (outcome) {
    case ConversionOutcome::Done:
        return "Done";
    case ConversionOutcome::Fail:
        return "Fail";
    case ConversionOutcome::Abort:
        return "Abort";
    }
    return "Fail";
}

} // namespace clipwright
