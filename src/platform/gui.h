// The GUI framework the program's form is written against: the application object and its
// message loop, components that hold captions (labels, buttons, a memo, menu items, a popup
// menu), timers, dialogs, and the window and tray calls of the tray program.
// A Frontend does the showing: the Win32 tray program, the terminal front end on Linux, or a
// test double. Every text that crosses this interface, either way, is UTF-8: the program's fixed
// texts are, and data in another encoding (the system code page) is converted where it enters
// the program, never guessed at here.
// Thread safety: everything runs on the GUI thread, except Caption()/SetCaption() of components,
// Application::Post and Application::InGuiThread, which any thread may call.
// Framework rule: an exception that leaves an event handler (click, timer, posted message, form
// creation) is shown in a message box with its text; the rest of that handler is skipped.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovi::gui {

using WindowHandle = std::intptr_t;
using IconHandle = std::intptr_t;

// Window messages, with the numbers the tray program relies on.
inline constexpr std::uint32_t kWmNull = 0;
inline constexpr std::uint32_t kWmEndSession = 22;
inline constexpr std::uint32_t kWmSysCommand = 274;
inline constexpr std::uint32_t kWmUser = 1024;
inline constexpr std::uint32_t kWmMouseMove = 512;
inline constexpr std::uint32_t kWmLButtonDown = 513;
inline constexpr std::uint32_t kWmLButtonUp = 514;
inline constexpr std::uint32_t kWmLButtonDblClk = 515;
inline constexpr std::uint32_t kWmRButtonDown = 516;
inline constexpr std::uint32_t kWmRButtonUp = 517;
inline constexpr std::uintptr_t kScMinimize = 61472;  // 0xF020
inline constexpr std::uintptr_t kScClose = 61536;     // 0xF060
inline constexpr int kSwHide = 0;
inline constexpr int kSwShow = 5;

struct Message {
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::intptr_t result = 0;
};
using MessageHandler = std::function<void(Message&)>;

struct Point {
  int x = 0;
  int y = 0;
};

// The tray icon record in its first form (64-byte tip). Size: the platform's size of that form
// (88 bytes on 32-bit Windows, 104 on 64-bit, where the handles are wider).
inline constexpr std::uint32_t kNimAdd = 0;
inline constexpr std::uint32_t kNimModify = 1;
inline constexpr std::uint32_t kNimDelete = 2;
inline constexpr std::uint32_t kNifMessage = 1;
inline constexpr std::uint32_t kNifIcon = 2;
inline constexpr std::uint32_t kNifTip = 4;
struct NotifyIconData {
  std::uint32_t size = 0;
  WindowHandle window = 0;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t callbackMessage = 0;
  IconHandle icon = 0;
  char tip[64] = {};
};
std::uint32_t NotifyIconDataSize();

class Application;
class Timer;
class PopupMenu;

// What shows the GUI. All calls on the GUI thread, except Post.
class Frontend {
 public:
  virtual ~Frontend() = default;

  // The application this front end serves (called by its constructor).
  virtual void Attach(Application& app) = 0;

  // The message loop: Run returns after Quit; ProcessMessages handles what is pending now.
  virtual void Run(Application& app) = 0;
  virtual void Quit() = 0;
  virtual void ProcessMessages() = 0;
  // Any thread: runs task on the GUI thread from the message loop.
  virtual void Post(std::function<void()> task) = 0;

  // Timer state changed (enabled, interval) or the timer is going away (enabled false).
  virtual void UpdateTimer(Timer& timer) = 0;

  // Windows of the tray program; the terminal and the test double keep them as records.
  virtual WindowHandle MakeWindow(const std::string& caption, MessageHandler handler) = 0;
  virtual void DestroyWindow(WindowHandle window) = 0;
  virtual bool PostWindowMessage(WindowHandle window, const Message& message) = 0;
  virtual void DefaultHandler(WindowHandle window, Message& message) = 0;
  virtual bool ShowWindow(WindowHandle window, int command) = 0;
  virtual bool SetForegroundWindow(WindowHandle window) = 0;
  virtual Point CursorPos() = 0;
  virtual IconHandle ApplicationIcon() = 0;
  virtual bool NotifyIcon(std::uint32_t action, const NotifyIconData& data) = 0;
  // The message the shell broadcasts to every top-level window when it starts anew (Explorer
  // restarted): tray icons are gone and must be added again. 0 where there is no such shell.
  virtual std::uint32_t ShellRestartMessage() { return 0; }
  // A balloon from the tray icon (window, id): a title and a text, gone after a while by itself.
  // False where none could be shown.
  virtual bool ShowBalloon(WindowHandle, std::uint32_t, const std::string&, const std::string&) {
    return false;
  }
  // Shows menu at point, owned by window; returns when it has closed. A chosen item's click
  // runs afterwards from the message loop.
  virtual void TrackPopupMenu(PopupMenu& menu, Point at, WindowHandle owner) = 0;

  // Dialogs. Paths come back in UTF-8.
  virtual void ShowMessageBox(const std::string& caption, const std::string& text) = 0;
  virtual bool OpenFileDialog(const std::string& filter, std::string* path) = 0;
  virtual bool ChooseFolder(WindowHandle owner, const std::string& title, std::string* path) = 0;
  // Opens url in the default browser; false when that failed.
  virtual bool OpenUrl(WindowHandle owner, const std::string& url) = 0;

  // A component's caption or text changed (delivered on the GUI thread).
  virtual void CaptionChanged(const std::string& name, const std::string& caption) = 0;
};

// The system's front end: the Win32 tray program, or the terminal front end on Linux.
std::unique_ptr<Frontend> CreateSystemFrontend();

class Component;

class Application {
 public:
  // The calling thread becomes the GUI thread.
  explicit Application(Frontend& frontend);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Creates the application's own hidden top-level window.
  void Initialize();
  WindowHandle Handle() const { return handle_; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  Frontend& Ui() { return frontend_; }

  void Run();        // the message loop, until Terminate
  void Terminate();  // ends Run once the current handler returns
  bool Terminated() const { return terminated_; }
  void ProcessMessages();

  // Any thread.
  bool InGuiThread() const { return std::this_thread::get_id() == guiThread_; }
  void Post(std::function<void()> task);

  // Runs one event handler by the framework rule (exceptions shown, not propagated).
  void Dispatch(const std::function<void()>& handler);
  // The plain message box: the application title as caption, the text, one OK.
  void ShowMessage(const std::string& text);

  // The components of the forms, in creation order; front ends look them up by name.
  void Register(Component& component);
  void Unregister(Component& component);
  Component* Find(const std::string& name) const;
  const std::vector<Component*>& Components() const { return components_; }

 private:
  Frontend& frontend_;
  std::thread::id guiThread_;
  std::string title_;
  WindowHandle handle_ = 0;
  bool terminated_ = false;
  std::vector<Component*> components_;
};

// A named part of a form. Caption/Text may be read and written from any thread; a change is
// shown by the front end on the GUI thread.
class Component {
 public:
  enum class Kind { Label, Button, Memo, MenuItem, PopupMenu, Timer, OpenDialog };

  Component(Application& app, Kind kind, std::string name, std::string caption,
            bool visible = true);
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  Kind GetKind() const { return kind_; }
  const std::string& Name() const { return name_; }
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // Buttons and menu items run OnClick; the rest do nothing.
  virtual void Click() {}

 protected:
  Application& app_;

 private:
  const Kind kind_;
  const std::string name_;
  mutable std::mutex mutex_;
  std::string caption_;
  bool visible_;
};

class Label : public Component {
 public:
  Label(Application& app, std::string name, std::string caption)
      : Component(app, Kind::Label, std::move(name), std::move(caption)) {}
};

class Button : public Component {
 public:
  Button(Application& app, std::string name, std::string caption)
      : Component(app, Kind::Button, std::move(name), std::move(caption)) {}
  std::function<void()> OnClick;
  void Click() override {
    if (OnClick) OnClick();
  }
};

class Memo : public Component {
 public:
  Memo(Application& app, std::string name, std::string text, bool visible)
      : Component(app, Kind::Memo, std::move(name), std::move(text), visible) {}
  std::string Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }
};

class MenuItem : public Component {
 public:
  MenuItem(Application& app, std::string name, std::string caption, bool visible = true)
      : Component(app, Kind::MenuItem, std::move(name), std::move(caption), visible) {}
  std::function<void()> OnClick;
  void Click() override {
    if (OnClick) OnClick();
  }
  void Add(MenuItem& item) { items_.push_back(&item); }
  const std::vector<MenuItem*>& Items() const { return items_; }
  // A checkable item shows whether it is checked (a check mark, or "[x]"/"[ ]" in the
  // terminal). GUI thread only.
  bool Checkable() const { return checkable_; }
  bool Checked() const { return checked_; }
  void SetChecked(bool checked) {
    checkable_ = true;
    checked_ = checked;
  }

 private:
  std::vector<MenuItem*> items_;
  bool checkable_ = false;
  bool checked_ = false;
};

class PopupMenu : public Component {
 public:
  PopupMenu(Application& app, std::string name)
      : Component(app, Kind::PopupMenu, std::move(name), "") {}
  std::function<void()> OnPopup;  // before the menu is shown
  void Add(MenuItem& item) { items_.push_back(&item); }
  const std::vector<MenuItem*>& Items() const { return items_; }
  // Runs OnPopup, then shows the menu at point; returns when it has closed.
  void Popup(Point at, WindowHandle owner);

 private:
  std::vector<MenuItem*> items_;
};

// Fires OnTimer on the GUI thread every Interval() ms while enabled. Ticks do not pile up: one
// that falls due while a handler runs is merged into the next.
class Timer : public Component {
 public:
  Timer(Application& app, std::string name, int intervalMs, bool enabled);
  ~Timer() override;
  std::function<void()> OnTimer;
  int Interval() const { return intervalMs_; }
  void SetInterval(int intervalMs);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Called by the front end when the interval has passed.
  void Tick();

 private:
  int intervalMs_;
  bool enabled_;
};

// The file-open dialog: one file, the platform's default options.
class OpenDialog : public Component {
 public:
  OpenDialog(Application& app, std::string name, std::string filter)
      : Component(app, Kind::OpenDialog, std::move(name), ""), filter_(std::move(filter)) {}
  // "description|patterns", as the form stores it.
  const std::string& Filter() const { return filter_; }
  // The chosen file's full path (UTF-8).
  const std::string& FileName() const { return fileName_; }
  // Shows the dialog; false when the user cancelled.
  bool Execute();

 private:
  std::string filter_;
  std::string fileName_;
};

// The folder chooser (browsing root: the desktop; only file-system folders; at most 260 bytes).
// True and the path when the user confirmed.
bool SelectDirectory(Application& app, WindowHandle owner, const std::string& title,
                     std::string* path);

}  // namespace tovi::gui
