// Fault injection and observation over the platform seam.
//
// Every platform call first asks injected() whether a test wants it to fail;
// if so the call fails at once with the armed error (as a WSA code for the
// sockets calls, a Windows error code for the others) and touches nothing.
// Tests can also count calls, watch them through an observer, and read how
// many sockets, threads and files are open.
//
// Nothing here costs more than a few relaxed atomic loads while nothing is
// armed.
#pragma once

#include <cstdint>

namespace zw::plat::fault {

enum class Call : int {
  WSAStartup, WSACleanup, socket, closesocket, connect, bind, listen, accept, send, recv,
  setsockopt, getsockopt, getsockname, ioctlsocket, gethostbyname,
  regOpenKey, regCreateKey, regQueryValue, regSetValue, regDeleteValue, regEnumKey,
  createThread, waitForSingleObject, getExitCodeThread, getModuleFileName,
  fileOpenAppend, fileWrite,
  getFullPathName, getShortPathName, getVersionEx, moveFileEx, writePrivateProfileString,
  getWindowsDirectory, cancelDelayedMove, loadMessageText,
  kCount
};

const char* callName(Call call);

// The nth (1-based) coming call of this kind fails with error; nth 0 makes
// every coming call of this kind fail until reset().
void failCall(Call call, int error, unsigned nth = 1);
// The nth coming platform call of any kind fails with error.
void failNthCall(std::uint64_t nth, int error);
// Disarms everything and zeroes the counters.
void reset();

std::uint64_t callCount();           // all calls since reset()
std::uint64_t callCount(Call call);  // calls of one kind since reset()

// An observer sees every call after it completed: its main argument (the
// length for send and recv, the socket for the others where there is one)
// and its result.  It may be called from any thread.
using Observer = void (*)(Call call, std::intptr_t arg, std::intptr_t result, void* context);
void setObserver(Observer observer, void* context);

// A tracer sees every call as it enters the hook, before it does anything:
// its kind and whether a fault is injected into it.  It runs on the calling
// thread, so with several threads the order is the order of entry.
using Tracer = void (*)(Call call, bool failed, void* context);
void setTracer(Tracer tracer, void* context);

// For the backends: counts the call and answers whether it is to fail.
bool injected(Call call, int* error);
void observe(Call call, std::intptr_t arg, std::intptr_t result);

// Resources held open right now, counted by the backends.
int openSockets();
int runningThreads();
int openFiles();
void countSocket(int delta);
void countThread(int delta);
void countFile(int delta);

// Threads started and not joined yet.  A thread that has ended keeps its
// stack until it is joined, so they must not pile up in a long process.
int unjoinedThreads();
void countUnjoinedThread(int delta);

// Closes asked of a socket that is not open: a socket closed twice, or one
// never made.  The backends count them; a sound caller makes none.
int unknownCloses();
void countUnknownClose();

}  // namespace zw::plat::fault
