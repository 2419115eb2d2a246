#include "onekey/one_key.h"

#include "core/message_box.h"
#include "disks/volumes.h"
#include "onekey/ghost_runs.h"
#include "onekey/iso_install.h"
#include "onekey/volume_risks.h"
#include "wim/backup_window.h"
#include "wim/restore_window.h"

namespace onekey {

static void setInputsEnabled(MainControls& c, bool on) {
  ui::Control* const controls[] = {&c.restoreRadio,     &c.ghostBackupRadio, &c.wimBackupRadio, &c.imagePathCombo,
                                   &c.patternCombo,     &c.partitionList,    &c.browseButton,   &c.mainExitButton,
                                   &c.mainOkButton,     &c.modeButton,       &c.searchButton,   &c.checkGhostButton,
                                   &c.searchResultList, &c.depthEdit,        &c.savePathEdit};
  for (ui::Control* control : controls) control->setEnabled(on);
}

void lockMainControls(MainControls& c) { setInputsEnabled(c, false); }
void unlockMainControls(MainControls& c) { setInputsEnabled(c, true); }

std::optional<core::Mode> modeOf(const MainControls& c) {
  if (c.restoreRadio.checked()) return core::Mode::Restore;
  if (c.ghostBackupRadio.checked()) return core::Mode::GhostBackup;
  if (c.wimBackupRadio.checked()) return core::Mode::WimBackup;
  return std::nullopt;
}

core::Request requestOf(const MainControls& c, core::Mode mode, const core::AppState& state) {
  core::Request request;
  request.mode = mode;
  if (mode == core::Mode::Restore) {
    const int selected = c.imagePathCombo.selection();
    if (selected >= 0) request.imagePath = c.imagePathCombo.itemText(selected);
  } else {
    request.imagePath = c.savePathEdit.text();
  }
  request.target = state.target;
  return request;
}

core::Facts oneKeyFacts(Services& s, const MainControls& c, const core::Request& request) {
  core::Facts facts = core::requestFactsOf(s.os, request);
  facts.partitionChosen = c.partitionList.selectedRow() >= 0;
  if (request.mode == core::Mode::Restore) facts.winpeBootRoots = disks::winpeBootRoots(s.os);
  if (request.mode == core::Mode::Restore && core::imageKindOf(request.imagePath) == core::ImageKind::Iso)
    facts.isoMountLetter = chooseIsoMountLetter(s.os.volumes);
  if (request.mode == core::Mode::Restore && facts.partitionChosen && s.partitionsNow)
    facts.partitionsNow = s.partitionsNow();
  return facts;
}

static void restoreImage(Services& s, MainControls& c, const core::Request& request, const core::Facts& facts) {
  switch (core::imageKindOf(request.imagePath)) {
    case core::ImageKind::Gho:
      ghostRestore(s, c.window, request);
      return;
    case core::ImageKind::Wim:
      // No question here: the restore window asks its own.
      c.window.setVisible(false);
      wim::restoreProgressWindow(s, &c.window, c.partitionList, request, s.afterApply);
      c.window.setVisible(true);
      return;
    case core::ImageKind::Iso:
      installFromIso(s, c, request, facts);
      return;
    case core::ImageKind::Unsupported:
      return;  // refused by the checks
  }
}

void OneKeyAction(Services& s, MainControls& c) {
  const std::optional<core::Mode> mode = modeOf(c);
  if (!mode) return;
  const core::Request request = requestOf(c, *mode, s.state);
  const core::Facts facts = oneKeyFacts(s, c, request);
  const std::optional<core::Refusal> refusal = core::firstRefusal(request, facts, core::Checkpoint::OneKeyAction);
  // Once there is an image, the focus goes to the partition list so the user sees where to choose.
  if (!refusal || refusal->reason != core::Refused::NoImage) c.partitionList.focus();
  if (refusal) {
    core::showBox(s.ui, &c.window, refusal->text, refusal->style);
    if (refusal->reason == core::Refused::TargetChanged && s.refreshPartitions) s.refreshPartitions();
    return;
  }
  if (!confirmVolumeRisks(s, c.window, request)) return;
  switch (*mode) {
    case core::Mode::Restore:
      restoreImage(s, c, request, facts);
      return;
    case core::Mode::GhostBackup:
      ghostBackup(s, c.window, request);
      return;
    case core::Mode::WimBackup:
      c.window.setVisible(false);
      wim::backupProgressWindow(s, &c.window, request, c.window.caption(), s.afterCapture);
      c.window.setVisible(true);
      return;
  }
}

}  // namespace onekey
