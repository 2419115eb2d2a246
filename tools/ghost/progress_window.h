// The engine's progress window. The program starts the engine hidden and shows
// nothing while it runs, so this window is what the user sees: what is done, from
// where to where, a bar, percent, throughput, elapsed and remaining time, and a stop
// button that asks first.
#pragma once

#include "tools/common/progress_window.h"
#include "tools/ghost/args.h"

namespace ghost {

toolio::ProgressWindowLayout progressWindowFor(const Command& command);

}  // namespace ghost
