// The group of today's profiles (H.264/HEVC/VP9/AV1 video, AAC/Opus/Vorbis/FLAC audio,
// MP4/WebM/Matroska containers, remuxing): their list fillers, their builders, and the step that
// fits each output to its source (size box, bit depth, streams copied when they already fit).
#pragma once

#include <string>
#include <vector>

#include "FFMPEG/job/options.h"
#include "app/profiles/profile_lists.h"
#include "app/profiles/source_facts.h"

namespace clipwright {

struct ProfileEntry;

// The group's catalogue entries, in display order.
const std::vector<ProfileEntry>& TodayProfiles();

// The video list entry that copies a source's video when it already meets the profile.
extern const char* const kKeepVideoWhenFits;

// A profile that makes video refuses a source without it, one that makes sound a source without
// sound, instead of writing a file that lacks what it promises: the plain reason, or empty when
// the source has what is needed or was not probed.
std::string MissingStream(const SourceFacts& source, bool video);

// The size a box entry gives a source: inside the box ("1920 x 1080", turned to a portrait
// source's orientation), the display aspect kept, never larger than the source as shown, even
// sides. Nothing (keep the source's size) when that is the source's own size.
std::string FitInBox(const std::string& box_text, int width, int height, double display_aspect);

} // namespace clipwright
