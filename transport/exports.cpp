#include "transport/exports.h"

#include <atomic>
#include <new>

#include "check/check.h"
#include "conversation/zoco_sock.h"
#include "diag/report.h"
#include "outside/svclib.h"
#include "platform/platform.h"
#include "transport/registry.h"

namespace zw {
namespace {

std::atomic<bool> gStarted{false};

ZoCoSock* registered(ZoCoHandle handle) {
  return live::contains(handle) ? static_cast<ZoCoSock*>(handle) : nullptr;
}

}  // namespace

bool libraryAttach() {
  // The static objects first, in their order: the registry, the service
  // trace, the identity copies, the empty message and the message files.
  live::count();
  svc::traceActive();
  buildReportingObjects();
  plat::WsaData data;
  if (plat::WSAStartup(0x0101, &data) != 0) return false;
  gStarted.store(true);
  return true;
}

void libraryDetach() {
  // Conversations still registered are left to the process's end; only the
  // registry's own entries go.
  live::dropAll();
  // Connect workers abandoned on a cancel end once their connect returns.
  plat::joinAbandonedThreads(10000);
  if (gStarted.exchange(false)) plat::WSACleanup();
}

bool libraryStarted() { return gStarted.load(); }

}  // namespace zw

using zw::ZoCoSock;
using zw::registered;

extern "C" {

ZoCoHandle ZELWIRE_CALL zoCreateConversation(void) {
  auto* conversation = new (std::nothrow) ZoCoSock;
  if (!conversation) return nullptr;
  if (!zw::live::add(conversation)) {
    delete conversation;
    return nullptr;
  }
  return conversation;
}

void ZELWIRE_CALL zoDestroyConversation(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  if (!c) return;
  c->disconnect();
  zw::live::remove(c);
  delete c;
}

int32_t ZELWIRE_CALL zoConnect(ZoCoHandle handle, ZoCoConnDesc* desc) {
  ZoCoSock* c = registered(handle);
  return c ? c->connect(desc) : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoDisconnect(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  return c ? c->disconnect() : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoSend(ZoCoHandle handle, const void* data, int32_t length) {
  ZoCoSock* c = registered(handle);
  return c ? c->send(data, length) : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoReceive(ZoCoHandle handle, void* buffer, int32_t length, int32_t* count) {
  ZoCoSock* c = registered(handle);
  return c ? c->receive(buffer, length, count) : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoPeek(ZoCoHandle handle, void* buffer, int32_t length, int32_t* count) {
  ZoCoSock* c = registered(handle);
  return c ? c->peek(buffer, length, count) : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoFlush(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  return c ? c->flush() : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoProbe(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  return c ? c->probe() : 0;
}

int32_t ZELWIRE_CALL zoAccept(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  return c ? c->accept() : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoEncryptPwd(ZoCoHandle handle, ZoCoPwdBlock* block) {
  ZoCoSock* c = registered(handle);
  if (!c) return ZOCO_RC_BAD_HANDLE;
  return block ? c->encryptPwd(block) : ZOCO_RC_FAILED;
}

int32_t ZELWIRE_CALL zoEncryptNewPwd(ZoCoHandle handle, ZoCoNewPwdBlock* block) {
  ZoCoSock* c = registered(handle);
  if (!c) return ZOCO_RC_BAD_HANDLE;
  return block ? c->encryptNewPwd(block) : ZOCO_RC_FAILED;
}

int32_t ZELWIRE_CALL zoUnsupportedOp(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  return c ? c->unsupportedOp() : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoUnsupportedOpArgs(ZoCoHandle handle, uint32_t a, uint32_t b, uint32_t c3) {
  ZoCoSock* c = registered(handle);
  return c ? c->unsupportedOpArgs(a, b, c3) : ZOCO_RC_BAD_HANDLE;
}

int32_t ZELWIRE_CALL zoConnectionCheck(ZoCoConnDesc* desc) { return zw::connectionCheck(desc); }

int32_t ZELWIRE_CALL zoConversationAlive(ZoCoHandle handle) {
  ZoCoSock* c = registered(handle);
  return c ? c->conversationAlive() : 0;
}

void* zoOrdinal(unsigned ordinal) {
  switch (ordinal) {
    case ZOCO_ORD_CREATE: return reinterpret_cast<void*>(&zoCreateConversation);
    case ZOCO_ORD_DESTROY: return reinterpret_cast<void*>(&zoDestroyConversation);
    case ZOCO_ORD_CONNECT: return reinterpret_cast<void*>(&zoConnect);
    case ZOCO_ORD_DISCONNECT: return reinterpret_cast<void*>(&zoDisconnect);
    case ZOCO_ORD_SEND: return reinterpret_cast<void*>(&zoSend);
    case ZOCO_ORD_RECEIVE: return reinterpret_cast<void*>(&zoReceive);
    case ZOCO_ORD_PEEK: return reinterpret_cast<void*>(&zoPeek);
    case ZOCO_ORD_FLUSH: return reinterpret_cast<void*>(&zoFlush);
    case ZOCO_ORD_PROBE: return reinterpret_cast<void*>(&zoProbe);
    case ZOCO_ORD_ACCEPT: return reinterpret_cast<void*>(&zoAccept);
    case ZOCO_ORD_ENCRYPT_PWD: return reinterpret_cast<void*>(&zoEncryptPwd);
    case ZOCO_ORD_ENCRYPT_NEW_PWD: return reinterpret_cast<void*>(&zoEncryptNewPwd);
    case ZOCO_ORD_UNSUPPORTED: return reinterpret_cast<void*>(&zoUnsupportedOp);
    case ZOCO_ORD_UNSUPPORTED_ARGS: return reinterpret_cast<void*>(&zoUnsupportedOpArgs);
    case ZOCO_ORD_CONNECTION_CHECK: return reinterpret_cast<void*>(&zoConnectionCheck);
    case ZOCO_ORD_ALIVE: return reinterpret_cast<void*>(&zoConversationAlive);
    default: return nullptr;
  }
}

}  // extern "C"
