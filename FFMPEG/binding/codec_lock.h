// The process-wide lock held around every codec open and close and around reading a file's
// stream information, taken as std::lock_guard lock(CodecLock()).
#pragma once

#include <mutex>

namespace clipwright {

std::recursive_mutex& CodecLock();

} // namespace clipwright
