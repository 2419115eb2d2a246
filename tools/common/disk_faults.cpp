// Faults on purpose for the disk-image builds: byte ranges that fail to read or to
// write, and a write that ends the process, read from VREL_DISK_FAULTS.
#include <cstdlib>

#include "tools/common/disk.h"

namespace disk {

namespace {

bool number(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + std::uint64_t(c - '0');
  }
  return true;
}

}  // namespace

std::vector<FaultRange> parseFaults(std::string_view text) {
  std::vector<FaultRange> faults;
  for (const std::string& entry : splitDiskList(text, ',')) {
    const std::size_t first = entry.find(':'), second = entry.find(':', first + 1);
    if (first != 1 || second == std::string::npos) continue;
    FaultRange range;
    range.kind = entry[0];
    range.where = entry.substr(first + 1, second - first - 1);
    const std::string span = entry.substr(second + 1);
    const std::size_t plus = span.find('+');
    if ((range.kind != 'r' && range.kind != 'w' && range.kind != 'k') || range.where.empty() ||
        plus == std::string::npos || !number(std::string_view(span).substr(0, plus), range.start) ||
        !number(std::string_view(span).substr(plus + 1), range.length) || range.length == 0)
      continue;
    faults.push_back(range);
  }
  return faults;
}

std::vector<FaultRange> faultsFromEnvironment() {
  const char* value = std::getenv("VREL_DISK_FAULTS");
  return value ? parseFaults(value) : std::vector<FaultRange>{};
}

FaultHook::FaultHook(const std::vector<FaultRange>& all, const std::string& where) {
  for (const FaultRange& range : all)
    if (range.where == where) ranges_.push_back(range);
}

bool FaultHook::allowRead(std::uint64_t offset, std::uint64_t length) const {
  for (const FaultRange& range : ranges_)
    if (range.kind == 'r' && range.touches(offset, length)) return false;
  return true;
}

bool FaultHook::allowWrite(std::uint64_t offset, std::uint64_t length) const {
  for (const FaultRange& range : ranges_) {
    if (!range.touches(offset, length)) continue;
    // 128 + 9, as a shell reports a process ended by kill -9; nothing is flushed.
    if (range.kind == 'k') std::_Exit(137);
    if (range.kind == 'w') return false;
  }
  return true;
}

}  // namespace disk
