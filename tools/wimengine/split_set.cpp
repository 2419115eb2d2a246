#include "tools/wimengine/split_set.h"

#include <map>

namespace wimengine {

namespace {

std::uint32_t readU32(std::string_view b, std::size_t at) {
  return std::uint32_t(static_cast<unsigned char>(b[at])) | std::uint32_t(static_cast<unsigned char>(b[at + 1])) << 8 |
         std::uint32_t(static_cast<unsigned char>(b[at + 2])) << 16 |
         std::uint32_t(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t readU16(std::string_view b, std::size_t at) {
  return std::uint16_t(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Paths here are UTF-8, whose bytes above 0x7F are never ASCII letters.
std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = upper(c);
  return out;
}



std::size_t extensionStart(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name.size() : dot;
}

struct FoundPart {
  std::string path;
  WimHeader header;
};

}  // namespace

std::string namedInErrorLine(const std::string& consoleName) {
  return upperAscii(consoleName).find("SUCCESSFULLY") != std::string::npos ? std::string("(文件名略)") : consoleName;
}

std::optional<WimHeader> parseWimHeader(std::string_view bytes) {
  static constexpr char kMagic[8] = {'M', 'S', 'W', 'I', 'M', 0, 0, 0};
  if (bytes.size() < kWimHeaderSize || bytes.substr(0, 8) != std::string_view(kMagic, 8)) return std::nullopt;
  WimHeader header;
  header.version = readU32(bytes, 0x0C);
  header.flags = readU32(bytes, 0x10);
  for (std::size_t i = 0; i < 16; ++i) header.guid[i] = static_cast<unsigned char>(bytes[0x18 + i]);
  header.partNumber = readU16(bytes, 0x28);
  header.totalParts = readU16(bytes, 0x2A);
  return header;
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  // Greedy with one backtrack point: the last * seen and where it started matching.
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string partFileName(std::string_view firstPartName, std::uint32_t part) {
  if (part <= 1) return std::string(firstPartName);
  const std::size_t dot = extensionStart(firstPartName);
  return std::string(firstPartName.substr(0, dot)) + std::to_string(part) + std::string(firstPartName.substr(dot));
}

std::string firstPartNameOf(std::string_view partName) {
  std::size_t end = extensionStart(partName);
  std::size_t digits = end;
  while (digits > 0 && partName[digits - 1] >= '0' && partName[digits - 1] <= '9') --digits;
  if (digits == 0) digits = end;  // a name of digits only keeps them
  return std::string(partName.substr(0, digits)) + std::string(partName.substr(end));
}

std::string fileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

Failure findOtherParts(const std::string& path, const WimHeader& header, const std::vector<std::string>& patterns,
                       PartFiles& files, std::vector<std::string>& otherParts) {
  otherParts.clear();
  if (header.totalParts <= 1) return Failure{};

  std::map<std::uint32_t, FoundPart> ours;          // by part number, the first match kept
  std::map<std::string, std::string> foreignByName;  // upper-cased file name -> path
  for (const std::string& pattern : patterns) {
    for (const std::string& match : files.matchingFiles(pattern)) {
      std::optional<WimHeader> other = parseWimHeader(files.readFileStart(match, kWimHeaderSize));
      if (!other) continue;
      if (other->guid != header.guid) {
        foreignByName.emplace(upperAscii(fileNameOf(match)), match);
        continue;
      }
      ours.emplace(other->partNumber, FoundPart{match, *other});
    }
  }

  if (header.partNumber != 1) {
    Failure f = failedWith(ErrorKind::SplitNotFirstPart);
    f.part = header.partNumber;
    f.totalParts = header.totalParts;
    auto first = ours.find(1);
    f.name = first != ours.end() ? fileNameOf(first->second.path) : firstPartNameOf(fileNameOf(path));
    return f;
  }

  const std::string firstName = fileNameOf(path);
  for (std::uint32_t part = 2; part <= header.totalParts; ++part) {
    auto found = ours.find(part);
    if (found != ours.end()) {
      otherParts.push_back(found->second.path);
      continue;
    }
    const std::string expected = partFileName(firstName, part);
    Failure f = failedWith(foreignByName.count(upperAscii(expected)) ? ErrorKind::SplitPartForeign
                                                                           : ErrorKind::SplitPartMissing);
    f.part = part;
    f.totalParts = header.totalParts;
    f.name = expected;
    otherParts.clear();
    return f;
  }
  return Failure{};
}

}  // namespace wimengine
