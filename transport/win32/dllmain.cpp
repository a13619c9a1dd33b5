// The library's load and unload hook on Windows.
//
// The C++ runtime builds the static objects before DllMain sees the process
// attach and destroys them after it has seen the detach.  A failed start of
// Windows Sockets refuses the load.
#include <windows.h>

#include "transport/exports.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return zw::libraryAttach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved not null) the other threads are gone,
      // possibly halfway through a call into the sockets layer; cleaning up
      // then could hang the exit, and the system reclaims everything anyway.
      if (!reserved) zw::libraryDetach();
      return TRUE;
    default:
      return TRUE;
  }
}
