// The WIM header fields the engine reads itself (before any library opens the file),
// and the search for the other parts of a split set named by /ref patterns.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/wimengine/errors.h"

namespace wimengine {

// The header is the first 208 bytes of every WIM, ESD and SWM file.
constexpr std::size_t kWimHeaderSize = 208;

struct WimHeader {
  std::uint32_t version = 0;
  std::uint32_t flags = 0;
  std::array<unsigned char, 16> guid{};
  std::uint16_t partNumber = 1;
  std::uint16_t totalParts = 1;

  // Solid resources or LZMS chunks: what an ESD holds and older WIMGAPIs cannot read.
  bool isSolidOrLzms() const { return version == 0xE00 || (flags & 0x00080000u) != 0; }
};

// Nothing when the bytes do not start with a WIM header.
std::optional<WimHeader> parseWimHeader(std::string_view bytes);

// Whether name (one path element) matches pattern, where * stands for any run of
// characters and ? for one, ASCII letters in any case, as Windows matches file names.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// The file name a part of a split set has by the usual naming: the first part's name
// with the part number before its extension (install.swm, install2.swm ...); part 1
// of a later part's name drops the trailing digits (install3.swm -> install.swm).
std::string partFileName(std::string_view firstPartName, std::uint32_t part);
std::string firstPartNameOf(std::string_view partName);

// The file name in a path (after the last / or \).
std::string fileNameOf(std::string_view path);

// A part name as an error line may show it (console text): error lines must never
// carry the success word, so a name holding it is left out.
std::string namedInErrorLine(const std::string& consoleName);

// What the set search needs from the files around it.
class PartFiles {
 public:
  virtual ~PartFiles() = default;
  // The first size bytes of a file; fewer (or none) when it is shorter or unreadable.
  virtual std::string readFileStart(const std::string& path, std::size_t size) = 0;
  // The files (no folders) a pattern matches, as full paths; the pattern's last element
  // may hold * and ?.
  virtual std::vector<std::string> matchingFiles(const std::string& pattern) = 0;
};

// For the image `path` whose header is `header`: when it is one part of a split set,
// finds parts 2..N among the files the patterns match (the chosen file itself and
// files of other sets are passed over) and puts them in part order into otherParts.
// Fails naming the first part when `path` is a later part, or naming the first part
// that is missing or whose file belongs to another set (names as found, UTF-8).
Failure findOtherParts(const std::string& path, const WimHeader& header, const std::vector<std::string>& patterns,
                       PartFiles& files, std::vector<std::string>& otherParts);

}  // namespace wimengine
