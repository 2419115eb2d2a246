// The operation log, VrelPELite.log: one block per operation the program carries
// out (GHO restore, backup and check, WIM apply and capture, format, boot repair,
// power actions), appended in GBK. It lives beside the program, or in the temporary
// folder when the program's folder cannot be written (a CD, a locked stick). A log
// that cannot be written is given up silently: it never stops an operation.
#pragma once

#include <string>

#include "core/app_state.h"
#include "platform/os.h"

namespace core {

struct OperationRecord {
  std::string operation;  // "GHO 备份" ...
  std::string image;      // the image read or written; empty when none
  std::string target;     // targetText(...) of the partition; empty when none
  std::string options;    // the engine's command line or the choices made
  platform::CalendarTime start, end;
  bool succeeded = false;
  std::string outcome;         // what the user was told
  std::string engineMessages;  // the engine's own text, kept on failure only
};

// "1:2 主分区,MBR NTFS 40.00GB C:\": designator, kind, file system, size, drive.
std::string targetText(const Target& target);

// Seconds from start to end (0 when end is earlier, a clock set back).
long long secondsBetween(const platform::CalendarTime& start, const platform::CalendarTime& end);

// The block as it is appended: CR LF line ends, a blank line after it.
std::string formatLogBlock(const OperationRecord& record);

// Appends the block; returns the log file written, or empty when neither place could be.
std::string appendOperationLog(platform::Platform& os, const OperationRecord& record);

// Appends the block of an operation that started at record.start and ends now.
void logFinishedOperation(platform::Platform& os, OperationRecord record);

// Times one operation: the start is taken when it is made, the end and the block
// when finish() is called (once; later calls do nothing).
class OperationLog {
 public:
  OperationLog(platform::Platform& os, std::string operation, std::string image, std::string target,
               std::string options);
  void finish(bool succeeded, const std::string& outcome, const std::string& engineMessages = {});

 private:
  platform::Platform& os_;
  OperationRecord record_;
  bool finished_ = false;
};

}  // namespace core
