// Helpers for the Wine tier: paths beside the test program, waiting while serving
// window messages, and saving pictures of windows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace winetest {

// Folder of the running test program, with a trailing backslash.
std::string programFolder();
std::string readWholeFile(const std::string& path);
// Serves window messages until done() or the timeout; returns done().
bool pumpUntil(const std::function<bool()>& done, unsigned timeoutMs);
// Saves what the window shows (frame included) as a 24-bit BMP.
bool saveWindowPicture(HWND hwnd, const std::string& path);
// Counts pixels of a client rectangle of hwnd whose colour is close to pure red.
int redPixels(HWND hwnd, const RECT& area);
// Where pictures go: $VREL_ARTIFACTS (a Windows path) or the program folder.
std::string artifactFolder();

}  // namespace winetest
