// The Windows library entry point. It lives in the plug-in module itself,
// not in kivcore, so that test programs linking kivcore have no DllMain.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "plugin/load.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    return kiv::libraryEntry(module, reason, reserved);
}
