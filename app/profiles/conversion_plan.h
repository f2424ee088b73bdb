// One listed file turned into what the engine runs: the input and output records and the
// output's path, from the profile, the list choices and the folder. The window's driver and the
// command line both plan through here, so a file converts alike from either.
#pragma once

#include <string>
#include <vector>

#include "FFMPEG/job/options.h"
#include "app/profiles/profile_lists.h"
#include "app/profiles/source_facts.h"

namespace clipwright {

// What the user chose for a batch: the profile by its caption, its lists as selected, the type
// its filler set, and the engine volume (VolumeLevel of the track bar).
struct ConversionChoices {
    std::string profile;
    ProfileLists lists;
    std::string output_type;
    int volume_level = 256;
};

// A file to plan: its path, the size text the file list shows for it (" " without video) and
// the display aspect the probe found (width over height as shown, pixel shape included; 0 when
// the stream states none). The "Original" aspect is the probe's, else the size text's.
struct PlanSource {
    std::string file;
    std::string video_size_text = " ";
    double display_aspect = 0;
    SourceFacts facts = {}; // what profiles that fit their output to the source read
};

// A source as the probe described it: the size text and aspect from its facts.
PlanSource PlanSourceOf(const std::string& file, const SourceFacts& facts);

struct ConversionPlan {
    enum class Refusal { None, ReplacesInput, NoProfile, Unsuitable };

    TInputOptions input;
    TOutputOptions output;
    std::string output_file;  // the final name
    std::string partial_file; // what the job writes until it is Done (PartialFileName)
    Refusal refusal = Refusal::None;
    std::string reason;             // why there is no job; empty when planned
    std::vector<std::string> notes; // what the profile decided for this source, for the log

    bool Planned() const { return refusal == Refusal::None; }
};

// The plan for one file. The output's name follows OutputFileName (the source's name with the
// type's extension in `folder`, numbered unless overwriting); the job writes its temporary name,
// in the container of the final name's extension. A plan whose output would be the source
// itself, or whose profile is unknown, is refused with the reason.
ConversionPlan PlanConversion(const PlanSource& source, const ConversionChoices& choices,
                              const std::string& folder, bool overwrite);

// How a job ended, the same for every front end.
enum class ConversionOutcome { Done, Fail, Abort };

// A failure is Fail; a job stopped or ended unfinished is Abort; otherwise Done.
ConversionOutcome OutcomeOf(bool finished, bool failed, bool stopped);
// "Done", "Fail", "Abort": the texts the file list and the command line show.
const char* OutcomeText(ConversionOutcome outcome);

} // namespace clipwright
