#include "app/form.h"

#include <algorithm>
#include <cstring>

#include "app/address.h"
#include "app/settings.h"
#include "platform/single_instance.h"
#include "platform/codepage.h"
#include "remote/folder_sync.h"
#include "remote/playlist_upload.h"
#include "remote/registration.h"
#include "remote/service_hosts.h"
#include "server/media_port.h"

namespace tovi::app {

TForm1::TForm1(gui::Application& app, FormOptions options)
    : app_(app),
      settingsPath_(options.settingsPath.empty() ? SettingsFilePath() : options.settingsPath),
      fixedAddress_(options.localAddress),
      adapters_(options.adapters ? options.adapters : net::ListAdapters),
      desktop_(std::move(options.desktop)),
      serverSwitch_(MediaWindowOf(), this, std::move(options.mediaServerFactory)) {
  handle_ = app_.Ui().MakeWindow(kApplicationTitle, [this](gui::Message& m) { WndProc(m); });
  pmTreyMenu.Add(N3);
  N3.Add(N4);
  pmTreyMenu.Add(N5);
  pmTreyMenu.Add(ToviDLNA1);
  pmTreyMenu.Add(AddressMenu);
  AddressMenu.Add(AddressAuto);
  pmTreyMenu.Add(LocalRFS1);
  pmTreyMenu.Add(ShowToTvs1);
  ShowToTvs1.SetChecked(serverSwitch_.ShownToTvs());
  pmTreyMenu.Add(AllowFirewall1);
  pmTreyMenu.Add(Autostart1);
  Autostart1.SetVisible(desktop_.AutostartSupported());
  AllowFirewall1.OnClick = [this] { AllowFirewallClick(); };
  Autostart1.OnClick = [this] { AutostartClick(); };
  AwakeTimer.OnTimer = [this] { desktop_.Awake().Poll(); };
  secondStartMessage_ = instance::SecondStartMessage();
  pmTreyMenu.Add(N1);
  pmTreyMenu.Add(N2);
  pmTreyMenu.OnPopup = [this] { pmTreyMenuPopup(); };
  N4.OnClick = [this] { N4Click(); };
  N5.OnClick = [this] { N5Click(); };
  ToviDLNA1.OnClick = [this] { ToviDLNA1Click(); };
  LocalRFS1.OnClick = [this] { LocalRFS1Click(); };
  ShowToTvs1.OnClick = [this] { ShowToTvs1Click(); };
  N1.OnClick = [this] { N1Click(); };
  N2.OnClick = [this] { N2Click(); };
  AddressAuto.OnClick = [this] { ChooseAdapter(""); };
  Button1.OnClick = [this] { Button1Click(); };
  Button2.OnClick = [this] { Button2Click(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Timer2.OnTimer = [this] { Timer2Timer(); };
}

TForm1::~TForm1() { app_.Ui().DestroyWindow(handle_); }

void TForm1::FormCreate() {
  app_.Ui().PostWindowMessage(handle_, {gui::kWmSysCommand, gui::kScMinimize, 0, 0});
  SetActiveDevice("");
  SyncFolder = "";
  const StoredSettings stored = ReadSettings(settingsPath_);
  if (stored.syncFolder) SyncFolder = *stored.syncFolder;
  if (stored.startServer) Timer2.SetEnabled(true);
  {
    std::lock_guard<std::mutex> lock(addressLock_);
    preferredAdapter_ = stored.adapterId;
  }
  serverSwitch_.SetShownToTvs(stored.shownToTvs);
  ShowToTvs1.SetChecked(stored.shownToTvs);
  N5.SetCaption(SyncFolder.empty() ? std::string(kCaptionSetSyncFolder)
                                   : SyncFolderCaption(SyncFolder));
  ServiceVersion = kServiceVersion;
  ShowAddressChoice(CurrentAddress());
  Button1.Click();
}

void TForm1::FormDestroy() {
  // The settings file keeps the switch state, so a server on at exit is on again next start.
  serverSwitch_.SwitchOffAtExit();
  // However the program ends (Exit, a WM_CLOSE, the Restart Manager's end of session), the
  // icon goes with it: the shell keeps an icon left behind until the mouse passes over it.
  if (inTray_) Ic(IconAction::Delete, app_.Ui().ApplicationIcon());
}

std::string TForm1::PreferredAdapter() const {
  std::lock_guard<std::mutex> lock(addressLock_);
  return preferredAdapter_;
}

TForm1::AddressState TForm1::CurrentAddress() const {
  AddressState state;
  state.fixed = fixedAddress_ || !LocalAddressOverride().empty();
  if (fixedAddress_) {
    state.address = fixedAddress_();
  } else if (!LocalAddressOverride().empty()) {
    state.address = LocalAddressOverride();
  } else {
    state.candidates = RankAddresses(adapters_());
    state.address = ChooseAddress(state.candidates, PreferredAdapter(), net::HostNameIPv4Address);
  }
  return state;
}

void TForm1::FollowAddress() {
  const AddressState state = CurrentAddress();
  serverSwitch_.Follow(state.address);  // until it listens again, the tip says it is off
  ShowAddressChoice(state);
  UpdateTip();
}

void TForm1::ShowAddressChoice(const AddressState& state) {
  // The test page's item names the address too: after a move it must open where the server is.
  ToviDLNA1.SetCaption(kCaptionCheckPrefix + server::ServerBaseUrl(state.address) +
                       server::kTestPagePath);
  AddressMenu.SetCaption(kCaptionAddressPrefix +
                         (state.address.empty() ? std::string(kCaptionNoAddress) : state.address));
  std::vector<std::pair<std::string, std::string>> rows;  // adapter id, caption
  if (state.fixed) {
    rows.emplace_back("", state.address + kCaptionFixedAddress);
  } else {
    // A choice is an adapter, which serves at its first address: an adapter's further
    // addresses would be items whose click leaves the first one in use.
    for (const AddressCandidate& c : state.candidates) {
      const bool listed = std::any_of(rows.begin(), rows.end(),
                                      [&](const auto& row) { return row.first == c.adapterId; });
      if (!listed) rows.emplace_back(c.adapterId, c.address + " (" + c.adapterName + ")");
    }
  }
  AddressAuto.SetVisible(!state.fixed);
  AddressAuto.SetChecked(PreferredAdapter().empty());
  addressItemIds_.resize(std::max(addressItemIds_.size(), rows.size()));
  for (std::size_t i = 0; i < rows.size() || i < AddressItems.size(); ++i) {
    if (i == AddressItems.size()) {
      AddressItems.push_back(
          std::make_unique<gui::MenuItem>(app_, "Address" + std::to_string(i + 1), ""));
      AddressMenu.Add(*AddressItems.back());
      AddressItems.back()->OnClick = [this, i] {
        if (!CurrentAddress().fixed) ChooseAdapter(addressItemIds_[i]);
      };
    }
    gui::MenuItem& item = *AddressItems[i];
    const bool shown = i < rows.size();
    item.SetVisible(shown);
    if (!shown) continue;
    addressItemIds_[i] = rows[i].first;
    item.SetCaption(rows[i].second);
    item.SetChecked(rows[i].second.rfind(state.address + " ", 0) == 0);
  }
}

std::string TForm1::TipText() const {
  const std::string where = serverSwitch_.Listening()
                                ? server::ServerBaseUrl(serverSwitch_.ServedAddress())
                                : std::string(kTipServerOff);
  return std::string(kApplicationTitle) + ": " + where;
}

void TForm1::UpdateTip() {
  if (inTray_ && TipText() != shownTip_) Ic(IconAction::Modify, app_.Ui().ApplicationIcon());
}

void TForm1::ChooseAdapter(const std::string& adapterId) {
  // The file first: the choice is in force only once it is kept.
  WriteSettings(settingsPath_, SyncFolder, serverSwitch_.On(), adapterId,
                serverSwitch_.ShownToTvs());
  {
    std::lock_guard<std::mutex> lock(addressLock_);
    preferredAdapter_ = adapterId;
  }
  Button1Click();  // the server and the registration follow at once
}

void TForm1::Close() { app_.Terminate(); }

std::string TForm1::ActiveDevice() const {
  std::lock_guard<std::mutex> lock(activeDeviceLock_);
  return activeDevice_;
}

void TForm1::SetActiveDevice(const std::string& device) {
  std::lock_guard<std::mutex> lock(activeDeviceLock_);
  activeDevice_ = device;
}

void TForm1::WndProc(gui::Message& message) {
  if (message.msg == gui::kWmSysCommand) {
    ControlWindow(message);
  } else if (message.msg == kTrayCallbackMessage) {
    IconMouse(message);
  } else if (message.msg != 0 && message.msg == app_.Ui().ShellRestartMessage()) {
    TaskbarCreated();
  } else if (message.msg != 0 && message.msg == secondStartMessage_) {
    SecondStart();
  } else if (message.msg == gui::kWmEndSession) {
    SessionEnding(message);
  } else {
    app_.Ui().DefaultHandler(handle_, message);
  }
}

void TForm1::Ic(IconAction action, gui::IconHandle icon) {
  gui::NotifyIconData data;
  data.size = gui::NotifyIconDataSize();
  data.window = handle_;
  data.id = kTrayIconId;
  data.flags = gui::kNifMessage | gui::kNifIcon | gui::kNifTip;
  data.callbackMessage = kTrayCallbackMessage;
  data.icon = icon;
  shownTip_ = TipText();
  std::strncpy(data.tip, shownTip_.c_str(), sizeof data.tip - 1);
  switch (action) {
    case IconAction::Add: app_.Ui().NotifyIcon(gui::kNimAdd, data); inTray_ = true; break;
    case IconAction::Delete: app_.Ui().NotifyIcon(gui::kNimDelete, data); inTray_ = false; break;
    case IconAction::Modify: app_.Ui().NotifyIcon(gui::kNimModify, data); break;
  }
}

void TForm1::ControlWindow(gui::Message& message) {
  // The whole word is compared: a minimise with low bits set goes the usual way.
  if (message.wParam != gui::kScMinimize) {
    app_.Ui().DefaultHandler(handle_, message);
    return;
  }
  Ic(IconAction::Add, app_.Ui().ApplicationIcon());
  app_.Ui().ShowWindow(handle_, gui::kSwHide);
  app_.Ui().ShowWindow(app_.Handle(), gui::kSwHide);
}

void TForm1::IconMouse(gui::Message& message) {
  const gui::Point at = app_.Ui().CursorPos();
  if (message.lParam != gui::kWmRButtonUp) return;
  // Foreground first and a null message after: otherwise the menu does not close when the user
  // clicks elsewhere.
  app_.Ui().SetForegroundWindow(handle_);
  pmTreyMenu.Popup(at, handle_);
  app_.Ui().PostWindowMessage(handle_, {gui::kWmNull, 0, 0, 0});
}

void TForm1::TaskbarCreated() {
  if (inTray_) Ic(IconAction::Add, app_.Ui().ApplicationIcon());
}

void TForm1::SessionEnding(gui::Message& message) {
  if (message.wParam != 0) {  // 0: the shutdown was called off, and the program goes on
    FormDestroy();
    Close();
  }
  message.result = 0;
}

std::string TForm1::AboutText() const {
  return "Версия  " + ServiceVersion + "\r\nОнлайн" +
         "\r\nВспомогательная программа для работы" +
         "\r\nToviPlayer на телевизорах СМАРТТВ" + "\r\nIP: " + LocalAddress() +
         "\n\rhttp://" + remote::CurrentServiceHosts().mainSite;
}

void TForm1::N1Click() { app_.ShowMessage(AboutText()); }

void TForm1::N2Click() {
  Ic(IconAction::Delete, app_.Ui().ApplicationIcon());
  Close();
}

void TForm1::ToviDLNA1Click() {
  try {
    app_.Ui().OpenUrl(handle_, TestPageUrl());
  } catch (...) {
    // Opening the page is a convenience; a failure has nothing to tell the user.
  }
}

void TForm1::Timer1Timer() { Button1.Click(); }

void TForm1::Timer2Timer() {
  Timer2.SetEnabled(false);
  if (!serverSwitch_.On()) LocalRFS1.Click();
}

void TForm1::Button2Click() { LocalRFS1.Click(); }

void TForm1::LocalRFS1Click() {
  // The file is written first; the state and the caption change only once the server has.
  if (serverSwitch_.On()) {
    WriteSettings(settingsPath_, SyncFolder, false, PreferredAdapter(),
                  serverSwitch_.ShownToTvs());
    serverSwitch_.SwitchOff();
    LocalRFS1.SetCaption(kCaptionServerOn);
    AllowFirewall1.SetVisible(false);
    UpdateTip();
    return;
  }
  WriteSettings(settingsPath_, SyncFolder, true, PreferredAdapter(),
                serverSwitch_.ShownToTvs());
  serverSwitch_.SwitchOn(LocalAddress());
  LocalRFS1.SetCaption(kCaptionServerOff);
  UpdateTip();
  CheckFirewall();
}

void TForm1::ShowToTvs1Click() {
  // The file first, as the server switch does: the choice is in force only once it is kept.
  const bool shown = !serverSwitch_.ShownToTvs();
  WriteSettings(settingsPath_, SyncFolder, serverSwitch_.On(), PreferredAdapter(), shown);
  serverSwitch_.SetShownToTvs(shown);
  ShowToTvs1.SetChecked(shown);
}

std::string TForm1::TestPageUrl() const {
  return server::ServerBaseUrl(LocalAddress()) + server::kTestPagePath;
}

std::string TForm1::SyncFolderCaption(const std::string& folder) {
  return kCaptionSyncFolderPrefix + text::AnsiToUtf8(folder) + ")";
}

server::MediaWindow TForm1::MediaWindowOf() {
  // The request path shows in Label2, the trace in Memo1, the active device in N3's caption.
  return {[this](const std::string& text) { Label2.SetCaption(text); },
          [this](const std::string& text) { Memo1.SetText(text); },
          [this](const std::string& caption) { N3.SetCaption(caption); },
          [this] { return ActiveDevice(); },
          [this](const std::string& device) { SetActiveDevice(device); },
          {}};  // the switch's: where the server listens
}

// A TV playing keeps the PC awake.
void TForm1::StreamStarted() { desktop_.Awake().StreamStarted(); }
void TForm1::StreamEnded() { desktop_.Awake().StreamEnded(); }

void TForm1::pmTreyMenuPopup() {
  ShowAddressChoice(CurrentAddress());
  if (Autostart1.Visible()) Autostart1.SetChecked(desktop_.AutostartOn());
  // Asked again only while the item shows: the user may have let the program in meanwhile.
  if (serverSwitch_.On() && (AllowFirewall1.Visible() || publicNetwork_)) {
    const FirewallAdvice advice = desktop_.CheckFirewall(server::kMediaPort);
    publicNetwork_ = advice.publicNetwork;
    AllowFirewall1.SetVisible(advice.verdict == FirewallVerdict::Blocked && !publicNetwork_);
  }
}

void TForm1::AutostartClick() {
  desktop_.ToggleAutostart();
  Autostart1.SetChecked(desktop_.AutostartOn());
}

void TForm1::AllowFirewallClick() { desktop_.AllowInFirewall(server::kMediaPort); }

void TForm1::SecondStart() { ShowBalloon(kTextAlreadyRunning + LocalAddress()); }

void TForm1::CheckFirewall() {
  const FirewallAdvice advice = desktop_.CheckFirewall(server::kMediaPort);
  publicNetwork_ = advice.publicNetwork;
  // On a public network no rule of ours would help: the category is what has to change.
  AllowFirewall1.SetVisible(advice.verdict == FirewallVerdict::Blocked && !advice.publicNetwork);
  if (advice.publicNetwork) {
    ShowBalloon(kTextPublicNetwork);
  } else if (advice.verdict == FirewallVerdict::Blocked) {
    ShowBalloon(kTextFirewallBlocks);
  }
}

void TForm1::ShowBalloon(const std::string& text) {
  app_.Ui().ShowBalloon(handle_, kTrayIconId, kApplicationTitle, text);
}

void TForm1::Button1Click() {
  FollowAddress();
  remote::PresenceRegistration(LastSentAddress, [this] { return LocalAddress(); },
                               remote::HttpTransport(remote::kRegistrationLimits),
                               [this](const std::string& trace) { Memo1.SetText(trace); })
      .Step(ServiceVersion);
}

void TForm1::N4Click() {
  remote::PlaylistUploadHost host;
  host.activeDevice = ActiveDevice();
  host.choosePlaylist = [this](std::string* path) {
    if (!OpenDialog1.Execute()) return false;
    *path = OpenDialog1.FileName();
    return true;
  };
  host.showMessage = [this](const std::string& text) { app_.ShowMessage(text); };
  host.transport = remote::HttpTransport(remote::kUploadLimits);
  remote::UploadPlaylist(host);
}

void TForm1::N5Click() {
  remote::FolderSyncHost host;
  host.activeDevice = ActiveDevice();
  host.chooseFolder = [this](std::string* folder) {
    return gui::SelectDirectory(app_, handle_, remote::kFolderChooserTitle, folder);
  };
  host.pumpMessages = [this] { app_.ProcessMessages(); };
  host.storeFolder = [this](const std::string& folder) { SyncFolder = folder; };
  // Every line: a sync must not lose the stored server state or the other choices.
  host.writeSettings = [this](const std::string& folder) {
    WriteSettings(settingsPath_, folder, serverSwitch_.On(), PreferredAdapter(),
                  serverSwitch_.ShownToTvs());
  };
  host.showSyncFolder = [this](const std::string& folder) {
    N5.SetCaption(SyncFolderCaption(folder));
  };
  host.enableServerStart = [this] { Timer2.SetEnabled(true); };
  host.localAddress = [this] { return LocalAddress(); };
  host.showMessage = [this](const std::string& text) { app_.ShowMessage(text); };
  host.transport = remote::HttpTransport(remote::kUploadLimits);
  remote::SyncVideoFolder(host);
}

}  // namespace tovi::app
