#include "app/wim_windows.h"

#include "app/power.h"
#include "prep/boot_repair.h"
#include "prep/esp.h"
#include "prep/format.h"
#include "wim/backup_window.h"
#include "wim/restore_window.h"

namespace app {

void WimProgressWindows::openRestoreProgress(ui::Window& owner, const ui::Control& partitionList) {
  core::Context& ctx = ctx_;
  wim::RestoreHooks hooks;
  hooks.restart = [&ctx] { restart(ctx.os); };
  hooks.shutDown = [&ctx] { shutDown(ctx.os); };
  hooks.fillBootTargets = [&ctx, &partitionList](wim::RestoreControls& c) {
    prep::fillBootTargetCombo(ctx, partitionList, c.bootTargetCombo);
  };
  hooks.formatStep = [&ctx](ui::Window* window, wim::RestoreControls& c, const std::function<void()>& startApply) {
    prep::formatStep(ctx,
                     prep::RestoreControls{window, c.volumeCombo, c.formatCombo, c.bootTargetCombo, c.addBootCheck,
                                           c.okButton, c.cancelButton, c.statusLabel},
                     startApply);
  };
  hooks.repairBoot = [&ctx](ui::Window* window, wim::RestoreControls& c) {
    prep::repairBoot(ctx, c.statusLabel, c.bootTargetCombo, window);
  };
  wim::restoreProgressWindow(ctx, &owner, partitionList, std::move(hooks));
  // A letter lent to the EFI system partition goes back unless boot repair used it.
  prep::releaseUnusedEspLetter(ctx.os, ctx.state);
}

void WimProgressWindows::openBackupProgress(ui::Window& owner, const std::string& savePath) {
  core::Context& ctx = ctx_;
  wim::BackupHooks hooks;
  hooks.restart = [&ctx] { restartAfterCapture(ctx.os); };
  hooks.shutDown = [&ctx] { shutDownAfterCapture(ctx.os); };
  wim::backupProgressWindow(ctx, &owner, savePath, owner.caption(), std::move(hooks));
}

}  // namespace app
