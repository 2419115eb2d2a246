// The main window's controls that the one-key action reads, locks and fills. The
// main window, which owns their table, resolves them once and hands them down.
#pragma once

#include "platform/ui.h"

namespace onekey {

struct MainControls {
  ui::Window& window;
  ui::Control& restoreRadio;
  ui::Control& ghostBackupRadio;
  ui::Control& wimBackupRadio;
  ui::Control& imagePathCombo;
  ui::Control& savePathEdit;
  ui::Control& partitionList;
  ui::Control& isoContentList;
  ui::Control& patternCombo;
  ui::Control& browseButton;
  ui::Control& mainExitButton;
  ui::Control& mainOkButton;
  ui::Control& modeButton;
  ui::Control& searchButton;
  ui::Control& checkGhostButton;
  ui::Control& searchResultList;
  ui::Control& depthEdit;
};

// Disables (or enables again) the main window's input controls while an ISO is
// mounted and searched; the red-envelope button and the home-page box stay as they are.
void lockMainControls(MainControls& c);
void unlockMainControls(MainControls& c);

}  // namespace onekey
