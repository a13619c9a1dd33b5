// Socket creation and options, and the connect to the host's port: on the
// calling thread, or on a worker thread that the caller can abandon through
// ReportStatus.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "addressing/internal.h"
#include "diag/report.h"
#include "diag/trace.h"

namespace zw {
namespace {

constexpr int kMaxSocketsTried = 10;
constexpr std::uint32_t kWaitSliceMs = 100;
constexpr std::size_t kWorkerStackSize = 32;
constexpr int kMaxAddressLength = plat::kSockAddrInLen;

// What the worker and the waiting side share.  Each holds one reference;
// whichever lets go last frees it.
//
// Sockets: the worker keeps the lock for all its work except the platform
// connect itself, so the waiting side can only act on a socket while the
// worker has not started, is inside a connect, or has finished.  When it
// abandons the worker it closes the current socket itself only when the
// worker is not inside a connect; otherwise the worker closes it when the
// connect returns.  So no socket is closed twice, and no socket is closed
// while the other thread is using it.
struct WorkerBlock {
  std::atomic<int> holds{2};

  std::mutex mutex;
  plat::Socket current = plat::kInvalidSocket;  // the socket the worker works on
  plat::Socket takenByWaiter = plat::kInvalidSocket;
  plat::Socket connected = plat::kInvalidSocket;
  bool inConnect = false;
  bool abandoned = false;

  // The caller's callback, reached by the worker only through
  // workerReportStatus; cleared when the worker is abandoned.
  std::mutex callbackMutex;
  ZoCoReportStatus callback = nullptr;

  // Set before the worker starts and read only by it.
  plat::Socket firstSocket = plat::kInvalidSocket;
  std::uint8_t address[kMaxAddressLength] = {};
  int addressLength = 0;
  ZoCoConnDesc desc;  // the worker's own copy

  void release() {
    if (holds.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

thread_local WorkerBlock* tWorkerBlock = nullptr;

// ReportStatus of the worker's copy of the description: forwards to the
// caller's callback until the waiting side has given up on the worker.
std::int32_t ZELWIRE_CALL workerReportStatus(ZoCoStatus* status) {
  WorkerBlock* block = tWorkerBlock;
  if (!block) return 0;
  std::lock_guard<std::mutex> lock(block->callbackMutex);
  if (!block->callback) {
    libTrace(&block->desc)
        .text(" - ReportStatus being called; it is NULL; cannot cancel.")
        .endLine();
    return 0;
  }
  return block->callback(status);
}

// The sockets of one connect.  On the calling thread (no block) the connect
// owns every socket it makes; on the worker the rules of WorkerBlock apply.
class ConnectSockets {
 public:
  explicit ConnectSockets(WorkerBlock* block) : block_(block) {
    if (block_) block_->mutex.lock();
  }
  ~ConnectSockets() {
    if (block_) block_->mutex.unlock();
  }
  ConnectSockets(const ConnectSockets&) = delete;
  ConnectSockets& operator=(const ConnectSockets&) = delete;

  bool abandoned() const { return block_ && block_->abandoned; }

  // s becomes the socket the waiting side would see.
  void track(plat::Socket s) {
    if (block_) block_->current = s;
  }

  int connect(plat::Socket s, const void* address, int addressLength) {
    if (!block_) return plat::connect(s, address, addressLength);
    block_->inConnect = true;
    block_->mutex.unlock();
    const int rc = plat::connect(s, address, addressLength);
    const int error = plat::WSAGetLastError();
    block_->mutex.lock();
    block_->inConnect = false;
    plat::WSASetLastError(error);
    return rc;
  }

  void close(ZoCoConnDesc* desc, plat::Socket s) {
    if (block_) {
      if (block_->abandoned && s == block_->takenByWaiter) return;
      if (s == block_->current) block_->current = plat::kInvalidSocket;
    }
    closeSocket(desc, s, 0);
  }

  // The connect is over: connectedSocket (or none) is the result.
  void finish(plat::Socket connectedSocket) {
    if (!block_) return;
    block_->connected = connectedSocket;
    block_->current = connectedSocket;
  }

 private:
  WorkerBlock* block_;
};

std::int32_t connectSockets(plat::Socket* s, const void* address, int addressLength,
                            ZoCoConnDesc* desc, WorkerBlock* block) {
  ConnectSockets sockets(block);
  // Given up on before it began: the waiting side has closed the socket.
  if (sockets.abandoned()) return ZOCO_RC_CANCELLED;

  const bool tcp = desc->networkType == ZOCO_NET_TCPIP;
  plat::Socket tried[kMaxSocketsTried];
  int count = 0;
  tried[count++] = *s;

  std::int32_t rc = ZOCO_RC_OK;
  if (tcp) {
    rc = bindRandom(*desc, *s);
    if (rc != ZOCO_RC_OK) {
      sockets.close(desc, *s);
      sockets.finish(plat::kInvalidSocket);
      return rc;
    }
  }

  int connectedIndex = -1;
  int error = 0;
  if (sockets.connect(*s, address, addressLength) == 0) {
    connectedIndex = 0;
  } else {
    error = plat::WSAGetLastError();
    while (error == plat::kWsaEaddrinuse && count < kMaxSocketsTried && !sockets.abandoned()) {
      const plat::Socket next = getSocket(desc, 0);
      if (next == plat::kInvalidSocket) {
        rc = ZOCO_RC_FAILED;
        break;
      }
      tried[count++] = next;
      sockets.track(next);
      if (tcp) {
        rc = bindRandom(*desc, next);
        if (rc != ZOCO_RC_OK) break;
      }
      if (sockets.connect(next, address, addressLength) == 0) {
        connectedIndex = count - 1;
        error = 0;
        break;
      }
      error = plat::WSAGetLastError();
    }
  }
  if (error != 0) {
    reportSocketError("connect", error, 0, desc);
    rc = ZOCO_RC_FAILED;
  }

  // An abandoned worker keeps nothing, not even a socket that connected.
  const bool keep = connectedIndex >= 0 && !sockets.abandoned();
  for (int i = 0; i < count; ++i)
    if (!keep || i != connectedIndex) sockets.close(desc, tried[i]);
  if (keep) {
    *s = tried[connectedIndex];
    sockets.finish(*s);
    return ZOCO_RC_OK;
  }
  sockets.finish(plat::kInvalidSocket);
  if (sockets.abandoned()) return ZOCO_RC_CANCELLED;
  return rc == ZOCO_RC_OK ? ZOCO_RC_FAILED : rc;
}

std::uint32_t workerMain(void* arg) {
  auto* block = static_cast<WorkerBlock*>(arg);
  tWorkerBlock = block;
  plat::Socket s = block->firstSocket;
  const std::int32_t rc =
      connectSockets(&s, block->address, block->addressLength, &block->desc, block);
  tWorkerBlock = nullptr;
  block->release();
  return static_cast<std::uint32_t>(rc);
}

// The waiting side gives up on the worker: no more callbacks, and the
// current socket is closed here unless the worker is inside its connect.
void abandonWorker(WorkerBlock* block, ZoCoConnDesc* desc) {
  {
    std::lock_guard<std::mutex> lock(block->callbackMutex);
    block->callback = nullptr;
  }
  plat::Socket take = plat::kInvalidSocket;
  {
    std::lock_guard<std::mutex> lock(block->mutex);
    block->abandoned = true;
    if (!block->inConnect) {
      take = block->current;
      block->takenByWaiter = take;
      block->current = plat::kInvalidSocket;
    }
  }
  if (take != plat::kInvalidSocket) closeSocket(desc, take, 0);
}

}  // namespace

plat::Socket getSocket(ZoCoConnDesc* desc, std::uint32_t statusValue) {
  if (!desc) return plat::kInvalidSocket;
  plat::Socket s = plat::kInvalidSocket;
  if (desc->networkType == ZOCO_NET_TCPIP) {
    s = plat::socket(plat::kAfInet, plat::kSockStream, 0);
  } else if (desc->networkType == ZOCO_NET_IPX) {
    s = plat::socket(plat::kAfIpx, plat::kSockStream, plat::kNsProtoSpx);
  } else {
    libTrace(desc)
        .text(" - getSocket given invalid network type: ")
        .number(desc->networkType)
        .endLine();
    reportMsg(desc, reportAction(desc->callReportStatus), statusValue,
              buildMsg(1099, 0, ZOCO_MSG_ERROR));
  }
  if (s == plat::kInvalidSocket) {
    reportSocketError("socket", plat::WSAGetLastError(), statusValue, desc);
  } else if (desc->networkType == ZOCO_NET_TCPIP) {
    setSocketOptions(s, desc, statusValue);
  }
  return s;
}

std::int32_t setSocketOptions(plat::Socket s, ZoCoConnDesc* desc, std::uint32_t statusValue) {
  if (!desc) return ZOCO_RC_FAILED;
  // Winsock's linger: l_onoff then l_linger, 16 bits each.
  const std::uint16_t linger[2] = {1, 60};
  if (plat::setsockopt(s, plat::kSolSocket, plat::kSoLinger, linger, sizeof linger) != 0) {
    reportSocketError("setsockopt-linger", plat::WSAGetLastError(), statusValue, desc);
    return ZOCO_RC_FAILED;
  }
  if (desc->naglingOn == 0) {
    const std::int32_t on = 1;
    if (plat::setsockopt(s, plat::kIpProtoTcp, plat::kTcpNoDelay, &on, sizeof on) != 0) {
      reportSocketError("setsockopt-nodelay", plat::WSAGetLastError(), statusValue, desc);
      return ZOCO_RC_FAILED;
    }
    return ZOCO_RC_OK;
  }
  const auto size = static_cast<std::int32_t>(desc->bufferBufLen);
  if (size > 0 &&
      plat::setsockopt(s, plat::kSolSocket, plat::kSoSndBuf, &size, sizeof size) != 0)
    reportSocketError("setsockopt-sndbuf", plat::WSAGetLastError(), statusValue, desc);
  return ZOCO_RC_OK;
}

std::int32_t connectToPort(ZoCoConnDesc* desc, plat::Socket* sockOut,
                           std::uint32_t statusValue) {
  if (!desc || !sockOut) return ZOCO_RC_INVALID;
  plat::Socket s = getSocket(desc, statusValue);
  *sockOut = s;
  if (s == plat::kInvalidSocket) return ZOCO_RC_FAILED;

  std::uint8_t address[kMaxAddressLength] = {};
  int length;
  const std::uint8_t port[2] = {static_cast<std::uint8_t>((desc->port >> 8) & 0xFF),
                                static_cast<std::uint8_t>(desc->port & 0xFF)};
  const std::uint32_t host = desc->hostAddress;
  if (desc->networkType == ZOCO_NET_IPX) {
    const auto family = static_cast<std::uint16_t>(plat::kAfIpx);
    std::memcpy(address, &family, 2);
    std::memcpy(address + 2, &host, 4);
    address[11] = 1;  // node 00 00 00 00 00 01
    std::memcpy(address + 12, port, 2);
    length = plat::kSockAddrIpxLen;
  } else {
    const auto family = static_cast<std::uint16_t>(plat::kAfInet);
    std::memcpy(address, &family, 2);
    std::memcpy(address + 2, port, 2);
    std::memcpy(address + 4, &host, 4);
    length = plat::kSockAddrInLen;
  }

  const std::int32_t rc = desc->checkCancel ? connectOnWorker(&s, address, length, desc)
                                            : connectWorker(&s, address, length, desc);
  // After a failure every socket of the attempt is closed: hand back none.
  *sockOut = rc == ZOCO_RC_OK ? s : plat::kInvalidSocket;
  return rc;
}

std::int32_t connectWorker(plat::Socket* s, const void* address, int addressLength,
                           ZoCoConnDesc* desc) {
  if (!s || !desc) return ZOCO_RC_INVALID;
  return connectSockets(s, address, addressLength, desc, nullptr);
}

std::int32_t connectOnWorker(plat::Socket* s, const void* address, int addressLength,
                             ZoCoConnDesc* desc) {
  if (!s || !desc) return ZOCO_RC_INVALID;
  if (!address || addressLength < 0 || addressLength > kMaxAddressLength) {
    closeSocket(desc, *s, 0);
    *s = plat::kInvalidSocket;
    return ZOCO_RC_INVALID;
  }
  auto* block = new (std::nothrow) WorkerBlock;
  if (!block) {
    closeSocket(desc, *s, 0);
    *s = plat::kInvalidSocket;
    return ZOCO_RC_NO_RESOURCE;
  }
  block->current = *s;
  block->firstSocket = *s;
  std::memcpy(block->address, address, static_cast<std::size_t>(addressLength));
  block->addressLength = addressLength;
  std::memcpy(&block->desc, desc, sizeof block->desc);
  block->callback = desc->ReportStatus;
  block->desc.ReportStatus = desc->ReportStatus ? workerReportStatus : nullptr;

  plat::Thread thread = plat::createThread(kWorkerStackSize, workerMain, block);
  bool ended = false;
  bool waitFailed = thread == nullptr;
  std::uint32_t lastError = waitFailed ? plat::getLastError() : 0;
  if (!thread) block->release();  // the worker's hold: it never started

  while (!waitFailed) {
    const std::uint32_t wait = plat::waitForSingleObject(thread, kWaitSliceMs);
    if (wait == plat::kWaitObject0) {
      ended = true;
      break;
    }
    if (wait != plat::kWaitTimeout) {
      waitFailed = true;
      lastError = plat::getLastError();
      break;
    }
    if (cancelRequested(desc)) break;
  }

  std::int32_t rc;
  if (cancelRequested(desc)) {
    abandonWorker(block, desc);
    rc = ZOCO_RC_CANCELLED;
  } else if (waitFailed) {
    abandonWorker(block, desc);
    libTrace(desc)
        .text(" - Wait for connection error, WaitForSingleObject() GLE=")
        .number(lastError)
        .endLine();
    rc = ZOCO_RC_INVALID;
  } else if (!ended) {
    // Asked to cancel in the loop, but not any more: the worker still runs.
    abandonWorker(block, desc);
    rc = ZOCO_RC_FAILED;
  } else {
    std::uint32_t code = plat::kStillActive;
    if (!plat::getExitCodeThread(thread, &code)) code = plat::kStillActive;
    plat::Socket connected = plat::kInvalidSocket;
    if (code == 0) {
      std::lock_guard<std::mutex> lock(block->mutex);
      connected = block->connected;
      block->current = plat::kInvalidSocket;  // handed to the caller
    }
    if (connected != plat::kInvalidSocket) {
      *s = connected;
      rc = ZOCO_RC_OK;
    } else {
      abandonWorker(block, desc);
      rc = ZOCO_RC_FAILED;
    }
  }
  if (rc != ZOCO_RC_OK) *s = plat::kInvalidSocket;
  if (thread) plat::closeHandle(thread);
  block->release();
  return rc;
}

}  // namespace zw
