// The output profiles: the profile list (with its separators), and the catalogue that ties
// each caption to its type tag, its list filler and its option builder.
#pragma once

#include <string>
#include <vector>

#include "FFMPEG/job/options.h"
#include "app/profiles/profile_lists.h"
#include "app/profiles/source_facts.h"

namespace clipwright {

// What a builder needs besides the lists: the profile's type tag.
using ProfileBuilder = void (*)(const ProfileLists& lists, const std::string& output_type,
                                TOutputOptions& options);

// Fits a built output to its source (size, bit depth, streams copied as they are), after the
// volume and aspect are set; notes say what it decided. A text back refuses the source.
using SourceAdapter = std::string (*)(const ProfileLists& lists, const SourceFacts& source,
                                      TOutputOptions& options, std::vector<std::string>& notes);

struct ProfileEntry {
    const char* Caption;
    const char* OutputType; // "MP4", "AVI", ...: also the file extension, lower-cased
    void (*Fill)(ProfileLists& lists);
    ProfileBuilder Build;
    SourceAdapter Adapt = nullptr; // none: the output does not depend on the source
};

// The separator entry of the profile list, and the rule that recognises one.
extern const char* const kProfileSeparator;
bool IsProfileSeparator(const std::string& text);

// The entries of the profile list in display order, separators included: the 33 classic ones,
// then a separator and today's group.
const std::vector<std::string>& ProfileListEntries();

// The first catalogue entry whose caption is exactly `caption`; none for a separator or an
// unknown text.
const ProfileEntry* FindProfile(const std::string& caption);

// Runs the filler of `caption`'s profile and gives its type tag; false (nothing changed) when
// no profile has that caption.
bool FillProfileCombos(ProfileLists& lists, const std::string& caption, std::string& output_type);

} // namespace clipwright
