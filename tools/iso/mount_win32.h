// Mounting on a drive letter: the system's ISO attach through the virtual-disk API
// (loaded at run time; WinPE may lack it or refuse ISO files), and the letter mapped
// onto a folder of copies when it does.
#pragma once

#include <string>

namespace iso {

// Attaches read-only, puts the volume on the letter and waits until it answers.
// False, with nothing left attached, when any step fails.
bool attachIsoOnLetter(char letter, const std::string& image);
void detachIsoFromLetter(char letter, const std::string& image);

bool mapLetterToFolder(char letter, const std::string& folder);
void unmapLetterFromFolder(char letter, const std::string& folder);

bool driveLetterInUse(char letter);

}  // namespace iso
