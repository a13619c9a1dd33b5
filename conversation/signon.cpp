// Signing on: the seed exchange and the start-server request, sent and
// received through the conversation's own send, flush and receive.
#include <cstdlib>
#include <cstring>
#include <string>

#include "conversation/zoco_sock.h"
#include "signon/datastreams.h"
#include "signon/password.h"

namespace zw {
namespace {

constexpr std::size_t kDatastreamBuffer = 100;

}  // namespace

void ZoCoSock::stampClientSeed() {
  auto now = static_cast<std::uint32_t>(plat::timeNow());
  for (int i = 0; i < 4; ++i) clientSeed_[4 + i] = static_cast<std::uint8_t>(now >> (8 * i));
}

// Receives until `expected` bytes have arrived: a reply may come in pieces.
// A host that closes or fails first ends the exchange with receive's code.
std::int32_t ZoCoSock::receiveReply(std::uint8_t* buffer, std::int32_t expected,
                                    std::int32_t* received) {
  *received = 0;
  while (*received < expected) {
    std::int32_t count = 0;
    std::int32_t rc = receive(buffer + *received, expected - *received, &count);
    if (rc != ZOCO_RC_OK) return rc;
    *received += count;
  }
  return ZOCO_RC_OK;
}

std::int32_t ZoCoSock::XchangeHostSeed(std::uint16_t serverId) {
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(kDatastreamBuffer));
  trace("WINSOCK XchangeHostSeed: Entry");
  std::int32_t rc;
  if (!buffer) {
    trace("  Cannot allocate memory");
    rc = ZOCO_RC_FAILED;
  } else {
    stampClientSeed();
    std::size_t len = buildSeedRequest(buffer, kDatastreamBuffer, serverId, clientSeed_);
    rc = send(buffer, static_cast<std::int32_t>(len));
    if (rc == ZOCO_RC_OK) rc = flush();
    std::int32_t received = 0;
    if (rc == ZOCO_RC_OK) rc = receiveReply(buffer, kSeedReplyLength, &received);
    if (rc == ZOCO_RC_OK) {
      ReplyCodes codes;
      int r = parseSeedReply(buffer, received, codes, hostSeed_);
      if (r != kReplyAccepted || codes.returnCode != 0) rc = ZOCO_RC_FAILED;
    }
    std::free(buffer);
    if (rc != ZOCO_RC_OK) disconnect();
  }
  trace("WINSOCK XchangeHostSeed: Exit");
  return rc;
}

std::int32_t ZoCoSock::startServer(std::uint16_t serverId, const char* userId,
                                   const char* password) {
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(kDatastreamBuffer));
  trace("WINSOCK startServer: Entry");
  std::int32_t rc;
  if (!buffer) {
    trace("  Cannot allocate memory");
    rc = ZOCO_RC_FAILED;
  } else {
    trace(userId ? userId : "");
    std::size_t len = buildStartRequest(buffer, kDatastreamBuffer, serverId, userId ? userId : "",
                                        password ? password : "", clientSeed_, hostSeed_);
    // The substitute is the last 8 bytes of the request; the data log shows
    // filler in its place.
    setLogMask(buffer + len - 8, 8);
    rc = send(buffer, static_cast<std::int32_t>(len));
    if (rc == ZOCO_RC_OK) rc = flush();
    setLogMask(nullptr, 0);
    std::memset(buffer, 0, len);
    std::int32_t received = 0;
    if (rc == ZOCO_RC_OK) rc = receiveReply(buffer, kStartReplyLength, &received);
    if (rc == ZOCO_RC_OK) {
      ReplyCodes codes;
      int r = parseStartReply(buffer, received, codes);
      if (r != kReplyAccepted || codes.returnCode != 0) rc = ZOCO_RC_FAILED;
    }
    std::free(buffer);
    if (rc != ZOCO_RC_OK) disconnect();
  }
  trace("WINSOCK startServer: Exit");
  return rc;
}

std::int32_t ZoCoSock::encryptPwd(ZoCoPwdBlock* block) {
  trace("WINSOCK encryptPwd: Entry");
  encryptPwdBlock(block);
  trace("WINSOCK encryptPwd: Exit\n");
  return ZOCO_RC_OK;
}

std::int32_t ZoCoSock::encryptNewPwd(ZoCoNewPwdBlock* block) {
  trace("WINSOCK encryptNewPwd: Entry");
  encryptNewPwdBlock(block);
  trace("WINSOCK encryptNewPwd: Exit\n");
  return ZOCO_RC_OK;
}

}  // namespace zw
