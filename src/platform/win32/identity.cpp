// The MachineGuid of the registry, the computer's name and RtlGetVersion behind
// platform/identity.h.
#include "platform/identity.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace tovi::machine {

std::string MachineId() {
  // The 64-bit view: a 32-bit copy of the program must read the same value.
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return "";
  }
  wchar_t value[128] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  const LONG rc = ::RegGetValueW(key, nullptr, L"MachineGuid", RRF_RT_REG_SZ, nullptr, value, &size);
  ::RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "";
  return text::WideToUtf8(value);
}

std::string ComputerName() {
  // The name as the user typed it (the host name keeps its case and length); the NetBIOS name,
  // upper case and cut to 15 characters, only where there is no host name.
  wchar_t name[256] = {};
  DWORD size = 255;
  if (::GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size) && size > 0) {
    return text::WideToUtf8(std::wstring(name, size));
  }
  size = 255;
  if (!::GetComputerNameW(name, &size)) return "";
  return text::WideToUtf8(std::wstring(name, size));
}

std::string SystemProduct() {
  // GetVersionEx answers 6.2 to a program without a compatibility manifest; the kernel's own
  // call tells the truth.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto get = ntdll != nullptr
                       ? reinterpret_cast<RtlGetVersionFn>(
                             reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                       : nullptr;
  if (get == nullptr || get(&info) != 0) return "Windows/0";
  return "Windows/" + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
}

}  // namespace tovi::machine
