#pragma once

namespace clipwright::cli {

// `profiles [CAPTION|INDEX]`: the profile list, or one profile's lists after its filler ran.
int RunProfiles(int argc, char* argv[]);

// `convert --profile P --output-folder DIR [...] FILE...`: each file through the profile, one
// after another, as the window converts its rows; an output appears under its name only when
// Done. 0 all Done, 1 any Fail, 130 after Ctrl-C and 143 after SIGTERM, 2 usage errors (a
// selection the profile does not offer lists its entries).
int RunConvert(int argc, char* argv[]);

} // namespace clipwright::cli
