#pragma once

namespace clipwright::cli {

// `probe FILE...`: 0 when every file was described, 1 when any failed, 2 when the libraries
// cannot be bound or no file was named.
int RunProbe(int argc, char* argv[]);

} // namespace clipwright::cli
