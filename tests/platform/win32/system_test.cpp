// What the Windows build asks of the system beyond files and texts: retries while another
// process holds the settings file, the error mode, the user's decimal separator, the machine's
// id.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/process.h"
#include "platform/regional.h"
#include "platform/win32/netsh_rule.h"
#include "platform/win32/wide.h"
#include "support/temp_dir.h"

namespace tovi {
namespace {

// What an antivirus or the indexer does while it scans a file: read it, sharing neither
// writing nor deletion out of hand.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path)
      : handle_(CreateFileW(text::Utf8ToWide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldFile() { Release(); }
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (Held()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

bool TemporaryFileExists(const testing::TempDir& dir) {
  return !fs::FindEntries(dir.Folder(), "setstovi.cfg.~*", fs::kAttrAnyFile).empty();
}

TEST(HeldSettingsFile, TheWriteWaitsForAShortHoldAndGivesUpOnALongOne) {
  testing::TempDir dir;
  const std::string path = dir.Write("setstovi.cfg", "old");

  HeldFile scanner(path);
  ASSERT_TRUE(scanner.Held());
  fs::AtomicWriteLimits impatient;
  impatient.heldFileWaitMs = 0;
  EXPECT_THROW(fs::WriteFileAtomically(path, "new", impatient), EInOutError);
  fs::AtomicWriteLimits brief;
  brief.heldFileWaitMs = 100;
  brief.heldFileRetryMs = 10;
  EXPECT_THROW(fs::WriteFileAtomically(path, "new", brief), EInOutError);
  EXPECT_EQ(fs::ReadWholeFile(path), "old");
  EXPECT_FALSE(TemporaryFileExists(dir));

  // Let go while the writer waits: its rename then goes through.
  std::string failure;
  std::thread writer([&] {
    try {
      fs::WriteFileAtomically(path, "new");  // the program's own limits
    } catch (const std::exception& e) {
      failure = e.what();
    }
  });
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!TemporaryFileExists(dir) && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::yield();
  }
  scanner.Release();
  writer.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(fs::ReadWholeFile(path), "new");
  EXPECT_FALSE(TemporaryFileExists(dir));
}

TEST(ProcessStart, CriticalErrorBoxesAreOffAndNumbersUseTheUsersSeparator) {
  process::SuppressCriticalErrorBoxes();
  EXPECT_NE(GetErrorMode() & SEM_FAILCRITICALERRORS, 0u);
  // The Windows suites run in a Russian locale.
  EXPECT_EQ(regional::DecimalSeparator(), ",");
}

// The media server's UUID is made from this id: every Windows keeps one (a GUID), and it must
// be read, or a renamed PC becomes a new server on every TV.
TEST(MachineId, IsTheGuidWindowsKeeps) {
  const std::regex guid("[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}");
  EXPECT_TRUE(std::regex_match(machine::MachineId(), guid)) << machine::MachineId();
}

// The firewall rule is made by an elevated netsh: the system's own, never one lying in the
// program's folder, and for the PC's own networks only.
TEST(FirewallRule, IsTheSystemsNetshForTheLocalSubnetOnly) {
  const firewall::NetshCommand command =
      firewall::AllowRuleCommand("Remote Toviplayer", "C:\\Tovi\\tovi.exe", 8027, "private");
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(command.file, std::wstring(system, length) + L"\\netsh.exe");
  const std::string parameters = text::WideToUtf8(command.parameters);
  EXPECT_NE(parameters.find(" localport=8027 "), std::string::npos) << parameters;
  EXPECT_TRUE(parameters.ends_with(" remoteip=localsubnet")) << parameters;
}

// Names ending in dots or spaces, as a network drive from another system or the long path form
// makes them, are names of their own: each opens and lists what it names, not the name without
// them, which the system's usual path form would take.
TEST(Files, NamesEndingInDotsOrSpacesNameThemselves) {
  testing::TempDir dir;
  const auto longForm = [&dir](const std::string& name) {
    return L"\\\\?\\" + text::Utf8ToWide(dir.Path(name));
  };
  const auto make = [&](const std::string& name, const std::string& bytes) {
    HANDLE h = CreateFileW(longForm(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
  };
  ASSERT_TRUE(CreateDirectoryW(longForm("Series").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(longForm("Series.").c_str(), nullptr));
  make("film.mkv", "plain");
  make("film.mkv.", "dotted!");
  make("film.mkv ", "spaced!!");
  make("Series\\a.mkv", "plain");
  make("Series.\\a.mkv", "dotted!");
  make("Series.\\only-here.mkv", "x");
  EXPECT_EQ(fs::ReadWholeFile(dir.Path("film.mkv.")), "dotted!");
  EXPECT_EQ(fs::ReadWholeFile(dir.Path("film.mkv ")), "spaced!!");
  EXPECT_EQ(fs::FileSize(dir.Path("film.mkv.")), 7);
  EXPECT_EQ(fs::ReadWholeFile(dir.Path("Series.\\a.mkv")), "dotted!");
  EXPECT_EQ(fs::ReadWholeFile(dir.Path("Series\\.\\..\\Series\\a.mkv")), "plain");
  std::vector<std::string> names;
  for (const fs::DirEntry& e : fs::FindEntries(dir.Path("Series.\\"), "*.mkv", fs::kAttrAnyFile)) {
    names.push_back(e.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.mkv", "only-here.mkv"}));
  // The folder's removal would take these names for the ones without their dots and spaces.
  for (const char* name : {"film.mkv.", "film.mkv ", "Series.\\a.mkv", "Series.\\only-here.mkv"}) {
    DeleteFileW(longForm(name).c_str());
  }
  RemoveDirectoryW(longForm("Series.").c_str());
}

}  // namespace
}  // namespace tovi
