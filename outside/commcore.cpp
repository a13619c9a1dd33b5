// The configuration service on the registry stand-in.
//
// Under HKEY_CURRENT_USER\Software\Morvex\Varnilo\CurrentVersion:
//   Systems\<system>            one key per host system (name as given; "\" -> "_")
//     "TCPMaxSendAmt"           dword, default 0 (no limit)
//     "IPXMaxSendAmt"           dword, default 576
//     "DisableDNSLookup"        dword, default 0 (ask the name service)
//     "IPAddrLookupMode"        dword, default 5 (the cached address may be used)
//     "IPAddr"                  text, the cached IP address   } of the empty scope;
//     "IPXAddr"                 dword, the cached IPX network } "IPAddr:<scope>" and
//                                                               "IPXAddr:<scope>" otherwise
//     "LocalConnectedName"      text, the local address of the last signed-on connect
//   HostServers\<key name>      one key per host server; without this key the
//                               built-in list below is used
//     "PingMe"                  dword, 1 = the connection check pings it (default 1)
//     "IPTP", "IPXTP"           text, the program name for TCP/IP and for IPX
//                               (no default: a server without one is pinged as "ERROR")
//     "PingFailSev"             dword, 5 or less warning, 6 or more error (default 5)
#include "outside/commcore.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zw {
namespace {

const char* const kBase = "Software\\Morvex\\Varnilo\\CurrentVersion";
constexpr ZOCO_COMM_RETURN_CODE kOk = 0;
constexpr ZOCO_COMM_RETURN_CODE kNotFound = 2;
constexpr ZOCO_COMM_RETURN_CODE kInvalidData = 13;
constexpr ZOCO_COMM_RETURN_CODE kNoMoreItems = 259;

struct BuiltInServer {
  const char* keyName;
  const char* program;
  std::uint32_t failSeverity;
};

// The host servers a fresh install checks.  The central and sign-on servers
// are needed for any work, so their silence is an error; the others warn.
const BuiltInServer kBuiltInServers[] = {
    {"Central", "as-central", 6},      {"Database", "as-database", 5},
    {"File", "as-file", 5},            {"NetPrint", "as-netprt", 5},
    {"RemoteCommand", "as-rmtcmd", 5}, {"Signon", "as-signon", 6},
};

std::string systemKey(const ZoNlString& system) {
  std::string key = std::string(kBase) + "\\Systems\\";
  for (char c : system) key += (c == '\\') ? '_' : c;
  return key;
}

std::string scoped(const char* name, const ZoNlString& scope) {
  return scope.empty() ? std::string(name) : std::string(name) + ":" + scope;
}

std::string serversKey() { return std::string(kBase) + "\\HostServers"; }

long readDword(const std::string& key, const char* name, std::uint32_t* out) {
  plat::RegKey k = nullptr;
  long rc = plat::regOpenKey(plat::RegRoot::CurrentUser, key.c_str(), &k);
  if (rc != plat::kErrorSuccess) return rc;
  std::uint32_t type = 0, value = 0, length = sizeof value;
  rc = plat::regQueryValue(k, name, &type, &value, &length);
  plat::regCloseKey(k);
  if (rc != plat::kErrorSuccess) return rc;
  if (type != plat::kRegDword || length != sizeof value) return kInvalidData;
  *out = value;
  return kOk;
}

long readText(const std::string& key, const char* name, std::string* out) {
  plat::RegKey k = nullptr;
  long rc = plat::regOpenKey(plat::RegRoot::CurrentUser, key.c_str(), &k);
  if (rc != plat::kErrorSuccess) return rc;
  std::uint32_t type = 0, length = 0;
  rc = plat::regQueryValue(k, name, &type, nullptr, &length);
  std::vector<char> buffer(length + 1, '\0');
  if (rc == plat::kErrorSuccess)
    rc = plat::regQueryValue(k, name, &type, buffer.data(), &length);
  plat::regCloseKey(k);
  if (rc != plat::kErrorSuccess) return rc;
  if (type != plat::kRegSz) return kInvalidData;
  *out = std::string(buffer.data());  // up to the terminator
  return kOk;
}

long writeValue(const std::string& key, const char* name, std::uint32_t type, const void* data,
                std::uint32_t length) {
  plat::RegKey k = nullptr;
  long rc = plat::regCreateKey(plat::RegRoot::CurrentUser, key.c_str(), &k);
  if (rc != plat::kErrorSuccess) return rc;
  rc = plat::regSetValue(k, name, type, data, length);
  plat::regCloseKey(k);
  return rc;
}

long writeText(const std::string& key, const char* name, const std::string& text) {
  return writeValue(key, name, plat::kRegSz, text.c_str(),
                    static_cast<std::uint32_t>(text.size() + 1));
}

std::uint32_t dwordOr(const std::string& key, const char* name, std::uint32_t fallback) {
  std::uint32_t value = 0;
  return readDword(key, name, &value) == kOk ? value : fallback;
}

// True when the user configured the host-server list.
bool userServerList() {
  plat::RegKey k = nullptr;
  if (plat::regOpenKey(plat::RegRoot::CurrentUser, serversKey().c_str(), &k) !=
      plat::kErrorSuccess)
    return false;
  plat::regCloseKey(k);
  return true;
}

const BuiltInServer* builtIn(const ZoNlString& keyName) {
  for (const BuiltInServer& s : kBuiltInServers)
    if (keyName == s.keyName) return &s;
  return nullptr;
}

}  // namespace

std::int32_t ZoCoSystemConfig::getTCPMaxSendAmt(const ZoNlString& system, const ZoNlString&) {
  return static_cast<std::int32_t>(dwordOr(systemKey(system), "TCPMaxSendAmt", 0));
}

std::int32_t ZoCoSystemConfig::getIPXMaxSendAmt(const ZoNlString& system, const ZoNlString&) {
  return static_cast<std::int32_t>(dwordOr(systemKey(system), "IPXMaxSendAmt", 576));
}

void ZoCoSystemConfig::setLocalConnectedName(const ZoNlString& system,
                                             const ZoNlString& localAddress) {
  writeText(systemKey(system), "LocalConnectedName", localAddress);
}

std::uint32_t ZoCoSystemConfig::getDisableDNSLookup(const ZoNlString& system) {
  return dwordOr(systemKey(system), "DisableDNSLookup", 0);
}

std::uint32_t ZoCoSystemConfig::getIPAddrLookupMode(const ZoNlString& system, const ZoNlString&) {
  return dwordOr(systemKey(system), "IPAddrLookupMode", 5);
}

ZoNlString ZoCoSystemConfig::getIPAddr(const ZoNlString& system, const ZoNlString& scope) {
  std::string text;
  return readText(systemKey(system), scoped("IPAddr", scope).c_str(), &text) == kOk ? text : "";
}

std::uint32_t ZoCoSystemConfig::setIPAddr(const ZoNlString& system, const ZoNlString& address,
                                          const ZoNlString& scope) {
  return writeText(systemKey(system), scoped("IPAddr", scope).c_str(), address) == kOk ? 1 : 0;
}

std::uint32_t ZoCoSystemConfig::getIPXAddr(const ZoNlString& system, const ZoNlString& scope) {
  return dwordOr(systemKey(system), scoped("IPXAddr", scope).c_str(), 0);
}

std::uint32_t ZoCoSystemConfig::setIPXAddr(const ZoNlString& system, std::uint32_t network,
                                           const ZoNlString& scope) {
  return writeValue(systemKey(system), scoped("IPXAddr", scope).c_str(), plat::kRegDword,
                    &network, sizeof network) == kOk
             ? 1
             : 0;
}

ZOCO_COMM_RETURN_CODE ZoCoSystemConfig::getNumHostServers(std::uint32_t* count) {
  if (!count) return kInvalidData;
  if (!userServerList()) {
    *count = static_cast<std::uint32_t>(std::size(kBuiltInServers));
    return kOk;
  }
  plat::RegKey k = nullptr;
  long rc = plat::regOpenKey(plat::RegRoot::CurrentUser, serversKey().c_str(), &k);
  if (rc != plat::kErrorSuccess) return static_cast<ZOCO_COMM_RETURN_CODE>(rc);
  std::uint32_t n = 0;
  std::string name;
  while ((rc = plat::regEnumKey(k, n, &name)) == plat::kErrorSuccess) ++n;
  plat::regCloseKey(k);
  if (rc != static_cast<long>(kNoMoreItems)) return static_cast<ZOCO_COMM_RETURN_CODE>(rc);
  *count = n;
  return kOk;
}

ZOCO_COMM_RETURN_CODE ZoCoSystemConfig::getHostServerKeyName(std::uint32_t index,
                                                             ZoNlString* keyName) {
  if (!keyName) return kInvalidData;
  if (!userServerList()) {
    if (index >= std::size(kBuiltInServers)) return kNoMoreItems;
    *keyName = kBuiltInServers[index].keyName;
    return kOk;
  }
  plat::RegKey k = nullptr;
  long rc = plat::regOpenKey(plat::RegRoot::CurrentUser, serversKey().c_str(), &k);
  if (rc != plat::kErrorSuccess) return static_cast<ZOCO_COMM_RETURN_CODE>(rc);
  rc = plat::regEnumKey(k, index, keyName);
  plat::regCloseKey(k);
  return static_cast<ZOCO_COMM_RETURN_CODE>(rc);
}

ZOCO_COMM_RETURN_CODE ZoCoSystemConfig::getHostServerPingMe(const ZoNlString& keyName,
                                                            std::int32_t* pingMe) {
  if (!pingMe) return kInvalidData;
  if (!userServerList()) {
    if (!builtIn(keyName)) return kNotFound;
    *pingMe = 1;
    return kOk;
  }
  std::uint32_t value = 1;
  long rc = readDword(serversKey() + "\\" + keyName, "PingMe", &value);
  if (rc != kOk && rc != kNotFound) return static_cast<ZOCO_COMM_RETURN_CODE>(rc);
  *pingMe = static_cast<std::int32_t>(value);
  return kOk;
}

static ZOCO_COMM_RETURN_CODE programName(const ZoNlString& keyName, const char* valueName,
                                         ZoNlString* program) {
  if (!program) return kInvalidData;
  if (!userServerList()) {
    const BuiltInServer* s = builtIn(keyName);
    if (!s) return kNotFound;
    *program = s->program;
    return kOk;
  }
  return static_cast<ZOCO_COMM_RETURN_CODE>(
      readText(serversKey() + "\\" + keyName, valueName, program));
}

ZOCO_COMM_RETURN_CODE ZoCoSystemConfig::getHostServerIPTP(const ZoNlString& keyName,
                                                          ZoNlString* program) {
  return programName(keyName, "IPTP", program);
}

ZOCO_COMM_RETURN_CODE ZoCoSystemConfig::getHostServerIPXTP(const ZoNlString& keyName,
                                                           ZoNlString* program) {
  return programName(keyName, "IPXTP", program);
}

ZOCO_COMM_RETURN_CODE ZoCoSystemConfig::getHostServerPingFailSev(const ZoNlString& keyName,
                                                                 std::uint32_t* severity) {
  if (!severity) return kInvalidData;
  if (!userServerList()) {
    const BuiltInServer* s = builtIn(keyName);
    if (!s) return kNotFound;
    *severity = s->failSeverity;
    return kOk;
  }
  std::uint32_t value = 5;
  long rc = readDword(serversKey() + "\\" + keyName, "PingFailSev", &value);
  if (rc != kOk && rc != kNotFound) return static_cast<ZOCO_COMM_RETURN_CODE>(rc);
  *severity = value;
  return kOk;
}

}  // namespace zw
