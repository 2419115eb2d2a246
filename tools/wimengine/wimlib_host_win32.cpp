#include "tools/wimengine/wimlib_host.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "tools/common/utf.h"
#include "tools/wimengine/files_win32.h"
#include "tools/wimengine/wimgapi_messages.h"

namespace wimengine::wimlibhost {

namespace {

std::wstring withoutTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

bool equalsIgnoringCase(const wchar_t* a, int aLength, const wchar_t* b, int bLength) {
  return CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

// A write refused for want of room leaves less than one large write free. wimlib's
// own writes to the target go through the native API and set no errno.
constexpr ULONGLONG kNearlyFullBytes = 64ull << 20;

}  // namespace

Text libraryText(const std::string& utf8) { return toolio::wideFromUtf8(driveToRoot(utf8)); }

Text excludedTempPath(const std::string& source, const std::string& tempDir) {
  if (tempDir.empty()) return {};
  std::wstring prefix = withoutTrailingBackslash(win32files::fullPath(driveToRoot(source))) + L"\\";
  std::wstring temp = withoutTrailingBackslash(win32files::fullPath(tempDir));
  if (temp.size() <= prefix.size() ||
      !equalsIgnoringCase(temp.c_str(), int(prefix.size()), prefix.c_str(), int(prefix.size())))
    return {};
  // wimlib scans below the NT name of the root and reports paths in the \\?\ form.
  return L"\\\\?\\" + temp;
}

bool isExcludedPath(const wimlib_tchar* path, const Text& excluded) {
  return !excluded.empty() && equalsIgnoringCase(path, -1, excluded.c_str(), int(excluded.size()));
}

bool isOutOfSpaceError(int errorNumber) { return errorNumber == ENOSPC || errorNumber == EFBIG; }

bool outOfSpace(int errorNumber, const std::string& path) {
  if (isOutOfSpaceError(errorNumber)) return true;
  if (path.empty()) return false;
  ULARGE_INTEGER available;
  std::wstring folder = win32files::fullPath(driveToRoot(path));
  // The volume is asked through the folder holding the path (the file may not exist).
  if (!win32files::isDirectory(driveToRoot(path))) {
    std::wstring::size_type slash = folder.find_last_of(L'\\');
    if (slash != std::wstring::npos) folder.resize(slash + 1);
  }
  return GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) && available.QuadPart < kNearlyFullBytes;
}

int openDestination(const std::string& path) {
  return _wopen(toolio::wideFromUtf8(path).c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}

bool closeDestination(int fd) { return _close(fd) == 0; }

bool isDirectory(const std::string& path) { return win32files::isDirectory(path); }
bool fileExists(const std::string& path) { return win32files::fileExists(path); }
bool removeFile(const std::string& path) { return win32files::removeFile(path); }
bool replaceFile(const std::string& from, const std::string& to) { return win32files::replaceFile(from, to); }
std::int64_t nowMs() { return win32files::nowMs(); }

}  // namespace wimengine::wimlibhost
