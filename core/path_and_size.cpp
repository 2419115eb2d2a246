#include "core/path_and_size.h"

#include <cmath>
#include <cstdio>

#include "platform/gbk.h"

namespace core {

std::string fileNameOf(std::string_view path) {
  const std::size_t slash = gbk::findLastByte(path, '\\');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string extensionOf(std::string_view path) {
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); i += gbk::charLength(path, i)) {
    if (gbk::charLength(path, i) != 1) continue;
    if (path[i] == '\\' || path[i] == ' ') dot = std::string_view::npos;
    else if (path[i] == '.') dot = i;
  }
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

char driveLetterOf(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') return 0;
  const char letter = gbk::asciiUpper(path[0]);
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

std::uint64_t fileSizeOf(platform::FileSystem& files, const std::string& path) {
  return files.fileSize(path).value_or(0);
}

double roundHalfEven(double x, int n) {
  const double p = std::pow(10.0, n);
  const double scaled = x * p;
  const double i = std::floor(scaled);
  if (std::fabs(scaled - i - 0.5) > 0.0000001) return std::floor(scaled + 0.5) / p;
  return std::fmod(i, 2.0) == 0.0 ? i / p : (i + 1) / p;
}

double sizeInMegabytes(std::uint64_t bytes) {
  return roundHalfEven(static_cast<double>(bytes) / 1048576.0, 2);
}

std::string sizeInMegabytesText(std::uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.13g", sizeInMegabytes(bytes));
  return text;
}

std::string wholeMegabytesText(std::uint64_t bytes) { return std::to_string(bytes / 1048576); }

std::string scratchFolderFor(const std::string& savePath) { return savePath.substr(0, 3) + kScratchFolderName; }

}  // namespace core
