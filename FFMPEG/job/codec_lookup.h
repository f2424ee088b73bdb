// Codec lookup by the name an option gave ("vcodec", "acodec", "scodec"), with the older
// generation's encoder names that this library knows under another name.
#pragma once

#include <optional>
#include <string>

struct AVCodec;

namespace clipwright {

// Nothing (no name) or a codec of `media_type` registered under the name. On failure `error`
// says why. `codec`, when given, receives the codec found (none for no name, and for the AMR-NB
// encoder, which the engine provides itself).
bool LookupCodec(const std::optional<std::string>& name, int media_type, bool encoder,
                 int& codec_id, std::string& error, const AVCodec** codec = nullptr);

} // namespace clipwright
