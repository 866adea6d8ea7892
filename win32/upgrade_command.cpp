#include "upgrade_command.h"

#include "application.h"
#include "common/clock.h"
#include "firmware_list_dialog.h"
#include "upgrade/upgrade_command.h"
#include "upgrade_dialog.h"

namespace parlex2::win32 {
namespace {

class DialogFrontEnd final : public UpgradeFrontEnd {
 public:
  explicit DialogFrontEnd(HWND owner) : owner_(owner) {}
  bool ShowFirmwareList(const FirmwareList&, const std::string& rtf, bool acceptBlocked) override {
    return ShowFirmwareFilesList(owner_, rtf, acceptBlocked);
  }
  void RunProgress(UpgradeDescriptor& descriptor) override {
    ShowUpgradeProgress(owner_, descriptor);
  }

 private:
  HWND owner_;
};

}  // namespace

void RunUpgradeFirmware(HWND window, ShellState& state) {
  DialogFrontEnd frontEnd(window);
  UpgradeCommandContext context{App().ui,      frontEnd,           App().link,   state,
                                SystemClock(), SystemFileFinder(), std::nullopt, false};
  RunUpgradeCommand(context);
}

}  // namespace parlex2::win32
