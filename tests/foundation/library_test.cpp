// The shared library as the communications core sees it: loaded by path,
// every export bound through zelwireOrdinal.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "zelwire/zelwire.h"

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

}  // namespace
