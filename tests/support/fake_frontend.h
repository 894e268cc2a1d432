// A front end for tests: no windows, no terminal. It records what the program asked of the GUI
// (message boxes, tray calls, posted window messages, shown windows, opened URLs, captions) and
// answers dialogs from queues the test fills. Posted tasks and window messages wait until the
// test runs them (RunPending) or runs the loop; timers tick when the test says so.
#pragma once
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop.h"
#include "platform/gui.h"

namespace tovi::testing {

class FakeFrontend : public gui::Frontend {
 public:
  struct Box {
    std::string caption;
    std::string text;
  };
  struct TrayCall {
    std::uint32_t action;
    gui::NotifyIconData data;
  };
  struct Popup {
    gui::PopupMenu* menu;
    gui::Point at;
    gui::WindowHandle owner;
  };

  // Recorded calls.
  std::vector<Box> boxes;
  std::vector<TrayCall> tray;
  std::vector<std::pair<gui::WindowHandle, int>> shown;  // ShowWindow calls
  std::vector<gui::WindowHandle> foreground;
  std::vector<Popup> popups;
  std::vector<std::string> urls;
  std::vector<std::pair<std::string, std::string>> captions;  // delivered changes
  std::vector<std::pair<gui::WindowHandle, gui::Message>> defaulted;
  std::vector<std::pair<gui::WindowHandle, gui::Message>> posted;  // as posted, in order

  // Answers for dialogs: a path, or std::nullopt-like "" with cancel = true.
  std::deque<std::pair<bool, std::string>> fileAnswers;
  std::deque<std::pair<bool, std::string>> folderAnswers;
  std::vector<std::string> folderTitles;
  std::vector<std::string> fileFilters;
  bool openUrlFails = false;
  gui::Point cursor{100, 200};
  std::uint32_t shellRestartMessage = 0xC0F3;  // as registered window messages are numbered
  // Called inside ShowMessageBox, e.g. to act while a modal box is open.
  std::function<void(const Box&)> onMessageBox;

  // Runs posted tasks and window messages until none is left (bounded).
  void RunPending();
  // Ticks every enabled timer once, in creation order.
  void TickTimers();
  bool TimerRunning(const gui::Timer& timer) const;
  // The handler of a window, for sending it messages directly.
  void Send(gui::WindowHandle window, gui::Message message);
  bool QuitCalled() const { return quit_; }

  // gui::Frontend
  void Attach(gui::Application& app) override { app_ = &app; }
  void Run(gui::Application& app) override;
  void Quit() override;
  void ProcessMessages() override { RunPending(); }
  void Post(std::function<void()> task) override { loop_.Post(std::move(task)); }
  void UpdateTimer(gui::Timer& timer) override;
  gui::WindowHandle MakeWindow(const std::string& caption, gui::MessageHandler handler) override;
  void DestroyWindow(gui::WindowHandle window) override { windows_.erase(window); }
  bool PostWindowMessage(gui::WindowHandle window, const gui::Message& message) override;
  void DefaultHandler(gui::WindowHandle window, gui::Message& message) override {
    defaulted.emplace_back(window, message);
  }
  bool ShowWindow(gui::WindowHandle window, int command) override {
    shown.emplace_back(window, command);
    return true;
  }
  bool SetForegroundWindow(gui::WindowHandle window) override {
    foreground.push_back(window);
    return true;
  }
  gui::Point CursorPos() override { return cursor; }
  gui::IconHandle ApplicationIcon() override { return 4242; }
  bool NotifyIcon(std::uint32_t action, const gui::NotifyIconData& data) override {
    tray.push_back({action, data});
    return true;
  }
  std::uint32_t ShellRestartMessage() override { return shellRestartMessage; }
  void TrackPopupMenu(gui::PopupMenu& menu, gui::Point at, gui::WindowHandle owner) override {
    popups.push_back({&menu, at, owner});
  }
  void ShowMessageBox(const std::string& caption, const std::string& text) override;
  bool OpenFileDialog(const std::string& filter, std::string* path) override;
  bool ChooseFolder(gui::WindowHandle owner, const std::string& title, std::string* path) override;
  bool OpenUrl(gui::WindowHandle owner, const std::string& url) override;
  void CaptionChanged(const std::string& name, const std::string& caption) override {
    captions.emplace_back(name, caption);
  }

 private:
  gui::Application* app_ = nullptr;
  gui::EventLoop loop_;
  std::map<gui::WindowHandle, gui::MessageHandler> windows_;
  std::vector<gui::Timer*> timers_;
  gui::WindowHandle nextWindow_ = 100;
  bool quit_ = false;
};

}  // namespace tovi::testing
