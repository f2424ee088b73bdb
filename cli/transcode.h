#pragma once

namespace clipwright::cli {

// `transcode -i IN [-I NAME=VALUE]... -o OUT [-O NAME=VALUE]... [-i ... -o ...]... [--jobs N]
// [--log-level LEVEL]`: one job per pair through the engine, N at once, a line per job
// "IN -> OUT: Done|Fail|Abort[: message]". 0 when every job finished normally, 1 when any
// failed, 130 when stopped with Ctrl-C, 2 on usage or binding errors.
int RunTranscode(int argc, char* argv[]);

} // namespace clipwright::cli
