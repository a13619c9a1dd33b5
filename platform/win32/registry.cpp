// The registry, through advapi32.  Keys and values are where the POSIX
// stand-in keeps them: the same sub-key paths under the same two roots.
#include <windows.h>

#include <new>

#include "platform/fault.h"
#include "platform/platform.h"

namespace zw::plat {

struct RegKeyImpl {
  HKEY key;
};

namespace {

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorOutOfMemory = 14;

HKEY rootKey(RegRoot root) {
  return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

long refusedWith(fault::Call call) {
  int error = 0;
  return fault::injected(call, &error) ? error : kErrorSuccess;
}

long wrap(HKEY opened, RegKey* key) {
  *key = new (std::nothrow) RegKeyImpl{opened};
  if (*key) return kErrorSuccess;
  ::RegCloseKey(opened);
  return kErrorOutOfMemory;
}

}  // namespace

long regOpenKey(RegRoot root, const char* subKey, RegKey* key) {
  if (long rc = refusedWith(fault::Call::regOpenKey)) return rc;
  if (!key) return kErrorInvalidParameter;
  *key = nullptr;
  HKEY opened = nullptr;
  // Readers and writers share this call; a key the user may only read
  // (much of HKEY_LOCAL_MACHINE) is opened for reading.
  long rc = ::RegOpenKeyExA(rootKey(root), subKey ? subKey : "", 0, KEY_READ | KEY_WRITE, &opened);
  if (rc == ERROR_ACCESS_DENIED)
    rc = ::RegOpenKeyExA(rootKey(root), subKey ? subKey : "", 0, KEY_READ, &opened);
  fault::observe(fault::Call::regOpenKey, 0, rc);
  return rc == ERROR_SUCCESS ? wrap(opened, key) : rc;
}

long regCreateKey(RegRoot root, const char* subKey, RegKey* key) {
  if (long rc = refusedWith(fault::Call::regCreateKey)) return rc;
  if (!key) return kErrorInvalidParameter;
  *key = nullptr;
  HKEY opened = nullptr;
  long rc = ::RegCreateKeyExA(rootKey(root), subKey ? subKey : "", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &opened,
                              nullptr);
  fault::observe(fault::Call::regCreateKey, 0, rc);
  return rc == ERROR_SUCCESS ? wrap(opened, key) : rc;
}

long regQueryValue(RegKey key, const char* name, std::uint32_t* type, void* data,
                   std::uint32_t* length) {
  if (long rc = refusedWith(fault::Call::regQueryValue)) return rc;
  if (!key) return kErrorInvalidHandle;
  if (data && !length) return kErrorInvalidParameter;
  DWORD valueType = 0;
  DWORD size = length ? *length : 0;
  long rc = ::RegQueryValueExA(key->key, name, nullptr, &valueType, static_cast<BYTE*>(data),
                               length ? &size : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (type) *type = valueType;
    if (length) *length = size;
  }
  fault::observe(fault::Call::regQueryValue, 0, rc);
  return rc;
}

long regSetValue(RegKey key, const char* name, std::uint32_t type, const void* data,
                 std::uint32_t length) {
  if (long rc = refusedWith(fault::Call::regSetValue)) return rc;
  if (!key) return kErrorInvalidHandle;
  if (!data && length) return kErrorInvalidParameter;
  long rc = ::RegSetValueExA(key->key, name, 0, type, static_cast<const BYTE*>(data), length);
  fault::observe(fault::Call::regSetValue, 0, rc);
  return rc;
}

long regDeleteValue(RegKey key, const char* name) {
  if (long rc = refusedWith(fault::Call::regDeleteValue)) return rc;
  if (!key) return kErrorInvalidHandle;
  long rc = ::RegDeleteValueA(key->key, name);
  fault::observe(fault::Call::regDeleteValue, 0, rc);
  return rc;
}

long regEnumKey(RegKey key, std::uint32_t index, std::string* name) {
  if (long rc = refusedWith(fault::Call::regEnumKey)) return rc;
  if (!key || !name) return kErrorInvalidHandle;
  char buffer[256];  // a key name holds at most 255 characters
  DWORD size = sizeof buffer;
  long rc = ::RegEnumKeyExA(key->key, index, buffer, &size, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) name->assign(buffer, size);
  fault::observe(fault::Call::regEnumKey, 0, rc);
  return rc;
}

long regCloseKey(RegKey key) {
  if (!key) return kErrorInvalidHandle;
  long rc = ::RegCloseKey(key->key);
  delete key;
  return rc;
}

}  // namespace zw::plat
