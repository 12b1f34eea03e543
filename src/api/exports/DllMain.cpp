// Entry point of Cadenzor.dll. It keeps the module handle, by which the
// library finds its own folder and the sibling DLLs in it. The handle is
// stored on every notification (the value never changes) and loading never
// fails here.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef DeleteFile

#include "platform/Platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)reason;
    (void)reserved;
    cz::platform::SetModuleHandle(module);
    return TRUE;
}
#endif
