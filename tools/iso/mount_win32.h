// Mounting on a drive letter: the system's ISO attach through the virtual-disk API
// (loaded at run time; WinPE may lack it or refuse ISO files), and the letter mapped
// onto a folder of copies when it does.
#pragma once

#include <windows.h>

#include <string>

namespace iso {

// The virtual-disk API's calls, declared here because the DLL is loaded at run time
// (and so that tests can hand in calls that answer as Windows documents).
struct VirtDiskStorageType {
  ULONG deviceId;
  GUID vendorId;
};
struct VirtDiskCalls {
  DWORD(WINAPI* open)(VirtDiskStorageType*, PCWSTR, DWORD, DWORD, void*, HANDLE*) = nullptr;
  DWORD(WINAPI* attach)(HANDLE, PSECURITY_DESCRIPTOR, DWORD, ULONG, void*, OVERLAPPED*) = nullptr;
  DWORD(WINAPI* detach)(HANDLE, DWORD, ULONG) = nullptr;
  DWORD(WINAPI* physicalPath)(HANDLE, PULONG, PWSTR) = nullptr;
};
// VIRTUAL_DISK_ACCESS_MASK: attaching needs ATTACH_RO (with DETACH and GET_INFO);
// detaching takes DETACH alone, which an open elsewhere does not refuse.
inline constexpr DWORD kVirtDiskAccessAttach = 0x000D0000;
inline constexpr DWORD kVirtDiskAccessDetach = 0x00040000;

// Attaches read-only, puts the volume on the letter and waits until it answers.
// False, with nothing left attached, when any step fails.
bool attachIsoOnLetter(char letter, const std::string& image);
// Takes the letter away and detaches the image: ERROR_SUCCESS, or the system's error
// from opening or detaching it (ERROR_MOD_NOT_FOUND: no virtual-disk API).
DWORD detachIsoFromLetter(char letter, const std::string& image);
// The detach itself, through the given calls.
DWORD detachIso(const VirtDiskCalls& calls, const std::string& image);

bool mapLetterToFolder(char letter, const std::string& folder);
void unmapLetterFromFolder(char letter, const std::string& folder);

bool driveLetterInUse(char letter);

}  // namespace iso
