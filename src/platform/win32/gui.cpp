// The Win32 front end: a real message loop, hidden windows, the tray icon through
// Shell_NotifyIconA, the popup menu, message boxes and the common dialogs. Texts (UTF-8) reach
// the system through the wide API, so they show whatever the system code page.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "platform/gui.h"
#include "platform/win32/wide.h"
#include "platform/win32/window_class.h"

namespace tovi::gui {

std::uint32_t NotifyIconDataSize() { return NOTIFYICONDATAA_V1_SIZE; }

namespace {

constexpr UINT kTaskMessage = WM_APP + 1;
constexpr UINT kFirstMenuCommand = 100;

HWND AsHwnd(WindowHandle h) { return reinterpret_cast<HWND>(h); }
WindowHandle AsHandle(HWND h) { return reinterpret_cast<WindowHandle>(h); }

// With TOVI_GUI_TRACE naming a file, the tray, menu and message box calls, the menu commands,
// the shell's restart broadcast and the error mode at start are appended to it as they happen,
// the menu read back through the menu API: the GUI test under wine reads it (other processes
// cannot read our menus there).
void Trace(const std::string& line) {
  const char* path = std::getenv("TOVI_GUI_TRACE");
  if (path == nullptr || *path == '\0') return;
  if (FILE* f = std::fopen(path, "ab")) {
    std::string flat;  // one record a line: line breaks inside texts are escaped
    for (char c : line) {
      if (c == '\r') flat += "\\r";
      else if (c == '\n') flat += "\\n";
      else flat += c;
    }
    std::fputs((flat + "\n").c_str(), f);
    std::fclose(f);
  }
}

void TraceMenu(HMENU menu, int depth) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t caption[512] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), caption, 511, MF_BYPOSITION);
    HMENU sub = GetSubMenu(menu, i);
    const bool checked = (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED) != 0;
    Trace("menu|" + std::to_string(depth) + "|" + text::WideToUtf8(caption) + "|" +
          (sub != nullptr ? "submenu" : "item") + (checked ? "|checked" : ""));
    if (sub != nullptr) TraceMenu(sub, depth + 1);
  }
}

class Win32Frontend;
Win32Frontend* g_frontend = nullptr;  // one front end per process: the window procedure's target

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The program's other windows are disabled while a modal dialog of ours is open.
class DisabledThreadWindows {
 public:
  DisabledThreadWindows() {
    EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(&windows_));
    for (HWND w : windows_) EnableWindow(w, FALSE);
  }
  ~DisabledThreadWindows() {
    for (HWND w : windows_) EnableWindow(w, TRUE);
  }

 private:
  static BOOL CALLBACK Collect(HWND w, LPARAM list) {
    if (IsWindowVisible(w) && IsWindowEnabled(w)) {
      reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
    }
    return TRUE;
  }
  std::vector<HWND> windows_;
};

class Win32Frontend : public Frontend {
 public:
  Win32Frontend() {
    g_frontend = this;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadAppIcon();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    // Posted tasks and timer ticks arrive at a message-only window of their own.
    utility_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    shellRestart_ = RegisterWindowMessageW(L"TaskbarCreated");
    Trace("error-mode|" + std::to_string(GetErrorMode()));
  }

  ~Win32Frontend() override {
    for (auto& [timer, id] : timerIds_) KillTimer(utility_, id);
    DestroyWindow(AsHandle(utility_));
    g_frontend = nullptr;
    CoUninitialize();
    Trace("closed");
  }

  LRESULT Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd == utility_ && hwnd != nullptr) {
      if (msg == kTaskMessage) {
        RunOneTask();
        return 0;
      }
      if (msg == WM_TIMER) {
        for (auto& [timer, id] : timerIds_) {
          if (id == wParam) {
            timer->Tick();
            break;
          }
        }
        return 0;
      }
    }
    if (msg == WM_COMMAND && HIWORD(wParam) == 0 && lParam == 0) {
      auto it = menuCommands_.find(LOWORD(wParam));
      if (it != menuCommands_.end() && app_ != nullptr) {
        MenuItem* item = it->second;
        Trace("click|" + item->Name());
        app_->Dispatch([item] { item->Click(); });
        return 0;
      }
    }
    if (msg == shellRestart_ && shellRestart_ != 0) Trace("shell-restart");
    auto handler = handlers_.find(hwnd);
    if (handler == handlers_.end() || !handler->second || app_ == nullptr) {
      return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Message m{msg, static_cast<std::uintptr_t>(wParam), static_cast<std::intptr_t>(lParam), 0};
    MessageHandler h = handler->second;
    app_->Dispatch([&] { h(m); });
    return m.result;
  }

  void Attach(Application& app) override { app_ = &app; }

  void Run(Application&) override {
    MSG msg;
    while (!quit_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  void Quit() override {
    quit_ = true;
    PostQuitMessage(0);
  }

  void ProcessMessages() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit_ = true;
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  void Post(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> lock(tasksLock_);
      tasks_.push_back(std::move(task));
    }
    PostMessageW(utility_, kTaskMessage, 0, 0);
  }

  void UpdateTimer(Timer& timer) override {
    auto it = timerIds_.find(&timer);
    if (timer.Enabled() && timer.Interval() > 0) {
      const UINT_PTR id = it != timerIds_.end() ? it->second : nextTimerId_++;
      timerIds_[&timer] = id;
      SetTimer(utility_, id, static_cast<UINT>(timer.Interval()), nullptr);  // restarts it
    } else if (it != timerIds_.end()) {
      KillTimer(utility_, it->second);
      timerIds_.erase(it);
    }
  }

  WindowHandle MakeWindow(const std::string& caption, MessageHandler handler) override {
    HWND hwnd = CreateWindowExW(0, kWindowClass, text::Utf8ToWide(caption).c_str(),
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    handlers_[hwnd] = std::move(handler);
    return AsHandle(hwnd);
  }

  void DestroyWindow(WindowHandle window) override {
    handlers_.erase(AsHwnd(window));
    if (window != 0) ::DestroyWindow(AsHwnd(window));
  }

  bool PostWindowMessage(WindowHandle window, const Message& m) override {
    return PostMessageW(AsHwnd(window), m.msg, static_cast<WPARAM>(m.wParam),
                        static_cast<LPARAM>(m.lParam)) != 0;
  }

  void DefaultHandler(WindowHandle window, Message& m) override {
    if (m.msg == WM_CLOSE && app_ != nullptr) {
      app_->Terminate();  // closing the main window ends the program
      return;
    }
    m.result = DefWindowProcW(AsHwnd(window), m.msg, static_cast<WPARAM>(m.wParam),
                              static_cast<LPARAM>(m.lParam));
  }

  bool ShowWindow(WindowHandle window, int command) override {
    Trace("show|" + std::to_string(command));
    return ::ShowWindow(AsHwnd(window), command) != 0;
  }

  bool SetForegroundWindow(WindowHandle window) override {
    return ::SetForegroundWindow(AsHwnd(window)) != 0;
  }

  Point CursorPos() override {
    POINT p{};
    GetCursorPos(&p);
    return {p.x, p.y};
  }

  IconHandle ApplicationIcon() override { return reinterpret_cast<IconHandle>(LoadAppIcon()); }

  bool NotifyIcon(std::uint32_t action, const NotifyIconData& data) override {
    NOTIFYICONDATAA nid{};
    nid.cbSize = data.size;
    nid.hWnd = AsHwnd(data.window);
    nid.uID = data.id;
    nid.uFlags = data.flags;
    nid.uCallbackMessage = data.callbackMessage;
    nid.hIcon = reinterpret_cast<HICON>(data.icon);
    // The record's tip is in the system code page; ours comes in UTF-8.
    static_assert(sizeof nid.szTip >= sizeof data.tip);
    const std::string utf8Tip(data.tip, strnlen(data.tip, sizeof data.tip));
    bool lossy = false;
    const std::string tip = text::WideToAnsi(text::Utf8ToWide(utf8Tip), &lossy);
    CopyMemory(nid.szTip, tip.data(), std::min(tip.size(), sizeof data.tip - 1));
    const bool ok = Shell_NotifyIconA(action, &nid) != 0;
    // A tip the code page cannot hold ("выключен" on a Western system) would show as "?": the
    // wide record puts it right.
    if (ok && lossy && action != NIM_DELETE && (data.flags & NIF_TIP) != 0) {
      NOTIFYICONDATAW wide{};
      wide.cbSize = NOTIFYICONDATAW_V2_SIZE;
      wide.hWnd = nid.hWnd;
      wide.uID = nid.uID;
      wide.uFlags = NIF_TIP;
      lstrcpynW(wide.szTip, text::Utf8ToWide(utf8Tip).c_str(), ARRAYSIZE(wide.szTip));
      Shell_NotifyIconW(NIM_MODIFY, &wide);
    }
    Trace("tray|" + std::to_string(action) + "|" + std::to_string(data.size) + "|" +
          std::to_string(data.flags) + "|" + std::to_string(data.callbackMessage) + "|" +
          (ok ? "ok" : "failed"));
    Trace("tip|" + utf8Tip);
    return ok;
  }

  std::uint32_t ShellRestartMessage() override { return shellRestart_; }

  bool ShowBalloon(WindowHandle window, std::uint32_t id, const std::string& title,
                   const std::string& text) override {
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V2_SIZE;  // the first form with balloons (Windows 2000 on)
    nid.hWnd = AsHwnd(window);
    nid.uID = id;
    nid.uFlags = NIF_INFO;
    nid.dwInfoFlags = NIIF_INFO;
    nid.uTimeout = 10000;  // what older shells honour; newer ones use their own setting
    lstrcpynW(nid.szInfoTitle, text::Utf8ToWide(title).c_str(), ARRAYSIZE(nid.szInfoTitle));
    lstrcpynW(nid.szInfo, text::Utf8ToWide(text).c_str(), ARRAYSIZE(nid.szInfo));
    const bool ok = Shell_NotifyIconW(NIM_MODIFY, &nid) != 0;
    Trace("balloon|" + title + "|" + text + "|" + (ok ? "ok" : "failed"));
    return ok;
  }

  void TrackPopupMenu(PopupMenu& menu, Point at, WindowHandle owner) override {
    menuCommands_.clear();
    HMENU popup = BuildMenu(menu.Items());
    Trace("popup|" + std::to_string(at.x) + "|" + std::to_string(at.y));
    TraceMenu(popup, 0);
    ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0,
                     AsHwnd(owner), nullptr);
    DestroyMenu(popup);
    Trace("popup-closed");
  }

  void ShowMessageBox(const std::string& caption, const std::string& text) override {
    Trace("box|" + caption + "|" + text);
    MessageBoxW(nullptr, text::Utf8ToWide(text).c_str(), text::Utf8ToWide(caption).c_str(),
                MB_OK | MB_SETFOREGROUND);
    Trace("box-closed");
  }

  bool OpenFileDialog(const std::string& filter, std::string* path) override {
    // "description|patterns|..." becomes the dialog's list of NUL-separated pairs.
    std::wstring filters = text::Utf8ToWide(filter);
    for (wchar_t& c : filters) {
      if (c == L'|') c = L'\0';
    }
    filters.append(2, L'\0');
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = app_ != nullptr ? AsHwnd(app_->Handle()) : nullptr;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    DisabledThreadWindows disabled;
    if (!GetOpenFileNameW(&ofn)) return false;
    *path = text::WideToUtf8(file.data());
    return true;
  }

  bool ChooseFolder(WindowHandle owner, const std::string& title, std::string* path) override {
    const std::wstring wideTitle = text::Utf8ToWide(title);
    BROWSEINFOW bi{};
    bi.hwndOwner = AsHwnd(owner);
    bi.pidlRoot = nullptr;  // the desktop
    bi.lpszTitle = wideTitle.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    PIDLIST_ABSOLUTE chosen;
    {
      DisabledThreadWindows disabled;
      chosen = SHBrowseForFolderW(&bi);
    }
    SetErrorMode(oldMode);
    if (chosen == nullptr) return false;
    wchar_t buffer[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListW(chosen, buffer) != 0;
    CoTaskMemFree(chosen);
    if (!ok) return false;
    *path = text::WideToUtf8(buffer);
    return true;
  }

  bool OpenUrl(WindowHandle owner, const std::string& url) override {
    const HINSTANCE result = ShellExecuteW(AsHwnd(owner), L"Open", text::Utf8ToWide(url).c_str(),
                                           nullptr, nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(result) > 32;
  }

  // Menus are built from the captions when they pop up; nothing else shows captions.
  void CaptionChanged(const std::string&, const std::string&) override {}

 private:
  static HICON LoadAppIcon() {
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), L"MAINICON");
    return icon != nullptr ? icon : LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
  }

  HMENU BuildMenu(const std::vector<MenuItem*>& items) {
    HMENU menu = CreatePopupMenu();
    for (MenuItem* item : items) {
      if (!item->Visible()) continue;
      const std::wstring caption = text::Utf8ToWide(item->Caption());
      if (!item->Items().empty()) {
        AppendMenuW(menu, MF_STRING | MF_POPUP,
                    reinterpret_cast<UINT_PTR>(BuildMenu(item->Items())), caption.c_str());
      } else {
        const UINT id = kFirstMenuCommand + static_cast<UINT>(menuCommands_.size());
        menuCommands_[id] = item;
        AppendMenuW(menu, MF_STRING | (item->Checked() ? MF_CHECKED : MF_UNCHECKED), id,
                    caption.c_str());
      }
    }
    return menu;
  }

  void RunOneTask() {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(tasksLock_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }

  Application* app_ = nullptr;
  HWND utility_ = nullptr;
  UINT shellRestart_ = 0;
  bool quit_ = false;
  std::mutex tasksLock_;
  std::deque<std::function<void()>> tasks_;
  std::map<HWND, MessageHandler> handlers_;
  std::map<Timer*, UINT_PTR> timerIds_;
  UINT_PTR nextTimerId_ = 1;
  std::map<UINT, MenuItem*> menuCommands_;  // of the menu shown last
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_frontend == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return g_frontend->Handle(hwnd, msg, wParam, lParam);
}

}  // namespace

std::unique_ptr<Frontend> CreateSystemFrontend() { return std::make_unique<Win32Frontend>(); }

}  // namespace tovi::gui
