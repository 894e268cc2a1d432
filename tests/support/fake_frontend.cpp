#include "support/fake_frontend.h"

#include <algorithm>

namespace tovi::testing {

void FakeFrontend::RunPending() {
  for (int round = 0; round < 1000 && loop_.HasPendingTasks() && !quit_; ++round) {
    loop_.ProcessPending();
  }
}

void FakeFrontend::TickTimers() {
  const std::vector<gui::Timer*> running = timers_;
  for (gui::Timer* timer : running) {
    if (std::find(timers_.begin(), timers_.end(), timer) != timers_.end()) timer->Tick();
  }
}

bool FakeFrontend::TimerRunning(const gui::Timer& timer) const {
  return std::find(timers_.begin(), timers_.end(), &timer) != timers_.end();
}

void FakeFrontend::UpdateTimer(gui::Timer& timer) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), &timer), timers_.end());
  if (timer.Enabled() && timer.Interval() > 0) timers_.push_back(&timer);
}

void FakeFrontend::Run(gui::Application&) {
  quit_ = false;
  loop_.Run();
}

void FakeFrontend::Quit() {
  quit_ = true;
  loop_.Quit();
}

gui::WindowHandle FakeFrontend::MakeWindow(const std::string&, gui::MessageHandler handler) {
  const gui::WindowHandle h = nextWindow_++;
  windows_[h] = std::move(handler);
  return h;
}

void FakeFrontend::Send(gui::WindowHandle window, gui::Message message) {
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second) return;
  gui::MessageHandler handler = it->second;
  app_->Dispatch([&] { handler(message); });
}

bool FakeFrontend::PostWindowMessage(gui::WindowHandle window, const gui::Message& message) {
  posted.emplace_back(window, message);
  loop_.Post([this, window, message] { Send(window, message); });
  return true;
}

void FakeFrontend::ShowMessageBox(const std::string& caption, const std::string& text) {
  boxes.push_back({caption, text});
  if (onMessageBox) onMessageBox(boxes.back());
}

bool FakeFrontend::OpenFileDialog(const std::string& filter, std::string* path) {
  fileFilters.push_back(filter);
  if (fileAnswers.empty()) return false;
  auto [ok, answer] = fileAnswers.front();
  fileAnswers.pop_front();
  if (ok) *path = answer;
  return ok;
}

bool FakeFrontend::ChooseFolder(gui::WindowHandle, const std::string& title, std::string* path) {
  folderTitles.push_back(title);
  if (folderAnswers.empty()) return false;
  auto [ok, answer] = folderAnswers.front();
  folderAnswers.pop_front();
  if (ok) *path = answer;
  return ok;
}

bool FakeFrontend::OpenUrl(gui::WindowHandle, const std::string& url) {
  urls.push_back(url);
  return !openUrlFails;
}

}  // namespace tovi::testing
