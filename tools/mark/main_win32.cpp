// MARK.exe: the Windows build over fmifs.dll's FormatEx, loaded at run time so the
// tool starts and explains itself where the library is missing.
#include <windows.h>
#include <winioctl.h>

#include <string>

#include "platform/win32/error_mode_win32.h"
#include "tools/common/command_line.h"
#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/mark/mark.h"

namespace {

using FormatCallback = BOOLEAN(WINAPI*)(int command, DWORD subAction, PVOID actionInfo);
using FormatExFn = void(WINAPI*)(PWCHAR root, DWORD media, PWCHAR fileSystem, PWCHAR label, BOOL quick,
                                 DWORD clusterSize, FormatCallback callback);

// FormatEx's callback carries no context of its own.
mark::FormatReport* activeReport = nullptr;

BOOLEAN WINAPI onFormatCallback(int command, DWORD, PVOID data) {
  unsigned value = 0;
  if (data && command == 0) value = *static_cast<const DWORD*>(data);
  if (data && command == 11) value = *static_cast<const BOOLEAN*>(data);
  return activeReport && activeReport->onCallback(command, value) ? TRUE : FALSE;
}

class Win32Backend : public mark::Backend {
 public:
  ~Win32Backend() override {
    if (module_) FreeLibrary(module_);
  }
  char windowsDriveLetter() override {
    wchar_t path[MAX_PATH + 1] = {};
    if (!GetWindowsDirectoryW(path, MAX_PATH + 1)) return 0;
    wchar_t c = path[0];
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
    return (c >= L'A' && c <= L'Z' && path[1] == L':') ? char(c) : 0;
  }
  bool driveExists(char letter) override {
    wchar_t root[] = {wchar_t(letter), L':', L'\\', 0};
    UINT type = GetDriveTypeW(root);
    return type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN;
  }
  bool loadLibrary() override {
    module_ = LoadLibraryW(L"fmifs.dll");
    if (module_)
      formatEx_ = reinterpret_cast<FormatExFn>(reinterpret_cast<void*>(GetProcAddress(module_, "FormatEx")));
    return formatEx_ != nullptr;
  }
  int mediaType(char letter) override {
    // No access asked: the geometry is answered on a handle opened for neither.
    const wchar_t device[] = {L'\\', L'\\', L'.', L'\\', wchar_t(letter), L':', 0};
    toolio::UniqueHandle h(
        CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    DISK_GEOMETRY geometry = {};
    DWORD got = 0;
    if (!h || !DeviceIoControl(h.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &got,
                               nullptr))
      return 0;
    return static_cast<int>(geometry.MediaType);
  }
  void format(char letter, int media, mark::FormatReport& report) override {
    wchar_t root[] = {wchar_t(letter), L':', L'\\', 0};
    wchar_t fileSystem[] = L"NTFS";
    wchar_t label[] = L"本地磁盘";
    activeReport = &report;
    formatEx_(root, DWORD(media), fileSystem, label, TRUE, 0, onFormatCallback);
    activeReport = nullptr;
  }

 private:
  HMODULE module_ = nullptr;
  FormatExFn formatEx_ = nullptr;
};

}  // namespace

int main() {
  win32::failCriticalErrorsSilently();
  const std::string narrow = toolio::utf8FromWide(toolio::ownCommandTail());
  Win32Backend backend;
  toolio::ConsoleOut out;
  return mark::runMark(narrow, backend, out);
}
