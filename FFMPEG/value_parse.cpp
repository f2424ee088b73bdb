#include "FFMPEG/value_parse.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "FFMPEG/av_error.h"
#include "FFMPEG/text_format.h"

namespace clipwright {

namespace {

// A whole-text integer of `bits` (32 or 64) bits; false on anything else. Hexadecimal may
// spell a bit pattern ("$FFFFFFFF" is -1), as the conversion always allowed.
bool ParseWhole(const std::string& text, int bits, int64_t& out) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    const uint64_t all_bits = bits == 32 ? UINT32_MAX : UINT64_MAX;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit = 0;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        else
            return false;
        if (magnitude > (all_bits - digit) / base)
            return false;
        magnitude = magnitude * base + digit;
    }
    const uint64_t max_positive = all_bits >> 1;
    if (base == 16 && !negative) {
        out = bits == 32 ? static_cast<int32_t>(static_cast<uint32_t>(magnitude))
                         : static_cast<int64_t>(magnitude);
        return true;
    }
    if (magnitude > max_positive + (negative ? 1 : 0))
        return false;
    out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

} // namespace

int32_t ParseInteger(const std::string& text) {
    int64_t value = 0;
    if (!ParseWhole(text, 32, value))
        throw FFMpegException(FormatText("'%s' is not a valid integer value", text.c_str()));
    return static_cast<int32_t>(value);
}

int64_t ParseInteger64(const std::string& text) {
    int64_t value = 0;
    if (!ParseWhole(text, 64, value))
        throw FFMpegException(FormatText("'%s' is not a valid integer value", text.c_str()));
    return value;
}

float ParseReal(const std::string& text) {
    const std::string trimmed = Trimmed(text);
    const char* begin = trimmed.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = trimmed.empty() ? 0.0 : std::strtod(begin, &end);
    const bool whole = !trimmed.empty() && end != nullptr && *end == '\0';
    // strtod also reads "inf", "nan" and hexadecimal; a plain decimal number is asked for.
    const bool decimal = trimmed.find_first_not_of("0123456789+-.eE") == std::string::npos;
    if (!whole || !decimal || errno == ERANGE || value > std::numeric_limits<float>::max() ||
        value < -std::numeric_limits<float>::max())
        throw FFMpegException(FormatText("'%s' is not a valid floating point value", text.c_str()));
    return static_cast<float>(value);
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

} // namespace clipwright
