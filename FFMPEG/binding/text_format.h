// printf-style formatting into a std::string, for the engine's fixed message texts. Numbers are
// written as in the "C" locale ("0.50"), whatever the process's locale.
#pragma once

#include <cstdarg>
#include <string>

namespace clipwright {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

// "%.*f" with `decimals` (0 to 64), then trailing zeros and a point left bare dropped:
// 1.7778, 1.5, 2.
std::string DecimalText(double value, int decimals);

// A-Z to a-z, nothing else: names and extensions, not text in the user's language.
std::string LowerAscii(std::string text);

// The folder of the running executable; "." when it cannot be read.
std::string ProgramFolder();

} // namespace clipwright
