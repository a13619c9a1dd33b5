#include "tools/client/library.h"

namespace zw::cli {
namespace {

template <typename Fn>
bool bind(const os::SharedLibrary& library, unsigned number, Fn* out, const std::string& path,
          std::string* error) {
  void* address = library.exportAt(number);
  if (!address) {
    *error = "the library " + path + " does not export ordinal " + std::to_string(number) +
             os::kMissingExportNote;
    return false;
  }
  *out = reinterpret_cast<Fn>(address);
  return true;
}

}  // namespace

std::string libraryPath(const std::string& option) {
  if (!option.empty()) return option;
  std::string env;
  if (os::environment("ZELWIRE_LIBRARY", &env) && !env.empty()) return env;
  return os::defaultLibrary();
}

bool Library::load(const std::string& path, std::string* error) {
  if (!library_.open(path, error)) return false;
  return bind(library_, ZOCO_ORD_CREATE, &create, path, error) &&
         bind(library_, ZOCO_ORD_DESTROY, &destroy, path, error) &&
         bind(library_, ZOCO_ORD_CONNECT, &connect, path, error) &&
         bind(library_, ZOCO_ORD_DISCONNECT, &disconnect, path, error) &&
         bind(library_, ZOCO_ORD_SEND, &send, path, error) &&
         bind(library_, ZOCO_ORD_RECEIVE, &receive, path, error) &&
         bind(library_, ZOCO_ORD_PEEK, &peek, path, error) &&
         bind(library_, ZOCO_ORD_FLUSH, &flush, path, error) &&
         bind(library_, ZOCO_ORD_ENCRYPT_PWD, &encryptPwd, path, error) &&
         bind(library_, ZOCO_ORD_ENCRYPT_NEW_PWD, &encryptNewPwd, path, error) &&
         bind(library_, ZOCO_ORD_CONNECTION_CHECK, &connectionCheck, path, error) &&
         bind(library_, ZOCO_ORD_ALIVE, &alive, path, error);
}

}  // namespace zw::cli
