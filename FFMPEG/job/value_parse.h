// The conversions of option values, with the messages the user sees when they fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace clipwright {

// Decimal with an optional sign after leading blanks, or hexadecimal after "$", "x", "X",
// "0x" or "0X". Throws FFMpegException "'%s' is not a valid integer value".
int32_t ParseInteger(const std::string& text);
int64_t ParseInteger64(const std::string& text);

// A decimal number ("." as separator). Throws "'%s' is not a valid floating point value".
float ParseReal(const std::string& text);

// An aspect ratio, "x:y" or a decimal number; a part that does not read counts as 0. Throws
// "Incorrect aspect ratio specification." for a zero ratio.
double ParseAspectRatio(const std::string& text);

// What strtod reads at the start of `text` in the "C" locale, whatever the process's locale:
// blanks, a sign, then a decimal or "0x" hexadecimal number, "inf" or "nan". `used` counts the
// characters read, 0 when there is no number (the value is then 0). Out of range, as strtod
// flags with ERANGE: an overflow gives +-HUGE_VAL, an underflow 0 or the subnormal value.
struct CDouble {
    double value = 0.0;
    size_t used = 0;
    bool out_of_range = false;
};
CDouble ReadCDouble(std::string_view text);

// Blanks and control characters trimmed from both ends.
std::string Trimmed(const std::string& text);

} // namespace clipwright
