#include "wim/engine_run.h"

#include "platform/gbk.h"
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

std::string noDriveLetterMessage(const std::string& targetDisplay, bool restoring) {
  return std::string("所选分区 ") + targetDisplay + " 没有盘符,Imagex无法" + (restoring ? "还原" : "备份") +
         "该分区！\r\n请先为它分配盘符。";
}

std::string megabytesText(std::uint64_t bytes) {
  // Hundredths of a megabyte, rounded half to even, in integers so nothing is lost.
  const std::uint64_t scaled = bytes * 100;  // below 2^64 for any file up to 160 PB
  std::uint64_t hundredths = scaled / 1048576;
  const std::uint64_t remainder = scaled % 1048576;
  if (remainder > 524288 || (remainder == 524288 && hundredths % 2 == 1)) ++hundredths;
  std::string text = std::to_string(hundredths / 100);
  const unsigned fraction = static_cast<unsigned>(hundredths % 100);
  if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

std::string wholeMegabytesText(std::uint64_t bytes) { return std::to_string(bytes / 1048576); }

std::string fileNameOf(const std::string& path) {
  const std::size_t slash = gbk::findLastByte(path, '\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void endProgram(core::Context& ctx) {
  runner::quitIsoTool(ctx.os, ctx.state.tools.isoToolPath);
  ctx.os.shell.exitProcess(0);
}

}  // namespace wim
