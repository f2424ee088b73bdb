#include "FFMPEG/binding/c_locale.h"

namespace clipwright {

namespace {

// Made once and kept for the life of the process: threads may hold it until they end. Should
// it fail, uselocale(0) changes nothing and the scope only restores what was there.
locale_t CLocale() {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c_locale;
}

} // namespace

CLocaleScope::CLocaleScope() : previous_(uselocale(CLocale())) {}

CLocaleScope::~CLocaleScope() {
    uselocale(previous_);
}

} // namespace clipwright
