// A test program registered to run under a locale (LC_ALL in its environment, as a user's
// session sets it) fails when the machine lacks that locale, instead of passing quietly under
// "C" as the C library's fallback would have it.
#include <locale.h>

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

class RequestedLocale : public ::testing::Environment {
public:
    void SetUp() override {
        const char* name = std::getenv("LC_ALL");
        if (name == nullptr || *name == '\0')
            return;
        const locale_t locale = newlocale(LC_ALL_MASK, name, locale_t{});
        if (locale == locale_t{}) {
            // Not fatal: a fatal failure here would skip the cases, and CTest takes a skipped
            // case for no failure. The cases run and the program fails.
            ADD_FAILURE() << "LC_ALL=" << name << " is not installed (tools/setup.sh generates it)";
            return;
        }
        freelocale(locale);
    }
};

// Registered before main runs; GoogleTest owns it.
[[maybe_unused]] const ::testing::Environment* const kRequestedLocale =
    ::testing::AddGlobalTestEnvironment(new RequestedLocale);

} // namespace
