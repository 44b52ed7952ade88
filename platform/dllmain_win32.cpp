// The Windows library entry point. It lives in the plug-in module itself,
// not in kivcore, so that test programs linking kivcore have no DllMain.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/thread_storage_win32.h"
#include "plugin/load.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    const BOOL result = kiv::libraryEntry(module, reason, reserved);
    if (reason == DLL_THREAD_DETACH) platform::releaseThreadStorage();
    // At process exit (reserved set) the memory and the index go anyway.
    if (reason == DLL_PROCESS_DETACH && !reserved) platform::releaseModuleThreadStorage();
    return result;
}
