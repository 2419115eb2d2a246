// The file operations both Windows backends share: they take UTF-8 paths and use
// the wide Win32 calls, so a path survives whatever the ANSI code page is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wimengine::win32files {

// The absolute form of path (GetFullPathNameW), or path itself when that fails.
std::wstring fullPath(const std::string& utf8);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
// A device name (NUL, CON, \\.\...) or a file the system calls a device.
bool isSpecialFile(const std::string& path);
bool removeFile(const std::string& path);
// Moves from over to, replacing an existing file.
bool replaceFile(const std::string& from, const std::string& to);
std::int64_t nowMs();
// The first size bytes of a file; fewer when it is shorter, none when unreadable.
std::string readFileStart(const std::string& path, std::size_t size);
// The files (no folders) a pattern matches, as full paths in the folder of the pattern.
std::vector<std::string> matchingFiles(const std::string& pattern);

}  // namespace wimengine::win32files
