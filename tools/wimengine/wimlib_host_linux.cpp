#include "tools/wimengine/wimlib_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace wimengine::wimlibhost {

namespace {

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

}  // namespace

Text libraryText(const std::string& utf8) { return utf8; }

Text excludedTempPath(const std::string& source, const std::string& tempDir) {
  if (tempDir.empty()) return {};
  std::string realSource = realPath(source), realTemp = realPath(tempDir);
  if (realSource.empty() || realTemp.empty() || realTemp.size() <= realSource.size()) return {};
  std::string prefix = realSource == "/" ? realSource : realSource + "/";
  if (realTemp.compare(0, prefix.size(), prefix) != 0) return {};
  std::string base = source;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + (base == "/" ? "" : "/") + realTemp.substr(prefix.size());
}

bool isExcludedPath(const wimlib_tchar* path, const Text& excluded) { return !excluded.empty() && excluded == path; }

bool isOutOfSpaceError(int errorNumber) { return errorNumber == ENOSPC || errorNumber == EDQUOT || errorNumber == EFBIG; }

bool outOfSpace(int errorNumber, const std::string&) { return isOutOfSpaceError(errorNumber); }

int openDestination(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }

bool closeDestination(int fd) { return ::close(fd) == 0; }

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

std::int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace wimengine::wimlibhost
