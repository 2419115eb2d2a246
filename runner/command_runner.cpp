#include "runner/command_runner.h"

#include "platform/gbk.h"

namespace runner {

int osClass(int platformId) {
  switch (platformId) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 3;
    default: return 0;
  }
}

std::string interpreterPrefix(int platformId) {
  return osClass(platformId) == 3 ? "cmd.exe /c " : "command.com /c ";
}

platform::CapturedRun tryRunCaptured(platform::Platform& os, std::string_view commandLine) {
  std::string full = interpreterPrefix(os.system.platformId());
  full.append(commandLine);
  return os.processes.runCaptured(full);
}

std::string runCaptured(platform::Platform& os, std::string_view commandLine) {
  return tryRunCaptured(os, commandLine).output;
}

void quitIsoTool(platform::Platform& os, const std::string& isoToolPath) {
  runCaptured(os, isoToolPath + " /q");
}

std::string systemDirectory(platform::Platform& os) {
  std::string dir = gbk::trimAsciiSpaces(os.system.systemDirectory());
  while (gbk::endsWithBackslash(dir)) dir.pop_back();
  return dir;
}

unsigned long ConsoleShell::openConsoleShell(const std::string& commandLine, const std::string& currentDirectory) {
  if (osClass(os_.system.platformId()) != 3) return 0;
  if (os_.console.isOpen()) return os_.console.processId();
  const std::string cmd = commandLine.empty() ? std::string("cmd.exe") : commandLine;
  const std::string dir = currentDirectory.empty() ? systemDirectory(os_) + "\\" : currentDirectory;
  return os_.console.open(cmd, dir);
}

long ConsoleShell::sendConsoleLine(std::string_view line) {
  if (!os_.console.isOpen()) return 0;
  const std::string trimmed = gbk::trimBlanks(line);
  if (!trimmed.empty()) {
    if (gbk::equalsIgnoreCase(trimmed, "exit")) {
      closeConsoleShell();
      return 4;
    }
    if (gbk::equalsIgnoreCase(trimmed, "cls")) {
      os_.console.writeOutput(systemDirectory(os_) + ">");
      return 3;
    }
  }
  return os_.console.writeInput(trimmed + "\r\n");
}

void appendToCappedBox(ui::Control& box, std::string_view chunk, std::size_t cap) {
  std::string piece;
  platform::appendChunk(piece, chunk);
  if (box.text().size() + piece.size() > cap) box.setText("");
  box.appendText(piece);
}

void ConsoleShell::startConsoleReader(ui::Window& window, ui::Control& textBox) {
  if (!os_.console.isOpen()) return;
  ui::Control* box = &textBox;
  const unsigned long reader = os_.console.startReader(
      [box] { box->setText(""); }, [box](std::string_view chunk) { appendToCappedBox(*box, chunk); });
  if (reader == 0) return;
  platform::ConsoleHost& console = os_.console;
  window.whenDestroyed([&console, reader] { console.detachReader(reader); });
}

bool ConsoleShell::closeConsoleShell() {
  if (!os_.console.isOpen()) return false;
  return os_.console.close();
}

}  // namespace runner
