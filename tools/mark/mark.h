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
  // success flag of the done report). Returns whether the library may go on: not
  // after an error, which ends the format as failed whatever follows.
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
  // The drive's MEDIA_TYPE (IOCTL_DISK_GET_DRIVE_GEOMETRY), 0 when it does not say.
  virtual int mediaType(char letter) = 0;
  // Formats letter: quick, NTFS, the given media, default cluster size, label 本地磁盘,
  // feeding every callback into report. Returns when the library returns.
  virtual void format(char letter, int media, FormatReport& report) = 0;
};

// FormatEx's media for a drive of that MEDIA_TYPE: a removable stick (11) is one, and
// everything else a fixed disk (12), which is what the library is given without one.
int formatMediaFor(int mediaType);

std::string failureLine(const FormatReport& report);

// Exit codes: 0 formatted, 1 the format failed or was refused, 2 bad argument.
int runMark(std::string_view tail, Backend& backend, toolio::LineSink& out);

}  // namespace mark
