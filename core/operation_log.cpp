#include "core/operation_log.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "platform/gbk.h"

namespace core {

namespace {

constexpr char kLogName[] = "VrelPELite.log";
// The tail of a long engine text is where its error is; the log stays readable.
constexpr std::size_t kMessageLines = 40;

std::string timeText(const platform::CalendarTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

std::string durationText(long long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yoe = year - era * 400;
  const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

long long secondsOf(const platform::CalendarTime& t) {
  return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// The engine's lines, blank ones dropped, each indented; only the last ones of a long text.
std::string messageLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  auto flush = [&] {
    if (!gbk::trimBlanks(line).empty()) lines.push_back(line);
    line.clear();
  };
  for (char c : text) {
    // CR and LF bytes are never GBK trail bytes (those start at 0x40).
    if (c == '\r' || c == '\n') {
      flush();
    } else {
      line += c;
    }
  }
  flush();
  std::string out;
  const std::size_t from = lines.size() > kMessageLines ? lines.size() - kMessageLines : 0;
  if (from > 0) out += "  ...\r\n";
  for (std::size_t i = from; i < lines.size(); ++i) out += "  " + lines[i] + "\r\n";
  return out;
}

}  // namespace

std::string targetText(const Target& target) {
  std::string text;
  for (const std::string* part :
       {&target.targetIndex, &target.targetPartitionType, &target.targetFileSystem, &target.targetTotal,
        &target.targetDrive}) {
    if (part->empty()) continue;
    if (!text.empty()) text += ' ';
    text += *part;
  }
  return text;
}

long long secondsBetween(const platform::CalendarTime& start, const platform::CalendarTime& end) {
  const long long seconds = secondsOf(end) - secondsOf(start);
  return seconds > 0 ? seconds : 0;
}

std::string formatLogBlock(const OperationRecord& r) {
  std::string block = "==== " + r.operation + "\r\n";
  block += "开始: " + timeText(r.start) + "\r\n";
  block += "结束: " + timeText(r.end) + "\r\n";
  if (!r.image.empty()) block += "映像: " + r.image + "\r\n";
  if (!r.target.empty()) block += "目标: " + r.target + "\r\n";
  if (!r.options.empty()) block += "选项: " + r.options + "\r\n";
  block += "用时: " + durationText(secondsBetween(r.start, r.end)) + "\r\n";
  block += std::string("结果: ") + (r.succeeded ? "成功" : "失败") + "\r\n";
  if (!r.outcome.empty()) block += messageLines(r.outcome);
  if (!r.succeeded && !r.engineMessages.empty()) block += "引擎消息:\r\n" + messageLines(r.engineMessages);
  return block + "\r\n";
}

std::string appendOperationLog(platform::Platform& os, const OperationRecord& record) {
  const std::string block = formatLogBlock(record);
  const std::string folder = os.system.programFolder();
  if (!folder.empty()) {
    const std::string path = folder + "\\" + kLogName;
    if (os.files.appendFile(path, block)) return path;
  }
  std::string temp = os.system.tempDirectory();
  if (temp.empty()) return {};
  if (temp.back() != '\\') temp += '\\';
  const std::string path = temp + kLogName;
  return os.files.appendFile(path, block) ? path : std::string();
}

void logFinishedOperation(platform::Platform& os, OperationRecord record) {
  record.end = os.system.localTime();
  appendOperationLog(os, record);
}

OperationLog::OperationLog(platform::Platform& os, std::string operation, std::string image, std::string target,
                           std::string options)
    : os_(os) {
  record_.operation = std::move(operation);
  record_.image = std::move(image);
  record_.target = std::move(target);
  record_.options = std::move(options);
  record_.start = os.system.localTime();
}

void OperationLog::finish(bool succeeded, const std::string& outcome, const std::string& engineMessages) {
  if (finished_) return;
  finished_ = true;
  record_.end = os_.system.localTime();
  record_.succeeded = succeeded;
  record_.outcome = outcome;
  record_.engineMessages = engineMessages;
  appendOperationLog(os_, record_);
}

}  // namespace core
