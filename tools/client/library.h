// The zelwire library, loaded by path and bound by ordinal, as the
// communications core binds it (on ELF through its one entry point
// zelwireOrdinal, on Windows through the DLL's ordinal exports).
#pragma once

#include <string>

#include "tools/client/os.h"
#include "zelwire/zelwire.h"

namespace zw::cli {

// The library to load: `option` (--library) when given, else
// $ZELWIRE_LIBRARY, else os::defaultLibrary().
std::string libraryPath(const std::string& option);

class Library {
 public:
  Library() = default;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Loads the library at `path` and binds every export; on failure answers
  // false with a message for people in *error.
  bool load(const std::string& path, std::string* error);

  ZoCoCreateFn create = nullptr;
  ZoCoDestroyFn destroy = nullptr;
  ZoCoConnectFn connect = nullptr;
  ZoCoDisconnectFn disconnect = nullptr;
  ZoCoSendFn send = nullptr;
  ZoCoReceiveFn receive = nullptr;
  ZoCoPeekFn peek = nullptr;
  ZoCoFlushFn flush = nullptr;
  ZoCoEncryptPwdFn encryptPwd = nullptr;
  ZoCoEncryptNewPwdFn encryptNewPwd = nullptr;
  ZoCoConnectionCheckFn connectionCheck = nullptr;
  ZoCoAliveFn alive = nullptr;

 private:
  // Unloaded when this goes, as the core unloads it when it shuts down.
  // The client never sets checkCancel, so no connect worker of the library
  // can still be running then.
  os::SharedLibrary library_;
};

}  // namespace zw::cli
