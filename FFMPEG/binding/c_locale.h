// CLocaleScope: while it lives, the calling thread reads and prints numbers as in the "C"
// locale, whatever locale the process took from its environment.
//
// Both front ends take the user's locale at start (the window's QApplication does it, the
// command line calls setlocale), and under a comma-decimal one the C library's strtod refuses
// "1.5" and printf writes "1,5". The media libraries parse option values with strtod (av_opt_set
// of a double or rational, av_parse_video_rate, av_strtod, playlists and scripts read by
// demuxers) and print them with printf (av_opt_get), so every call into them with number text
// has to run under the "C" locale. uselocale() changes the calling thread only: other threads,
// the window's among them, keep the user's locale, and the previous one is restored on exit.
//
// The scopes cover:
// - the caller's thread (the window's or the command line's main thread, a test's) while it
//   dispatches options, sets generic options and opens inputs and outputs (which is where
//   BuildInput, BuildOutput and the component's AddInputFile and SetOutputFile parse), and
//   while the probe loads a file;
// - the job's whole run (RunBegunJob): on its worker thread, or on the caller's thread in
//   synchronous mode. The events raised during the run (log, progress, terminate, hooks) run
//   under it too;
// - FormatText, and the routing of the libraries' log lines on whichever thread logs, the
//   libraries' own codec threads included. Those threads otherwise keep the process's locale:
//   they decode and encode, and read no option text.
#pragma once

#include <locale.h>

namespace clipwright {

class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

} // namespace clipwright
