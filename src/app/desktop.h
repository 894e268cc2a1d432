// What a tray program does for the desktop it lives on: keeps the PC awake while a TV plays,
// starts with Windows when asked, and tells the user when the firewall or the network's category
// keeps TVs out. The decisions are here; the system's parts come in through DesktopPlatform, so
// tests give their own.
// Thread safety: StreamStarted/StreamEnded from any thread; the rest on the GUI thread.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/stay_awake.h"
#include "platform/autostart.h"
#include "platform/firewall.h"
#include "platform/power.h"

namespace tovi::app {

inline constexpr const char* kCaptionAutostart = "Запускать вместе с Windows";
inline constexpr const char* kCaptionAllowFirewall = "Разрешить доступ в брандмауэре…";
inline constexpr const char* kAutostartValueName = "Remote Toviplayer";
inline constexpr const char* kFirewallRuleName = "Remote Toviplayer";
inline constexpr const char* kTextFirewallBlocks =
    "Брандмауэр Windows не пропускает телевизоры к этому ПК (порт 8027). Чтобы разрешить, "
    "выберите в меню программы «Разрешить доступ в брандмауэре…».";
inline constexpr const char* kTextPublicNetwork =
    "Сеть этого ПК отмечена как общественная: в такой сети телевизоры не могут подключиться к "
    "ПК. Если это ваша домашняя сеть, сделайте её частной: Параметры → Сеть и Интернет → "
    "свойства подключения → «Частная сеть».";
inline constexpr const char* kTextAlreadyRunning = "Remote Toviplayer уже работает. Адрес ПК: ";

// The Run value that starts exePath: the path in quotes (it may hold spaces).
std::string AutostartCommand(const std::string& exePath);
// Whether a Run value starts exePath: its program part (quoted or not) names the same file,
// letters compared without case as Windows does for ASCII.
bool StartsProgram(const std::string& runValue, const std::string& exePath);

enum class FirewallVerdict {
  Unknown,  // the firewall could not be asked: say nothing
  Allowed,  // TVs reach port on every current profile
  Blocked,  // some current profile keeps them out
};
struct FirewallAdvice {
  FirewallVerdict verdict = FirewallVerdict::Unknown;
  bool publicNetwork = false;  // a connected network is in the Public category
};
// Windows Firewall's own order: off lets all in; "block all" keeps all out; a matching block
// rule beats any allow rule; then a matching allow rule or an allowing default lets in.
FirewallAdvice JudgeFirewall(const std::optional<firewall::State>& state,
                             const std::string& exePath, int port);

struct DesktopPlatform {
  std::unique_ptr<power::SleepBlocker> sleepBlocker;  // null: the system's
  std::unique_ptr<autostart::RunEntry> runEntry;      // null: the system's
  std::unique_ptr<firewall::Firewall> firewall;       // null: the system's
  std::string executablePath;                         // "": the running one's
  std::function<AwakeClock::time_point()> now;        // empty: the steady clock
};

class Desktop {
 public:
  explicit Desktop(DesktopPlatform platform = {});

  AwakeKeeper& Awake() { return *awake_; }

  bool AutostartSupported() const;
  bool AutostartOn();
  // On: removes the value; off (absent, or naming another file): writes ours in its place.
  void ToggleAutostart();

  FirewallAdvice CheckFirewall(int port);
  // Starts the elevated command adding the rule for the profiles the network is on now (never
  // Public; Private when unknown). False when it could not be started.
  bool AllowInFirewall(int port);

 private:
  DesktopPlatform platform_;
  std::unique_ptr<AwakeKeeper> awake_;
  int lastProfiles_ = 0;  // of the last firewall check
};

}  // namespace tovi::app
