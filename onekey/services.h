// What the one-key action, the GHO runs and the install-file list work with.
#pragma once

#include "core/context.h"
#include "wim/engine_run.h"

namespace onekey {

// The program's context, and the power actions the WIM windows end with: those come
// from the program around the main window.
struct Services : core::Context {
  wim::PowerHooks afterApply;    // after a WIM restore
  wim::PowerHooks afterCapture;  // after a WIM capture
};

}  // namespace onekey
