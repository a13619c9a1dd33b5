#include "transport/registry.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <unordered_set>

namespace zw::live {
namespace {

struct Registry {
  std::shared_mutex mutex;
  std::unordered_set<const void*> handles;
};

// Built at load, before the start hook runs (libraryAttach asks for it
// first), and never destroyed: at the process's exit the static objects go
// before the unload hook runs, and the hook still empties the registry.
// Emptying it frees its memory, so nothing is left behind at an unload.
Registry& registry() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry* r = new (storage) Registry;
  return *r;
}

}  // namespace

bool add(ZoCoSock* conversation) {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  try {
    r.handles.insert(conversation);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool remove(ZoCoSock* conversation) {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  return r.handles.erase(conversation) != 0;
}

bool contains(const void* handle) {
  if (!handle) return false;
  Registry& r = registry();
  std::shared_lock lock(r.mutex);
  return r.handles.count(handle) != 0;
}

void dropAll() {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  std::unordered_set<const void*>().swap(r.handles);
}

std::size_t count() {
  Registry& r = registry();
  std::shared_lock lock(r.mutex);
  return r.handles.size();
}

}  // namespace zw::live
