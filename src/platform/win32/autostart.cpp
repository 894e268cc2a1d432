#include <windows.h>

#include <vector>

#include "platform/autostart.h"
#include "platform/errors.h"
#include "platform/win32/wide.h"

namespace tovi::autostart {

namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// A command line longer than this is no value of ours (and no path Windows accepts).
constexpr DWORD kMaxValueBytes = 65536;

class RegistryRunEntry : public RunEntry {
 public:
  explicit RegistryRunEntry(const std::string& valueName)
      : name_(text::Utf8ToWide(valueName)) {}

  std::optional<std::string> Read() override {
    std::vector<wchar_t> buffer(kMaxValueBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = kMaxValueBytes;
    DWORD type = 0;
    const LONG rc = RegGetValueW(HKEY_CURRENT_USER, kRunKey, name_.c_str(),
                                 RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type,
                                 buffer.data(), &bytes);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return text::WideToUtf8(buffer.data());
  }

  void Write(const std::string& command) override {
    const std::wstring value = text::Utf8ToWide(command);
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr);
    if (rc != ERROR_SUCCESS) throw EInOutError::FromCode(static_cast<int>(rc));
    rc = RegSetValueExW(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw EInOutError::FromCode(static_cast<int>(rc));
  }

  void Remove() override {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return;
    if (rc != ERROR_SUCCESS) throw EInOutError::FromCode(static_cast<int>(rc));
    rc = RegDeleteValueW(key, name_.c_str());
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      throw EInOutError::FromCode(static_cast<int>(rc));
    }
  }

 private:
  std::wstring name_;
};

}  // namespace

bool Supported() { return true; }

std::unique_ptr<RunEntry> SystemRunEntry(const std::string& valueName) {
  return std::make_unique<RegistryRunEntry>(valueName);
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(32768);  // the longest path the system allows
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return text::WideToUtf8(std::wstring(buffer.data(), n));
}

}  // namespace tovi::autostart
