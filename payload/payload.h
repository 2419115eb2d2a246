// The carried tools' bytes, by file name (GhostVrelLite.exe, ..., MARK.exe).
#pragma once

#include <string_view>

// Empty when no tool of that name is carried.
std::string_view payloadFor(std::string_view fileName);
