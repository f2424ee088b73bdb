#include "FFMPEG/binding/av_error.h"

#include <cerrno>

#include "FFMPEG/binding/av_binding.h"
#include "FFMPEG/binding/text_format.h"

namespace clipwright {

std::string OpenErrorText(const std::string& file_name, int code) {
    const char* name = file_name.c_str();
    // An unrecognised format is INVALIDDATA in this library generation; EILSEQ is the errno
    // the older generation used for the same condition.
    if (code == AVERROR_INVALIDDATA || code == AVERROR(EILSEQ))
        return FormatText("%s: Unknown format", name);
    switch (code) {
    case AVERROR(EDOM):
        return FormatText("%s: Incorrect image filename syntax.\n"
                          "Use '%%d' to specify the image number:\n"
                          "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\n"
                          "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.",
                          name);
    case AVERROR(EINVAL):
        return FormatText("%s: Error while parsing header", name);
    case AVERROR(ENOMEM):
        return FormatText("%s: memory allocation error occurred", name);
    case AVERROR(EIO):
        return FormatText("%s: I/O error occurred\n"
                          "Usually that means that input file is truncated and/or corrupted.",
                          name);
    case AVERROR(ENOENT):
        return FormatText("%s: no such file or directory", name);
    case AVERROR(ENOSPC):
        return FormatText("%s: no space left on device", name);
    case AVERROR(EFBIG):
        return FormatText("%s: the file grew larger than its file system allows", name);
    default:
        return FormatText("%s: Error while opening file", name);
    }
}

std::string LibraryErrorString(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av().av_strerror == nullptr || av().av_strerror(code, text, sizeof text) < 0)
        return FormatText("error %d", code);
    return text;
}

} // namespace clipwright
