// The comma-decimal locale the front ends may run under, for the tests that check that numbers
// are still read and written with a point.
#pragma once

#include <clocale>
#include <string>

namespace clipwright::testing {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";
inline constexpr const char* kCommaLocaleMissing =
    "de_DE.UTF-8 is not installed (tools/setup.sh generates it): these tests need it";

// The process's locale switched to de_DE.UTF-8 for the scope, as QApplication or the command
// line would set it, then restored. Made before any thread of the test starts.
class CommaLocale {
public:
    CommaLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
        set_ = std::setlocale(LC_ALL, kCommaLocale) != nullptr &&
               std::localeconv()->decimal_point == std::string(",");
    }
    ~CommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // False when the machine lacks the locale: the test is to fail with kCommaLocaleMissing.
    bool Set() const { return set_; }

private:
    std::string previous_;
    bool set_ = false;
};

} // namespace clipwright::testing
