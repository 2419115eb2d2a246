#include "tools/iso/mount_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <cwchar>
#include <string>

#include "tools/common/handles_win32.h"
#include "tools/common/volumes_win32.h"
#include "tools/iso/files_win32.h"

namespace iso {

namespace {

constexpr ULONG kStorageTypeIso = 1;
constexpr GUID kVendorMicrosoft = {0xEC984AEC, 0xA0F9, 0x47E9, {0x90, 0x1F, 0x71, 0x41, 0x5A, 0x66, 0x34, 0x5B}};
constexpr DWORD kAttachReadOnly = 0x1, kAttachNoDriveLetter = 0x2, kAttachPermanent = 0x4;

template <typename Fn>
void loadCall(HMODULE module, const char* name, Fn& into) {
  into = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// virtdisk.dll, loaded for one operation.
struct VirtDisk : VirtDiskCalls {
  HMODULE module = nullptr;
  bool load() {
    module = LoadLibraryW(L"virtdisk.dll");
    if (!module) return false;
    loadCall(module, "OpenVirtualDisk", open);
    loadCall(module, "AttachVirtualDisk", attach);
    loadCall(module, "DetachVirtualDisk", detach);
    loadCall(module, "GetVirtualDiskPhysicalPath", physicalPath);
    return open && attach && detach && physicalPath;
  }
  ~VirtDisk() {
    if (module) FreeLibrary(module);
  }
};

// Opens the image as a virtual disk with the access asked; the handle, or the error.
DWORD openIso(const VirtDiskCalls& calls, const std::string& image, DWORD access, toolio::UniqueHandle& disk) {
  VirtDiskStorageType type{kStorageTypeIso, kVendorMicrosoft};
  HANDLE h = nullptr;
  // The plain path, not the \\?\ form: the API wants an ordinary full path.
  std::wstring path = widePath(image);
  if (path.rfind(L"\\\\?\\", 0) == 0) path = path.substr(4);
  const DWORD result = calls.open(&type, path.c_str(), access, 0, nullptr, &h);
  if (result == ERROR_SUCCESS) disk.reset(h);
  return result;
}

std::wstring rootOf(char letter) { return std::wstring(1, wchar_t(letter)) + L":\\"; }

// The volume whose device is CdRomN, as \\?\Volume{...}\ .
std::wstring findCdVolume(DWORD cdNumber) {
  for (const disk::SystemVolume& volume : disk::systemVolumes())
    if (volume.device && volume.device->type == FILE_DEVICE_CD_ROM && volume.device->number == cdNumber)
      return volume.name;
  return {};
}

bool volumeAnswers(char letter) {
  wchar_t label[MAX_PATH + 1], fs[MAX_PATH + 1];
  DWORD serial = 0, maxName = 0, flags = 0;
  return GetVolumeInformationW(rootOf(letter).c_str(), label, MAX_PATH + 1, &serial, &maxName, &flags, fs,
                               MAX_PATH + 1) != 0;
}

}  // namespace

bool attachIsoOnLetter(char letter, const std::string& image) {
  VirtDisk api;
  if (!api.load()) return false;
  toolio::UniqueHandle disk;
  if (openIso(api, image, kVirtDiskAccessAttach, disk) != ERROR_SUCCESS) return false;
  if (api.attach(disk.get(), nullptr, kAttachReadOnly | kAttachNoDriveLetter | kAttachPermanent, 0, nullptr,
                 nullptr) != ERROR_SUCCESS)
    return false;
  wchar_t physical[MAX_PATH] = {};
  ULONG size = sizeof physical;
  bool ok = api.physicalPath(disk.get(), &size, physical) == ERROR_SUCCESS;
  // \\.\CDROM1: the number names the volume's device.
  const wchar_t* digits = physical + wcslen(physical);
  while (digits > physical && digits[-1] >= L'0' && digits[-1] <= L'9') --digits;
  DWORD cdNumber = ok && *digits ? DWORD(wcstoul(digits, nullptr, 10)) : 0;
  ok = ok && *digits;

  std::wstring volume;
  for (int i = 0; ok && i < 100 && volume.empty(); ++i) {  // the volume arrives a moment later
    volume = findCdVolume(cdNumber);
    if (volume.empty()) Sleep(200);
  }
  ok = ok && !volume.empty() && SetVolumeMountPointW(rootOf(letter).c_str(), volume.c_str());
  // The program searches the drive as soon as this tool returns.
  for (int i = 0; ok && i < 100 && !volumeAnswers(letter); ++i) Sleep(200);
  ok = ok && volumeAnswers(letter);
  if (!ok) {
    DeleteVolumeMountPointW(rootOf(letter).c_str());
    api.detach(disk.get(), 0, 0);
  }
  return ok;
}

DWORD detachIso(const VirtDiskCalls& calls, const std::string& image) {
  toolio::UniqueHandle disk;
  if (const DWORD opened = openIso(calls, image, kVirtDiskAccessDetach, disk); opened != ERROR_SUCCESS) return opened;
  return calls.detach(disk.get(), 0, 0);
}

DWORD detachIsoFromLetter(char letter, const std::string& image) {
  DeleteVolumeMountPointW(rootOf(letter).c_str());
  VirtDisk api;
  if (!api.load()) return ERROR_MOD_NOT_FOUND;
  return detachIso(api, image);
}

bool mapLetterToFolder(char letter, const std::string& folder) {
  std::wstring device = std::wstring(1, wchar_t(letter)) + L":";
  std::wstring target = widePath(folder);
  if (target.rfind(L"\\\\?\\", 0) == 0) target = target.substr(4);
  return DefineDosDeviceW(0, device.c_str(), target.c_str()) != 0;
}

void unmapLetterFromFolder(char letter, const std::string& folder) {
  std::wstring device = std::wstring(1, wchar_t(letter)) + L":";
  std::wstring target = widePath(folder);
  if (target.rfind(L"\\\\?\\", 0) == 0) target = target.substr(4);
  if (DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device.c_str(), target.c_str())) return;
  // Some systems store the target in another form; remove the newest definition only
  // when it still names our folder, never a letter someone else has taken since.
  wchar_t current[1024] = {};
  if (QueryDosDeviceW(device.c_str(), current, 1024) && wcsstr(current, target.c_str()))
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, device.c_str(), nullptr);
}

bool driveLetterInUse(char letter) {
  return (GetLogicalDrives() >> (letter - 'A')) & 1;
}

}  // namespace iso
