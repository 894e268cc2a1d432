#include "platform/gui.h"

#include <algorithm>
#include <exception>

namespace tovi::gui {

Application::Application(Frontend& frontend)
    : frontend_(frontend), guiThread_(std::this_thread::get_id()) {
  frontend_.Attach(*this);
}

Application::~Application() {
  if (handle_ != 0) frontend_.DestroyWindow(handle_);
}

void Application::Initialize() {
  if (handle_ == 0) {
    handle_ = frontend_.MakeWindow(title_, [this](Message& m) { frontend_.DefaultHandler(handle_, m); });
  }
}

void Application::Run() {
  if (!terminated_) frontend_.Run(*this);
}

void Application::Terminate() {
  terminated_ = true;
  frontend_.Quit();
}

void Application::ProcessMessages() { frontend_.ProcessMessages(); }

void Application::Post(std::function<void()> task) {
  frontend_.Post([this, task = std::move(task)] { Dispatch(task); });
}

void Application::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowMessage(e.what());
  } catch (...) {
    ShowMessage("Unknown exception");
  }
}

void Application::ShowMessage(const std::string& text) { frontend_.ShowMessageBox(title_, text); }

void Application::Register(Component& component) { components_.push_back(&component); }

void Application::Unregister(Component& component) {
  components_.erase(std::remove(components_.begin(), components_.end(), &component),
                    components_.end());
}

Component* Application::Find(const std::string& name) const {
  for (Component* c : components_) {
    if (c->Name() == name) return c;
  }
  return nullptr;
}

Component::Component(Application& app, Kind kind, std::string name, std::string caption,
                     bool visible)
    : app_(app), kind_(kind), name_(std::move(name)), caption_(std::move(caption)),
      visible_(visible) {
  app_.Register(*this);
}

Component::~Component() { app_.Unregister(*this); }

std::string Component::Caption() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return caption_;
}

void Component::SetCaption(const std::string& caption) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (caption_ == caption) return;
    caption_ = caption;
  }
  // By value: the front end may show it after the component (or the form) is gone.
  Frontend& ui = app_.Ui();
  ui.Post([&ui, name = name_, caption] { ui.CaptionChanged(name, caption); });
}

void PopupMenu::Popup(Point at, WindowHandle owner) {
  if (OnPopup) OnPopup();
  app_.Ui().TrackPopupMenu(*this, at, owner);
}

Timer::Timer(Application& app, std::string name, int intervalMs, bool enabled)
    : Component(app, Kind::Timer, std::move(name), ""), intervalMs_(intervalMs),
      enabled_(enabled) {
  if (enabled_) app_.Ui().UpdateTimer(*this);
}

Timer::~Timer() {
  if (enabled_) {
    enabled_ = false;
    app_.Ui().UpdateTimer(*this);
  }
}

void Timer::SetInterval(int intervalMs) {
  if (intervalMs == intervalMs_) return;
  intervalMs_ = intervalMs;
  if (enabled_) app_.Ui().UpdateTimer(*this);
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  app_.Ui().UpdateTimer(*this);
}

void Timer::Tick() {
  if (enabled_ && intervalMs_ > 0 && OnTimer) app_.Dispatch(OnTimer);
}

bool OpenDialog::Execute() {
  std::string path;
  if (!app_.Ui().OpenFileDialog(filter_, &path)) return false;
  fileName_ = path;
  return true;
}

bool SelectDirectory(Application& app, WindowHandle owner, const std::string& title,
                     std::string* path) {
  return app.Ui().ChooseFolder(owner, title, path);
}

}  // namespace tovi::gui
