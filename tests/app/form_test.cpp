// The main form driven through a recording front end: start-up, tray, menu and shell handlers.
#include "app/form.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "support/loopback.h"
#include "app/desktop_fakes.h"
#include "support/raw_client.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "remote/service_hosts.h"
#include "server/media_handler.h"
#include "support/fake_frontend.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::app {
namespace {

using testing::FakeFrontend;
using testing::TempDir;

// One program's GUI side: front end, application, form with a private settings file.
struct Rig {
  explicit Rig(std::string address = "192.168.1.20", MediaServerFactory servers = {})
      : address_(std::move(address)) {
    app.Initialize();
    app.SetTitle(kApplicationTitle);
    form = std::make_unique<TForm1>(
        app, FormOptions{dir.Path("setstovi.cfg"), [this] { return address_; }, {},
                         fakes::FakePlatform(system, "C:\\Tovi\\remote-toviplayer.exe"),
                         std::move(servers)});
  }
  // The automatic choice over adapters the test changes, with the settings file of dir.
  Rig(const std::vector<net::Adapter>* adapters, const TempDir* settingsDir) {
    app.Initialize();
    app.SetTitle(kApplicationTitle);
    form = std::make_unique<TForm1>(
        app, FormOptions{(settingsDir != nullptr ? *settingsDir : dir).Path("setstovi.cfg"), {},
                         [adapters] { return *adapters; },
                         fakes::FakePlatform(system, "C:\\Tovi\\remote-toviplayer.exe"), {}});
  }
  void Create() { app.Dispatch([this] { form->FormCreate(); }); }
  void Settings(const std::string& bytes) { dir.Write("setstovi.cfg", bytes); }

  TempDir dir;
  std::string address_;
  fakes::FakeSystem system;
  FakeFrontend ui;
  gui::Application app{ui};
  std::unique_ptr<TForm1> form;
};

struct StartCase {
  const char* what;
  const char* settings;  // nullptr: no file
  const char* address;
  std::string n5;
  std::string syncFolder;
  bool timer2;
  bool shownToTvs = true;
};

TEST(MainForm, StartUpSetsCaptionsAndSharedValues) {
  const StartCase cases[] = {
      {"no settings file", nullptr, "192.168.1.20", "Установить папку Tovi DLNA", "", false},
      {"stored folder, server was on", "[Path]\r\nC:\\Video\r\n[LFRS]\r\ntrue\r\n", "10.0.0.5",
       "Синхр. Tovi DLNA (C:\\Video)", "C:\\Video", true},
      {"stored folder, server was off", "[Path]\r\nC:\\Video\r\n[LFRS]\r\nfalse\r\n", "10.0.0.5",
       "Синхр. Tovi DLNA (C:\\Video)", "C:\\Video", false},
      {"no folder, server was on", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n", "10.0.0.5",
       "Установить папку Tovi DLNA", "", true},
      {"after a folder sync", "[Path]\r\nD:\\\r\n", "10.0.0.5", "Синхр. Tovi DLNA (D:\\)", "D:\\",
       false},
      {"True is not true", "[Path]\r\n\r\n[LFRS]\r\nTrue\r\n", "10.0.0.5",
       "Установить папку Tovi DLNA", "", false},
      {"address lookup failed", nullptr, "", "Установить папку Tovi DLNA", "", false},
      {"not shown to TVs", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n[DLNA]\r\nfalse\r\n", "10.0.0.5",
       "Установить папку Tovi DLNA", "", true, false},
      {"an adapter chosen, not shown to TVs",
       "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[Adapter]\r\neth1\r\n[DLNA]\r\nfalse\r\n", "10.0.0.5",
       "Установить папку Tovi DLNA", "", false, false},
      {"an adapter chosen, as the version before wrote it",
       "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[Adapter]\r\neth1\r\n", "10.0.0.5",
       "Установить папку Tovi DLNA", "", false, true},
  };
  for (const StartCase& c : cases) {
    Rig rig(c.address);
    if (c.settings != nullptr) rig.Settings(c.settings);
    rig.Create();
    EXPECT_TRUE(rig.ui.boxes.empty()) << c.what;
    EXPECT_EQ(rig.form->N5.Caption(), c.n5) << c.what;
    EXPECT_FALSE(rig.form->N5.Visible()) << c.what;
    EXPECT_EQ(rig.form->ToviDLNA1.Caption(),
              "Проверить http://" + std::string(c.address) + ":8027/test")
        << c.what;
    EXPECT_EQ(rig.form->SyncFolder, c.syncFolder) << c.what;
    EXPECT_EQ(rig.form->Timer2.Enabled(), c.timer2) << c.what;
    EXPECT_EQ(rig.ui.TimerRunning(rig.form->Timer2), c.timer2) << c.what;
    EXPECT_EQ(rig.form->ServiceVersion, "1.1") << c.what;
    EXPECT_FALSE(rig.form->ServerSwitch().On()) << c.what;
    EXPECT_EQ(rig.form->ActiveDevice(), "") << c.what;
    EXPECT_EQ(rig.form->ServerSwitch().ShownToTvs(), c.shownToTvs) << c.what;
    EXPECT_EQ(rig.form->ShowToTvs1.Checked(), c.shownToTvs) << c.what;
  }
}

TEST(MainForm, StartUpRunsTheRegistrationOnceAfterTheVersionIsSet) {
  Rig rig;
  std::vector<std::string> versions;
  rig.form->Button1.OnClick = [&] { versions.push_back(rig.form->ServiceVersion); };
  rig.Create();
  EXPECT_EQ(versions, std::vector<std::string>{"1.1"});
}

TEST(MainForm, UnreadableSettingsStopStartUpWithAMessageAndTheProgramRunsOn) {
  // A file that exists but cannot be read; permissions do not stop root, this does.
  const std::string unreadable = "/proc/self/mem";
  if (!fs::FileExists(unreadable)) GTEST_SKIP() << "needs Linux's " << unreadable;
  std::string expected;
  try {
    fs::ReadWholeFile(unreadable);
  } catch (const std::exception& e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());

  TempDir dir;
  FakeFrontend ui;
  gui::Application app(ui);
  app.SetTitle(kApplicationTitle);
  fakes::FakeSystem system;
  TForm1 form(app, FormOptions{unreadable, [] { return std::string("10.0.0.1"); }, {},
                               fakes::FakePlatform(system, "C:\\remote-toviplayer.exe"), {}});
  int registrations = 0;
  form.Button1.OnClick = [&] { ++registrations; };
  app.Dispatch([&] { form.FormCreate(); });
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Remote Toviplayer");
  EXPECT_EQ(ui.boxes[0].text, expected);
  EXPECT_EQ(form.N5.Caption(), "Синхронизировать Tovi DLNA");
  EXPECT_EQ(form.ToviDLNA1.Caption(), "Проверить работу Tovi DLNA");
  EXPECT_EQ(form.ServiceVersion, "");
  EXPECT_EQ(registrations, 0);
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_TRUE(form.Timer1.Enabled());
  // The minimise was posted first, so the program still goes to the tray.
  ui.RunPending();
  EXPECT_EQ(ui.tray.size(), 1u);
}

TEST(MainForm, AFolderNamedLikeTheSettingsFileIsNoSettingsFile) {
  Rig rig;
  std::filesystem::create_directory(rig.dir.Path("setstovi.cfg"));
  rig.Create();
  EXPECT_TRUE(rig.ui.boxes.empty());
  EXPECT_EQ(rig.form->N5.Caption(), "Установить папку Tovi DLNA");
}

TEST(MainForm, StartUpHidesToTheTrayOnceTheLoopRuns) {
  Rig rig;
  rig.Create();
  ASSERT_FALSE(rig.ui.posted.empty());
  EXPECT_EQ(rig.ui.posted[0].first, rig.form->Handle());
  EXPECT_EQ(rig.ui.posted[0].second.msg, 274u);
  EXPECT_EQ(rig.ui.posted[0].second.wParam, 61472u);
  EXPECT_EQ(rig.ui.posted[0].second.lParam, 0);
  EXPECT_TRUE(rig.ui.tray.empty()) << "nothing happens before the message loop runs";

  rig.ui.RunPending();
  ASSERT_EQ(rig.ui.tray.size(), 1u);
  const gui::NotifyIconData& d = rig.ui.tray[0].data;
  EXPECT_EQ(rig.ui.tray[0].action, gui::kNimAdd);
  EXPECT_EQ(d.size, gui::NotifyIconDataSize());
  EXPECT_EQ(d.window, rig.form->Handle());
  EXPECT_EQ(d.id, 1u);
  EXPECT_EQ(d.flags, 7u);
  EXPECT_EQ(d.callbackMessage, 1025u);
  EXPECT_EQ(d.icon, rig.ui.ApplicationIcon());
  char tip[64] = "Remote Toviplayer: Tovi DLNA выключен";
  EXPECT_EQ(std::memcmp(d.tip, tip, sizeof tip), 0) << "the text, then zeros";
  const std::vector<std::pair<gui::WindowHandle, int>> hidden{{rig.form->Handle(), 0},
                                                              {rig.app.Handle(), 0}};
  EXPECT_EQ(rig.ui.shown, hidden);
}

TEST(MainForm, TheIconComesBackWhenTheShellRestarts) {
  Rig rig;
  const gui::Message shellRestarted{rig.ui.shellRestartMessage, 0, 0, 0};
  rig.ui.Send(rig.form->Handle(), shellRestarted);
  EXPECT_TRUE(rig.ui.tray.empty()) << "no icon before the window went to the tray";

  rig.Create();
  rig.ui.RunPending();
  rig.ui.Send(rig.form->Handle(), shellRestarted);
  ASSERT_EQ(rig.ui.tray.size(), 2u);
  EXPECT_EQ(rig.ui.tray[1].action, gui::kNimAdd);
  const gui::NotifyIconData& first = rig.ui.tray[0].data;
  const gui::NotifyIconData& again = rig.ui.tray[1].data;
  EXPECT_TRUE(again.size == first.size && again.window == first.window && again.id == first.id &&
              again.flags == first.flags && again.callbackMessage == first.callbackMessage &&
              again.icon == first.icon && std::memcmp(again.tip, first.tip, sizeof first.tip) == 0)
      << "the same record";
  EXPECT_EQ(rig.ui.shown.size(), 2u) << "the windows stay as they are";

  rig.form->N2.Click();
  rig.ui.Send(rig.form->Handle(), shellRestarted);
  ASSERT_EQ(rig.ui.tray.size(), 3u) << "not after Exit removed it";
  EXPECT_EQ(rig.ui.tray[2].action, gui::kNimDelete);
}

TEST(MainForm, AStoredFolderShowsAsItsCharacters) {
  const std::string folder = "C:\\\xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE";  // C:\Видео
  Rig rig;
  rig.Settings("[Path]\r\n" + text::Utf8ToAnsi(folder) + "\r\n");  // as the file holds it
  rig.Create();
  EXPECT_EQ(rig.form->SyncFolder, text::Utf8ToAnsi(folder));
  EXPECT_EQ(rig.form->N5.Caption(), "Синхр. Tovi DLNA (" + folder + ")");
}

TEST(MainForm, OnlyThePlainMinimiseGoesToTheTray) {
  Rig rig;
  const std::uintptr_t others[] = {61472 + 1, 61472 + 0xF0000, 61536, 61488, 61456};
  for (std::uintptr_t command : others) {
    rig.ui.Send(rig.form->Handle(), {274, command, 0, 0});
  }
  EXPECT_TRUE(rig.ui.tray.empty());
  EXPECT_TRUE(rig.ui.shown.empty());
  ASSERT_EQ(rig.ui.defaulted.size(), std::size(others));
  for (std::size_t i = 0; i < std::size(others); ++i) {
    EXPECT_EQ(rig.ui.defaulted[i].second.wParam, others[i]);
  }
}

TEST(MainForm, OnlyReleasingTheRightButtonOpensTheMenu) {
  Rig rig;
  for (std::intptr_t mouse : {512, 513, 514, 515, 516, 518}) {
    rig.ui.Send(rig.form->Handle(), {1025, 1, mouse, 0});
  }
  EXPECT_TRUE(rig.ui.popups.empty());
  EXPECT_TRUE(rig.ui.foreground.empty());

  bool popupEvent = false;
  rig.form->pmTreyMenu.OnPopup = [&] { popupEvent = true; };
  rig.ui.cursor = {640, 470};
  rig.ui.Send(rig.form->Handle(), {1025, 1, 517, 0});
  EXPECT_TRUE(popupEvent);
  ASSERT_EQ(rig.ui.popups.size(), 1u);
  EXPECT_EQ(rig.ui.popups[0].menu, &rig.form->pmTreyMenu);
  EXPECT_EQ(rig.ui.popups[0].at.x, 640);
  EXPECT_EQ(rig.ui.popups[0].at.y, 470);
  EXPECT_EQ(rig.ui.foreground, std::vector<gui::WindowHandle>{rig.form->Handle()});
  ASSERT_EQ(rig.ui.posted.size(), 1u);
  EXPECT_EQ(rig.ui.posted[0].second.msg, 0u);
  EXPECT_EQ(rig.ui.posted[0].second.wParam, 0u);
  EXPECT_EQ(rig.ui.posted[0].second.lParam, 0);
}

TEST(MainForm, AboutBoxTextIsExact) {
  Rig rig("192.168.1.20");
  rig.Create();
  remote::CurrentServiceHosts().mainSite = "site.test:8080";
  rig.form->N1.Click();
  remote::CurrentServiceHosts() = remote::ServiceHosts{};
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_EQ(rig.ui.boxes[0].caption, "Remote Toviplayer");
  EXPECT_EQ(rig.ui.boxes[0].text,
            "\xD0\x92\xD0\xB5\xD1\x80\xD1\x81\xD0\xB8\xD1\x8F  1.1\r\n"    // Версия
            "\xD0\x9E\xD0\xBD\xD0\xBB\xD0\xB0\xD0\xB9\xD0\xBD\r\n"         // Онлайн
            "\xD0\x92\xD1\x81\xD0\xBF\xD0\xBE\xD0\xBC\xD0\xBE\xD0\xB3\xD0\xB0\xD1\x82\xD0\xB5"
            "\xD0\xBB\xD1\x8C\xD0\xBD\xD0\xB0\xD1\x8F \xD0\xBF\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80"
            "\xD0\xB0\xD0\xBC\xD0\xBC\xD0\xB0 \xD0\xB4\xD0\xBB\xD1\x8F \xD1\x80\xD0\xB0\xD0\xB1"
            "\xD0\xBE\xD1\x82\xD1\x8B\r\n"
            "ToviPlayer \xD0\xBD\xD0\xB0 \xD1\x82\xD0\xB5\xD0\xBB\xD0\xB5\xD0\xB2\xD0\xB8\xD0\xB7"
            "\xD0\xBE\xD1\x80\xD0\xB0\xD1\x85 \xD0\xA1\xD0\x9C\xD0\x90\xD0\xA0\xD0\xA2\xD0\xA2"
            "\xD0\x92\r\n"
            "IP: 192.168.1.20\n\r"
            "http://site.test:8080");
}

TEST(MainForm, AboutBoxLooksTheAddressUpAnew) {
  Rig rig("10.0.0.1");
  rig.Create();
  rig.address_ = "";
  rig.form->N1.Click();
  ASSERT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_NE(rig.ui.boxes[0].text.find("\r\nIP: \n\rhttp://"), std::string::npos);
  EXPECT_EQ(rig.form->ToviDLNA1.Caption(), "Проверить http://10.0.0.1:8027/test")
      << "the caption follows the address on the tick, not on other clicks";
}

TEST(MainForm, TestPageOpensInTheBrowserAndFailuresStaySilent) {
  Rig rig("10.0.0.7");
  rig.form->ToviDLNA1.Click();
  rig.ui.openUrlFails = true;
  rig.address_ = "";
  rig.form->ToviDLNA1.Click();
  EXPECT_EQ(rig.ui.urls,
            (std::vector<std::string>{"http://10.0.0.7:8027/test", "http://:8027/test"}));
  EXPECT_TRUE(rig.ui.boxes.empty());
}

TEST(MainForm, ExitRemovesTheIconBeforeTheProgramEnds) {
  Rig rig;
  rig.Create();
  rig.ui.RunPending();
  rig.form->N2.Click();
  ASSERT_EQ(rig.ui.tray.size(), 2u);
  EXPECT_EQ(rig.ui.tray[1].action, gui::kNimDelete);
  EXPECT_EQ(rig.ui.tray[1].data.id, 1u);
  EXPECT_EQ(rig.ui.tray[1].data.window, rig.form->Handle());
  EXPECT_TRUE(rig.ui.QuitCalled());
  EXPECT_TRUE(rig.app.Terminated());
}

TEST(MainForm, EveryOtherEndRemovesTheIconToo) {
  for (const bool sessionEnds : {false, true}) {
    Rig rig;
    rig.Create();
    rig.ui.RunPending();
    ASSERT_EQ(rig.ui.tray.size(), 1u);
    if (sessionEnds) {
      rig.ui.Send(rig.form->Handle(), {gui::kWmEndSession, 1, 1, 0});  // ENDSESSION_CLOSEAPP
    } else {
      rig.form->FormDestroy();  // the loop ended by a WM_CLOSE
    }
    ASSERT_EQ(rig.ui.tray.size(), 2u) << (sessionEnds ? "end of session" : "closed");
    EXPECT_EQ(rig.ui.tray[1].action, gui::kNimDelete);
    rig.form->FormDestroy();
    EXPECT_EQ(rig.ui.tray.size(), 2u) << "deleted once";
  }
}

// Media servers at a free loopback port, so that a test switches on wherever the media port is.
MediaServerFactory AnyLoopbackPort() {
  return [](const std::string&, int, MediaRequestEvent handler) {
    return server::CreateMediaServer("127.0.0.1", 0, std::move(handler));
  };
}

TEST(MainForm, Timer2StartsTheServerOnceAndOnlyWhenItIsOff) {
  Rig rig("192.168.1.20", AnyLoopbackPort());
  rig.Settings("[Path]\r\n\r\n[LFRS]\r\ntrue\r\n");
  int switches = 0;
  rig.form->LocalRFS1.OnClick = [&] {
    ++switches;
    rig.form->LocalRFS1Click();
  };
  rig.Create();
  ASSERT_TRUE(rig.ui.TimerRunning(rig.form->Timer2));
  rig.ui.TickTimers();
  EXPECT_EQ(switches, 1);
  EXPECT_TRUE(rig.form->ServerSwitch().On());
  EXPECT_FALSE(rig.form->Timer2.Enabled());
  EXPECT_FALSE(rig.ui.TimerRunning(rig.form->Timer2));
  rig.ui.TickTimers();
  EXPECT_EQ(switches, 1) << "one shot";

  // Enabled again (as the folder sync does) while the server runs: it only disables itself.
  rig.form->Timer2.SetEnabled(true);
  rig.ui.TickTimers();
  EXPECT_EQ(switches, 1);
  EXPECT_FALSE(rig.form->Timer2.Enabled());
}

TEST(MainForm, TheTvItemTurnsOnlyTheMediaServerSideAndIsKeptBesideTheOtherChoices) {
  Rig rig("192.168.1.20", AnyLoopbackPort());
  rig.Create();
  rig.form->LocalRFS1.Click();
  const auto server = rig.form->ServerSwitch().MediaServer();
  ASSERT_NE(server, nullptr);
  const std::string path = rig.dir.Path("setstovi.cfg");

  rig.form->ShowToTvs1.Click();
  EXPECT_FALSE(rig.form->ShowToTvs1.Checked());
  EXPECT_FALSE(rig.form->ServerSwitch().ShownToTvs());
  EXPECT_EQ(rig.form->ServerSwitch().MediaServer(), server) << "the media server stays as it was";
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n[DLNA]\r\nfalse\r\n");
  rig.form->LocalRFS1.Click();  // the other writers keep it
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[DLNA]\r\nfalse\r\n");
  EXPECT_FALSE(rig.form->ServerSwitch().ShownToTvs());

  rig.form->ShowToTvs1.Click();
  EXPECT_TRUE(rig.form->ShowToTvs1.Checked());
  EXPECT_TRUE(rig.form->ServerSwitch().ShownToTvs());
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n");

  // A file that cannot be written: the message, and the choice stays as it was.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  rig.dir.Write("setstovi.cfg" + std::string(1, fs::kSeparator) + "keep", "k");
  rig.app.Dispatch([&] { rig.form->ShowToTvs1Click(); });
  EXPECT_EQ(rig.ui.boxes.size(), 1u);
  EXPECT_TRUE(rig.form->ShowToTvs1.Checked());
  EXPECT_TRUE(rig.form->ServerSwitch().ShownToTvs());
}

// A media server whose one connection (Connect, once it is on) is stuck in a handler that
// ignores the switch-off, as a slow disk or name lookup would be, until Release().
class StuckServer {
 public:
  StuckServer() : server_(std::make_shared<http::TNetHTTPServer>()) {
    http::TNetSocketHandle& binding = server_->Bindings().Add();
    binding.SetIP("127.0.0.1");
    binding.SetPort(0);
    server_->SetTerminateWaitTime(300);
    server_->OnCommandGet = [this](auto&, auto&, auto&) {
      entered_ = true;
      std::unique_lock<std::mutex> guard(lock_);
      released_.wait_for(guard, std::chrono::seconds(10), [this] { return release_; });
    };
  }
  ~StuckServer() { Release(); }
  // The switch's servers: this one, once.
  MediaServerFactory Factory() {
    return [this](const std::string&, int, MediaRequestEvent) { return std::move(server_); };
  }
  void Connect(http::TNetHTTPServer& on) {
    client_.Connect(static_cast<std::uint16_t>(on.Bindings()[0].Port()));
    client_.Send("GET / HTTP/1.1\r\n\r\n");
  }
  bool Entered() const { return entered_; }
  void Release() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      release_ = true;
    }
    released_.notify_all();
  }

 private:
  std::shared_ptr<http::TNetHTTPServer> server_;
  std::mutex lock_;
  std::condition_variable released_;
  bool release_ = false;
  std::atomic<bool> entered_{false};
  tovi::testing::RawClient client_;
};

TEST(MainForm, ASwitchOffThatTimesOutFreesTheServerNextTimeAndExitDoesAtOnce) {
  for (const bool viaExit : {false, true}) {
    SCOPED_TRACE(viaExit ? "Exit" : "the switch, twice");
    StuckServer stuck;
    Rig rig("192.168.1.20", stuck.Factory());
    rig.app.Dispatch([&] { rig.form->LocalRFS1Click(); });
    ASSERT_EQ(rig.form->LocalRFS1.Caption(), kCaptionServerOff);
    std::weak_ptr<http::TNetHTTPServer> server = rig.form->ServerSwitch().MediaServer();
    stuck.Connect(*server.lock());
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return stuck.Entered(); }, 5000));
    if (viaExit) {
      rig.app.Dispatch([&] { rig.form->FormDestroy(); });
      EXPECT_TRUE(rig.ui.boxes.empty()) << "nobody could act on it at the end";
    } else {
      rig.app.Dispatch([&] { rig.form->LocalRFS1Click(); });
      ASSERT_EQ(rig.ui.boxes.size(), 1u);
      EXPECT_EQ(rig.ui.boxes[0].text, "Terminate Thread Timeout");
      EXPECT_TRUE(rig.form->ServerSwitch().On());
      EXPECT_EQ(rig.form->LocalRFS1.Caption(), kCaptionServerOff);
      rig.app.Dispatch([&] { rig.form->LocalRFS1Click(); });  // frees it, no second wait
      EXPECT_EQ(rig.ui.boxes.size(), 1u);
      EXPECT_EQ(rig.form->LocalRFS1.Caption(), kCaptionServerOn);
    }
    EXPECT_FALSE(rig.form->ServerSwitch().On());
    EXPECT_EQ(rig.form->ServerSwitch().MediaServer(), nullptr);
    EXPECT_FALSE(server.expired()) << "freed under its connection thread";
    EXPECT_TRUE(rig.form->ServerSwitch().ConnectionsRunning());
    stuck.Release();
    EXPECT_TRUE(tovi::testing::WaitUntil(
        [&] { return !rig.form->ServerSwitch().ConnectionsRunning(); }, 5000));
  }
}

TEST(MainForm, ALogoffSwitchesTheServerOffBeforeTheSystemEndsTheProgram) {
  Rig rig("192.168.1.20", AnyLoopbackPort());
  rig.Create();
  rig.form->LocalRFS1.Click();
  ASSERT_TRUE(rig.form->ServerSwitch().On());
  rig.ui.Send(rig.form->Handle(), {gui::kWmEndSession, 0, 0, 0});  // called off
  EXPECT_TRUE(rig.form->ServerSwitch().On());
  EXPECT_FALSE(rig.ui.QuitCalled());

  rig.ui.Send(rig.form->Handle(), {gui::kWmEndSession, 1, 0, 0});
  EXPECT_FALSE(rig.form->ServerSwitch().On()) << "off before the handler returns";
  EXPECT_EQ(rig.form->ServerSwitch().MediaServer(), nullptr);
  EXPECT_TRUE(rig.ui.QuitCalled());
  EXPECT_EQ(fs::ReadWholeFile(rig.dir.Path("setstovi.cfg")), "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n")
      << "on again at the next logon";
  EXPECT_TRUE(rig.ui.boxes.empty());
}

TEST(MainForm, ButtonsAndTimer1ClickThroughToTheirItems) {
  Rig rig;
  int switches = 0, registrations = 0;
  rig.form->LocalRFS1.OnClick = [&] { ++switches; };
  rig.form->Button1.OnClick = [&] { ++registrations; };
  rig.form->Button2.Click();
  rig.form->Button2.Click();
  rig.ui.TickTimers();  // Timer1 runs from the start
  EXPECT_EQ(switches, 2);
  EXPECT_EQ(registrations, 1);
}

TEST(MainForm, LoadingAListOffersListFilesAndACancelSendsNothing) {
  Rig rig;
  rig.form->SetActiveDevice("Samsung|x|Hall");
  rig.form->N4.Click();  // the front end answers the dialog with a cancel
  EXPECT_EQ(rig.ui.fileFilters, std::vector<std::string>{"*.m3u, *.xml в UTF-8|*.m3u;*.xml"});
  EXPECT_TRUE(rig.ui.boxes.empty());
}

TEST(MainForm, CaptionsChangedFromOtherThreadsReachTheFrontEndOnTheGuiThread) {
  Rig rig;
  std::thread worker([&] {
    rig.form->N3.SetCaption("Hall (Samsung)");
    rig.form->Label2.SetCaption("C:/Video/film.mkv");
    rig.form->Memo1.SetText("Не найдено");
    rig.form->SetActiveDevice("Samsung|x|Hall");
  });
  worker.join();
  EXPECT_TRUE(rig.ui.captions.empty()) << "delivered only when the GUI thread handles messages";
  rig.ui.RunPending();
  const std::vector<std::pair<std::string, std::string>> expected{
      {"N3", "Hall (Samsung)"}, {"Label2", "C:/Video/film.mkv"}, {"Memo1", "Не найдено"}};
  EXPECT_EQ(rig.ui.captions, expected);
  EXPECT_EQ(rig.form->ActiveDevice(), "Samsung|x|Hall");
  EXPECT_EQ(rig.form->Memo1.Text(), "Не найдено");
}

// The submenu's visible items as the terminal prints them: check mark and caption.
std::vector<std::string> AddressSubmenu(const TForm1& form) {
  std::vector<std::string> shown;
  for (const gui::MenuItem* item : form.AddressMenu.Items()) {
    if (item->Visible()) shown.push_back((item->Checked() ? "[x] " : "[ ] ") + item->Caption());
  }
  return shown;
}

TEST(MainForm, TheAddressSubmenuOffersEveryAdapterAndTheChoiceLastsWhileItIsThere) {
  const net::Adapter lan{"lan0", "lan0", "", net::AdapterKind::Unknown, true, {0xC0A80132}, true, 0};
  const net::Adapter vbox{"vboxnet0", "vboxnet0", "", net::AdapterKind::Bridge, true, {0xC0A83801},
                          false, net::kNoMetric};  // 192.168.56.1
  std::vector<net::Adapter> adapters{lan, vbox};
  TempDir settings;
  auto rig = std::make_unique<Rig>(&adapters, &settings);
  rig->Create();
  EXPECT_EQ(rig->form->AddressMenu.Caption(), "Адрес: 192.168.1.50");
  EXPECT_EQ(AddressSubmenu(*rig->form),
            (std::vector<std::string>{"[x] Автоматически", "[x] 192.168.1.50 (lan0)",
                                      "[ ] 192.168.56.1 (vboxnet0)"}));

  rig->form->AddressItems[1]->Click();
  EXPECT_EQ(rig->form->LocalAddress(), "192.168.56.1");
  EXPECT_EQ(AddressSubmenu(*rig->form),
            (std::vector<std::string>{"[ ] Автоматически", "[ ] 192.168.1.50 (lan0)",
                                      "[x] 192.168.56.1 (vboxnet0)"}));
  EXPECT_EQ(fs::ReadWholeFile(settings.Path("setstovi.cfg")),
            "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[Adapter]\r\nvboxnet0\r\n");

  // A restart keeps the choice; while the adapter is gone, the automatic choice applies.
  rig = std::make_unique<Rig>(&adapters, &settings);
  rig->Create();
  EXPECT_EQ(rig->form->LocalAddress(), "192.168.56.1");
  adapters = {lan};
  rig->form->Timer1.Tick();
  EXPECT_EQ(rig->form->LocalAddress(), "192.168.1.50");
  EXPECT_EQ(AddressSubmenu(*rig->form),
            (std::vector<std::string>{"[ ] Автоматически", "[x] 192.168.1.50 (lan0)"}));
  adapters = {lan, vbox};
  EXPECT_EQ(rig->form->LocalAddress(), "192.168.56.1");

  rig->form->AddressAuto.Click();
  EXPECT_EQ(rig->form->LocalAddress(), "192.168.1.50");
  EXPECT_EQ(fs::ReadWholeFile(settings.Path("setstovi.cfg")), "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n");

  // An adapter with a second address is one choice, its first address: an item for the
  // second would be a click that leaves the first one in use.
  adapters[0].ipv4.push_back(0xC0A80133);  // 192.168.1.51
  rig->form->Timer1.Tick();
  EXPECT_EQ(AddressSubmenu(*rig->form),
            (std::vector<std::string>{"[x] Автоматически", "[x] 192.168.1.50 (lan0)",
                                      "[ ] 192.168.56.1 (vboxnet0)"}));
}

TEST(MainForm, TheServerAndTheTipFollowTheAddressOnTheTickAndOnlyWhenItChanged) {
  Rig rig("127.0.0.2");
  rig.Create();
  rig.ui.RunPending();  // in the tray
  rig.form->LocalRFS1.Click();
  ASSERT_TRUE(rig.form->ServerSwitch().On());
  EXPECT_TRUE(tovi::testing::Accepts(8027, 2));
  EXPECT_EQ(rig.ui.tray.back().data.tip, std::string("Remote Toviplayer: http://127.0.0.2:8027"));
  const auto first = rig.form->ServerSwitch().MediaServer();
  const std::size_t trayCalls = rig.ui.tray.size();

  rig.form->Timer1.Tick();
  EXPECT_EQ(rig.form->ServerSwitch().MediaServer(), first) << "rebound with nothing changed";
  EXPECT_EQ(rig.ui.tray.size(), trayCalls) << "the same tip given again";

  rig.address_ = "127.0.0.3";
  rig.form->Timer1.Tick();
  EXPECT_NE(rig.form->ServerSwitch().MediaServer(), first);
  EXPECT_EQ(rig.form->ServerSwitch().ServedAddress(), "127.0.0.3");
  EXPECT_TRUE(tovi::testing::Accepts(8027, 3));
  EXPECT_FALSE(tovi::testing::Accepts(8027, 2));
  EXPECT_EQ(rig.ui.tray.back().action, gui::kNimModify);
  EXPECT_EQ(rig.ui.tray.back().data.tip, std::string("Remote Toviplayer: http://127.0.0.3:8027"));
  EXPECT_EQ(rig.form->ToviDLNA1.Caption(), "Проверить http://127.0.0.3:8027/test");

  rig.form->LocalRFS1.Click();
  EXPECT_FALSE(tovi::testing::Accepts(8027, 3));
  EXPECT_EQ(rig.ui.tray.back().data.tip, std::string("Remote Toviplayer: Tovi DLNA выключен"));
}

}  // namespace
}  // namespace tovi::app
