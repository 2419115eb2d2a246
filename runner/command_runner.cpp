#include "runner/command_runner.h"

#include <algorithm>

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
  appendToCappedBox(box, std::vector<std::string>{std::move(piece)}, cap);
}

void appendToCappedBox(ui::Control& box, const std::vector<std::string>& pieces, std::size_t cap) {
  // The box ends as the pieces one by one would leave it, with one change of the
  // control: a burst of output costs the window thread one append, not one each.
  std::size_t length = box.text().size();
  std::size_t keptFrom = 0;
  bool emptied = false;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (length + pieces[i].size() > cap) {
      length = 0;
      keptFrom = i;
      emptied = true;
    }
    length += pieces[i].size();
  }
  std::string text;
  for (std::size_t i = keptFrom; i < pieces.size(); ++i) text += pieces[i];
  if (emptied) box.setText(text);
  else if (!text.empty()) box.appendText(text);
}

OutputWatch::OutputWatch(std::vector<Word> words, std::string before)
    : words_(std::move(words)), seen_(words_.size(), false), tail_(std::move(before)) {
  for (const Word& word : words_) keep_ = std::max(keep_, word.text.size());
}

void OutputWatch::scan(std::string_view piece) {
  std::string passing = tail_;
  passing.append(piece);
  for (std::size_t i = 0; i < words_.size(); ++i)
    if (!seen_[i] && gbk::find(passing, words_[i].text, 0, words_[i].ignoreCase) != std::string::npos) seen_[i] = true;
  // A word not yet complete starts at a character boundary within the last keep_ - 1
  // bytes; the tail begins at the first boundary there, so the next piece continues
  // the characters as the whole output does.
  const std::size_t from = passing.size() + 1 > keep_ ? passing.size() + 1 - keep_ : 0;
  std::size_t at = 0;
  while (at < from) {
    const std::size_t n = gbk::charLength(passing, at);
    if (n == 0) break;
    at += n;
  }
  tail_ = passing.substr(std::min(at, passing.size()));
}

namespace {

// The user-interface thread's part of the reader: the pieces read so far into the box.
void moveOutputIntoBox(platform::ConsoleHost& console, unsigned long reader, ui::Control& box, OutputWatch* watch) {
  const std::vector<std::string> pieces = console.takeOutput(reader);
  if (watch)
    for (const std::string& piece : pieces) watch->scan(piece);
  appendToCappedBox(box, pieces);
}

}  // namespace

unsigned long ConsoleShell::startConsoleReader(ui::Window& window, ui::Control& textBox,
                                               std::shared_ptr<OutputWatch> watch) {
  if (!os_.console.isOpen()) return 0;
  textBox.setText("");
  platform::ConsoleHost& console = os_.console;
  auto reader = std::make_shared<unsigned long>(0);
  ui::Control* box = &textBox;
  // The reader thread only posts: the box, like every control, is the window thread's.
  std::function<void()> deliver = [&console, reader, box, watch] { moveOutputIntoBox(console, *reader, *box, watch.get()); };
  *reader = console.startReader([&window, deliver] { window.post(deliver); });
  if (*reader == 0) return 0;
  const unsigned long number = *reader;
  window.whenDestroyed([&console, number] { console.detachReader(number); });
  return number;
}

void ConsoleShell::deliverConsoleOutput(unsigned long reader, ui::Control& textBox, OutputWatch* watch) {
  moveOutputIntoBox(os_.console, reader, textBox, watch);
}

bool ConsoleShell::closeConsoleShell() {
  if (!os_.console.isOpen()) return false;
  return os_.console.close();
}

}  // namespace runner
