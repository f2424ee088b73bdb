#include "app/profiles/list_texts.h"

#include <cmath>
#include <cstdio>

#include "FFMPEG/binding/text_format.h"

namespace clipwright {

std::string DurationText(int64_t duration_us) {
    const int64_t seconds = duration_us / 1000000;
    if (seconds < 0)
        return "Unknown";
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::optional<std::string> FrameRateText(int32_t num, int32_t den) {
    if (den == 0)
        return std::nullopt;
    // Ties go to the even hundredth, as the list has always rounded.
    const double hundredths = std::nearbyint(static_cast<double>(num) / den * 100.0);
    return DecimalText(hundredths / 100.0, 2);
}

std::string VideoSizeText(int32_t width, int32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace clipwright
