// Engine start and stop, and the default engine session.
//
// Starting (once per process; further starts do nothing) creates the default
// session; stopping frees it (and with it its directories and their tables).
// Asking for the default session while the engine is not started raises 10758
// ("Engine not initialized"). The other process-wide objects (the file
// registry, the heap counters, the error context) are created on first use
// and live as long as the process.
#pragma once

namespace engine {

class TDataSession;

void StartEngine();
void StopEngine();
bool EngineStarted();
// The default session; 10758 when the engine is not started.
TDataSession& DefaultSession();

}  // namespace engine
