#include "platform/win32/win32_os.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <winioctl.h>

#include <vector>

#include "platform/gbk.h"
#include "platform/win32/handles.h"

namespace win32 {

// ---- System ----

std::string System::windowsDirectory() {
  char buf[256] = {};
  UINT n = GetWindowsDirectoryA(buf, 255);
  return n > 0 && n < 255 ? std::string(buf, n) : std::string();
}

std::string System::tempDirectory() {
  char buf[MAX_PATH + 1] = {};
  DWORD n = GetTempPathA(MAX_PATH, buf);
  return n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
}

std::string System::systemDirectory() {
  char buf[MAX_PATH] = {};
  UINT n = GetSystemDirectoryA(buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
}

int System::platformId() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  return static_cast<int>(info.dwPlatformId);
}

bool System::isWow64() {
  using Fn = UINT(WINAPI*)(LPSTR, UINT);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryA")))
                   : nullptr;
  if (!fn) return false;
  char buf[256];
  FillMemory(buf, sizeof buf, ' ');
  return fn(buf, 255) > 0;
}

// ---- Files ----

bool Files::exists(const std::string& path) {
  WIN32_FIND_DATAA data;
  FindHandle find(FindFirstFileA(path.c_str(), &data));
  if (find) return true;
  // A drive root is not found by a search but does exist.
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Files::isDirectory(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Files::createDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool Files::writeFile(const std::string& path, std::string_view bytes) {
  UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(h.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

std::optional<std::string> Files::readFile(const std::string& path) {
  UniqueHandle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return std::nullopt;
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  return out;
}

std::optional<std::uint64_t> Files::fileSize(const std::string& path) {
  UniqueHandle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return std::nullopt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h.get(), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool Files::deleteFile(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) != 0;
}

bool Files::removeTree(const std::string& path) {
  std::string folder = path;
  if (gbk::endsWithBackslash(folder)) folder.pop_back();
  bool ok = true;
  enumerate(folder + "\\*", [&](const platform::DirEntry& e) {
    if (e.name == "." || e.name == "..") return;
    const std::string child = folder + "\\" + e.name;
    ok = (e.isDirectory ? removeTree(child) : deleteFile(child)) && ok;
  });
  SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  return RemoveDirectoryA(folder.c_str()) != 0 && ok;
}

std::string Files::fullPath(const std::string& path) {
  char buf[MAX_PATH] = {};
  if (!PathSearchAndQualifyA(path.c_str(), buf, MAX_PATH)) return path;
  return buf;
}

void Files::enumerate(const std::string& pattern, const std::function<void(const platform::DirEntry&)>& each) {
  WIN32_FIND_DATAA data;
  FindHandle find(FindFirstFileA(pattern.c_str(), &data));
  if (!find) return;
  do {
    platform::DirEntry e;
    e.name = data.cFileName;
    e.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    each(e);
  } while (FindNextFileA(find.get(), &data));
}

std::string Files::iniString(const std::string& path, const std::string& section, const std::string& key) {
  std::vector<char> buf(10240, 0);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf.data(), 10240, path.c_str());
  return std::string(buf.data(), n);
}

// ---- Volumes ----

std::string Volumes::logicalDriveStrings() {
  char buf[256] = {};
  DWORD n = GetLogicalDriveStringsA(256, buf);
  return n <= 256 ? std::string(buf, n) : std::string();
}

unsigned Volumes::driveType(const std::string& root) { return GetDriveTypeA(root.c_str()); }

std::optional<unsigned long> Volumes::storageDeviceNumber(const std::string& devicePath) {
  UniqueHandle h(CreateFileA(devicePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return std::nullopt;
  STORAGE_DEVICE_NUMBER number = {};
  DWORD got = 0;
  if (!DeviceIoControl(h.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &got, nullptr))
    return std::nullopt;
  return number.DeviceNumber;
}

// ---- Processes ----

namespace {

// Reads what the pipe holds right now without blocking; false when nothing was read.
bool drainAvailable(HANDLE pipe, std::string& out) {
  DWORD avail = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr) || avail == 0) return false;
  char buf[1024];
  ZeroMemory(buf, sizeof buf);
  DWORD got = 0;
  if (!ReadFile(pipe, buf, 1023, &got, nullptr) || got == 0) return false;
  platform::appendChunk(out, std::string_view(buf, got));
  return true;
}

}  // namespace

platform::CapturedRun Processes::runCaptured(const std::string& fullCommandLine) {
  platform::CapturedRun result;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  // A larger buffer than the default keeps a chatty tool from stalling between polls.
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &sa, 65536)) return result;
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd.get();
  si.hStdError = writeEnd.get();
  PROCESS_INFORMATION pi = {};
  std::vector<char> cmd(fullCommandLine.begin(), fullCommandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return result;
  result.started = true;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();  // only the child holds the write end now

  // Output, the child's end and window messages are all served as they come; the
  // thread sleeps in between instead of spinning.
  for (;;) {
    if (drainAvailable(readEnd.get(), result.output)) {
      processPendingMessages();
      continue;
    }
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
      // Output written just before the end may still be in the pipe.
      while (drainAvailable(readEnd.get(), result.output)) {
      }
      break;
    }
    HANDLE waitOn = process.get();
    MsgWaitForMultipleObjects(1, &waitOn, FALSE, 10, QS_ALLINPUT);
    processPendingMessages();
  }
  return result;
}

bool Processes::startHidden(const std::string& commandLine, unsigned waitIdleMs) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi = {};
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  WaitForInputIdle(process.get(), waitIdleMs);
  return true;
}

std::vector<platform::ProcessEntry> Processes::list() {
  std::vector<platform::ProcessEntry> out;
  UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return out;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  if (!Process32First(snap.get(), &entry)) return out;
  do {
    out.push_back({entry.th32ProcessID, entry.szExeFile});
  } while (Process32Next(snap.get(), &entry));
  return out;
}

bool Processes::terminate(unsigned long pid, unsigned exitCode) {
  UniqueHandle h(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  return h && TerminateProcess(h.get(), exitCode);
}

bool Processes::suspend(unsigned long pid, bool suspendIt) {
  using Fn = LONG(NTAPI*)(HANDLE);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return false;
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
      GetProcAddress(ntdll, suspendIt ? "NtSuspendProcess" : "NtResumeProcess")));
  if (!fn) return false;
  UniqueHandle h(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
  if (!h) return false;
  return fn(h.get()) >= 0;
}

// ---- Power ----

void Power::enableShutdownPrivilege() {
  HANDLE token = nullptr;
  // The token stays open for the rest of the process, as the shutdown follows at once.
  OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  LUID luid = {};
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid);
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Luid = luid;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  alignas(TOKEN_PRIVILEGES) unsigned char previous[28] = {};
  DWORD len = sizeof previous;
  AdjustTokenPrivileges(token, FALSE, &tp, sizeof previous, reinterpret_cast<PTOKEN_PRIVILEGES>(previous), &len);
}

void Power::exitWindows(unsigned flags, unsigned reason) { ExitWindowsEx(flags, reason); }

// ---- Shell ----

void Shell::openUrl(const std::string& address) {
  ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Shell::exitProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace win32
