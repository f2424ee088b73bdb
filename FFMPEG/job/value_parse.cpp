#include "FFMPEG/job/value_parse.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "FFMPEG/binding/av_error.h"
#include "FFMPEG/binding/text_format.h"

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

bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Out of range lies far above 1 or far below it: where the leading digit stands against the
// point, with the exponent (decimal, or binary after hexadecimal digits), tells which.
bool Overflowed(std::string_view number, bool hexadecimal) {
    const size_t mark = number.find_first_of(hexadecimal ? "pP" : "eE");
    long long exponent = 0;
    if (mark != std::string_view::npos) {
        std::string_view digits = number.substr(mark + 1);
        if (!digits.empty() && digits[0] == '+')
            digits.remove_prefix(1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        if (error == std::errc::result_out_of_range)
            exponent = digits[0] == '-' ? INT32_MIN : INT32_MAX;
    }
    const std::string_view mantissa = number.substr(0, mark);
    const auto point = static_cast<long long>(std::min(mantissa.find('.'), mantissa.size()));
    const auto lead = static_cast<long long>(mantissa.find_first_not_of("0."));
    return (point - lead) * (hexadecimal ? 4 : 1) + exponent > 0;
}

} // namespace

CDouble ReadCDouble(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // from_chars takes a sign of its own, which strtod would not read after the one above.
    if (i >= text.size() || text[i] == '+' || text[i] == '-')
        return {};
    const char* const last = text.data() + text.size();
    const char* first = text.data() + i;
    double magnitude = 0.0;
    std::from_chars_result read{first, std::errc::invalid_argument};
    bool hexadecimal = false;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X') &&
        (std::isxdigit(static_cast<unsigned char>(first[2])) || first[2] == '.')) {
        read = std::from_chars(first + 2, last, magnitude, std::chars_format::hex);
        hexadecimal = read.ec != std::errc::invalid_argument;
        if (hexadecimal)
            first += 2;
    }
    if (!hexadecimal)
        read = std::from_chars(first, last, magnitude);
    if (read.ec == std::errc::invalid_argument)
        return {};
    CDouble number;
    number.used = static_cast<size_t>(read.ptr - text.data());
    if (read.ec == std::errc::result_out_of_range) {
        number.out_of_range = true;
        const std::string_view digits(first, static_cast<size_t>(read.ptr - first));
        magnitude = Overflowed(digits, hexadecimal) ? HUGE_VAL : 0.0;
    } else if (magnitude != 0.0 && magnitude < std::numeric_limits<double>::min()) {
        number.out_of_range = true;
    }
    number.value = negative ? -magnitude : magnitude;
    return number;
}

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
    const CDouble number = ReadCDouble(trimmed);
    const double value = number.value;
    const bool whole = !trimmed.empty() && number.used == trimmed.size();
    // Hexadecimal, "inf" and "nan" are read too; a plain decimal number is asked for.
    const bool decimal = trimmed.find_first_not_of("0123456789+-.eE") == std::string::npos;
    if (!whole || !decimal || number.out_of_range || value > std::numeric_limits<float>::max() ||
        value < -std::numeric_limits<float>::max())
        throw FFMpegException(FormatText("'%s' is not a valid floating point value", text.c_str()));
    return static_cast<float>(value);
}

double ParseAspectRatio(const std::string& text) {
    double ratio = 0.0;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        try {
            ratio = ParseReal(text);
        } catch (const FFMpegException&) {
            ratio = 0.0;
        }
    } else {
        auto integer_or_zero = [](const std::string& part) {
            try {
                return ParseInteger(part);
            } catch (const FFMpegException&) {
                return 0;
            }
        };
        const int32_t x = integer_or_zero(text.substr(0, colon));
        const int32_t y = integer_or_zero(text.substr(colon + 1));
        ratio = y > 0 ? static_cast<double>(x) / y : 0.0;
    }
    if (ratio == 0.0)
        throw FFMpegException("Incorrect aspect ratio specification.");
    return ratio;
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
