// A conversation: one client connection from this machine to one server
// program on a host system.  ZoCoTransport is the abstract transport with the
// trace writers every conversation uses; ZoCoSock is the socket conversation.
// The exports create one, hand its address out as the handle, forward each
// call to one virtual operation (in the slot order below) and destroy it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zelwire/zelwire.h"
#include "outside/bblib.h"
#include "outside/svclib.h"
#include "platform/platform.h"

namespace zw {

class ZoCoTransport {
 public:
  ZoCoTransport();
  virtual ~ZoCoTransport();
  ZoCoTransport(const ZoCoTransport&) = delete;
  ZoCoTransport& operator=(const ZoCoTransport&) = delete;

  // Slots 1 to 14.
  virtual std::int32_t accept() = 0;
  virtual std::int32_t connect(ZoCoConnDesc* desc) = 0;
  virtual std::int32_t disconnect() = 0;
  virtual std::int32_t flush() = 0;
  virtual std::int32_t peek(void* buffer, std::int32_t length, std::int32_t* count) = 0;
  virtual std::int32_t send(const void* data, std::int32_t length) = 0;
  virtual std::int32_t receive(void* buffer, std::int32_t length, std::int32_t* count) = 0;
  virtual std::int32_t receiveAsIs(void* a, std::int32_t b, std::int32_t* c) = 0;
  virtual std::int32_t conversationAlive() = 0;
  virtual std::int32_t probe() = 0;
  virtual std::int32_t encryptPwd(ZoCoPwdBlock* block) = 0;
  virtual std::int32_t encryptNewPwd(ZoCoNewPwdBlock* block) = 0;
  virtual std::int32_t unsupportedOp() = 0;
  virtual std::int32_t unsupportedOpArgs(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;

  // Trace writers: a trace line, an error line (text and code) and a value
  // line (text, a blank, a number), each to the service trace while it is
  // active and to the trace file while this conversation has one.
  // With no trace file and the service trace off, a writer costs two checks
  // and formats nothing.
  void trace(const char* text) const {
    if (traceStream_ || svc::traceActive()) writeTrace(text);
  }
  void traceRc(const char* text, std::int32_t code) const {
    if (traceStream_ || svc::traceActive()) writeTraceRc(text, code);
  }
  void traceValue(const char* text, std::int32_t value) const {
    if (traceStream_ || svc::traceActive()) writeTraceValue(text, value);
  }
  // A data log entry: a heading and a hexadecimal dump of the bytes.
  void logData(const char* text, const void* data, std::uint32_t length) {
    if (traceStream_ || svc::traceActive()) writeLogData(text, data, length);
  }

  // While set, data log entries show these bytes as kLogMaskFiller wherever
  // they are logged: the sign-on masks its password substitute this way.
  void setLogMask(const void* start, std::size_t length) {
    maskStart_ = static_cast<const std::uint8_t*>(start);
    maskLength_ = length;
  }
  static constexpr std::uint8_t kLogMaskFiller = 0x5C;  // "*" in the host code page

  std::uint32_t traceSwitch() const { return traceSwitch_; }
  bool hasTraceFile() const { return traceStream_ != nullptr; }
  const ZoCoConnDesc& connDesc() const { return connDesc_; }

 protected:
  plat::File traceStream_ = nullptr;  // the trace file; null when off or not opened
  std::uint32_t traceSwitch_ = 0;     // the "trace" registry value at construction
  ZoCoConnDesc connDesc_;             // the conversation's own copy of the caller's record
  const std::uint8_t* maskStart_ = nullptr;
  std::size_t maskLength_ = 0;

 private:
  void openConversationTrace();
  void writeTrace(const char* text) const;
  void writeTraceRc(const char* text, std::int32_t code) const;
  void writeTraceValue(const char* text, std::int32_t value) const;
  void writeLogData(const char* text, const void* data, std::uint32_t length);
  void writeTraceLine(const char* text, const char* tailText = "",
                      const std::int32_t* tailNumber = nullptr) const;
  void dumpData(const char* text, const void* data, std::uint32_t length) const;
  void logDataToServiceTrace(const char* text, const void* data, std::uint32_t length);
};

class ZoCoSock final : public ZoCoTransport {
 public:
  ZoCoSock();
  ~ZoCoSock() override;

  std::int32_t accept() override;
  std::int32_t connect(ZoCoConnDesc* desc) override;
  std::int32_t disconnect() override;
  std::int32_t flush() override;
  std::int32_t peek(void* buffer, std::int32_t length, std::int32_t* count) override;
  std::int32_t send(const void* data, std::int32_t length) override;
  std::int32_t receive(void* buffer, std::int32_t length, std::int32_t* count) override;
  std::int32_t receiveAsIs(void* a, std::int32_t b, std::int32_t* c) override;
  std::int32_t conversationAlive() override;
  std::int32_t probe() override;
  std::int32_t encryptPwd(ZoCoPwdBlock* block) override;
  std::int32_t encryptNewPwd(ZoCoNewPwdBlock* block) override;
  std::int32_t unsupportedOp() override;
  std::int32_t unsupportedOpArgs(std::uint32_t a, std::uint32_t b, std::uint32_t c) override;

  // Steps of connect.
  std::int32_t connectServerDaemon(ZoCoConnDesc* desc);
  ZoNlString ipGetLocalName(plat::Socket s);
  ZoNlString ipxGetLocalName(plat::Socket s);
  void applySendSettings(const ZoCoConnDesc* desc, std::uint32_t* bufferingWanted);
  void traceSocketOptions();
  // Send buffering.
  void appendToBuffer(const void* data, std::int32_t length);
  bool bufferHasData() const { return bufferNext_ > bufferStart_; }
  // Sign-on.
  std::int32_t XchangeHostSeed(std::uint16_t serverId);
  std::int32_t startServer(std::uint16_t serverId, const char* userId, const char* password);
  void stampClientSeed();

  plat::Socket sock() const { return sock_; }
  void setSock(plat::Socket s) { sock_ = s; }
  std::int32_t TCPMaxSendAmt() const { return TCPMaxSendAmt_; }
  std::int32_t IPXMaxSendAmt() const { return IPXMaxSendAmt_; }
  std::uint32_t onIPX() const { return onIPX_; }
  std::uint8_t* clientSeed() { return clientSeed_; }
  std::uint8_t* hostSeed() { return hostSeed_; }
  std::uint32_t sendBufferingOn() const { return sendBufferingOn_; }
  std::uint32_t bufferBufLen() const { return bufferBufLen_; }
  std::uint32_t nBytesThold() const { return nBytesThold_; }
  std::uint32_t numSendsBeforeFlush() const { return numSendsBeforeFlush_; }
  bool hasSendBuffer() const { return bufferStart_ != nullptr; }

 private:
  std::int32_t disconnectOwn();  // the disconnect the destructor calls directly
  std::int32_t receiveReply(std::uint8_t* buffer, std::int32_t expected, std::int32_t* received);
  void releaseSendBuffer();

  std::uint32_t sendBufferingOn_ = 0;
  std::uint8_t* bufferStart_ = nullptr;  // owned
  std::uint8_t* bufferNext_ = nullptr;
  std::uint8_t* bufferLast_ = nullptr;
  std::uint8_t* tholdLast_ = nullptr;
  std::uint32_t bufferBufLen_ = 0;
  std::uint32_t nBytesThold_ = 0;
  std::uint32_t numSendsBeforeFlush_ = 0x7FFF;
  std::uint32_t numSendsSinceFlush_ = 0;
  std::uint32_t naglingOn_ = 0;
  std::uint32_t flushSendsAll_ = 1;
  plat::Socket sock_ = plat::kInvalidSocket;
  std::int32_t IPXMaxSendAmt_ = 576;
  std::int32_t TCPMaxSendAmt_ = 0;
  std::uint32_t onIPX_ = 99;
  std::uint8_t clientSeed_[8] = {};
  std::uint8_t hostSeed_[8] = {};
};

}  // namespace zw
