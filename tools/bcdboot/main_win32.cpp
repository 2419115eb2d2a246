// bcdboot.exe, the Windows build: the system's tool is started with our own
// standard handles, so its output reaches the program byte for byte.
#include <windows.h>

#include <string>

#include "platform/win32/error_mode_win32.h"
#include "tools/bcdboot/launcher.h"
#include "tools/common/command_line.h"
#include "tools/common/console_out.h"
#include "tools/common/handles_win32.h"

namespace {

// Set for the child: a copy of this launcher started by it refuses to go on.
const wchar_t kGuardVariable[] = L"VREL_BCDBOOT_LAUNCHER";

std::wstring wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

bool sameFile(const std::wstring& a, const std::wstring& b) {
  auto open = [](const std::wstring& p) {
    return toolio::UniqueHandle(CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  };
  toolio::UniqueHandle ha = open(a), hb = open(b);
  bool same = false;
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (ha && hb && GetFileInformationByHandle(ha.get(), &ia) && GetFileInformationByHandle(hb.get(), &ib))
    same = ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
  return same || lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

class Win32Backend : public bcdboot::Backend {
 public:
  std::u16string systemDirectory() override {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return {};
    return std::u16string(buffer, buffer + n);
  }
  std::u16string windowsDirectory() override {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return {};
    return std::u16string(buffer, buffer + n);
  }
  bool isWow64() override {
    // Looked up at run time, as systems before XP SP2 lack it (and run no 64-bit host).
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process"))) : nullptr;
    BOOL wow64 = FALSE;
    return fn && fn(GetCurrentProcess(), &wow64) && wow64;
  }
  bool fileExists(const std::u16string& path) override {
    DWORD a = GetFileAttributesW(wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool wouldRecurse(const std::u16string& path) override {
    if (GetEnvironmentVariableW(kGuardVariable, nullptr, 0) > 0) return true;
    wchar_t self[32768] = {};
    DWORD n = GetModuleFileNameW(nullptr, self, 32768);
    return n > 0 && sameFile(std::wstring(self, n), wide(path));
  }
  long run(const std::u16string& path, const std::u16string& commandLine) override {
    SetEnvironmentVariableW(kGuardVariable, L"1");
    std::wstring line = wide(commandLine);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(wide(path).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
      return -1;
    toolio::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    return long(code & 0x7FFFFFFF);
  }
};

}  // namespace

int main() {
  win32::failCriticalErrorsSilently();
  const std::wstring tail = toolio::ownCommandTail();
  Win32Backend backend;
  toolio::ConsoleOut out;
  return bcdboot::runLauncher(std::u16string(tail.begin(), tail.end()), backend, out);
}
