// zelwire.dll as the communications core sees it: loaded by path, every
// export bound by ordinal.
#include <cstring>
#include <map>
#include <vector>

#include "outside/mcfile.h"
#include "transport/exports.h"
#include "tests/windows/wine_support.h"
#include "zelwire/zelwire.h"

namespace zw::wintest {
namespace {

// The messages the library reported through ReportStatus.
struct Report {
  std::uint32_t status;
  std::uint32_t number;
  std::string text;
};
std::vector<Report>* gReports = nullptr;

std::int32_t ZELWIRE_CALL collect(ZoCoStatus* status) {
  if (gReports)
    gReports->push_back({status->statusValue, zelwireMessageNumber(status->message),
                         zelwireMessageText(status->message)});
  return 0;
}

std::map<std::uint32_t, std::string> sourceTexts(const char* source) {
  std::map<std::uint32_t, std::string> texts;
  for (const mc::Message& m : mc::parse(readFile(sourceFile(source))).messages) texts[m.id] = m.text;
  return texts;
}

TEST(LibraryTest, ExportsByOrdinalOnly) {
  Library lib;
  ASSERT_NE(lib.module(), nullptr) << ::GetLastError();
  for (unsigned ordinal = 1; ordinal <= 24; ++ordinal) {
    bool exported = (ordinal <= 14) || ordinal == 16 || ordinal == 19;
    EXPECT_EQ(lib.bind<void*>(ordinal) != nullptr, exported) << ordinal;
  }
  for (const char* name : {"zoCreateConversation", "zoConnect", "zoConnectionCheck", "zelwireOrdinal",
                           "DllMain"})
    EXPECT_EQ(::GetProcAddress(lib.module(), name), nullptr) << name;
}

TEST(LibraryTest, HandlesAreCheckedAgainstTheLiveConversations) {
  Library lib;
  ASSERT_NE(lib.module(), nullptr);
  auto create = lib.bind<ZoCoCreateFn>(ZOCO_ORD_CREATE);
  auto destroy = lib.bind<ZoCoDestroyFn>(ZOCO_ORD_DESTROY);
  auto connect = lib.bind<ZoCoConnectFn>(ZOCO_ORD_CONNECT);
  auto disconnect = lib.bind<ZoCoDisconnectFn>(ZOCO_ORD_DISCONNECT);
  auto send = lib.bind<ZoCoSendFn>(ZOCO_ORD_SEND);
  auto receive = lib.bind<ZoCoReceiveFn>(ZOCO_ORD_RECEIVE);
  auto peek = lib.bind<ZoCoPeekFn>(ZOCO_ORD_PEEK);
  auto flush = lib.bind<ZoCoFlushFn>(ZOCO_ORD_FLUSH);
  auto probe = lib.bind<ZoCoProbeFn>(ZOCO_ORD_PROBE);
  auto accept = lib.bind<ZoCoAcceptFn>(ZOCO_ORD_ACCEPT);
  auto encrypt = lib.bind<ZoCoEncryptPwdFn>(ZOCO_ORD_ENCRYPT_PWD);
  auto encryptNew = lib.bind<ZoCoEncryptNewPwdFn>(ZOCO_ORD_ENCRYPT_NEW_PWD);
  auto unsupported = lib.bind<ZoCoUnsupportedFn>(ZOCO_ORD_UNSUPPORTED);
  auto unsupportedArgs = lib.bind<ZoCoUnsupportedArgsFn>(ZOCO_ORD_UNSUPPORTED_ARGS);
  auto alive = lib.bind<ZoCoAliveFn>(ZOCO_ORD_ALIVE);

  ZoCoHandle h = create();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(probe(h), 1);
  EXPECT_EQ(alive(h), 1);  // nothing is tested before a connect
  EXPECT_EQ(unsupported(h), ZOCO_RC_FAILED);
  EXPECT_EQ(unsupportedArgs(h, 1, 2, 3), ZOCO_RC_FAILED);
  EXPECT_EQ(disconnect(h), 0);
  destroy(h);

  // The destroyed handle is never touched again.
  ZoCoConnDesc desc{};
  ZoCoPwdBlock pwd{};
  ZoCoNewPwdBlock newPwd{};
  EXPECT_EQ(connect(h, &desc), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(disconnect(h), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(accept(h), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(encrypt(h, &pwd), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(encryptNew(h, &newPwd), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(unsupported(h), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(unsupportedArgs(h, 0, 0, 0), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(probe(h), 0);
  EXPECT_EQ(alive(h), 0);
  destroy(h);
  char buffer[4];
  std::int32_t count = 0;
  EXPECT_EQ(send(nullptr, "x", 1), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(receive(nullptr, buffer, 4, &count), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(peek(nullptr, buffer, 4, &count), ZOCO_RC_BAD_HANDLE);
  EXPECT_EQ(flush(nullptr), ZOCO_RC_BAD_HANDLE);
}

TEST(LibraryTest, PasswordExportsAgreeWithTheCoreInProcess) {
  Library lib;
  ASSERT_NE(lib.module(), nullptr);
  auto create = lib.bind<ZoCoCreateFn>(ZOCO_ORD_CREATE);
  auto destroy = lib.bind<ZoCoDestroyFn>(ZOCO_ORD_DESTROY);
  auto encrypt = lib.bind<ZoCoEncryptPwdFn>(ZOCO_ORD_ENCRYPT_PWD);
  auto encryptNew = lib.bind<ZoCoEncryptNewPwdFn>(ZOCO_ORD_ENCRYPT_NEW_PWD);

  ZoCoPwdBlock block{};
  std::strcpy(block.userId, "ALICE");
  std::strcpy(block.password, "SECRET");
  for (int i = 0; i < 8; ++i) {
    block.sequenceNumber[i] = static_cast<std::uint8_t>(i == 7);
    block.clientSeed[i] = static_cast<std::uint8_t>(0x11 * (i + 1));
    block.hostSeed[i] = static_cast<std::uint8_t>(0xF0 - i);
  }
  ZoCoNewPwdBlock newBlock{};
  std::strcpy(newBlock.userId, "ALICE");
  std::strcpy(newBlock.oldPassword, "SECRET");
  std::strcpy(newBlock.newPassword, "NEWSECRET1");
  std::memcpy(newBlock.sequenceNumber, block.sequenceNumber, 8);
  std::memcpy(newBlock.clientSeed, block.clientSeed, 8);
  std::memcpy(newBlock.hostSeed, block.hostSeed, 8);

  ZoCoPwdBlock viaDll = block, inProcess = block;
  ZoCoNewPwdBlock newViaDll = newBlock, newInProcess = newBlock;
  ZoCoHandle h = create();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(encrypt(h, &viaDll), 0);
  EXPECT_EQ(encryptNew(h, &newViaDll), 0);
  destroy(h);
  ZoCoHandle local = zoCreateConversation();
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(zoEncryptPwd(local, &inProcess), 0);
  EXPECT_EQ(zoEncryptNewPwd(local, &newInProcess), 0);
  zoDestroyConversation(local);

  EXPECT_EQ(std::memcmp(&viaDll, &inProcess, sizeof viaDll), 0);
  EXPECT_EQ(std::memcmp(&newViaDll, &newInProcess, sizeof newViaDll), 0);
  EXPECT_NE(std::memcmp(viaDll.substitute, "\0\0\0\0\0\0\0\0", 8), 0);
}

TEST(LibraryTest, ReportedMessagesCarryTheTextsOfTheMessageFiles) {
  Library lib;
  ASSERT_NE(lib.module(), nullptr);
  auto check = lib.bind<ZoCoConnectionCheckFn>(ZOCO_ORD_CONNECTION_CHECK);
  std::map<std::uint32_t, std::string> texts = sourceTexts("messages/qvxcomsg.mc");

  // Nothing listens at this address: every host server fails to answer.
  char system[] = "127.0.0.5";
  ZoCoConnDesc desc{};
  desc.systemName = system;
  desc.scopeName = "";
  desc.callReportStatus = 1;
  desc.networkType = ZOCO_NET_TCPIP;
  desc.ReportStatus = collect;
  std::vector<Report> reports;
  gReports = &reports;
  std::int32_t rc = check(&desc);
  gReports = nullptr;
  EXPECT_EQ(rc, ZOCO_RC_FAILED);

  std::string begins = texts[1060];
  begins.replace(begins.find("%1"), 2, system);
  bool sawBegin = false, sawEnd = false;
  for (const Report& r : reports) {
    if (r.number == 1060) sawBegin = r.text == begins && r.status == 1;
    if (r.number == 1016) sawEnd = r.text == texts[1016];
    if (r.number != 0) {
      EXPECT_NE(r.text, "") << r.number;
    }
  }
  EXPECT_TRUE(sawBegin) << begins;
  EXPECT_TRUE(sawEnd) << texts[1016];
}

TEST(LibraryTest, UnloadingWithALiveConversationAndLoadingAgainWork) {
  {
    Library lib;
    ASSERT_NE(lib.module(), nullptr);
    ZoCoHandle h = lib.bind<ZoCoCreateFn>(ZOCO_ORD_CREATE)();
    ASSERT_NE(h, nullptr);
    // Left registered: unloading drops the registry's own entries only.
  }
  Library again;
  ASSERT_NE(again.module(), nullptr);
  ZoCoHandle h = again.bind<ZoCoCreateFn>(ZOCO_ORD_CREATE)();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(again.bind<ZoCoProbeFn>(ZOCO_ORD_PROBE)(h), 1);
  again.bind<ZoCoDestroyFn>(ZOCO_ORD_DESTROY)(h);
}

TEST(LibraryTest, TheLoadHookFailsWhenSocketsCannotStart) {
  // The hook's own logic, in process: DllMain refuses the load on false.
  plat::fault::reset();
  plat::fault::failCall(plat::fault::Call::WSAStartup, 10091);
  EXPECT_FALSE(libraryAttach());
  EXPECT_FALSE(libraryStarted());
  plat::fault::reset();
  EXPECT_TRUE(libraryAttach());
  EXPECT_TRUE(libraryStarted());
  libraryDetach();
  EXPECT_FALSE(libraryStarted());
}

}  // namespace
}  // namespace zw::wintest
