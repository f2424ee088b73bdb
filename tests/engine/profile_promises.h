// What today's profiles promise of an output beyond keeping the source's content, held against
// the file as mediainfo and the content reader see it: the container, the codec and its tag,
// the picture inside the chosen box with the source's display aspect, the frame rate, the
// channels, and for the remux profiles every stream with all of its pictures, samples and
// subtitles.
#pragma once

#include <string>

#include "tests/support/content_reader/content_reader.h"

namespace clipwright::testing {

struct ProfilePromise {
    const char* profile;   // caption
    const char* container; // mediainfo's General format
    const char* video;     // "Format CodecID"; empty for an audio profile or a remux
    const char* audio;     // mediainfo's audio format; empty for a remux
    const char* box;       // the default size entry's box ("1920 x 1080"); empty: the source's
    bool remux = false;
};

// The promise of `profile`; none for the classic profiles.
const ProfilePromise* FindPromise(const std::string& profile);

// A remux is held to the whole source: it must go through unlimited.
void CheckPromise(const ProfilePromise& promise, const std::string& source, const Content& src,
                  const std::string& output, const Content& out);

} // namespace clipwright::testing
