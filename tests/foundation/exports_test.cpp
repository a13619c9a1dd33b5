// The export table and its handle checks.
#include <cstring>

#include "platform/fault.h"
#include "tests/support/support.h"
#include "conversation/zoco_sock.h"
#include "transport/exports.h"
#include "transport/registry.h"

namespace zw::test {
namespace {

class ExportsTest : public HomeTest {};

TEST_F(ExportsTest, OrdinalTableHasExactlyTheExports) {
  for (unsigned ordinal = 0; ordinal <= 25; ++ordinal) {
    bool exported = (ordinal >= 1 && ordinal <= 14) || ordinal == 16 || ordinal == 19;
    EXPECT_EQ(zoOrdinal(ordinal) != nullptr, exported) << "ordinal " << ordinal;
  }
  EXPECT_EQ(zoOrdinal(ZOCO_ORD_SEND), reinterpret_cast<void*>(&zoSend));
  EXPECT_EQ(zoOrdinal(ZOCO_ORD_ALIVE), reinterpret_cast<void*>(&zoConversationAlive));
}

// What each export answers for a handle that is not registered: a
// destroyed one, one never created (an address that was never a
// conversation) and 0.  None may touch memory behind the handle, which the
// sanitizer build checks on the freed one.
TEST_F(ExportsTest, UnregisteredHandlesAreRefused) {
  ZoCoHandle destroyed = zoCreateConversation();
  ASSERT_NE(destroyed, nullptr);
  zoDestroyConversation(destroyed);
  static char neverCreated[512];
  ZoCoConnDesc desc{};
  ZoCoPwdBlock pwd{};
  ZoCoNewPwdBlock newPwd{};
  char buffer[8];
  int32_t count = -5;

  for (ZoCoHandle h : {destroyed, static_cast<ZoCoHandle>(neverCreated), ZoCoHandle{}}) {
    SCOPED_TRACE(h == nullptr ? "null" : h == destroyed ? "destroyed" : "never created");
    EXPECT_EQ(zoConnect(h, &desc), 11);
    EXPECT_EQ(zoDisconnect(h), 11);
    EXPECT_EQ(zoSend(h, buffer, 1), 11);
    EXPECT_EQ(zoReceive(h, buffer, 8, &count), 11);
    EXPECT_EQ(zoPeek(h, buffer, 8, &count), 11);
    EXPECT_EQ(zoFlush(h), 11);
    EXPECT_EQ(zoProbe(h), 0);
    EXPECT_EQ(zoAccept(h), 11);
    EXPECT_EQ(zoEncryptPwd(h, &pwd), 11);
    EXPECT_EQ(zoEncryptNewPwd(h, &newPwd), 11);
    EXPECT_EQ(zoUnsupportedOp(h), 11);
    EXPECT_EQ(zoUnsupportedOpArgs(h, 1, 2, 3), 11);
    EXPECT_EQ(zoConversationAlive(h), 0);
    zoDestroyConversation(h);  // ignored silently
  }
  EXPECT_EQ(count, -5);
  EXPECT_FALSE(traceExists());
}

TEST_F(ExportsTest, FixedResultsOnARegisteredConversation) {
  ZoCoHandle h = zoCreateConversation();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(zoProbe(h), 1);
  EXPECT_EQ(zoUnsupportedOp(h), 23);
  EXPECT_EQ(zoUnsupportedOpArgs(h, 0, 0xFFFFFFFF, 7), 23);
  EXPECT_EQ(zoConversationAlive(h), 1);  // never connected: nothing is tested
  EXPECT_EQ(zoEncryptPwd(h, nullptr), 23);
  EXPECT_EQ(zoEncryptNewPwd(h, nullptr), 23);
  EXPECT_EQ(zoConnect(h, nullptr), 19);
  zoDestroyConversation(h);
}

TEST_F(ExportsTest, CreateAndDestroyWriteTheDisconnectPairTwiceAndNothingElse) {
  setTraceSwitch(2);
  ZoCoHandle h = zoCreateConversation();
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(live::contains(h));
  zoDestroyConversation(h);
  EXPECT_FALSE(live::contains(h));
  zoDestroyConversation(h);  // twice: the second finds nothing

  std::vector<std::string> lines = traceTexts(traceText());
  std::vector<std::string> expected = {"WINSOCK disconnect: Entry", "WINSOCK disconnect: Exit", "",
                                       "WINSOCK disconnect: Entry", "WINSOCK disconnect: Exit", ""};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::socket), 0u);
  EXPECT_EQ(plat::fault::openSockets(), 0);
  EXPECT_EQ(plat::fault::openFiles(), 0);
}

TEST_F(ExportsTest, DetachDropsEntriesButLeavesConversationsAlone) {
  setTraceSwitch(2);
  ZoCoHandle a = zoCreateConversation();
  ZoCoHandle b = zoCreateConversation();
  ASSERT_EQ(live::count(), 2u);
  ASSERT_TRUE(libraryAttach());
  libraryDetach();
  EXPECT_EQ(live::count(), 0u);
  EXPECT_EQ(zoProbe(a), 0);
  EXPECT_EQ(zoConnect(b, nullptr), 11);
  // Unload writes nothing: the conversations were not disconnected.
  EXPECT_EQ(traceText(), "");
  // The objects are left to the process; free them here for the leak check.
  delete static_cast<ZoCoTransport*>(a);
  delete static_cast<ZoCoTransport*>(b);
}

TEST_F(ExportsTest, AttachFailsWhenSocketsCannotStart) {
  plat::fault::failCall(plat::fault::Call::WSAStartup, plat::kWsaSysNotReady);
  EXPECT_FALSE(libraryAttach());
  EXPECT_FALSE(libraryStarted());
  ASSERT_TRUE(libraryAttach());
  EXPECT_TRUE(libraryStarted());
  libraryDetach();
}

}  // namespace
}  // namespace zw::test
