// Running the carried tools through the command interpreter.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/ui.h"

namespace runner {

// Operating-system class from the platform id: 0 → 1, 1 → 2, 2 (NT) → 3, else 0.
int osClass(int platformId);
// "cmd.exe /c " on the NT family, "command.com /c " before it.
std::string interpreterPrefix(int platformId);

// Runs the command line through the interpreter with a hidden console and returns
// everything it printed. started tells a run that printed nothing from one whose
// interpreter never started.
platform::CapturedRun tryRunCaptured(platform::Platform& os, std::string_view commandLine);
// The same, text only, for the callers that judge by text alone.
std::string runCaptured(platform::Platform& os, std::string_view commandLine);

// Asks the ISO mounter to unmount everything ("/q"); its output is discarded.
void quitIsoTool(platform::Platform& os, const std::string& isoToolPath);

// GetSystemDirectoryA with blanks trimmed and no trailing backslash.
std::string systemDirectory(platform::Platform& os);

// Words looked for in output as it passes, piece by piece, so that whatever later
// trims the text cannot hide them; a word split across two pieces is found too.
class OutputWatch {
 public:
  struct Word {
    std::string text;
    bool ignoreCase = false;  // for single-byte characters, as every text helper
  };
  // before: what counts as having passed ahead of the first piece ("\n" lets a word
  // that starts with a line feed match at the very start).
  explicit OutputWatch(std::vector<Word> words, std::string before = {});
  void scan(std::string_view piece);
  bool seen(std::size_t word) const { return seen_.at(word); }

 private:
  std::vector<Word> words_;
  std::vector<bool> seen_;
  std::string tail_;  // the end of what passed, from a character boundary on
  std::size_t keep_ = 0;
};

// The long-lived hidden interpreter for the WIM engine runs.
class ConsoleShell {
 public:
  explicit ConsoleShell(platform::Platform& os) : os_(os) {}

  // Starts "cmd.exe" (or commandLine) hidden in currentDirectory (default: the
  // system directory). Returns its process id; the running one's when already
  // open; 0 outside the NT family or when it cannot start.
  unsigned long openConsoleShell(const std::string& commandLine = {}, const std::string& currentDirectory = {});
  // Sends one line: trimmed; "exit" closes the shell (4); "cls" prints the prompt
  // into the shell's output (3); otherwise the line + CR LF (bytes written).
  long sendConsoleLine(std::string_view line);
  // Copies the shell's output into the text box of the window: the reader thread keeps
  // what it reads and posts to the window, whose own thread moves it into the box
  // (and past the watch, when one is given). The box is emptied first, and again
  // whenever it would grow past 30000 bytes. When the window goes, the output stops
  // reaching the box (the shell runs on). Returns the reader's number, 0 when none
  // was started.
  unsigned long startConsoleReader(ui::Window& window, ui::Control& textBox,
                                   std::shared_ptr<OutputWatch> watch = nullptr);
  // Moves what that reader has read so far into the box now, as its posted message
  // would (the user-interface thread only).
  void deliverConsoleOutput(unsigned long reader, ui::Control& textBox, OutputWatch* watch);
  // True once the interpreter has read every line sent to it.
  bool inputTaken() { return !os_.console.inputPending(); }
  // Ends the shell; false when none was open or the interpreter could not be ended.
  bool closeConsoleShell();
  bool isOpen() const { return os_.console.isOpen(); }

 private:
  platform::Platform& os_;
};

// What the reader does with each chunk, kept apart so that it can be tested alone:
// the box is emptied before a chunk that would make it longer than the cap.
void appendToCappedBox(ui::Control& box, std::string_view chunk, std::size_t cap = 30000);
// The same for pieces read one after the other (each already cut at its NUL).
void appendToCappedBox(ui::Control& box, const std::vector<std::string>& pieces, std::size_t cap = 30000);

}  // namespace runner
