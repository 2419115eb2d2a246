#include "onekey/services.h"

namespace onekey {

int showBox(Services& s, ui::Window* owner, std::string_view text, unsigned style) {
  return s.ui.messageBox(owner, text, kMessageTitle, style);
}

static constexpr char kWimNotAvailable[] = "此版本尚不能还原或备份WIM映像。";

void WimWindowsPending::openRestoreProgress(ui::Window& owner, const ui::Control&) {
  ui_.messageBox(&owner, kWimNotAvailable, kMessageTitle, kWarningBox);
}

void WimWindowsPending::openBackupProgress(ui::Window& owner, const std::string&) {
  ui_.messageBox(&owner, kWimNotAvailable, kMessageTitle, kWarningBox);
}

}  // namespace onekey
