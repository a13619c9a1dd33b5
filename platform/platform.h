// The operating-system seam.  Everything the library and lockswap ask of the
// system goes through here, in the shape of the Windows calls they were
// written for: Windows Sockets 1.1 with WSA error codes, registry reads,
// threads with timed waits, process information and delayed file
// operations.  Two backends implement it: posix/ (BSD sockets and small
// stand-ins for what Linux lacks) and win32/ (the real Windows calls).
//
// Every call passes through the fault hooks of fault.h first, so tests can
// make any of them fail with a chosen error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zw::plat {

// ---------------------------------------------------------------------------
// Windows Sockets 1.1.  Constants carry the Windows values; the POSIX backend
// translates them.
// ---------------------------------------------------------------------------
using Socket = std::intptr_t;
inline constexpr Socket kInvalidSocket = -1;
inline constexpr int kSocketError = -1;

inline constexpr int kAfInet = 2;
inline constexpr int kAfIpx = 6;
inline constexpr int kSockStream = 1;
inline constexpr int kSockDgram = 2;
inline constexpr int kNsProtoIpx = 1000;
inline constexpr int kNsProtoSpx = 1256;

inline constexpr int kSolSocket = 0xffff;
inline constexpr int kSoBroadcast = 0x0020;
inline constexpr int kSoLinger = 0x0080;
inline constexpr int kSoSndBuf = 0x1001;
inline constexpr int kSoRcvBuf = 0x1002;
inline constexpr int kIpProtoTcp = 6;
inline constexpr int kTcpNoDelay = 1;
inline constexpr long kFionbio = static_cast<long>(0x8004667EL);

// WSA error codes.
enum WsaError : int {
  kWsaEintr = 10004,
  kWsaEbadf = 10009,
  kWsaEacces = 10013,
  kWsaEfault = 10014,
  kWsaEinval = 10022,
  kWsaEmfile = 10024,
  kWsaEwouldblock = 10035,
  kWsaEinprogress = 10036,
  kWsaEalready = 10037,
  kWsaEnotsock = 10038,
  kWsaEdestaddrreq = 10039,
  kWsaEmsgsize = 10040,
  kWsaEprototype = 10041,
  kWsaEnoprotoopt = 10042,
  kWsaEprotonosupport = 10043,
  kWsaEsocktnosupport = 10044,
  kWsaEopnotsupp = 10045,
  kWsaEpfnosupport = 10046,
  kWsaEafnosupport = 10047,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEnetunreach = 10051,
  kWsaEnetreset = 10052,
  kWsaEconnaborted = 10053,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEisconn = 10056,
  kWsaEnotconn = 10057,
  kWsaEshutdown = 10058,
  kWsaEtoomanyrefs = 10059,
  kWsaEtimedout = 10060,
  kWsaEconnrefused = 10061,
  kWsaEloop = 10062,
  kWsaEnametoolong = 10063,
  kWsaEhostdown = 10064,
  kWsaEhostunreach = 10065,
  kWsaSysNotReady = 10091,
  kWsaVerNotSupported = 10092,
  kWsaNotInitialised = 10093,
  kWsaHostNotFound = 11001,
  kWsaTryAgain = 11002,
  kWsaNoRecovery = 11003,
  kWsaNoData = 11004,
};

// The start-up record of WSAStartup, in the fields the library reads.
struct WsaData {
  std::uint16_t version = 0;
  std::uint16_t highVersion = 0;
  char description[257] = {};
  char systemStatus[129] = {};
};

// Socket addresses are the Windows byte layouts: sockaddr_in (16 bytes:
// family, port big-endian, address, 8 zeros) and sockaddr_ipx (14 bytes:
// family, 4-byte network, 6-byte node, 2-byte socket big-endian).  The family
// is stored in the machine's byte order.
inline constexpr int kSockAddrInLen = 16;
inline constexpr int kSockAddrIpxLen = 14;

int WSAStartup(std::uint16_t version, WsaData* data);  // 0 or a WSA code
int WSACleanup();
int WSAGetLastError();  // per thread
void WSASetLastError(int error);

Socket socket(int af, int type, int protocol);
int closesocket(Socket s);
int connect(Socket s, const void* addr, int addrLen);
int bind(Socket s, const void* addr, int addrLen);
int listen(Socket s, int backlog);
Socket accept(Socket s, void* addr, int* addrLen);
int send(Socket s, const void* data, int length, int flags);
int recv(Socket s, void* buffer, int length, int flags);
int setsockopt(Socket s, int level, int name, const void* value, int length);
int getsockopt(Socket s, int level, int name, void* value, int* length);
int getsockname(Socket s, void* addr, int* addrLen);
int ioctlsocket(Socket s, long cmd, std::uint32_t* arg);

// inet_addr: a dotted IPv4 text (also its short, octal and hexadecimal
// forms) to a network-order address; 0xFFFFFFFF when it is not one.
std::uint32_t inet_addr(const char* text);
// gethostbyname, reduced to what the library reads: the first IPv4 address
// of the name, network order.  Answers false (with the WSA code set) when
// the name does not resolve.
bool gethostbyname(const char* name, std::uint32_t* address);

// ---------------------------------------------------------------------------
// Registry.  Root keys and value types carry the Windows values.  Answers are
// Windows error codes: 0 success, 2 not found, 5 access denied, 234 more data.
// ---------------------------------------------------------------------------
enum class RegRoot { CurrentUser, LocalMachine };
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorPathNotFound = 3;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;

struct RegKeyImpl;
using RegKey = RegKeyImpl*;

long regOpenKey(RegRoot root, const char* subKey, RegKey* key);
long regCreateKey(RegRoot root, const char* subKey, RegKey* key);
// Reads a value: on entry *length is the buffer's size; on return the size
// of the value (REG_SZ counts its terminating zero).
long regQueryValue(RegKey key, const char* name, std::uint32_t* type, void* data,
                   std::uint32_t* length);
long regSetValue(RegKey key, const char* name, std::uint32_t type, const void* data,
                 std::uint32_t length);
long regDeleteValue(RegKey key, const char* name);
// The index-th subkey name of the key, in the order of the store.
long regEnumKey(RegKey key, std::uint32_t index, std::string* name);
long regCloseKey(RegKey key);

// ---------------------------------------------------------------------------
// Threads and timed waits.
// ---------------------------------------------------------------------------
struct ThreadImpl;
using Thread = ThreadImpl*;
using ThreadMain = std::uint32_t (*)(void* arg);

inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kStillActive = 259;

// Starts a thread running main(arg); null on failure (last error set).
Thread createThread(std::size_t stackSize, ThreadMain main, void* arg);
std::uint32_t waitForSingleObject(Thread thread, std::uint32_t milliseconds);
bool getExitCodeThread(Thread thread, std::uint32_t* code);  // kStillActive while running
// Releases the handle; a thread still running goes on and cleans up itself.
bool closeHandle(Thread thread);
// Waits, up to the given time in all, for the threads whose handles were
// closed while they ran; the library's unload calls it, so no thread of the
// library runs on in code that is about to be unmapped.
void joinAbandonedThreads(std::uint32_t milliseconds);
std::uint32_t getLastError();
void setLastError(std::uint32_t error);
void sleep(std::uint32_t milliseconds);

// ---------------------------------------------------------------------------
// Process information.
// ---------------------------------------------------------------------------
struct SystemTime {
  std::uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
// Full path of the running executable; answers its length, 0 on failure.
std::uint32_t getModuleFileName(char* buffer, std::uint32_t size);
std::uint32_t getCurrentProcessId();
void getLocalTime(SystemTime* time);
std::uint32_t getTickCount();  // milliseconds since boot, wrapping at 32 bits
std::int64_t timeNow();        // calendar time: seconds since 1970-01-01 UTC

// ---------------------------------------------------------------------------
// Files: the trace file and the logs.  Appends are whole writes, so lines of
// several processes interleave but never tear.
// ---------------------------------------------------------------------------
struct FileImpl;
using File = FileImpl*;

// Opens for appending, creating the file (owner-only on POSIX); null on failure.
File fileOpenAppend(const char* path);
bool fileWrite(File file, const void* data, std::size_t length);
void fileClose(File file);
// The directory of the trace file and the logs, without a trailing separator;
// created when missing.  kPathSeparator is what is put between it and a name.
std::string traceDirectory();
extern const char kPathSeparator;

// ---------------------------------------------------------------------------
// Message files ("QVXCOMSG.DLL", "QVXMSG.DLL", "QVXLINKW.DLL").  The text of
// a message by number, its placeholders %1 to %5 left as they are, lines
// joined with '\n' and without a final line end.  Answers false (text
// untouched) when the file or the message is not there.  POSIX reads the
// tables compiled into the library; Windows reads the message-table files,
// beside the library first, then where the system looks for libraries.
// ---------------------------------------------------------------------------
bool loadMessageText(const char* fileName, std::uint32_t number, std::string* text);
// Whether the message file is there at all (fault hook: loadMessageText).
bool messageFileExists(const char* fileName);

// ---------------------------------------------------------------------------
// Delayed file operations and paths, for lockswap.
// ---------------------------------------------------------------------------
// GetFullPathNameA: answers the length written (without terminator), or the
// size needed when the buffer is too small, 0 on failure.
std::uint32_t getFullPathName(const char* path, char* buffer, std::uint32_t size);
// GetShortPathNameA: 0 on failure (last error: 2 or 3 for a missing file).
std::uint32_t getShortPathName(const char* path, char* buffer, std::uint32_t size);
struct OsVersion {
  std::uint32_t sizeOfRecord = 148;
  std::uint32_t majorVersion = 0, minorVersion = 0, buildNumber = 0;
  std::uint32_t platformId = 0;  // 2 = the NT family, 1 = Windows 95/98
  char csdVersion[128] = {};
};
bool getVersionEx(OsVersion* version);
inline constexpr std::uint32_t kMoveFileReplaceExisting = 1;
inline constexpr std::uint32_t kMoveFileDelayUntilReboot = 4;
// MoveFileExA; newName null deletes.  With kMoveFileDelayUntilReboot the
// operation is recorded for the next restart.
bool moveFileEx(const char* existing, const char* newName, std::uint32_t flags);
// Withdraws the latest delayed operation recorded by moveFileEx for existing
// and newName (null: a deletion); false with last error 2 when there is none.
// On Windows this edits the PendingFileRenameOperations list of the Session
// Manager key.
bool cancelDelayedMove(const char* existing, const char* newName);
// WritePrivateProfileStringA: value null deletes the key, key null the
// section.  The "Rename" section of WININIT.INI is a list of restart
// operations, not a map: there every write adds a line (several NUL= lines
// stand side by side) and a null value withdraws the latest line of the key.
bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);
std::uint32_t getWindowsDirectory(char* buffer, std::uint32_t size);

}  // namespace zw::plat
