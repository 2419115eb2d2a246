// In-memory platform for the native tests: a small Windows-like world whose every
// call is recorded, and whose answers the test scripts.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace fake {

// Every call that changes the world or asks the outside, across all services, in
// order: "write:<path>", "mkdir:<path>", "read:<path>", "ini:<Section/Key>",
// "run:<command line>", "hidden:<command line>", "privilege", "exit:<flags>:<reason>",
// "url:<address>", "exitProcess:<code>". Tests that care about order read it.
using Journal = std::vector<std::string>;

// Windows paths compare without regard to ASCII letter case.
std::string pathKey(const std::string& path);

class System : public platform::SystemInfo {
 public:
  std::string windowsDir = "X:\\Windows";
  std::string tempDir = "X:\\Temp\\";
  std::string programDir = "U:\\VrelPE";
  std::string systemDir = "X:\\Windows\\system32";
  int platform = 2;
  bool wow64 = false;
  std::string windowsDirectory() override { return windowsDir; }
  std::string tempDirectory() override { return tempDir; }
  std::string programFolder() override { return programDir; }
  std::string systemDirectory() override { return systemDir; }
  int platformId() override { return platform; }
  bool isWow64() override { return wow64; }
  platform::CalendarTime now{2017, 7, 3, 14, 5, 9};
  bool clock24 = true;
  platform::CalendarTime localTime() override { return now; }
  bool uses24HourClock() override { return clock24; }
  std::string utf8ToAnsi(std::string_view utf8) override;  // through iconv, as code page 936
  // The variables of a WinPE session's environment, by name.
  std::vector<std::string> environment = {"=X:", "ALLUSERSPROFILE", "APPDATA", "COMPUTERNAME", "ComSpec",
                                          "LOCALAPPDATA", "NUMBER_OF_PROCESSORS", "OS", "Path", "PATHEXT",
                                          "PROCESSOR_ARCHITECTURE", "ProgramData", "ProgramFiles", "PROMPT",
                                          "SystemDrive", "SystemRoot", "TEMP", "TMP", "USERDOMAIN", "USERNAME",
                                          "USERPROFILE", "windir"};
  std::vector<std::string> environmentNames() override { return environment; }
};

class Files : public platform::FileSystem {
 public:
  Journal* journal = nullptr;
  // Path key → bytes; folders are kept apart.
  std::map<std::string, std::string> files;
  std::set<std::string> dirs;
  std::map<std::string, std::string> originalNames;  // key → path as created
  std::vector<std::string> writes;                   // every writeFile path, in order
  std::set<std::string> unwritable;                  // keys whose writes fail
  std::map<std::string, std::map<std::string, std::string>> ini;  // key → "Section/Key" → value
  // Sizes that stand in for the bytes of large files (images of hundreds of MB).
  std::map<std::string, std::uint64_t> declaredSizes;  // key → size
  // Last-write times: every write (addFile, writeFile) takes the next tick of a clock.
  std::map<std::string, std::uint64_t> writeTimes;  // key → tick
  std::uint64_t clock = 0;
  // 8.3 names: patterns match them as FindFirstFile does (X~1.GHO for x.ghost).
  std::map<std::string, std::string> shortNames;  // key → short name

  void addFile(const std::string& path, std::string bytes = {});
  void addDir(const std::string& path);
  // A file that reports the size without holding that many bytes.
  void addSizedFile(const std::string& path, std::uint64_t size);
  bool hasFile(const std::string& path) const;
  std::string contentOf(const std::string& path) const;

  bool exists(const std::string& path) override;
  bool isDirectory(const std::string& path) override;
  bool createDirectory(const std::string& path) override;
  bool writeFile(const std::string& path, std::string_view bytes) override;
  bool appendFile(const std::string& path, std::string_view bytes) override;
  std::optional<std::string> readFile(const std::string& path) override;
  std::optional<std::uint64_t> fileSize(const std::string& path) override;
  std::optional<std::uint64_t> lastWriteTime(const std::string& path) override;
  bool deleteFile(const std::string& path) override;
  bool removeTree(const std::string& path) override;
  // Relative paths are qualified against this folder.
  std::string currentDirectory = "X:\\Windows\\system32";
  std::string fullPath(const std::string& path) override;
  void enumerate(const std::string& pattern,
                 const std::function<void(const platform::DirEntry&)>& each) override;
  std::string iniString(const std::string& path, const std::string& section,
                        const std::string& key) override;

  struct VersionResource {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;
    std::map<std::string, std::string> strings;  // sub-block → value
  };
  std::map<std::string, VersionResource> versions;  // path key → resource; the block is the key
  std::optional<std::string> versionInfo(const std::string& path) override;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> versionTranslations(const std::string& block) override;
  std::optional<std::string> versionString(const std::string& block, const std::string& subBlock) override;
  // The restored system's interpreter at <letter>:\WINDOWS\SYSTEM32\CMD.EXE with the
  // given product version in a Chinese translation entry ("" = no version resource).
  void addRestoredWindows(char letter, const std::string& productVersion);
};

class Volumes : public platform::Volumes {
 public:
  std::vector<std::pair<std::string, unsigned>> drives;  // root, drive type
  std::map<std::string, unsigned long> deviceNumbers;    // \\.\C: → number
  std::vector<std::string> opened;
  std::vector<platform::PartitionVolume> volumes;
  bool failMount = false;
  std::vector<std::string> mounts, unmounts;  // "S:\=volume name" and roots, in order

  struct FormatCall {
    std::string root, fileSystem, label;
    int mediaType;
    bool quick;
    unsigned long clusterSize;
  };
  struct FormatReport {
    int command;
    unsigned char data;  // the first byte the callback reads
  };
  bool formatLibraryMissing = false;
  std::map<std::string, int> mediaTypes;  // root (C:\, any case) -> MEDIA_TYPE; a fixed disk (12) otherwise
  int mediaType(const std::string& root) override {
    for (const auto& [drive, type] : mediaTypes)
      if (pathKey(drive.substr(0, 2)) == pathKey(root.substr(0, 2))) return type;
    return 12;
  }
  std::vector<FormatReport> formatReports = {{0, 50}, {11, 1}};  // what FormatEx reports, in order
  std::vector<FormatCall> formats;
  std::vector<bool> callbackAnswers;  // what the callback returned to each report
  std::vector<std::vector<unsigned>> formatDialogs;  // drive, id, options
  std::uint32_t formatDialogAnswer = 0;               // a format ID: the user formatted

  std::string logicalDriveStrings() override;
  unsigned driveType(const std::string& root) override;
  std::optional<unsigned long> storageDeviceNumber(const std::string& devicePath) override;
  std::vector<platform::PartitionVolume> partitionVolumes() override { return volumes; }
  // A mounted volume appears as a fixed drive and answers for its disk.
  bool mountVolume(const std::string& root, const std::string& volumeName) override;
  bool unmountVolume(const std::string& root) override;
  std::map<std::string, std::string> dosDevices;  // drive (Z:, any case) -> what QueryDosDevice names
  std::string dosDeviceTarget(const std::string& drive) override {
    for (const auto& [letter, target] : dosDevices)
      if (pathKey(letter.substr(0, 2)) == pathKey(drive.substr(0, 2))) return target;
    return {};
  }
  bool formatEx(const std::string& root, int mediaType, const std::string& fileSystem, const std::string& label,
                bool quick, unsigned long clusterSize, const platform::FormatCallback& callback) override;
  std::uint32_t formatDialog(std::uintptr_t, unsigned drive, unsigned formatId, unsigned options) override {
    formatDialogs.push_back({drive, formatId, options});
    return formatDialogAnswer;
  }
};

class Processes : public platform::Processes {
 public:
  Journal* journal = nullptr;
  struct Rule {
    std::string contains;  // the first rule whose text the command line contains answers
    platform::CapturedRun result;
  };
  std::vector<Rule> rules;
  std::vector<std::string> captured;  // full command lines of runCaptured, in order
  std::vector<std::pair<std::string, unsigned>> hidden;  // startHidden calls
  std::vector<std::string> waited;                       // runAndWait calls
  std::vector<platform::ProcessEntry> running;
  // Called with each captured command line while it "runs" (what the engine does).
  std::function<void(const std::string&)> onRun;
  // Called on each freeze (true) and resume (false), after it is recorded.
  std::function<void(unsigned long, bool)> onSuspend;
  std::vector<unsigned long> terminated;
  std::vector<std::pair<unsigned long, bool>> suspended;

  void answer(std::string contains, std::string output, bool started = true, unsigned long exitCode = 0);
  platform::CapturedRun runCaptured(const std::string& fullCommandLine) override;
  bool startHidden(const std::string& commandLine, unsigned waitIdleMs) override;
  bool runAndWait(const std::string& commandLine) override {
    waited.push_back(commandLine);
    return true;
  }
  std::vector<platform::ProcessEntry> list() override { return running; }
  bool terminate(unsigned long pid, unsigned exitCode) override;
  bool suspend(unsigned long pid, bool suspendIt) override;
};

class Console : public platform::ConsoleHost {
 public:
  // Where the interpreter shows up as a running process while the shell is open.
  Processes* processes = nullptr;
  bool open_ = false;
  unsigned long pid = 0;
  unsigned long nextPid = 4242;
  bool failOpen = false;
  std::vector<std::pair<std::string, std::string>> opens;  // command line, directory
  std::string input, output;                                // bytes written
  bool unreadInput = false;  // the interpreter has not yet read all of its input
  int readersStarted = 0;
  int closes = 0;

  unsigned long open(const std::string& commandLine, const std::string& currentDirectory) override;
  bool isOpen() const override { return open_; }
  unsigned long processId() const override { return pid; }
  long writeInput(std::string_view bytes) override;
  long writeOutput(std::string_view bytes) override;
  bool inputPending() override { return unreadInput; }
  unsigned long startReader(std::function<void()> wake) override;
  std::vector<std::string> takeOutput(unsigned long reader) override;
  void detachReader(unsigned long reader) override;
  unsigned long currentReader = 0;
  int detaches = 0;
  bool close() override;
  // Delivers output as the reader thread does, from any thread: the piece is kept
  // under the reader's lock and the window woken.
  void deliver(std::string_view chunk);
  // The same from a thread of its own, piece after piece, as the real reader does
  // while the user-interface thread goes on; join it before the test ends.
  std::thread deliverOnThread(std::vector<std::string> pieces);

 private:
  std::mutex lock_;  // the reader's own
  std::function<void()> wake_;
  std::vector<std::string> pending_;
};

class Power : public platform::Power {
 public:
  Journal* journal = nullptr;
  std::vector<std::string> calls;  // "privilege", "exit:<flags>:<reason>"
  void enableShutdownPrivilege() override;
  void exitWindows(unsigned flags, unsigned reason) override;
};

class Shell : public platform::Shell {
 public:
  Journal* journal = nullptr;
  std::vector<std::string> opened;
  std::vector<int> exits;
  void openUrl(const std::string& address) override;
  void exitProcess(int code) override;
};

// The whole fake platform, ready to hand to the logic.
struct World {
  World() {
    files.journal = processes.journal = power.journal = shell.journal = &journal;
    console.processes = &processes;
  }
  World(const World&) = delete;
  World& operator=(const World&) = delete;
  Journal journal;
  System system;
  Files files;
  Volumes volumes;
  Processes processes;
  Console console;
  Power power;
  Shell shell;
  platform::Platform os{system, files, volumes, processes, console, power, shell};
};

}  // namespace fake
