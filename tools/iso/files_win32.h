// Image, target folder and file helpers over Win32, with UTF-8 paths turned into
// long (\\?\) UTF-16 paths so deep folders and Chinese names work on any code page.
#pragma once

#include <memory>
#include <string>

#include "tools/iso/extract.h"
#include "tools/iso/volume.h"

namespace iso {

std::wstring widePath(const std::string& utf8Path);
bool win32FileExists(const std::string& path);
bool win32FolderExists(const std::string& path);
std::unique_ptr<ImageSource> openWin32Image(const std::string& path);
std::unique_ptr<OutputTree> openWin32Folder(const std::string& path);
// Removes a folder tree; links inside it are removed, never followed.
void removeWin32Tree(const std::string& path);

}  // namespace iso
