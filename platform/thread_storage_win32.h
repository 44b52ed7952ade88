// The plug-in module's own storage for thread_local variables (Windows):
// one TLS index while loaded, given back on unload. Called from DllMain only.
#pragma once

namespace platform {

// Frees the calling thread's variables; for a thread that is ending.
void releaseThreadStorage();

// Frees every thread's variables, our TLS index and the thread library's;
// for the module's unload by FreeLibrary, as the last use of either.
void releaseModuleThreadStorage();

}  // namespace platform
