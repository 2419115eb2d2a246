#include "tools/wimengine/files_win32.h"

#include <windows.h>

#include "tools/common/utf.h"

namespace wimengine::win32files {

std::wstring wide(const std::string& utf8) {
  std::u16string text = toolio::utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::wstring fullPath(const std::string& utf8) {
  std::wstring path = wide(utf8);
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring buffer(size, L'\0');
  DWORD written = GetFullPathNameW(path.c_str(), size, &buffer[0], nullptr);
  buffer.resize(written < size ? written : 0);
  return buffer;
}

bool isDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileExists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool removeFile(const std::string& path) { return DeleteFileW(wide(path).c_str()) != FALSE; }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
         FALSE;
}

std::int64_t nowMs() { return std::int64_t(GetTickCount64()); }

std::string toConsoleText(const std::string& utf8) {
  std::wstring text = wide(utf8);
  int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace wimengine::win32files
