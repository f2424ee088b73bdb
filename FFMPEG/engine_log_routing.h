// The engine's log callback in the library: each thread's pending text, one OnLog per line,
// each line routed to the job whose thread logged it, in every live component.
#pragma once

namespace clipwright {

class TCustomFFmpegEngine;

// The process-wide list of live components (taken before any component's own lock).
void RegisterComponent(TCustomFFmpegEngine* component);
void UnregisterComponent(TCustomFFmpegEngine* component);

// Installs the callback into the bound library.
void InstallLogRouting();

// Forgets every thread's pending text. Safe while other threads log: the pending texts have a
// lock of their own that is never held while another lock is taken.
void ClearLogList();

} // namespace clipwright
