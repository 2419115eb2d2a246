// Names that Windows opens as devices rather than files, in every folder: a file
// tool must never take them for a file it may read, replace or create.
#pragma once

#include <string_view>

namespace toolio {

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension and
// letter case ("nul.gho" too: older Windows opens that as NUL).
bool isWindowsDeviceName(std::string_view component);

// The path's last component is a device name, or the path lies in the device
// namespace (\\.\ anything, \\?\ anything but a drive or a UNC path).
bool namesWindowsDevice(std::string_view path);

}  // namespace toolio
