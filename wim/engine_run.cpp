#include "wim/engine_run.h"

#include "core/message_box.h"
#include "core/refusals.h"
#include "platform/gbk.h"
#include "prep/esp.h"
#include "wim/engine_guard.h"

namespace wim {

bool endMarkerSeen(std::string_view consoleText) {
  const std::string_view marker = kEndMarker;
  for (std::size_t at = consoleText.find(marker); at != std::string_view::npos;
       at = consoleText.find(marker, at + 1)) {
    const bool lineStart = at == 0 || consoleText[at - 1] == '\n';
    const std::string_view rest = consoleText.substr(at + marker.size());
    if (lineStart && rest.substr(0, 2) == "\r\n") return true;
  }
  return false;
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

bool EngineRun::start(const std::string& engineCommandLine, ui::Window& window, ui::Control& engineLogBox) {
  close();
  shellPid_ = shell_.openConsoleShell();
  if (shellPid_ == 0) return false;
  active_ = true;
  engineSeen_ = false;
  polledSinceGone_ = 0;
  // One line, so the shell cannot take the lines after the engine's as its input.
  // "@" keeps the line itself (with the image path, which could hold the success
  // word) out of the log; the empty line makes the marker start a line even after an
  // engine that died in the middle of one.
  shell_.sendConsoleLine("@" + engineCommandLine + " & echo. & echo " + kEndMarker);
  shell_.startConsoleReader(window, engineLogBox);
  return true;
}

void showComplete(ui::Control& percentLabel, ui::Control& progressBar) {
  percentLabel.setText("100%");
  progressBar.setPosition(100);
}

bool EngineRun::finished(std::string_view consoleText) {
  if (!active_) return true;
  const std::string name = engineName(ctx_.state);
  bool shellAlive = false;
  for (const platform::ProcessEntry& entry : ctx_.os.processes.list()) {
    if (gbk::equalsIgnoreCase(entry.exeName, name)) {
      engineSeen_ = true;
      return false;
    }
    if (entry.pid == shellPid_) shellAlive = true;
  }
  if (endMarkerSeen(consoleText) || !shellAlive || !shell_.isOpen()) return true;
  // Seen and gone: its last lines may still be on their way through the pipe, so the
  // marker gets a moment to follow them.
  return engineSeen_ && ++polledSinceGone_ >= kPollsAfterEngineGone;
}

void EngineRun::close() {
  if (shell_.isOpen()) shell_.closeConsoleShell();
  active_ = false;
}

bool EngineRun::askToStop(ui::Window& window, const std::string& question) {
  window.stopTimer(kClockTimer);
  if (!askToStopEngine(ctx_, &window, question)) {
    window.startTimer(kClockTimer);
    return false;
  }
  if (!engineSeen_ && !processExistsByName(ctx_.os.processes, engineName(ctx_.state))) close();
  return true;
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
  const core::Facts facts = core::requestFactsOf(ctx.os, request);
  const std::optional<core::Refusal> refusal = core::firstRefusal(request, facts, core::Checkpoint::WindowConfirm);
  if (refusal) core::showBox(ctx.ui, window, refusal->text, refusal->style);
  return refusal.has_value();
}

void programExit(core::Context& ctx) {
  runner::quitIsoTool(ctx.os, ctx.state.tools.isoToolPath);
  prep::releaseEspLetter(ctx.os, ctx.state);
  ctx.os.shell.exitProcess(0);
}

}  // namespace wim
