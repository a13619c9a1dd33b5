// The zelwire library, loaded by path and bound through its one ELF entry
// point zelwireOrdinal, as the communications core binds it.
#pragma once

#include <string>

#include "zelwire/zelwire.h"

namespace zw::cli {

// The library to load: `option` (--library) when given, else
// $ZELWIRE_LIBRARY, else the library this client was built with.
std::string libraryPath(const std::string& option);

class Library {
 public:
  Library() = default;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  // Unloads the library, as the core does when it shuts down.  The client
  // never sets checkCancel, so no connect worker of the library can still
  // be running here.
  ~Library();

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
  void* handle_ = nullptr;
};

}  // namespace zw::cli
