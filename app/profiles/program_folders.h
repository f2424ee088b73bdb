// Where the program finds what ships with it: the help pages and the "Common Files" folder that
// is searched for the media libraries before the system's. The build tree keeps both beside the
// program; an installed tree keeps them under share/clipwright (in the data folder it was
// installed with) and lib/clipwright next to bin/.
// Every front end searches both places in the same order, so a program behaves alike in either.
#pragma once

#include <string>

#include "FFMPEG/binding/text_format.h"

namespace clipwright {

// "<program>/help" when it exists, else the installed help folder as seen from the program's
// folder (by default "<program>/../share/clipwright/help").
std::string HelpFolder(const std::string& program_folder = ProgramFolder());

// "<program>/Common Files" when it exists, else "<program>/../lib/clipwright/Common Files".
// The binding loads a library from there only when the folder holds it.
std::string LibraryFolder(const std::string& program_folder = ProgramFolder());

} // namespace clipwright
