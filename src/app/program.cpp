#include "app/program.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/address.h"
#include "app/form.h"
#include "app/options.h"
#include "platform/gui.h"
#include "platform/process.h"
#include "platform/single_instance.h"

namespace tovi::app {

namespace {
constexpr const char* kInstanceName = "remote-toviplayer";
}  // namespace

int RunProgram(int argc, const char* const* argv) {
  process::OpenMissingStandardStreams();
  process::SuppressCriticalErrorBoxes();
  process::RaiseOpenFileLimit();
  const Options options = ParseOptions(argc, argv);
  std::unique_ptr<gui::Frontend> frontend = gui::CreateSystemFrontend();
  if (!options.error.empty()) {
    frontend->ShowMessageBox(kApplicationTitle, options.error + "\n\n" + UsageText());
    return 2;
  }
  if (options.help) {
    frontend->ShowMessageBox(kApplicationTitle, UsageText());
    return 0;
  }
  ApplyOptions(options);
  // One copy per session: a second start tells the first and ends, whatever its options.
  const std::unique_ptr<instance::Claim> claim = instance::TryClaim(kInstanceName);
  if (!claim) {
    const instance::FirstCopy first = instance::NotifyFirstCopy(kInstanceName);
    if (!first.answersItself) std::cout << kTextAlreadyRunning << first.address << std::endl;
    return 0;
  }
  claim->Publish(GetLocalAddress());

  gui::Application app(*frontend);
  app.Initialize();
  app.SetTitle(kApplicationTitle);
  {
    TForm1 form(app);
    app.Dispatch([&] { form.FormCreate(); });
    app.Run();
    app.Dispatch([&] { form.FormDestroy(); });
    // A connection thread that outlasted the switch-off still uses the form: the process ends
    // with that thread rather than freeing the form under it.
    if (form.ServerSwitch().ConnectionsRunning()) std::_Exit(0);
  }
  return 0;
}

}  // namespace tovi::app
