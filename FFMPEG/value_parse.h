// The conversions of option values, with the messages the user sees when they fail.
#pragma once

#include <cstdint>
#include <string>

namespace clipwright {

// Decimal with an optional sign after leading blanks, or hexadecimal after "$", "x", "X",
// "0x" or "0X". Throws FFMpegException "'%s' is not a valid integer value".
int32_t ParseInteger(const std::string& text);
int64_t ParseInteger64(const std::string& text);

// A decimal number ("." as separator). Throws "'%s' is not a valid floating point value".
float ParseReal(const std::string& text);

// Blanks and control characters trimmed from both ends.
std::string Trimmed(const std::string& text);

} // namespace clipwright
