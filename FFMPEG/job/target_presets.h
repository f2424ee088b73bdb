// Target presets: a disc or camcorder standard configured in one step.
#pragma once

#include <string>

#include "FFMPEG/job/option_context.h"

namespace clipwright {

// "target": "vcd", "svcd", "dvd", "dv" or "dv50", optionally prefixed "pal-", "ntsc-", "film-".
void OptTarget(OptionContext& context, const std::string& value);
// One target in a norm ("pal", "ntsc", "film"; anything else: guessed, else `fallback_norm`).
void ApplyTarget(OptionContext& context, const std::string& target, const std::string& norm,
                 const std::string& fallback_norm);

} // namespace clipwright
