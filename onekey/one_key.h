// The one-key action behind the main window's OK button: turns the user's choice
// into one request, refuses it with the first check it fails, and hands it to the
// GHO engine, the WIM windows, or the ISO install.
#pragma once

#include <optional>

#include "core/refusals.h"
#include "core/request.h"
#include "onekey/main_controls.h"
#include "onekey/services.h"

namespace onekey {

void OneKeyAction(Services& s, MainControls& c);

// The mode the radio buttons choose, tested in the order restore, Ghost backup,
// WIM backup; none when no button is selected.
std::optional<core::Mode> modeOf(const MainControls& c);
// The request of that mode: the chosen image (the combo box's selected item, so a
// typed but unchosen path counts as none) or the typed save path, on the selected partition.
core::Request requestOf(const MainControls& c, core::Mode mode, const core::AppState& state);

// What the one-key checks read: the request's file, whether a partition row is
// selected and, for an ISO, the letter it would be mounted on.
core::Facts oneKeyFacts(Services& s, const MainControls& c, const core::Request& request);

}  // namespace onekey
