// The engine's one exception class and the table that turns a negative library result into
// the message the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace clipwright {

// Carries the exact message text; the engine component turns it into LastErrMsg or an
// OnTerminate message at its boundary.
class FFMpegException : public std::runtime_error {
public:
    explicit FFMpegException(const std::string& message) : std::runtime_error(message) {}
};

// The message for a negative library result `code`, with `file_name` (or an operation text)
// in place of its "%s".
std::string OpenErrorText(const std::string& file_name, int code);

// The library's own description of an error code ("Invalid argument").
std::string LibraryErrorString(int code);

} // namespace clipwright
