// The engine's log callback in the library: each thread's pending text, one OnLog per line,
// each line routed to the job whose thread logged it, in every live component. A log call
// waits for no component's event lock: it queues its lines (see engine.h).
#pragma once

namespace clipwright {

class TCustomFFmpegEngine;

// The process-wide list of live components. Its lock is a leaf: a log call holds it only to
// count itself in and out, and calls no component under it. Unregistering waits until no log
// call uses the component (so never from inside one of its events).
void RegisterComponent(TCustomFFmpegEngine* component);
void UnregisterComponent(TCustomFFmpegEngine* component);

// Installs the callback into the bound library.
void InstallLogRouting();

// Forgets every thread's pending text. Safe while other threads log: the pending texts have a
// lock of their own that is never held while another lock is taken.
void ClearLogList();

} // namespace clipwright
