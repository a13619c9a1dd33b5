// The shared library as the communications core sees it: loaded by path,
// every export bound through zelwireOrdinal.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "zelwire/zelwire.h"

// The leak checker's switch, when the program is built with it.
extern "C" void __lsan_disable() __attribute__((weak));

namespace {

TEST(LibraryTest, BindsExactlyTheExportedOrdinals) {
  void* lib = ::dlopen(ZELWIRE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto ordinal = reinterpret_cast<ZelwireOrdinalFn>(::dlsym(lib, "zelwireOrdinal"));
  ASSERT_NE(ordinal, nullptr);
  for (unsigned n = 0; n <= 32; ++n) {
    bool exported = (n >= 1 && n <= 14) || n == 16 || n == 19;
    EXPECT_EQ(ordinal(n) != nullptr, exported) << n;
  }
  // Nothing else can be bound by name.
  EXPECT_EQ(::dlsym(lib, "zoCreateConversation"), nullptr);

  auto create = reinterpret_cast<ZoCoCreateFn>(ordinal(ZOCO_ORD_CREATE));
  auto destroy = reinterpret_cast<ZoCoDestroyFn>(ordinal(ZOCO_ORD_DESTROY));
  auto probe = reinterpret_cast<ZoCoProbeFn>(ordinal(ZOCO_ORD_PROBE));
  auto unsupported = reinterpret_cast<ZoCoUnsupportedArgsFn>(ordinal(ZOCO_ORD_UNSUPPORTED_ARGS));
  ZoCoHandle h = create();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(probe(h), 1);
  EXPECT_EQ(unsupported(h, 1, 2, 3), 23);
  destroy(h);
  EXPECT_EQ(probe(h), 0);
  ::dlclose(lib);
}

// A core that loads the library and leaves without unloading it: the exit
// runs the unload hook after the static objects are gone.
TEST(LibraryTest, ExitWithoutUnloadIsClean) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    void* lib = ::dlopen(ZELWIRE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) ::_exit(90);
    auto ordinal = reinterpret_cast<ZelwireOrdinalFn>(::dlsym(lib, "zelwireOrdinal"));
    auto create = reinterpret_cast<ZoCoCreateFn>(ordinal(ZOCO_ORD_CREATE));
    // The conversation is left to the process's end on purpose.
    if (__lsan_disable) __lsan_disable();
    if (!create()) ::_exit(91);
    std::exit(0);  // the conversation stays registered
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
