// The engine's own progress window. The program starts the engine hidden and shows
// nothing while it runs, so this window is what the user sees: what is done, from
// where to where, a bar, percent, throughput, elapsed and remaining time, and a stop
// button that asks first.
#pragma once

#include <functional>
#include <string>

#include "tools/ghost/args.h"
#include "tools/ghost/progress.h"

namespace ghost {

struct WindowTexts {
  std::wstring title;
  std::wstring action;  // what is being done
  std::wstring from;    // source line
  std::wstring to;      // target line (may be empty)
  std::wstring stopQuestion;
};

WindowTexts windowTextsFor(const Command& command);

// Runs `work` on a thread of its own while the window shows `progress`; returns when
// the work is done and the window is gone.
void runWithProgressWindow(const WindowTexts& texts, RunProgress& progress, const std::function<void()>& work);

}  // namespace ghost
