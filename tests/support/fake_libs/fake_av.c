/* A stand-in for one FFmpeg library, exporting every name of its entry-point list as a stub.
 * Built per library with FAKE_ENTRY_POINTS, FAKE_VERSION_FN and FAKE_MAJOR; a name is left out
 * by defining it to another name on the command line (-Dav_gcd=fake_left_out). */
#include "FFMPEG/binding/av_entry_points.h"

#define FAKE_STUB(name)                                                                            \
    long name(void) {                                                                              \
        return 0;                                                                                  \
    }

FAKE_ENTRY_POINTS(FAKE_STUB)

unsigned FAKE_VERSION_FN(void) {
    return (unsigned)FAKE_MAJOR << 16 | 0x100u;
}
