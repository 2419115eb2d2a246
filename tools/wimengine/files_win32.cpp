#include "tools/wimengine/files_win32.h"

#include <windows.h>

#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/common/windows_names.h"

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

bool isSpecialFile(const std::string& path) {
  if (toolio::namesWindowsDevice(path)) return true;
  const DWORD attributes = GetFileAttributesW(wideFromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE);
}

bool removeFile(const std::string& path) { return DeleteFileW(wideFromUtf8(path).c_str()) != FALSE; }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wideFromUtf8(from).c_str(), wideFromUtf8(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::int64_t nowMs() { return std::int64_t(GetTickCount64()); }

std::string readFileStart(const std::string& path, std::size_t size) {
  toolio::UniqueHandle file(CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string bytes(size, '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), &bytes[0], DWORD(size), &read, nullptr)) read = 0;
  bytes.resize(read);
  return bytes;
}

std::vector<std::string> matchingFiles(const std::string& pattern) {
  std::vector<std::string> found;
  const std::size_t slash = pattern.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
  WIN32_FIND_DATAW entry;
  toolio::FindHandle find(FindFirstFileW(wideFromUtf8(pattern).c_str(), &entry));
  if (!find) return found;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      found.push_back(folder + toolio::utf8FromWide(entry.cFileName));
  } while (FindNextFileW(find.get(), &entry));
  return found;
}

}  // namespace wimengine::win32files
