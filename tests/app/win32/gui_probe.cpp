// A small Win32 tool for the GUI test under wine: reports windows and the open popup menu's
// items (through the menu API, with their screen rectangles), and plays an Explorer restart:
// the tray forgets the program's icon, then the shell broadcasts "TaskbarCreated"; starts the
// program a second time and reports how that copy ended.
// Output is UTF-8, one record a line, written to the file named by the second argument (the
// desktop may start the probe where its standard output is not ours); the file appears whole.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

FILE* g_out = stdout;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

std::string ClassOf(HWND w) {
  wchar_t name[256] = {};
  GetClassNameW(w, name, 255);
  return Utf8(name);
}

std::string TitleOf(HWND w) {
  wchar_t title[512] = {};
  GetWindowTextW(w, title, 511);
  return Utf8(title);
}

void PrintWindow(HWND w, int depth) {
  RECT r{};
  GetWindowRect(w, &r);
  std::fprintf(g_out, "window|%d|%s|%s|%d|%ld,%ld,%ld,%ld\n", depth, ClassOf(w).c_str(),
              TitleOf(w).c_str(), IsWindowVisible(w) ? 1 : 0, r.left, r.top, r.right, r.bottom);
}

BOOL CALLBACK Child(HWND w, LPARAM depth) {
  if (GetParent(w) != nullptr) PrintWindow(w, static_cast<int>(depth));
  return TRUE;
}

BOOL CALLBACK TopLevel(HWND w, LPARAM) {
  PrintWindow(w, 0);
  EnumChildWindows(w, &Child, 1);
  return TRUE;
}

void PrintMenu(HMENU menu, int depth) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 511, MF_BYPOSITION);
    RECT r{};
    GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &r);
    HMENU sub = GetSubMenu(menu, i);
    std::fprintf(g_out, "item|%d|%s|%ld,%ld,%ld,%ld|%d\n", depth, Utf8(text).c_str(), r.left, r.top,
                r.right, r.bottom, sub != nullptr ? 1 : 0);
    if (sub != nullptr) PrintMenu(sub, depth + 1);
  }
}

int Probe(const std::string& command);

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc < 3) return Probe(command);
  const std::string target = argv[2];
  const std::string partial = target + ".part";
  g_out = std::fopen(partial.c_str(), "wb");
  if (g_out == nullptr) return 3;
  const int rc = Probe(command);
  std::fprintf(g_out, "end|%d\n", rc);
  std::fclose(g_out);
  MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  return rc;
}

namespace {

int Probe(const std::string& command) {
  if (command == "windows") {
    EnumWindows(&TopLevel, 0);
    return 0;
  }
  if (command == "menu") {
    // The open popup menu is a top-level window of the system's menu class.
    HWND popup = FindWindowW(L"#32768", nullptr);
    if (popup == nullptr || !IsWindowVisible(popup)) {
      std::fprintf(g_out, "no-menu\n");
      return 1;
    }
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, 0x01E1 /* MN_GETHMENU */, 0, 0));
    if (menu == nullptr || GetMenuItemCount(menu) < 0) {
      std::fprintf(g_out, "no-menu|%p|%d\n", static_cast<void*>(menu), GetMenuItemCount(menu));
      return 1;
    }
    PrintMenu(menu, 0);
    return 0;
  }
  if (command == "forget-icon") {
    // What a crashed Explorer leaves: the tray without the program's icon (window, id 1).
    HWND form = FindWindowW(L"TRemoteToviplayerWindow", L"Remote Toviplayer");
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = form;
    icon.uID = 1;
    const bool deleted = form != nullptr && Shell_NotifyIconW(NIM_DELETE, &icon);
    std::fprintf(g_out, "forgotten|%d\n", deleted ? 1 : 0);
    return deleted ? 0 : 1;
  }
  if (command == "taskbar-created") {
    // What a new Explorer sends to every top-level window once its taskbar is up.
    const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    std::fprintf(g_out, "broadcast|%u\n", message);
    return 0;
  }
  if (command == "second-start") {
    // The program started once more beside the probe, in the same desktop as the first copy:
    // how it ends and how long it took (bounded at 20 s).
    wchar_t line[] = L"remote-toviplayer.exe --address 127.0.0.2 --list-host 127.0.0.1:9";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const DWORD started = GetTickCount();
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      std::fprintf(g_out, "not-started|%lu\n", GetLastError());
      return 1;
    }
    const bool ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::fprintf(g_out, "%s|%lu|%lu\n", ended ? "exit" : "running", code, GetTickCount() - started);
    return ended ? 0 : 1;
  }
  std::fprintf(stderr, "usage: gui_probe windows|menu|forget-icon|taskbar-created|second-start [OUTPUT_FILE]\n");
  return 2;
}

}  // namespace
