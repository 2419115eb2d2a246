// What the wimlib backend needs from the OS around the library: wimlib's own text
// type (char on Linux, UTF-16 wchar_t on Windows), paths in the form the library
// reports them, the destination's file descriptor, and plain file operations.
// One implementation per OS (wimlib_host_linux.cpp, wimlib_host_win32.cpp).
#pragma once

#include <wimlib.h>

#include <cstdint>
#include <string>

namespace wimengine::wimlibhost {

using Text = std::basic_string<wimlib_tchar>;

// A UTF-8 argument as wimlib takes it; on Windows "C:" becomes the drive's root.
Text libraryText(const std::string& utf8);

// The temporary folder as wimlib will name it while scanning source, or empty when it
// does not lie inside the source.
Text excludedTempPath(const std::string& source, const std::string& tempDir);
// Whether a path wimlib reports while scanning is the excluded one.
bool isExcludedPath(const wimlib_tchar* path, const Text& excluded);

// errno values that mean the volume (or the user's quota) is full.
bool isOutOfSpaceError(int errorNumber);
// A write that failed for want of room: errorNumber is errno right after the call;
// where the library leaves errno alone, the volume holding path (when given) is asked.
bool outOfSpace(int errorNumber, const std::string& path);

// The destination image, created empty for reading and writing: a descriptor, or -1
// with errno set.
int openDestination(const std::string& path);
bool closeDestination(int fd);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
bool removeFile(const std::string& path);
bool replaceFile(const std::string& from, const std::string& to);
std::int64_t nowMs();

}  // namespace wimengine::wimlibhost
