// The file operations both Windows backends share: they take UTF-8 paths and use
// the wide Win32 calls, so a path survives whatever the ANSI code page is.
#pragma once

#include <cstdint>
#include <string>

namespace wimengine::win32files {

// The absolute form of path (GetFullPathNameW), or path itself when that fails.
std::wstring fullPath(const std::string& utf8);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
bool removeFile(const std::string& path);
// Moves from over to, replacing an existing file.
bool replaceFile(const std::string& from, const std::string& to);
std::int64_t nowMs();

}  // namespace wimengine::win32files
