#include "platform/win32/os_win32.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/gbk.h"
#include "platform/grow_buffer.h"
#include "platform/win32/handles_win32.h"

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

std::string System::programFolder() {
  char buf[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string path(buf, n);
  const std::size_t slash = gbk::findLastByte(path, '\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
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
  // Looked up at run time: systems before XP SP2 lack it and run no 64-bit host anyway.
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process"))) : nullptr;
  BOOL wow64 = FALSE;
  return fn && fn(GetCurrentProcess(), &wow64) && wow64;
}

platform::CalendarTime System::localTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool System::uses24HourClock() {
  char value[8] = {};
  return GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ITIME, value, sizeof value) > 0 && value[0] == '1';
}

std::string System::utf8ToAnsi(std::string_view utf8) {
  if (utf8.empty()) return {};
  int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (wide <= 0) return {};
  std::vector<wchar_t> text(wide);
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), wide);
  int size = WideCharToMultiByte(936, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(size, '\0');
  WideCharToMultiByte(936, 0, text.data(), wide, &out[0], size, nullptr, nullptr);
  // Read as a C text: up to the first NUL.
  return out.substr(0, out.find('\0'));
}

std::vector<std::string> System::environmentNames() {
  char* block = GetEnvironmentStringsA();
  if (!block) return {};
  std::size_t size = 0;
  while (block[size] != '\0' || block[size + 1] != '\0') ++size;
  std::vector<std::string> names = platform::environmentBlockNames(std::string_view(block, size + 2));
  FreeEnvironmentStringsA(block);
  return names;
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

bool Files::appendFile(const std::string& path, std::string_view bytes) {
  UniqueHandle h(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return false;
  DWORD written = 0;
  return WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
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

std::optional<std::uint64_t> Files::lastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
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

std::optional<std::string> Files::versionInfo(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::string block(size, '\0');
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return std::nullopt;
  return block;
}

// VerQueryValueA converts values into the spare room of the block it is given, so
// every query works on its own writable copy.
std::vector<std::pair<std::uint16_t, std::uint16_t>> Files::versionTranslations(const std::string& block) {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> out;
  std::string copy = block;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(copy.data(), "\\VarFileInfo\\Translation", &value, &length) || !value) return out;
  const auto* words = static_cast<const WORD*>(value);
  for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) out.emplace_back(words[i], words[i + 1]);
  return out;
}

std::optional<std::string> Files::versionString(const std::string& block, const std::string& subBlock) {
  std::string copy = block;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(copy.data(), subBlock.c_str(), &value, &length) || !value) return std::nullopt;
  const char* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
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

namespace {

struct VolumeSearchCloser {
  void operator()(HANDLE h) const { FindVolumeClose(h); }
};
using VolumeSearch = std::unique_ptr<void, VolumeSearchCloser>;

std::string guidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// The first drive root among a volume's mount points (folders mounted elsewhere are skipped).
std::string firstDriveRoot(const char* volumeName) {
  std::vector<char> paths;
  const bool filled =
      platform::fillGrowing(paths, MAX_PATH + 1, 1u << 20, [&](std::vector<char>& b, std::size_t& needed) {
        DWORD length = 0;
        if (GetVolumePathNamesForVolumeNameA(volumeName, b.data(), static_cast<DWORD>(b.size()), &length))
          return platform::FillResult::Filled;
        needed = length;
        return GetLastError() == ERROR_MORE_DATA ? platform::FillResult::TooSmall : platform::FillResult::Failed;
      });
  if (!filled) return {};
  paths.push_back('\0');  // a list cut short still ends
  for (const char* p = paths.data(); *p; p += std::strlen(p) + 1)
    if (std::strlen(p) == 3 && p[1] == ':' && p[2] == '\\') return p;
  return {};
}

}  // namespace

std::vector<platform::PartitionVolume> Volumes::partitionVolumes() {
  std::vector<platform::PartitionVolume> out;
  char name[MAX_PATH + 1] = {};
  VolumeSearch search(FindFirstVolumeA(name, sizeof name));
  if (search.get() == INVALID_HANDLE_VALUE) {
    search.release();
    return out;
  }
  do {
    platform::PartitionVolume volume;
    volume.volumeName = name;
    std::string device = volume.volumeName;
    if (gbk::endsWithBackslash(device)) device.pop_back();  // the device, not its root folder
    // No access rights asked: both queries are allowed on a handle opened for neither.
    UniqueHandle h(CreateFileA(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr));
    if (!h) continue;
    STORAGE_DEVICE_NUMBER number = {};
    DWORD got = 0;
    if (!DeviceIoControl(h.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &got,
                         nullptr))
      continue;
    volume.deviceNumber = number.DeviceNumber;
    volume.partitionNumber = number.PartitionNumber;
    PARTITION_INFORMATION_EX info = {};
    if (DeviceIoControl(h.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &got, nullptr) &&
        info.PartitionStyle == PARTITION_STYLE_GPT) {
      volume.gpt = true;
      volume.gptType = guidText(info.Gpt.PartitionType);
    }
    volume.root = firstDriveRoot(name);
    out.push_back(volume);
  } while (FindNextVolumeA(search.get(), name, sizeof name));
  return out;
}

int Volumes::mediaType(const std::string& root) {
  if (root.empty()) return 0;
  // No access asked: the geometry is answered on a handle opened for neither.
  const std::string device = std::string("\\\\.\\") + root[0] + ":";
  UniqueHandle h(CreateFileA(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  DISK_GEOMETRY geometry = {};
  DWORD got = 0;
  if (!h || !DeviceIoControl(h.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &got,
                             nullptr))
    return 0;
  return static_cast<int>(geometry.MediaType);
}

bool Volumes::mountVolume(const std::string& root, const std::string& volumeName) {
  return SetVolumeMountPointA(root.c_str(), volumeName.c_str()) != 0;
}

bool Volumes::unmountVolume(const std::string& root) { return DeleteVolumeMountPointA(root.c_str()) != 0; }

std::string Volumes::dosDeviceTarget(const std::string& drive) {
  // A list of names, each ending in a NUL: the first is the one in use.
  char names[2048] = {};
  if (!QueryDosDeviceA(drive.substr(0, 2).c_str(), names, sizeof names - 1)) return {};
  return names;
}

namespace {

using FormatExCallback = BOOLEAN(WINAPI*)(int command, DWORD subAction, PVOID data);
using FormatExFn = void(WINAPI*)(PWCHAR root, int mediaType, PWCHAR fileSystem, PWCHAR label, BOOL quick,
                                 ULONG clusterSize, FormatExCallback callback);

// FormatEx calls back on the calling thread and takes no context of ours.
const platform::FormatCallback* activeFormatCallback = nullptr;

BOOLEAN WINAPI formatExReport(int command, DWORD subAction, PVOID data) {
  return activeFormatCallback && (*activeFormatCallback)(command, static_cast<int>(subAction), data) ? TRUE : FALSE;
}

// The whole text with its NUL, from GBK (the ANSI code page where the system reads it).
std::wstring wideFromGbk(const std::string& text) {
  for (UINT codePage : {936u, static_cast<UINT>(CP_ACP)}) {
    const int n = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) continue;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), n);
    return wide;
  }
  return std::wstring(1, L'\0');
}

struct LibraryCloser {
  void operator()(HMODULE h) const { FreeLibrary(h); }
};

}  // namespace

bool Volumes::formatEx(const std::string& root, int mediaType, const std::string& fileSystem,
                       const std::string& label, bool quick, unsigned long clusterSize,
                       const platform::FormatCallback& callback) {
  std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryCloser> library(LoadLibraryA("fmifs.dll"));
  if (!library) return false;
  auto format = reinterpret_cast<FormatExFn>(reinterpret_cast<void*>(GetProcAddress(library.get(), "FormatEx")));
  if (!format) return false;
  std::wstring wideRoot = wideFromGbk(root), wideFileSystem = wideFromGbk(fileSystem), wideLabel = wideFromGbk(label);
  activeFormatCallback = &callback;
  format(wideRoot.data(), mediaType, wideFileSystem.data(), wideLabel.data(), quick ? TRUE : FALSE, clusterSize,
         formatExReport);
  activeFormatCallback = nullptr;
  return true;
}

std::uint32_t Volumes::formatDialog(std::uintptr_t owner, unsigned drive, unsigned formatId, unsigned options) {
  // The dialog must have a parent window: without one it is not shown at all.
  if (owner == 0) return static_cast<std::uint32_t>(SHFMT_ERROR);
  return SHFormatDrive(reinterpret_cast<HWND>(owner), drive, formatId, options);
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

  // The child's end and window messages wake the thread at once; the pipe cannot be
  // waited on, so it is looked at every 10 ms while output flows and ever more rarely,
  // up to every 100 ms, while the child is quiet (a tool working for minutes costs a
  // tenth of the wake-ups; its pipe buffer holds 64 KiB meanwhile).
  DWORD quietWaitMs = 10;
  for (;;) {
    if (drainAvailable(readEnd.get(), result.output)) {
      processPendingMessages();
      quietWaitMs = 10;
      continue;
    }
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
      // Output written just before the end may still be in the pipe.
      while (drainAvailable(readEnd.get(), result.output)) {
      }
      DWORD code = 0;
      if (GetExitCodeProcess(process.get(), &code)) result.exitCode = code;
      break;
    }
    HANDLE waitOn = process.get();
    if (MsgWaitForMultipleObjects(1, &waitOn, FALSE, quietWaitMs, QS_ALLINPUT) == WAIT_TIMEOUT)
      quietWaitMs = quietWaitMs >= 50 ? 100 : quietWaitMs * 2;
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

bool Processes::runAndWait(const std::string& commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  WaitForSingleObject(process.get(), INFINITE);
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
    out.push_back({entry.th32ProcessID, entry.szExeFile, entry.th32ParentProcessID});
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
