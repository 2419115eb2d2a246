// The WIM progress windows as the one-key action opens them, with the format step,
// boot repair and power actions of the rest of the program around them.
#pragma once

#include <string>

#include "core/context.h"
#include "onekey/services.h"

namespace app {

class WimProgressWindows : public onekey::WimWindows {
 public:
  explicit WimProgressWindows(core::Context& ctx) : ctx_(ctx) {}
  void openRestoreProgress(ui::Window& owner, const ui::Control& partitionList) override;
  void openBackupProgress(ui::Window& owner, const std::string& savePath) override;

 private:
  core::Context& ctx_;
};

}  // namespace app
