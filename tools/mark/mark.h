// The 64-bit formatter (MARK.exe D:): a quick NTFS format of one volume through the
// system's format library, which a 32-bit program cannot load on a 64-bit system.
// It prints "Format success." only when the library reported success at its end;
// every other outcome is one Chinese line without that word.
#pragma once

#include <string>
#include <string_view>

#include "tools/common/console_out.h"

namespace mark {

// The letter of "D:" (or "D:\"), upper case; 0 for anything else.
char parseDrive(std::string_view tail);

// What the library's callback has said so far.
class FormatReport {
 public:
  // One callback: command, and the value its data points to (percent, or the
  // success flag of the done report). Returns whether the library may go on.
  bool onCallback(int command, unsigned value);
  bool succeeded() const { return done_ && doneFlag_ && error_ < 0; }
  int lastError() const { return error_; }
  int percent() const { return percent_; }

 private:
  bool done_ = false;
  bool doneFlag_ = false;
  int error_ = -1;
  int percent_ = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual char windowsDriveLetter() = 0;  // upper case; 0 when unknown
  virtual bool driveExists(char letter) = 0;
  virtual bool loadLibrary() = 0;
  // Formats letter: quick, NTFS, fixed media, default cluster size, label 本地磁盘,
  // feeding every callback into report. Returns when the library returns.
  virtual void format(char letter, FormatReport& report) = 0;
};

std::string failureLine(const FormatReport& report);

// Exit codes: 0 formatted, 1 the format failed or was refused, 2 bad argument.
int runMark(std::string_view tail, Backend& backend, toolio::LineSink& out);

}  // namespace mark
