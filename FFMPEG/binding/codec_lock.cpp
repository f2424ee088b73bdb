#include "FFMPEG/binding/codec_lock.h"

namespace clipwright {

std::recursive_mutex& CodecLock() {
    static std::recursive_mutex lock;
    return lock;
}

} // namespace clipwright
