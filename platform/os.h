// Operating-system services the program logic uses, as narrow interfaces.
//
// The logic in app/, runner/, disks/, ... talks only to these. platform/win32/
// implements them over Win32; the tests implement them in memory. All texts are
// GBK byte strings, passed through unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// A calendar date and time of day, as the system clock gives it.
struct CalendarTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

// Directories and facts about the running system.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  virtual std::string windowsDirectory() = 0;  // GetWindowsDirectoryA, as reported
  virtual std::string tempDirectory() = 0;     // GetTempPathA, as reported
  virtual std::string programFolder() = 0;     // the folder of the running program, no trailing backslash
  virtual std::string systemDirectory() = 0;   // GetSystemDirectoryA, as reported
  virtual int platformId() = 0;                // GetVersionExA dwPlatformId (2 = NT family)
  virtual bool isWow64() = 0;                  // a 32-bit process on a 64-bit host
  virtual CalendarTime localTime() = 0;        // GetLocalTime
  // The user locale's time format (LOCALE_ITIME) reads "1": a 24-hour clock.
  virtual bool uses24HourClock() = 0;
  // UTF-8 bytes through UTF-16 into the ANSI code page; unmappable characters as '?'.
  virtual std::string utf8ToAnsi(std::string_view utf8) = 0;
  // The names of the program's environment variables (GetEnvironmentStringsA), hidden
  // ones such as "=C:" included: every command interpreter the program starts inherits them.
  virtual std::vector<std::string> environmentNames() = 0;
};

// The names in an environment block ("NAME=value" texts, each ended by a NUL, the
// block by one more). A name may begin with "=", as the hidden "=C:=C:\dir" does.
std::vector<std::string> environmentBlockNames(std::string_view block);

struct DirEntry {
  std::string name;
  bool isDirectory = false;
  std::uint64_t size = 0;
};

// Files, folders and INI files.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when a file-system search for the path finds an entry (file or folder).
  virtual bool exists(const std::string& path) = 0;
  virtual bool isDirectory(const std::string& path) = 0;
  virtual bool createDirectory(const std::string& path) = 0;
  // Creates or truncates the file and writes it whole, opened with exclusive sharing.
  virtual bool writeFile(const std::string& path, std::string_view bytes) = 0;
  // Adds bytes at the end of the file, which is made when missing; false when the
  // file cannot be opened for writing or not every byte was written.
  virtual bool appendFile(const std::string& path, std::string_view bytes) = 0;
  virtual std::optional<std::string> readFile(const std::string& path) = 0;
  // Size in bytes, or nothing when the file cannot be opened.
  virtual std::optional<std::uint64_t> fileSize(const std::string& path) = 0;
  // The file's last-write time as the file system keeps it, or nothing when it
  // cannot be read; only compared with itself.
  virtual std::optional<std::uint64_t> lastWriteTime(const std::string& path) = 0;
  virtual bool deleteFile(const std::string& path) = 0;
  // Removes a folder with everything in it.
  virtual bool removeTree(const std::string& path) = 0;
  // The fully qualified form of the path (PathSearchAndQualifyA, 260 characters);
  // the path itself when it cannot be qualified.
  virtual std::string fullPath(const std::string& path) = 0;
  // Entries matching a pattern such as D:\dir\*.GHO, in the platform's order.
  virtual void enumerate(const std::string& pattern, const std::function<void(const DirEntry&)>& each) = 0;
  // GetPrivateProfileStringA with an empty default and a 10240-byte buffer.
  virtual std::string iniString(const std::string& path, const std::string& section,
                                const std::string& key) = 0;
  // The file's version resource (GetFileVersionInfoSizeA, GetFileVersionInfoA), or
  // nothing when the file is missing or carries none.
  virtual std::optional<std::string> versionInfo(const std::string& path) = 0;
  // VerQueryValueA of "\VarFileInfo\Translation" on such a block: the (language,
  // code page) pairs in their order; empty when there are none.
  virtual std::vector<std::pair<std::uint16_t, std::uint16_t>> versionTranslations(const std::string& block) = 0;
  // VerQueryValueA of a string value such as "\StringFileInfo\040904E4\ProductVersion",
  // up to its NUL; nothing when the block does not hold it.
  virtual std::optional<std::string> versionString(const std::string& block, const std::string& subBlock) = 0;
};

// A mounted volume as the storage stack numbers it.
struct PartitionVolume {
  std::string volumeName;  // \\?\Volume{GUID}\, as FindFirstVolumeA reports it
  unsigned long deviceNumber = 0;  // the N of PhysicalDriveN
  unsigned long partitionNumber = 0;
  bool gpt = false;
  std::string gptType;  // partition type GUID, upper case, without braces; empty on MBR
  std::string root;     // its first drive root such as E:\, empty when it has no letter
};

inline constexpr char kEspPartitionType[] = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

// What FormatEx reports while it runs: command, sub-action and data; false stops it.
using FormatCallback = std::function<bool(int command, int subAction, const void* data)>;

// Drives and volumes.
class Volumes {
 public:
  virtual ~Volumes() = default;
  // GetLogicalDriveStringsA into a zeroed 256-byte buffer: the bytes it reports.
  virtual std::string logicalDriveStrings() = 0;
  virtual unsigned driveType(const std::string& root) = 0;  // GetDriveTypeA
  // IOCTL_STORAGE_GET_DEVICE_NUMBER on a device path such as \\.\C:.
  virtual std::optional<unsigned long> storageDeviceNumber(const std::string& devicePath) = 0;
  // Every volume the system knows, with its disk, partition and GPT type.
  virtual std::vector<PartitionVolume> partitionVolumes() = 0;
  // SetVolumeMountPointA / DeleteVolumeMountPointA with a drive root such as S:\.
  virtual bool mountVolume(const std::string& root, const std::string& volumeName) = 0;
  virtual bool unmountVolume(const std::string& root) = 0;
  // QueryDosDeviceA on a drive such as Z:: the first name it stands for, such as
  // \??\D:\folder for a letter defined onto a folder (DefineDosDevice) or
  // \Device\HarddiskVolume3 for a volume's own letter; empty when it names nothing.
  virtual std::string dosDeviceTarget(const std::string& drive) = 0;
  // The MEDIA_TYPE of the drive of a root such as D:\ (IOCTL_DISK_GET_DRIVE_GEOMETRY
  // on \\.\D:): 11 a removable medium, 12 a fixed disk; 0 when it does not say.
  virtual int mediaType(const std::string& root) = 0;
  // FormatEx of the format library (fmifs.dll), loaded at run time. Texts are GBK and
  // reach the library as UTF-16. False when the library or its entry point cannot be
  // found: nothing was formatted and the callback was never called.
  virtual bool formatEx(const std::string& root, int mediaType, const std::string& fileSystem,
                        const std::string& label, bool quick, unsigned long clusterSize,
                        const FormatCallback& callback) = 0;
  // SHFormatDrive: the platform's modal format dialog over the owner window, which
  // must be a real window. Its answer: the ID of the last successful format, or
  // 0xFFFFFFFF (error), 0xFFFFFFFE (cancelled), 0xFFFFFFFD (cannot be formatted).
  virtual std::uint32_t formatDialog(std::uintptr_t owner, unsigned drive, unsigned formatId, unsigned options) = 0;
};

// What a captured run produced. started is false when the command interpreter
// itself could not be started: callers for whom empty output means success must
// never read such a run as one.
struct CapturedRun {
  bool started = false;
  std::string output;
  // The interpreter's exit code, which "cmd.exe /c" takes from the command it ran
  // (9009 when that program cannot be found).
  unsigned long exitCode = 0;
};

struct ProcessEntry {
  unsigned long pid = 0;
  std::string exeName;  // executable file name only
  unsigned long parentPid = 0;  // the process that started it (it may have ended since)
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Runs the full command line (interpreter prefix included) with a hidden console,
  // stdout and stderr captured, and returns when the child has ended and its output
  // is drained. Window messages keep being processed while it waits.
  virtual CapturedRun runCaptured(const std::string& fullCommandLine) = 0;
  // Starts a command line hidden and waits at most waitIdleMs for it to be idle.
  virtual bool startHidden(const std::string& commandLine, unsigned waitIdleMs) = 0;
  // Starts a command line in a normally shown console, the program's current folder
  // inherited, and waits without a time limit for its end; false when it cannot start.
  virtual bool runAndWait(const std::string& commandLine) = 0;
  virtual std::vector<ProcessEntry> list() = 0;
  virtual bool terminate(unsigned long pid, unsigned exitCode) = 0;
  virtual bool suspend(unsigned long pid, bool suspendIt) = 0;
};

// The long-lived hidden command interpreter whose input and output are pipes.
class ConsoleHost {
 public:
  virtual ~ConsoleHost() = default;
  // Starts the interpreter; returns its process id, 0 on failure.
  virtual unsigned long open(const std::string& commandLine, const std::string& currentDirectory) = 0;
  virtual bool isOpen() const = 0;
  virtual unsigned long processId() const = 0;
  // Bytes written into the interpreter's standard input; negative on failure.
  virtual long writeInput(std::string_view bytes) = 0;
  // Bytes written into the interpreter's own output stream, as if it had printed them.
  virtual long writeOutput(std::string_view bytes) = 0;
  // True while the interpreter has not yet read all that was written to its input.
  virtual bool inputPending() = 0;
  // Starts the reader, a worker thread that reads the interpreter's output until the
  // shell closes. It keeps the pieces it reads (at most 260 bytes each, text up to its
  // first NUL) under a lock of its own until takeOutput collects them, and calls wake
  // on its thread when a piece arrives while none was waiting: wake may do no more
  // than post a message to the user-interface thread. Returns a number naming this
  // reader; 0 when none was started.
  virtual unsigned long startReader(std::function<void()> wake) = 0;
  // The pieces that reader has read since the last call, oldest first; none for a
  // reader that is no longer the current one.
  virtual std::vector<std::string> takeOutput(unsigned long reader) = 0;
  // Stops keeping that reader's output and waking for it (whoever collects it is going
  // away); the shell runs on and its output is read and dropped, so the interpreter
  // never blocks on a full pipe. When this returns wake is not running and will not
  // run. A reader that is no longer the current one is left alone.
  virtual void detachReader(unsigned long reader) = 0;
  // Ends the interpreter and the reader. Safe while the reader is delivering output:
  // the reader has finished using every resource when this returns.
  virtual bool close() = 0;
};

// Power and privileges.
class Power {
 public:
  virtual ~Power() = default;
  virtual void enableShutdownPrivilege() = 0;
  virtual void exitWindows(unsigned flags, unsigned reason) = 0;
};

// The shell and the process itself.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void openUrl(const std::string& address) = 0;  // ShellExecute "open", normal window
  // Ends the process. The fake only records it, so callers return right after.
  virtual void exitProcess(int code) = 0;
};

// Appends one chunk read from a pipe up to its first NUL, as every reader of the
// tools' output does.
void appendChunk(std::string& collected, std::string_view chunk);

// Everything the logic may use, chosen by the composition root.
struct Platform {
  SystemInfo& system;
  FileSystem& files;
  Volumes& volumes;
  Processes& processes;
  ConsoleHost& console;
  Power& power;
  Shell& shell;
};

}  // namespace platform
