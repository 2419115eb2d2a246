#include "wim/engine_run.h"

#include <algorithm>

#include "core/message_box.h"
#include "core/refusals.h"
#include "platform/gbk.h"
#include "prep/esp.h"
#include "wim/engine_guard.h"

namespace wim {

std::string shellLineFor(const std::string& engineCommandLine) {
  // One line, so the shell cannot take the lines after the engine's as its input.
  // "@" keeps the line itself (with the image path, which could hold the success
  // word) out of the log; the empty line makes the marker start a line even after an
  // engine that died in the middle of one.
  return "@" + engineCommandLine + " & echo. & echo " + kEndMarker;
}

std::size_t shellLineLength(const std::string& engineCommandLine) {
  const std::string line = shellLineFor(engineCommandLine);
  std::size_t characters = 0;
  for (std::size_t at = 0; at < line.size(); at += gbk::charLength(line, at)) ++characters;
  return characters;
}

bool refusedAsTooLong(core::Context& ctx, ui::Window* window, const std::string& engineCommandLine,
                      std::string_view cannot, std::string_view advice) {
  const std::size_t length = shellLineLength(engineCommandLine);
  if (length <= kLongestShellLine) return false;
  core::showBox(ctx.ui, window,
                "命令行长达 " + std::to_string(length) + " 个字符,超出了命令解释器能执行的 " +
                    std::to_string(kLongestShellLine) + " 个字符," + std::string(cannot) + "\r\n" + std::string(advice),
                core::kErrorBox);
  return true;
}

RunControls runControlsOf(ui::Window& w) {
  return {w.control("percentLabel"),  w.control("elapsedLabel"), w.control("remainingLabel"), w.control("progressBar"),
          w.control("statusLabel"),   w.control("okButton"),     w.control("cancelButton"),   w.control("restartCheck"),
          w.control("shutdownCheck"), w.control("engineLogBox")};
}

std::vector<ui::TimerSpec> runTimers() {
  return {{kFinishTimer, kFinishIntervalMs}, {kProgressTimer, kProgressIntervalMs}, {kClockTimer, kClockIntervalMs}};
}

void startRunTimers(ui::Window& window) {
  for (const char* name : {kFinishTimer, kProgressTimer, kClockTimer}) window.startTimer(name);
}

void stopRunTimers(ui::Window& window) {
  for (const char* name : {kFinishTimer, kProgressTimer, kClockTimer}) window.stopTimer(name);
}

bool EngineRun::start(const std::string& engineCommandLine, ui::Window& window, ui::Control& engineLogBox,
                      runner::OutputWatch::Word successWord, std::optional<runner::OutputWatch::Word> failureWord) {
  close();
  shellPid_ = shell_.openConsoleShell();
  if (shellPid_ == 0) return false;
  active_ = true;
  engineSeen_ = neverStarted_ = false;
  polledSinceGone_ = idlePolls_ = 0;
  // The marker counts as a line of its own, the first line of the output included.
  std::vector<runner::OutputWatch::Word> words{std::move(successWord), {"\n" + std::string(kEndMarker) + "\r\n"}};
  watchesFailureWord_ = failureWord.has_value();
  if (failureWord) words.push_back(std::move(*failureWord));
  watch_ = std::make_shared<runner::OutputWatch>(std::move(words), "\n");
  box_ = &engineLogBox;
  shell_.sendConsoleLine(shellLineFor(engineCommandLine));
  reader_ = shell_.startConsoleReader(window, engineLogBox, watch_);
  return true;
}

void showComplete(ui::Control& percentLabel, ui::Control& progressBar) {
  percentLabel.setText("100%");
  progressBar.setPosition(100);
}

unsigned long EngineRun::ourEngineIn(const std::vector<platform::ProcessEntry>& processes) const {
  const std::string name = engineName(ctx_.state);
  for (const platform::ProcessEntry& entry : processes)
    if (entry.parentPid == shellPid_ && gbk::equalsIgnoreCase(entry.exeName, name)) return entry.pid;
  return 0;
}

bool EngineRun::shellEnded(const std::vector<platform::ProcessEntry>& processes) {
  shell_.deliverConsoleOutput(reader_, *box_, watch_.get());
  if (watch_->seen(kEndMarkerWord) || !shell_.isOpen()) return true;
  return std::none_of(processes.begin(), processes.end(),
                      [this](const platform::ProcessEntry& e) { return e.pid == shellPid_; });
}

bool EngineRun::finished() {
  if (!active_) return true;
  const std::vector<platform::ProcessEntry> processes = ctx_.os.processes.list();
  if (shellEnded(processes)) return true;
  if (ourEngineIn(processes) != 0) {
    engineSeen_ = true;
    return false;
  }
  // Seen and gone: its last lines may still be on their way through the pipe, so the
  // marker gets a moment to follow them.
  if (engineSeen_) return ++polledSinceGone_ >= kPollsAfterEngineGone;
  // Never seen: still starting while the shell has the line to read; a shell that has
  // read it and started nothing for long will start nothing (a line it refused).
  if (!shell_.inputTaken()) {
    idlePolls_ = 0;
    return false;
  }
  if (++idlePolls_ < kIdlePollsBeforeGivingUp) return false;
  neverStarted_ = true;
  return true;
}

void EngineRun::close() {
  if (shell_.isOpen()) shell_.closeConsoleShell();
  active_ = false;
}

bool EngineRun::endedWhileAsking(unsigned long askedAbout) {
  const std::vector<platform::ProcessEntry> processes = ctx_.os.processes.list();
  if (shellEnded(processes)) return true;
  if (ourEngineIn(processes) != 0) return false;
  // Gone, or never seen yet but done (its success word passed): it ended by itself,
  // and the checks that follow judge it as it ended.
  if (askedAbout == 0 && !engineSeen_ && !succeeded()) return false;
  engineSeen_ = true;
  return true;
}

bool EngineRun::askToStop(ui::Window& window, const std::string& question) {
  window.stopTimer(kClockTimer);
  const unsigned long pid = ourEngineIn(ctx_.os.processes.list());
  const bool stop = askToStopEngine(ctx_, &window, question, pid);
  // Judged while the question was up (its timers run in the box's loop): the window
  // is idle and its clock stays stopped.
  if (!active_) return false;
  if (stop && !endedWhileAsking(pid)) {
    if (pid != 0) ctx_.os.processes.terminate(pid, 0);
    // Not running: the shell goes, so the engine never starts.
    else close();
    return true;
  }
  window.startTimer(kClockTimer);
  return false;
}

bool mayCloseProgressWindow(EngineRun& run, ui::Window& window, const std::function<void()>& stop) {
  if (run.active()) {
    stop();
    return false;
  }
  stopRunTimers(window);
  return true;
}

bool refusedAtConfirm(core::Context& ctx, ui::Window* window, const core::Request& request) {
  core::Facts facts = core::requestFactsOf(ctx.os, request);
  if (request.mode == core::Mode::Restore && ctx.partitionsNow) facts.partitionsNow = ctx.partitionsNow();
  const std::optional<core::Refusal> refusal = core::firstRefusal(request, facts, core::Checkpoint::WindowConfirm);
  if (refusal) core::showBox(ctx.ui, window, refusal->text, refusal->style);
  if (refusal && refusal->reason == core::Refused::TargetChanged && ctx.refreshPartitions) ctx.refreshPartitions();
  return refusal.has_value();
}

void programExit(core::Context& ctx) {
  runner::quitIsoTool(ctx.os, ctx.state.tools.isoToolPath);
  prep::releaseEspLetter(ctx.os, ctx.state);
  ctx.os.shell.exitProcess(0);
}

}  // namespace wim
