// The texts the file list shows for a probed file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace clipwright {

// hh:mm:ss from microseconds, fraction dropped ("00:04:05"; hours may have more digits);
// "Unknown" for a negative duration, which is how an unknown one arrives.
std::string DurationText(int64_t duration_us);

// The frame rate rounded to two decimals in shortest form ("25", "29.97", "23.98");
// nothing when the denominator is 0.
std::optional<std::string> FrameRateText(int32_t num, int32_t den);

// "640x480".
std::string VideoSizeText(int32_t width, int32_t height);

} // namespace clipwright
