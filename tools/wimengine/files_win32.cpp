#include "tools/wimengine/files_win32.h"

#include <windows.h>

#include "tools/common/utf.h"

namespace wimengine::win32files {

using toolio::wideFromUtf8;

std::wstring fullPath(const std::string& utf8) {
  std::wstring path = wideFromUtf8(utf8);
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring buffer(size, L'\0');
  DWORD written = GetFullPathNameW(path.c_str(), size, &buffer[0], nullptr);
  buffer.resize(written < size ? written : 0);
  return buffer;
}

bool isDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesW(wideFromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileExists(const std::string& path) {
  return GetFileAttributesW(wideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool removeFile(const std::string& path) { return DeleteFileW(wideFromUtf8(path).c_str()) != FALSE; }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wideFromUtf8(from).c_str(), wideFromUtf8(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::int64_t nowMs() { return std::int64_t(GetTickCount64()); }

}  // namespace wimengine::win32files
