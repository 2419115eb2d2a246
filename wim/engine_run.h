// One WIM engine run inside the hidden console shell, and the texts and files both
// progress windows share.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
// Checks with the shell idle (its input read, no engine among its children) before a
// run whose engine never appeared counts as over: 10 s, far beyond a slow start.
inline constexpr int kIdlePollsBeforeGivingUp = 20;
// The longest line the command interpreter runs, in characters.
inline constexpr std::size_t kLongestShellLine = 8191;

inline constexpr char kIdleStopCaption[] = "取  消(&X)";
inline constexpr char kRunningStopCaption[] = "终  止(&X)";

// The line the shell is sent for an engine command line: the engine, then the end marker.
std::string shellLineFor(const std::string& engineCommandLine);
// Its length as the interpreter counts it: a double-byte character is one.
std::size_t shellLineLength(const std::string& engineCommandLine);
// Refuses, over the window, an engine command line the interpreter would not run:
// "命令行长达 N 个字符,..." with what cannot be done and what to do. True when refused.
bool refusedAsTooLong(core::Context& ctx, ui::Window* window, const std::string& engineCommandLine,
                      std::string_view cannot, std::string_view advice);

// A run that succeeded reads 100%: the engine prints its success lines right after
// its 100% line, so the 50 ms parse, which reads only the newest line, rarely sees it.
void showComplete(ui::Control& percentLabel, ui::Control& progressBar);

// One engine run in the shell. Our engine is the shell's child, followed by its
// process id: another copy of the engine (an earlier run, another window) is not ours.
class EngineRun {
 public:
  explicit EngineRun(core::Context& ctx) : ctx_(ctx), shell_(ctx.os) {}
  ~EngineRun() { close(); }
  EngineRun(const EngineRun&) = delete;
  EngineRun& operator=(const EngineRun&) = delete;

  // Opens the shell, sends the engine's command line followed by the end marker, and
  // starts copying the shell's output into the window's box, watching it for the
  // engine's success word (and, when given, a failure word) as it passes. False when
  // no shell could start.
  bool start(const std::string& engineCommandLine, ui::Window& window, ui::Control& engineLogBox,
             runner::OutputWatch::Word successWord, std::optional<runner::OutputWatch::Word> failureWord = {});
  // The 500 ms check, with the output read so far moved into the box first. Over when
  // the shell has printed the end marker, or our engine was seen and is gone, or the
  // shell itself is gone, or the shell has stayed idle without ever starting the
  // engine. An engine not yet among the shell's children is still starting.
  bool finished();
  // The engine printed its success word, however much output followed it.
  bool succeeded() const { return watch_ && watch_->seen(kSuccessWord); }
  // The engine printed the failure word given to start.
  bool sawFailureWord() const { return watch_ && watchesFailureWord_ && watch_->seen(kFailureWord); }
  // The run ended without the engine ever running (the shell took the line and idled).
  bool engineNeverStarted() const { return neverStarted_; }
  // Ends the shell (and with it the reader). Safe to call twice.
  void close();
  // The stop button while the engine runs: our engine is frozen and the clock paused
  // while the question is up. On yes, our engine is ended, and a shell whose engine
  // has not started yet is ended, so it never starts; true when the user chose to stop.
  // A run that ended before the answer is not stopped: it is judged as it ended.
  bool askToStop(ui::Window& window, const std::string& question);
  bool active() const { return active_; }

 private:
  static constexpr std::size_t kSuccessWord = 0;
  static constexpr std::size_t kEndMarkerWord = 1;
  static constexpr std::size_t kFailureWord = 2;
  // Our engine's process id in the current process list, 0 when it is not there.
  unsigned long ourEngineIn(const std::vector<platform::ProcessEntry>& processes) const;
  // The end marker has passed (the output read so far moved into the box first), or
  // the shell is gone.
  bool shellEnded(const std::vector<platform::ProcessEntry>& processes);
  // After a yes: the run ended by itself (our engine, asked about while running or
  // not yet listed, is gone), so there is nothing left to stop.
  bool endedWhileAsking(unsigned long askedAbout);

  core::Context& ctx_;
  runner::ConsoleShell shell_;
  unsigned long shellPid_ = 0;
  unsigned long reader_ = 0;
  ui::Control* box_ = nullptr;
  std::shared_ptr<runner::OutputWatch> watch_;
  bool active_ = false;
  bool watchesFailureWord_ = false;
  bool engineSeen_ = false;
  bool neverStarted_ = false;
  int polledSinceGone_ = 0;
  int idlePolls_ = 0;
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
