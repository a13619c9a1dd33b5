#include "transport/registry.h"

#include <atomic>
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

// Every export looks its handle up, so each thread remembers the last handle
// it found.  The remembered answer holds while no handle has left the
// registry since: every removal bumps the generation, and a thread that sees
// a new generation asks the set again.  Adding a handle cannot turn a found
// handle into a missing one, so it leaves the generation alone.
constinit std::atomic<std::uint64_t> gGeneration{1};

struct LastFound {
  const void* handle = nullptr;
  std::uint64_t generation = 0;
};
constinit thread_local LastFound tLastFound;

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
  bool removed = r.handles.erase(conversation) != 0;
  if (removed) gGeneration.fetch_add(1, std::memory_order_release);
  return removed;
}

bool contains(const void* handle) {
  if (!handle) return false;
  LastFound& last = tLastFound;
  if (last.handle == handle && last.generation == gGeneration.load(std::memory_order_acquire))
    return true;
  Registry& r = registry();
  std::shared_lock lock(r.mutex);
  // Read under the lock: no removal comes between it and the lookup.
  std::uint64_t generation = gGeneration.load(std::memory_order_relaxed);
  if (r.handles.count(handle) == 0) return false;
  last = LastFound{handle, generation};
  return true;
}

void dropAll() {
  Registry& r = registry();
  std::unique_lock lock(r.mutex);
  std::unordered_set<const void*>().swap(r.handles);
  gGeneration.fetch_add(1, std::memory_order_release);
}

std::size_t count() {
  Registry& r = registry();
  std::shared_lock lock(r.mutex);
  return r.handles.size();
}

}  // namespace zw::live
