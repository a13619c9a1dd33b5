// The exported transport interface: plain C functions reached by ordinal.
#pragma once

#include "zelwire/zelwire.h"

namespace zw {

// Library start and stop, called by the load hooks of each platform.
// attach answers false when Windows Sockets could not be started.
bool libraryAttach();
void libraryDetach();
// True between a successful attach and the detach.
bool libraryStarted();

}  // namespace zw

extern "C" {
ZoCoHandle ZELWIRE_CALL zoCreateConversation(void);
void ZELWIRE_CALL zoDestroyConversation(ZoCoHandle handle);
int32_t ZELWIRE_CALL zoConnect(ZoCoHandle handle, ZoCoConnDesc* desc);
int32_t ZELWIRE_CALL zoDisconnect(ZoCoHandle handle);
int32_t ZELWIRE_CALL zoSend(ZoCoHandle handle, const void* data, int32_t length);
int32_t ZELWIRE_CALL zoReceive(ZoCoHandle handle, void* buffer, int32_t length, int32_t* count);
int32_t ZELWIRE_CALL zoPeek(ZoCoHandle handle, void* buffer, int32_t length, int32_t* count);
int32_t ZELWIRE_CALL zoFlush(ZoCoHandle handle);
int32_t ZELWIRE_CALL zoProbe(ZoCoHandle handle);
int32_t ZELWIRE_CALL zoAccept(ZoCoHandle handle);
int32_t ZELWIRE_CALL zoEncryptPwd(ZoCoHandle handle, ZoCoPwdBlock* block);
int32_t ZELWIRE_CALL zoEncryptNewPwd(ZoCoHandle handle, ZoCoNewPwdBlock* block);
int32_t ZELWIRE_CALL zoUnsupportedOp(ZoCoHandle handle);
int32_t ZELWIRE_CALL zoUnsupportedOpArgs(ZoCoHandle handle, uint32_t a, uint32_t b, uint32_t c);
int32_t ZELWIRE_CALL zoConnectionCheck(ZoCoConnDesc* desc);
int32_t ZELWIRE_CALL zoConversationAlive(ZoCoHandle handle);
// The address of the export with this ordinal, or null.
void* zoOrdinal(unsigned ordinal);
}
