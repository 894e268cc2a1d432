// The main form TForm1: the hidden window, its components, the tray icon and menu, and every
// event handler of the program. The values the handlers share live here too; the media server
// itself is the switch's (MediaServerSwitch): the form asks it to switch and shows the result.
// The address: LocalAddress() is the automatic choice, or the adapter the user chose in the
// address submenu while it has an address, or --address; the media server follows it on the
// registration tick (Timer1), and the tray tip says where it listens.
// Thread safety: handlers run on the GUI thread. Connection threads may call the components'
// SetCaption/SetText and Caption/Text, ActiveDevice()/SetActiveDevice() and LocalAddress().
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/address.h"
#include "app/desktop.h"
#include "app/media_server_switch.h"
#include "platform/gui.h"

namespace tovi::app {

inline constexpr const char* kApplicationTitle = "Remote Toviplayer";
inline constexpr const char* kServiceVersion = "1.1";
inline constexpr std::uint32_t kTrayCallbackMessage = gui::kWmUser + 1;  // 1025
inline constexpr std::uint32_t kTrayIconId = 1;

// Captions the handlers set at run time.
inline constexpr const char* kCaptionSetSyncFolder = "Установить папку Tovi DLNA";
inline constexpr const char* kCaptionSyncFolderPrefix = "Синхр. Tovi DLNA (";
inline constexpr const char* kCaptionCheckPrefix = "Проверить ";  // the test page's URL follows
inline constexpr const char* kCaptionServerOn = "Включить Tovi DLNA";    // switches it on
inline constexpr const char* kCaptionServerOff = "Выключить Tovi DLNA";  // switches it off
inline constexpr const char* kCaptionShownToTvs = "Показывать ПК телевизорам (DLNA)";
inline constexpr const char* kCaptionAddressPrefix = "Адрес: ";           // the address in use
inline constexpr const char* kCaptionNoAddress = "нет сети";
inline constexpr const char* kCaptionAutomatic = "Автоматически";
inline constexpr const char* kCaptionFixedAddress = " (--address)";
// The tray tip after the title and ": ": the server's URL, or this while it is off.
inline constexpr const char* kTipServerOff = "Tovi DLNA выключен";

struct FormOptions {
  std::string settingsPath;                    // "" = SettingsFilePath()
  std::function<std::string()> localAddress;   // a fixed address, as --address; empty = the choice
  std::function<std::vector<net::Adapter>()> adapters;  // empty = net::ListAdapters
  DesktopPlatform desktop;                     // empty members = the system's
  MediaServerFactory mediaServerFactory;       // empty = server::CreateMediaServer
};

// What Ic does with the tray icon.
enum class IconAction { Add, Delete, Modify };

// The form is told of every file's bytes going out to a player (from connection threads) and
// keeps the PC awake meanwhile (AwakeKeeper, thread-safe).
class TForm1 : public server::StreamActivity {
 public:
  explicit TForm1(gui::Application& app, FormOptions options = {});
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The form's creation and destruction events; the program runs them through the framework.
  void FormCreate();
  void FormDestroy();
  // The media server. Its freed servers' connection threads reach this form's components until
  // they end: while ServerSwitch().ConnectionsRunning(), the form must stay.
  MediaServerSwitch& ServerSwitch() { return serverSwitch_; }
  const MediaServerSwitch& ServerSwitch() const { return serverSwitch_; }

  gui::Application& App() { return app_; }
  gui::WindowHandle Handle() const { return handle_; }
  const std::string& SettingsFileName() const { return settingsPath_; }
  // Looked up afresh at every call.
  std::string LocalAddress() const { return CurrentAddress().address; }
  // The tray icon's tip.
  std::string TipText() const;
  // Closes the main form: the message loop ends and the program with it.
  void Close();
  std::string AboutText() const;

  // The tray icon, with the tip of now.
  void Ic(IconAction action, gui::IconHandle icon);
  // WM_SYSCOMMAND: the plain minimise hides the window to the tray; the rest goes on as usual.
  void ControlWindow(gui::Message& message);
  // The tray callback (1025): releasing the right button opens the menu at the cursor.
  void IconMouse(gui::Message& message);
  // The shell started anew (Explorer restarted) and lost every tray icon: ours is added again,
  // with the same record, unless Exit removed it or the window was never sent to the tray.
  void TaskbarCreated();
  // WM_ENDSESSION: at a logoff or shutdown the system ends the process once this returns, so
  // the server goes off (TVs told goodbye) as at Exit, before that, and the loop ends.
  void SessionEnding(gui::Message& message);

  // Shell handlers.
  void N1Click();           // About box
  void N2Click();           // Exit
  void ToviDLNA1Click();    // the test page in the browser
  void pmTreyMenuPopup();   // the address submenu, the check marks and the firewall item, as they are now
  void Timer1Timer();       // clicks Button1
  void Timer2Timer();       // one-shot: disables itself, then switches the server on if it is off
  void Button2Click();      // clicks LocalRFS1

  // Handlers of the server and the list service.
  void LocalRFS1Click();    // server switch
  void ShowToTvs1Click();   // the media-server side on or off; kept in the settings file
  void Button1Click();      // presence registration
  void N4Click();           // playlist upload
  void N5Click();           // video folder sync
  // An item of the address submenu: "" = the automatic choice; kept in the settings file.
  void ChooseAdapter(const std::string& adapterId);
  // Handlers of the desktop's services.
  void AutostartClick();    // start with Windows, on or off
  void AllowFirewallClick();  // the elevated firewall rule
  void SecondStart();       // a second start handed over to this copy
  void CheckFirewall();     // after the server came on: balloons and the firewall item
  void ShowBalloon(const std::string& text);

  // Shared values. ActiveDevice is written by connection threads, hence the lock.
  std::string ActiveDevice() const;
  void SetActiveDevice(const std::string& device);
  std::string SyncFolder;
  std::string ServiceVersion;
  std::string LastSentAddress;

 private:
  struct AddressState {
    std::string address;                      // LocalAddress
    bool fixed = false;                       // --address (or the options' fixed address)
    std::vector<AddressCandidate> candidates;  // for the submenu
  };
  AddressState CurrentAddress() const;
  std::string PreferredAdapter() const;
  // On the registration tick: the server moves to the address in use, if that changed; the
  // submenu and the tip show what is now.
  void FollowAddress();
  void ShowAddressChoice(const AddressState& state);
  void UpdateTip();

  void WndProc(gui::Message& message);
  // The test page at the PC's address.
  std::string TestPageUrl() const;
  // The caption of N5 for a sync folder (system code page).
  static std::string SyncFolderCaption(const std::string& folder);

  gui::Application& app_;
  std::string settingsPath_;
  std::function<std::string()> fixedAddress_;
  std::function<std::vector<net::Adapter>()> adapters_;
  mutable std::mutex addressLock_;  // guards the one below
  std::string preferredAdapter_;    // "" = the automatic choice
  std::string shownTip_;            // as last given to the tray
  gui::WindowHandle handle_ = 0;
  bool inTray_ = false;  // the icon was added and not deleted since
  mutable std::mutex activeDeviceLock_;
  std::string activeDevice_;
  std::uint32_t secondStartMessage_ = 0;
  bool publicNetwork_ = false;  // at the last firewall check

 public:
  // Components with their design values (declared after app_: they register with it).
  gui::Label Label1{app_, "Label1", "Remote ToviPlayer.."};
  gui::Label Label2{app_, "Label2", "Label2"};
  gui::Button Button1{app_, "Button1", "Обновить"};
  gui::Button Button2{app_, "Button2", "Start server"};
  gui::Memo Memo1{app_, "Memo1", "Memo1", false};
  gui::Timer Timer1{app_, "Timer1", 3000, true};
  gui::Timer Timer2{app_, "Timer2", 1500, false};
  gui::PopupMenu pmTreyMenu{app_, "pmTreyMenu"};
  gui::MenuItem N3{app_, "N3", "Нет устройства"};
  gui::MenuItem N4{app_, "N4", "Загрузить m3u, xml лист"};
  gui::MenuItem N5{app_, "N5", "Синхронизировать Tovi DLNA", false};
  gui::MenuItem ToviDLNA1{app_, "ToviDLNA1", "Проверить работу Tovi DLNA"};
  gui::MenuItem AddressMenu{app_, "AddressMenu", kCaptionAddressPrefix};
  gui::MenuItem AddressAuto{app_, "AddressAuto", kCaptionAutomatic};
  gui::MenuItem LocalRFS1{app_, "LocalRFS1", kCaptionServerOn};
  gui::MenuItem ShowToTvs1{app_, "ShowToTvs1", kCaptionShownToTvs};  // checked: shown
  gui::MenuItem AllowFirewall1{app_, "AllowFirewall1", kCaptionAllowFirewall, false};
  gui::MenuItem Autostart1{app_, "Autostart1", kCaptionAutostart, false};
  gui::MenuItem N1{app_, "N1", "О программе"};
  gui::MenuItem N2{app_, "N2", "Выход"};
  gui::OpenDialog OpenDialog1{app_, "OpenDialog1", "*.m3u, *.xml в UTF-8|*.m3u;*.xml"};
  // The submenu's addresses "Address1", "Address2"...: made as more are needed, then only
  // hidden, never freed before the form (a click may still be on its way from a menu shown
  // before).
  std::vector<std::unique_ptr<gui::MenuItem>> AddressItems;
  gui::Timer AwakeTimer{app_, "AwakeTimer", kAwakePollMs, true};  // ends the awake tail

 private:
  std::vector<std::string> addressItemIds_;  // the adapter each of AddressItems stands for

  server::MediaWindow MediaWindowOf();
  void StreamStarted() override;
  void StreamEnded() override;
  Desktop desktop_;  // before serverSwitch_: its streams report here
  // Declared last so that it is destroyed first, while the components its handler writes exist.
  MediaServerSwitch serverSwitch_;
};

}  // namespace tovi::app
