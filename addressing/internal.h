// Steps of host addressing that are not part of the interface other folders
// use, declared here for the step functions that call each other and for the
// tests.
#pragma once

#include <cstdint>

#include "addressing/addressing.h"
#include "addressing/sap_response.h"

namespace zw {

// A caller's text, or "" for null, so a missing name never reaches a
// message insert or a comparison as a null pointer.
inline const char* textOrEmpty(const char* text) { return text ? text : ""; }
inline bool hasText(const char* text) { return text && *text; }

// The cancel query of the lookups: ReportStatus is asked only when the
// description wants cancellable work.
bool cancelQuery(ZoCoConnDesc* desc);

// The IPX service query on the local network.
plat::Socket openQuerySocket(ZoCoConnDesc* desc);
std::int32_t connectQuerySocket(plat::Socket s, ZoCoConnDesc* desc);
std::int32_t sendGenlSvcQry(plat::Socket s, ZoCoConnDesc* desc);
// Length of the datagram received into buffer (450 bytes), 0 when none came
// within the receive phase, or -1.
std::int32_t rcvGenlSvcQry(plat::Socket s, ZoCoConnDesc* desc, std::uint8_t* buffer);

inline constexpr int kSapPollsPerPhase = 10000;
// A receive phase also lasts at least this long: on a current machine 10000
// polls pass in a few milliseconds, before a host can answer at all.
inline constexpr std::uint32_t kSapMinPhaseMs = 500;

// The connect proper, on the calling thread or as the body of the worker.
// *s is replaced when a replacement socket connects.
std::int32_t connectWorker(plat::Socket* s, const void* address, int addressLength,
                           ZoCoConnDesc* desc);
// Runs connectWorker on a worker thread while the calling thread polls
// ReportStatus; *s receives the socket that connected.
std::int32_t connectOnWorker(plat::Socket* s, const void* address, int addressLength,
                             ZoCoConnDesc* desc);

// Local port choice of bindRandom.
inline constexpr std::uint16_t kFirstLocalPort = 1025;
inline constexpr std::uint16_t kLastLocalPort = 4999;
std::uint32_t localPortSeed(const plat::SystemTime& time, std::uint32_t processId);
std::uint16_t localPortFromSeed(std::uint32_t seed);
std::uint16_t followingLocalPort(std::uint16_t port);
// True when the executable path names one of the programs that bind a local
// port of their own.
bool bindsLocalPort(const char* executablePath);

// Process-wide state of bindRandom, for tests: the port most recently chosen
// (0: none yet), and a reset that also forgets the binding decision.
std::uint16_t nextLocalPort();
void setNextLocalPort(std::uint16_t port);
void resetLocalPortState();

}  // namespace zw
