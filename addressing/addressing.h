// Host addressing and server lookup: a system name becomes an IP address or
// an IPX network number (with the per-system address cache), the host's
// server mapper gives a server program's port, and sockets are created,
// configured, bound and connected.  All steps work on a connection
// description and report through diag/report.h.
#pragma once

#include <cstdint>

#include "outside/bblib.h"
#include "platform/platform.h"
#include "zelwire/zelwire.h"

namespace zw {

// Address resolution and cache.
std::int32_t resolveHostAddress(ZoCoConnDesc* desc, const void* knownNetwork,
                                const char* addressTextIn, std::uint32_t statusValue);
void storeIPAddress(ZoCoConnDesc* desc);
void storeIPXAddress(ZoCoConnDesc* desc);

// IP host address lookup: 0, 12 or 22.
std::int32_t getHostIPAddr(ZoCoConnDesc* desc, const char* addressTextIn);

// IPX address lookup.
std::int32_t getHostIPXAddr(ZoCoConnDesc* desc, const void* knownNetwork,
                            const char* addressTextIn);
std::int32_t parseIPXAddress(const char* text, bool prefixed, std::uint32_t* result);
ZoNlString formatIPXAddress(const std::uint8_t* sockAddrIpx);
void bytesToHex(const std::uint8_t* bytes, std::size_t count, char* out);

// Server port lookup and server connect.
std::int32_t lookupServerPort(ZoCoConnDesc* desc, std::uint32_t statusValue);
std::int32_t connectToMapper(ZoCoConnDesc* desc, plat::Socket* sockOut, std::uint32_t statusValue);
std::int32_t connectToServer(ZoCoConnDesc* desc, plat::Socket* sockOut, std::uint32_t statusValue);
std::int32_t closeSocket(ZoCoConnDesc* desc, plat::Socket s, std::uint32_t statusValue);

// Socket creation, cancellable connect and local port binding.
std::int32_t connectToPort(ZoCoConnDesc* desc, plat::Socket* sockOut, std::uint32_t statusValue);
plat::Socket getSocket(ZoCoConnDesc* desc, std::uint32_t statusValue);
std::int32_t setSocketOptions(plat::Socket s, ZoCoConnDesc* desc, std::uint32_t statusValue);
std::int32_t bindRandom(ZoCoConnDesc desc, plat::Socket s);

}  // namespace zw
