#include "core/image_sets.h"

#include "core/path_and_size.h"
#include "platform/gbk.h"

namespace core {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A path cut before its extension: the rest (folder and name) and the extension.
struct NameParts {
  std::string rest;
  std::string extension;
  std::size_t nameStart = 0;  // where the file name begins in rest
};

NameParts namePartsOf(std::string_view path) {
  NameParts n;
  n.extension = extensionOf(path);
  n.rest = std::string(path.substr(0, path.size() - n.extension.size()));
  n.nameStart = n.rest.size() - fileNameOf(n.rest).size();
  return n;
}

// The base the later parts' names are made from: the first part's name, or, for a
// first part named <name>1.swm whose next part is <name>2.swm, <name>.
std::string partBase(platform::FileSystem& files, const NameParts& n) {
  if (files.exists(n.rest + "2" + n.extension)) return n.rest;
  if (n.rest.size() > n.nameStart + 1 && n.rest.back() == '1') {
    std::string shorter = n.rest.substr(0, n.rest.size() - 1);
    if (files.exists(shorter + "2" + n.extension)) return shorter;
  }
  return n.rest;
}

}  // namespace

bool isSplitPart(std::string_view path) { return gbk::toUpperAscii(extensionOf(path)) == ".SWM"; }

bool isLaterSplitPart(platform::FileSystem& files, const std::string& path) {
  if (!isSplitPart(path)) return false;
  const NameParts n = namePartsOf(path);
  // The digits are ASCII bytes at the end; a GBK trail byte is never a digit.
  std::size_t digits = n.rest.size();
  while (digits > n.nameStart && isDigit(n.rest[digits - 1])) --digits;
  // Every way of reading the final digits as <base><number>: win102.swm is part 2 of win10.swm.
  for (std::size_t cut = digits; cut < n.rest.size(); ++cut) {
    const std::string number = n.rest.substr(cut);
    if (cut == n.nameStart || number[0] == '0' || number.size() > 5 || std::stol(number) < 2) continue;
    const std::string base = n.rest.substr(0, cut);
    if (files.exists(base + n.extension) || files.exists(base + "1" + n.extension)) return true;
  }
  return false;
}

std::vector<std::string> splitSetParts(platform::FileSystem& files, const std::string& path) {
  std::vector<std::string> parts{path};
  if (!isSplitPart(path)) return parts;
  const NameParts n = namePartsOf(path);
  const std::string base = partBase(files, n);
  // A set has at most 65535 parts (the header's count is 16 bits).
  for (int part = 2; part <= 65535; ++part) {
    const std::string next = base + std::to_string(part) + n.extension;
    if (!files.exists(next)) break;
    parts.push_back(next);
  }
  return parts;
}

std::uint64_t imageSetSize(platform::FileSystem& files, const std::string& path) {
  std::uint64_t total = 0;
  for (const std::string& part : splitSetParts(files, path)) total += fileSizeOf(files, part);
  return total;
}

std::string splitPartsPattern(platform::FileSystem& files, std::string_view firstPart) {
  return partBase(files, namePartsOf(firstPart)) + "*.swm";
}

}  // namespace core
