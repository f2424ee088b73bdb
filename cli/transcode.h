#pragma once

namespace clipwright::cli {

// `transcode -i IN [-I NAME=VALUE]... -o OUT [-O NAME=VALUE]... [--log-level LEVEL]`:
// 0 when the job completed normally, 1 when it failed or could not be built, 2 on usage or
// binding errors.
int RunTranscode(int argc, char* argv[]);

} // namespace clipwright::cli
