// Installing from an ISO: mount it on a free letter, look for the GHO and WIM files
// on it, and install one (a setup medium's install.wim at once, otherwise the
// user's pick from the install-file list).
#pragma once

#include <string>

#include "core/refusals.h"
#include "core/request.h"
#include "onekey/main_controls.h"
#include "onekey/services.h"
#include "platform/os.h"

namespace onekey {

// True when the system's drive list (GetLogicalDriveStrings) holds the letter, any
// letter case; a letter the ISO mounter has mapped onto a folder counts too.
bool isDriveLetterInUse(platform::Volumes& volumes, const std::string& letter);
// The first of Z, Y, W, A, B not in use; empty when all five are.
std::string chooseIsoMountLetter(platform::Volumes& volumes);
std::string isoMountCommandLine(const std::string& isoToolPath, const std::string& letter,
                                const std::string& fullIsoPath);

// Mounts the request's ISO on facts.isoMountLetter and installs from it; the
// one-key checks have passed.
void installFromIso(Services& s, MainControls& c, const core::Request& iso, const core::Facts& facts);

}  // namespace onekey
