#include "tools/client/library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace zw::cli {
namespace {

template <typename Fn>
bool bind(ZelwireOrdinalFn ordinal, unsigned number, Fn* out, const std::string& path,
          std::string* error) {
  void* address = ordinal(number);
  if (!address) {
    *error = "the library " + path + " does not export ordinal " + std::to_string(number) +
             " (a library that could not start answers no ordinal at all)";
    return false;
  }
  *out = reinterpret_cast<Fn>(address);
  return true;
}

}  // namespace

std::string libraryPath(const std::string& option) {
  if (!option.empty()) return option;
  const char* env = std::getenv("ZELWIRE_LIBRARY");
  if (env && *env) return env;
  return ZELWIRE_DEFAULT_LIBRARY;
}

Library::~Library() {
  if (handle_) ::dlclose(handle_);
}

bool Library::load(const std::string& path, std::string* error) {
  // A bare name would make dlopen search the system's folders.
  std::string target = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = ::dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    *error = "cannot load the library " + path + ": " + (why ? why : "unknown reason");
    return false;
  }
  auto ordinal = reinterpret_cast<ZelwireOrdinalFn>(::dlsym(handle_, "zelwireOrdinal"));
  if (!ordinal) {
    *error = path + " is not the zelwire library: it has no symbol zelwireOrdinal";
    return false;
  }
  return bind(ordinal, ZOCO_ORD_CREATE, &create, path, error) &&
         bind(ordinal, ZOCO_ORD_DESTROY, &destroy, path, error) &&
         bind(ordinal, ZOCO_ORD_CONNECT, &connect, path, error) &&
         bind(ordinal, ZOCO_ORD_DISCONNECT, &disconnect, path, error) &&
         bind(ordinal, ZOCO_ORD_SEND, &send, path, error) &&
         bind(ordinal, ZOCO_ORD_RECEIVE, &receive, path, error) &&
         bind(ordinal, ZOCO_ORD_PEEK, &peek, path, error) &&
         bind(ordinal, ZOCO_ORD_FLUSH, &flush, path, error) &&
         bind(ordinal, ZOCO_ORD_ENCRYPT_PWD, &encryptPwd, path, error) &&
         bind(ordinal, ZOCO_ORD_ENCRYPT_NEW_PWD, &encryptNewPwd, path, error) &&
         bind(ordinal, ZOCO_ORD_CONNECTION_CHECK, &connectionCheck, path, error) &&
         bind(ordinal, ZOCO_ORD_ALIVE, &alive, path, error);
}

}  // namespace zw::cli
