// The framework rule: an exception leaving an event handler becomes a message box with its text,
// the rest of that handler is skipped, and the program runs on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/errors.h"
#include "platform/gui.h"
#include "support/fake_frontend.h"

namespace tovi::gui {
namespace {

using testing::FakeFrontend;

struct Rig {
  Rig() { app.SetTitle("Remote Toviplayer"); }
  FakeFrontend ui;
  Application app{ui};
};

TEST(Framework, ExceptionsLeavingHandlersBecomeMessageBoxes) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    std::string text;
  };
  const Case cases[] = {
      {"runtime I/O error", [] { throw EInOutError::FromCode(5); }, "File access denied"},
      {"engine-style text with CR LF",
       [] { throw std::runtime_error("Socket Error # 10048\r\nAddress already in use."); },
       "Socket Error # 10048\r\nAddress already in use."},
      {"empty message", [] { throw std::runtime_error(""); }, ""},
      {"not a standard exception", [] { throw 42; }, "Unknown exception"},
  };
  for (const Case& c : cases) {
    Rig rig;
    Button button(rig.app, "Button1", "x");
    bool after = false;
    button.OnClick = [&] {
      c.raise();
      after = true;
    };
    rig.app.Dispatch([&] { button.Click(); });
    ASSERT_EQ(rig.ui.boxes.size(), 1u) << c.what;
    EXPECT_EQ(rig.ui.boxes[0].caption, "Remote Toviplayer") << c.what;
    EXPECT_EQ(rig.ui.boxes[0].text, c.text) << c.what;
    EXPECT_FALSE(after) << c.what;
  }
}

TEST(Framework, TheProgramRunsOnAfterAFailedHandler) {
  Rig rig;
  Timer timer(rig.app, "Timer1", 3000, true);
  int ticks = 0;
  timer.OnTimer = [&] {
    if (++ticks == 1) throw EInOutError::FromCode(112);
  };
  MenuItem item(rig.app, "N1", "About");
  int clicks = 0;
  item.OnClick = [&] { ++clicks; };

  rig.ui.TickTimers();
  rig.ui.TickTimers();
  rig.app.Post([] { throw std::runtime_error("posted"); });
  rig.app.Post([&] { item.Click(); });
  rig.ui.RunPending();

  EXPECT_EQ(ticks, 2);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(clicks, 1);
  ASSERT_EQ(rig.ui.boxes.size(), 2u);
  EXPECT_EQ(rig.ui.boxes[0].text, "Disk full");
  EXPECT_EQ(rig.ui.boxes[1].text, "posted");
}

TEST(Framework, AHandlerDisablingItsOwnTimerStopsTheTicks) {
  Rig rig;
  Timer timer(rig.app, "Timer2", 1500, false);
  int ticks = 0;
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    ++ticks;
  };
  rig.ui.TickTimers();
  EXPECT_EQ(ticks, 0) << "disabled at design";
  timer.SetEnabled(true);
  rig.ui.TickTimers();
  rig.ui.TickTimers();
  EXPECT_EQ(ticks, 1);
}

TEST(Framework, RealLoopFiresTimersAndEndsOnTerminate) {
  // The loop the terminal front end runs: a 20 ms timer ends the loop on its third tick.
  EventLoop loop;
  struct LoopFrontend : FakeFrontend {
    explicit LoopFrontend(EventLoop& l) : loop(l) {}
    void UpdateTimer(Timer& t) override { loop.UpdateTimer(t); }
    void Run(Application&) override { loop.Run(); }
    void Quit() override { loop.Quit(); }
    EventLoop& loop;
  } ui(loop);
  Application app(ui);
  Timer timer(app, "Timer1", 20, true);
  int ticks = 0;
  timer.OnTimer = [&] {
    if (++ticks == 3) app.Terminate();
  };
  const auto start = std::chrono::steady_clock::now();
  app.Run();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(elapsed, std::chrono::milliseconds(55));
  EXPECT_LT(elapsed, std::chrono::seconds(30)) << "does not hang";
}

}  // namespace
}  // namespace tovi::gui
