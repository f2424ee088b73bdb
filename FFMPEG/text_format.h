// printf-style formatting into a std::string, for the engine's fixed message texts.
#pragma once

#include <cstdarg>
#include <string>

namespace clipwright {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

} // namespace clipwright
