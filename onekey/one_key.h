// The one-key action behind the main window's OK button: checks the user's choice
// in a fixed order and hands the work to the GHO engine, the WIM windows, or the
// ISO procedure (mount, search, install-file list).
#pragma once

#include <string>

#include "onekey/services.h"
#include "platform/ui.h"

namespace onekey {

// The main window's controls that the action reads, locks and fills.
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

  static MainControls of(ui::Window& window);
};

// Disables (or enables again) the main window's input controls while an ISO is
// mounted and searched; the red-envelope button and the home-page box stay as they are.
void lockMainControls(MainControls& c);
void unlockMainControls(MainControls& c);

void OneKeyAction(Services& s, MainControls& c);

// True when the path holds two "%": the command interpreter may rewrite what lies
// between them, so the engine would see another path.
bool interpreterMayRewrite(const std::string& path);

// True when a file-system search finds "<letter>:\nul", that is when the letter names a drive.
bool isDriveLetterInUse(platform::FileSystem& files, const std::string& letter);
// The first of Z, Y, W, A, B not in use; empty when all five are.
std::string chooseIsoMountLetter(platform::FileSystem& files);
std::string isoMountCommandLine(const std::string& isoToolPath, const std::string& letter,
                                const std::string& fullIsoPath);

// Mounts the ISO, looks for GHO and WIM files on it and installs from it.
void mountAndInstallIso(Services& s, MainControls& c, const std::string& isoPath);

}  // namespace onekey
