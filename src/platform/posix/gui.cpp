// The terminal front end of the Linux build: the tray menu as a numbered list on standard
// output, commands from standard input (a number, a component name, "menu" or "window"),
// message boxes and dialogs as printed prompts. SIGINT and SIGTERM choose Exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event_loop.h"
#include "platform/gui.h"
#include "platform/posix/spawn_quiet.h"
#include "platform/posix/terminal_text.h"
#include "platform/posix/wake_counter.h"


namespace tovi::gui {

std::uint32_t NotifyIconDataSize() { return 88; }  // the first form as the 32-bit shell has it

namespace {

// The desktop's own way to open a URL in the user's browser.
constexpr const char* kUrlOpener = "xdg-open";

// Line breaks of the program's texts (CR LF, LF CR, lone CR) shown as the terminal's own.
std::string ForTerminal(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      const char other = c == '\r' ? '\n' : '\r';
      if (i + 1 < text.size() && text[i + 1] == other) ++i;
      out += '\n';
    } else {
      out += c;
    }
  }
  return out;
}

// What the terminal reads, as the locale the program started in says.
TerminalCharset Charset() {
  static const TerminalCharset charset = LocaleTerminalCharset();
  return charset;
}

// A caption: one line, whatever it holds.
std::string OneLine(const std::string& text) {
  return EscapeControls(text, LineBreaks::Escape, Charset());
}
// A text with lines of its own (a message box, Memo1).
std::string Lines(const std::string& text) {
  return ForTerminal(EscapeControls(text, LineBreaks::Keep, Charset()));
}

std::string Trim(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool ExecutableInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string folders = path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// The front end's threads are woken when it ends; this bounds each of their waits all the same.
constexpr int kStopLookMs = 5000;

// Standard output goes out on a thread of its own: a service's output may be a pipe that nobody
// reads, and a GUI thread waiting on it would run no timer, no exit and no posted work (whose
// queue every request adds to). Text that finds this much still unwritten is left out; below
// it a text is taken whole, however long (a message box's long answer), so what waits is at
// most this and one text.
constexpr std::size_t kMaxUnwrittenOutput = 64 * 1024;
// At the end, the wait for what is still unwritten.
constexpr int kOutputEndWaitMs = 2000;

class TerminalOutput {
 public:
  TerminalOutput() : state_(std::make_shared<State>()) {
    // Made with every signal blocked, which it keeps: SIGTERM is the signal watcher's alone.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    writer_ = std::thread([state = state_] { Write(*state); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  ~TerminalOutput() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->ending = true;
    state_->changed.notify_all();
    const bool written = state_->changed.wait_for(
        lock, std::chrono::milliseconds(kOutputEndWaitMs),
        [this] { return state_->unwritten.empty() && !state_->writing; });
    lock.unlock();
    // A writer still blocked ends with the process; it holds the state it uses.
    if (written) writer_.join();
    else writer_.detach();
  }

  void Print(const std::string& text) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->unwritten.size() >= kMaxUnwrittenOutput) return;
    state_->unwritten += text;
    state_->changed.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::string unwritten;
    bool writing = false;
    bool ending = false;
  };

  static void Write(State& state) {
    std::unique_lock<std::mutex> lock(state.mutex);
    for (;;) {
      state.changed.wait(lock, [&] { return !state.unwritten.empty() || state.ending; });
      if (state.unwritten.empty()) return;
      const std::string text = std::move(state.unwritten);
      state.unwritten.clear();
      state.writing = true;
      lock.unlock();
      for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // closed, full disk: this text is lost, the next is tried
        done += static_cast<std::size_t>(n);
      }
      lock.lock();
      state.writing = false;
      state.changed.notify_all();
    }
  }

  std::shared_ptr<State> state_;
  std::thread writer_;
};

class TerminalFrontend : public Frontend {
 public:
  TerminalFrontend() {
    // Block the stop signals before the watcher and the input thread exist, so only the watcher
    // takes them (the output's writer, made with the members, blocks every signal itself).
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signals_ = std::thread([this, stops] { WatchSignals(stops); });
  }

  ~TerminalFrontend() override {
    stopping_ = true;
    net::detail::SetWake(stopWake_);
    signals_.join();
    if (input_.joinable()) input_.join();
    if (stopWake_ >= 0) close(stopWake_);
  }

  void Attach(Application& app) override { app_ = &app; }
  void Run(Application&) override { loop_.Run(); }
  void Quit() override { loop_.Quit(); }
  void ProcessMessages() override { loop_.ProcessPending(); }
  void Post(std::function<void()> task) override { loop_.Post(std::move(task)); }
  void UpdateTimer(Timer& timer) override { loop_.UpdateTimer(timer); }

  WindowHandle MakeWindow(const std::string&, MessageHandler handler) override {
    const WindowHandle h = nextWindow_++;
    windows_[h] = std::move(handler);
    return h;
  }
  void DestroyWindow(WindowHandle window) override { windows_.erase(window); }
  bool PostWindowMessage(WindowHandle window, const Message& message) override {
    loop_.Post([this, window, message] {
      auto it = windows_.find(window);
      if (it == windows_.end() || !it->second || app_ == nullptr) return;
      MessageHandler handler = it->second;
      Message m = message;
      app_->Dispatch([&] { handler(m); });
    });
    return true;
  }
  void DefaultHandler(WindowHandle, Message&) override {}
  bool ShowWindow(WindowHandle, int) override { return true; }
  bool SetForegroundWindow(WindowHandle) override { return true; }
  Point CursorPos() override { return {}; }
  IconHandle ApplicationIcon() override { return 1; }

  // The icon's arrival is the moment the program is up: show what the tray would offer. Its
  // tip is printed whenever it says something new.
  bool NotifyIcon(std::uint32_t action, const NotifyIconData& data) override {
    if (action == kNimAdd) {
      Print(app_ != nullptr ? app_->Title() + "\n" : "");
      PrintMenu();
      StartInput();
    }
    const std::string tip(data.tip, strnlen(data.tip, sizeof data.tip));
    if (action != kNimDelete && (data.flags & kNifTip) != 0 && tip != shownTip_) {
      shownTip_ = tip;
      Print("Tip: " + OneLine(tip) + "\n");
    }
    return true;
  }
  void TrackPopupMenu(PopupMenu&, Point, WindowHandle) override { PrintMenu(); }
  bool ShowBalloon(WindowHandle, std::uint32_t, const std::string& title,
                   const std::string& text) override {
    Print("[" + OneLine(title) + "] " + OneLine(text) + "\n");
    return true;
  }

  void ShowMessageBox(const std::string& caption, const std::string& text) override {
    Print("[" + OneLine(caption) + "]\n" + Lines(text) + "\n");
    if (isatty(0)) {
      Print("(press Enter)\n");
      std::string ignored;
      WaitForLine(&ignored);
    }
  }

  bool OpenFileDialog(const std::string& filter, std::string* path) override {
    Print("Open (" + filter + "): type a path, or an empty line to cancel\n");
    return AskPath(path);
  }

  bool ChooseFolder(WindowHandle, const std::string& title, std::string* path) override {
    Print(title + ": type a folder, or an empty line to cancel\n");
    return AskPath(path);
  }

  bool OpenUrl(WindowHandle, const std::string& url) override {
    if (!ExecutableInPath(kUrlOpener)) {
      Print("Open in a browser: " + OneLine(url) + "\n");
      return true;
    }
    const pid_t pid = posix::SpawnQuiet({kUrlOpener, url}, -1, false);
    if (pid < 0) return false;
    // The browser may take its time; reap the helper without holding the GUI thread.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
  }

  void CaptionChanged(const std::string& name, const std::string& caption) override {
    Component* c = app_ != nullptr ? app_->Find(name) : nullptr;
    if (c == nullptr || c->GetKind() != Component::Kind::MenuItem || !c->Visible()) return;
    // An item that came or went renumbers the ones below it: the whole menu again.
    if (!printedNames_.empty() && VisibleNames() != printedNames_) return PrintMenu();
    if (shown_[name] == caption) return;
    shown_[name] = caption;
    Print(name + ": " + OneLine(caption) + "\n");
  }

 private:
  void Print(const std::string& text) { output_.Print(text); }

  // The visible items in menu order, N4 under N3.
  void VisibleItems(const std::vector<MenuItem*>& items, int depth,
                    std::vector<std::pair<MenuItem*, int>>* out) {
    for (MenuItem* item : items) {
      if (!item->Visible()) continue;
      out->emplace_back(item, depth);
      VisibleItems(item->Items(), depth + 1, out);
    }
  }

  std::vector<std::pair<MenuItem*, int>> MenuList() {
    std::vector<std::pair<MenuItem*, int>> list;
    if (app_ == nullptr) return list;
    for (Component* c : app_->Components()) {
      if (c->GetKind() == Component::Kind::PopupMenu) {
        VisibleItems(static_cast<PopupMenu*>(c)->Items(), 0, &list);
      }
    }
    return list;
  }

  std::vector<std::string> VisibleNames() {
    std::vector<std::string> names;
    for (const auto& [item, depth] : MenuList()) names.push_back(item->Name());
    return names;
  }

  void PrintMenu() {
    std::string text;
    std::string names;
    int number = 0;
    printedNames_ = VisibleNames();
    for (const auto& [item, depth] : MenuList()) {
      const std::string caption = item->Caption();
      shown_[item->Name()] = caption;
      ++number;
      const std::string mark = !item->Checkable() ? "" : item->Checked() ? "[x] " : "[ ] ";
      text += (number < 10 ? "  " : " ") + std::to_string(number) + "  " +
              std::string(2 * depth, ' ') + mark + OneLine(caption) + "\n";
      names += item->Name() + ", ";
    }
    text += "Type a number or a name (" + names + "Button1, Button2), \"menu\" or \"window\".\n";
    Print(text);
  }

  void PrintWindow() {
    std::string text = (app_ != nullptr ? app_->Title() : std::string()) + " (hidden window)\n";
    for (const char* name : {"Label1", "Label2", "Memo1", "Button1", "Button2"}) {
      Component* c = app_ != nullptr ? app_->Find(name) : nullptr;
      if (c == nullptr) continue;
      std::string value = c->GetKind() == Component::Kind::Memo ? Lines(c->Caption())
                                                                : OneLine(c->Caption());
      for (std::size_t at = value.find('\n'); at != std::string::npos && at + 1 < value.size();
           at = value.find('\n', at + 1)) {
        value.insert(at + 1, std::string(std::string(name).size() + 4, ' '));
      }
      text += "  " + std::string(name) + ": " + value + (value.empty() || value.back() != '\n' ? "\n" : "");
    }
    Print(text);
  }

  void Command(const std::string& raw) {
    const std::string command = Trim(raw);
    if (command.empty()) return;
    if (command == "menu") return PrintMenu();
    if (command == "window") return PrintWindow();
    Component* target = nullptr;
    if (command.find_first_not_of("0123456789") == std::string::npos && command.size() < 6) {
      // A number names the item it stood for in the menu printed last; one gone since is
      // no target, and the menu is shown again.
      const std::size_t index = std::stoul(command);
      if (index >= 1 && index <= printedNames_.size() && app_ != nullptr) {
        Component* item = app_->Find(printedNames_[index - 1]);
        if (item != nullptr && item->Visible()) target = item;
      }
      if (target == nullptr) {
        Print("Unknown command: " + OneLine(command) + "\n");
        return PrintMenu();
      }
    } else if (app_ != nullptr) {
      target = app_->Find(command);
      if (target != nullptr && target->GetKind() != Component::Kind::MenuItem &&
          target->GetKind() != Component::Kind::Button) {
        target = nullptr;
      }
    }
    if (target == nullptr) {
      Print("Unknown command: " + OneLine(command) + " (type menu)\n");
      return;
    }
    app_->Dispatch([target] { target->Click(); });
  }

  // A line from standard input: the answer of an open prompt, else a command.
  void Line(const std::string& line) {
    if (waiting_) {
      answer_ = line;
      answered_ = true;
      return;
    }
    Command(line);
  }

  // A nested loop, as a modal dialog runs one: timers and posted work go on meanwhile.
  bool WaitForLine(std::string* line) {
    StartInput();
    if (inputEnded_) return false;
    waiting_ = true;
    answered_ = false;
    loop_.RunUntil([this] { return answered_ || inputEnded_; });
    waiting_ = false;
    if (!answered_) return false;
    *line = answer_;
    return true;
  }

  bool AskPath(std::string* path) {
    std::string line;
    if (!WaitForLine(&line)) return false;
    line = Trim(line);
    if (line.empty()) return false;
    *path = line;
    return true;
  }

  // Commands are read once the menu they refer to is shown (or a prompt wants a line).
  void StartInput() {
    if (!input_.joinable()) input_ = std::thread([this] { ReadInput(); });
  }

  void ReadInput() {
    std::string pending;
    char buffer[4096];
    while (!stopping_) {
      if (!WaitUnlessStopping(0)) continue;
      const ssize_t n = read(0, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t end = pending.find('\n'); end != std::string::npos;
           end = pending.find('\n')) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        loop_.Post([this, line] { Line(line); });
      }
    }
    if (!pending.empty()) loop_.Post([this, pending] { Line(pending); });
    // The end of input does not end the program: the tray program has no input to end either.
    loop_.Post([this] { inputEnded_ = true; });
  }

  // Whether fd became readable within kStopLookMs; the end of the front end ends the wait early.
  bool WaitUnlessStopping(int fd) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stopWake_, POLLIN, 0}};
    return poll(p, 2, kStopLookMs) > 0 && p[0].revents != 0;
  }

  void WatchSignals(sigset_t stops) {
    // The descriptor only wakes the watcher; the signal is taken below, which also catches one
    // within a look should the system give no such descriptor.
    const int signalled = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    const timespec now{0, 0};
    while (!stopping_) {
      WaitUnlessStopping(signalled);
      if (sigtimedwait(&stops, nullptr, &now) < 0) continue;
      if (exitRequested_.exchange(true)) _exit(130);  // a second signal: the user insists
      loop_.Post([this] {
        Component* exit = app_ != nullptr ? app_->Find("N2") : nullptr;
        if (exit != nullptr) {
          app_->Dispatch([exit] { exit->Click(); });
        } else {
          loop_.Quit();
        }
      });
    }
    if (signalled >= 0) close(signalled);
  }

  Application* app_ = nullptr;
  TerminalOutput output_;
  EventLoop loop_;
  std::map<WindowHandle, MessageHandler> windows_;
  WindowHandle nextWindow_ = 1;
  std::map<std::string, std::string> shown_;  // captions as last printed
  std::vector<std::string> printedNames_;      // the menu's items as last printed, in order
  std::string shownTip_;
  bool waiting_ = false;
  bool answered_ = false;
  std::string answer_;
  bool inputEnded_ = false;
  std::atomic<bool> stopping_{false};
  // Readable once stopping_ is set: the input and signal threads wait on it beside their own, so
  // an idle terminal program wakes for nothing. (Poll ignores it should the system give none.)
  const int stopWake_ = net::detail::OpenWakeCounter();
  std::atomic<bool> exitRequested_{false};
  std::thread signals_;
  std::thread input_;
};

}  // namespace

std::unique_ptr<Frontend> CreateSystemFrontend() { return std::make_unique<TerminalFrontend>(); }

}  // namespace tovi::gui
