// One WIM engine run inside the hidden console shell, and the texts and files both
// progress windows share.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/context.h"
#include "core/request.h"
#include "platform/ui.h"
#include "runner/command_runner.h"
#include "wim/progress_monitor.h"

namespace wim {

// Printed by the shell once the engine command has returned. The command line that
// prints it is not echoed, so the line can only come from that command.
inline constexpr char kEndMarker[] = "VrelPE: engine finished";

// The controls both progress windows run an engine with, by the same names.
struct RunControls {
  ui::Control& percentLabel;
  ui::Control& elapsedLabel;
  ui::Control& remainingLabel;
  ui::Control& progressBar;
  ui::Control& statusLabel;
  ui::Control& okButton;
  ui::Control& cancelButton;
  ui::Control& restartCheck;
  ui::Control& shutdownCheck;
  ui::Control& engineLogBox;
};
RunControls runControlsOf(ui::Window& window);

// The timers of both progress windows: the end check, the progress parse and the clock.
inline constexpr char kFinishTimer[] = "finishTimer";
inline constexpr char kProgressTimer[] = "progressTimer";
inline constexpr char kClockTimer[] = "clockTimer";
inline constexpr unsigned kFinishIntervalMs = 500;
inline constexpr unsigned kProgressIntervalMs = 50;
inline constexpr unsigned kClockIntervalMs = 1000;
// The timer rows of a progress window's table.
std::vector<ui::TimerSpec> runTimers();
// Starts or stops all three.
void startRunTimers(ui::Window& window);
void stopRunTimers(ui::Window& window);
// The handler rows of the three timers: the end check runs pollFinished, the parse
// reads the log box into the progress controls, the clock counts seconds. The
// window's controls are looked up when a timer fires, as they are resolved after
// the table is taken.
template <class Controls>
std::vector<ui::Handler> runTimerHandlers(std::function<void()> pollFinished, const std::unique_ptr<Controls>& c,
                                          const ProgressMarkers& markers, int& seconds) {
  return {
      {kFinishTimer, ui::Event::Timer, std::move(pollFinished)},
      {kProgressTimer, ui::Event::Timer,
       [&c, &markers] { parseProgress(c->engineLogBox, markers, {c->percentLabel, c->progressBar, c->remainingLabel}); }},
      {kClockTimer, ui::Event::Timer, [&c, &seconds] { clockTick(seconds, c->elapsedLabel); }},
  };
}
// Checks after the engine has left the process list before the run counts as over
// without the shell's end marker.
inline constexpr int kPollsAfterEngineGone = 2;

inline constexpr char kIdleStopCaption[] = "取  消(&X)";
inline constexpr char kRunningStopCaption[] = "终  止(&X)";

// A run that succeeded reads 100%: the engine prints its success lines right after
// its 100% line, so the 50 ms parse, which reads only the newest line, rarely sees it.
void showComplete(ui::Control& percentLabel, ui::Control& progressBar);

// True when the text holds the end marker as a line of its own.
bool endMarkerSeen(std::string_view consoleText);

class EngineRun {
 public:
  explicit EngineRun(core::Context& ctx) : ctx_(ctx), shell_(ctx.os) {}
  ~EngineRun() { close(); }
  EngineRun(const EngineRun&) = delete;
  EngineRun& operator=(const EngineRun&) = delete;

  // Opens the shell, sends the engine's command line followed by the end marker, and
  // starts copying the shell's output into the window's box. False when no shell could start.
  bool start(const std::string& engineCommandLine, ui::Window& window, ui::Control& engineLogBox);
  // The 500 ms check. Over when the shell has printed the end marker, or the engine
  // was seen running and is gone, or the shell itself is gone. An engine that has
  // not yet appeared in the process list is still starting.
  bool finished(std::string_view consoleText);
  // Ends the shell (and with it the reader). Safe to call twice.
  void close();
  // The stop button while the engine runs: the clock pauses while the question is up.
  // On yes, a shell whose engine has not started yet is ended, so it never starts;
  // true when the user chose to stop.
  bool askToStop(ui::Window& window, const std::string& question);
  bool active() const { return active_; }
  bool engineSeen() const { return engineSeen_; }

 private:
  core::Context& ctx_;
  runner::ConsoleShell shell_;
  unsigned long shellPid_ = 0;
  bool active_ = false;
  bool engineSeen_ = false;
  int polledSinceGone_ = 0;
};

// The power actions after a finished run; they come from the program around the windows.
struct PowerHooks {
  std::function<void()> restart;
  std::function<void()> shutDown;
};

// A progress window's close request. While its engine runs, closing is the stop
// button (stop), so the engine is never left running without a window; otherwise the
// timers stop and the window may close.
bool mayCloseProgressWindow(EngineRun& run, ui::Window& window, const std::function<void()>& stop);

// A progress window's OK button, after its guard against another engine and before
// anything is formatted or run: shows the first check the request fails there over the
// window; true when it is refused.
bool refusedAtConfirm(core::Context& ctx, ui::Window* window, const core::Request& request);

// Ends the program the orderly way: the ISO mounter unmounts everything, a letter
// lent to an EFI system partition goes back, then exit code 0.
void programExit(core::Context& ctx);

}  // namespace wim
