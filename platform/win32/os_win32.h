// The real platform services over Win32 (ANSI entry points, code page 936).
#pragma once

#include "platform/os.h"

namespace win32 {

class System : public platform::SystemInfo {
 public:
  std::string windowsDirectory() override;
  std::string tempDirectory() override;
  std::string programFolder() override;
  std::string systemDirectory() override;
  int platformId() override;
  bool isWow64() override;
  platform::CalendarTime localTime() override;
  bool uses24HourClock() override;
  std::string utf8ToAnsi(std::string_view utf8) override;
  std::vector<std::string> environmentNames() override;
};

class Files : public platform::FileSystem {
 public:
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
  std::string fullPath(const std::string& path) override;
  void enumerate(const std::string& pattern,
                 const std::function<void(const platform::DirEntry&)>& each) override;
  std::string iniString(const std::string& path, const std::string& section,
                        const std::string& key) override;
  std::optional<std::string> versionInfo(const std::string& path) override;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> versionTranslations(const std::string& block) override;
  std::optional<std::string> versionString(const std::string& block, const std::string& subBlock) override;
};

class Volumes : public platform::Volumes {
 public:
  std::string logicalDriveStrings() override;
  unsigned driveType(const std::string& root) override;
  std::optional<unsigned long> storageDeviceNumber(const std::string& devicePath) override;
  std::vector<platform::PartitionVolume> partitionVolumes() override;
  bool mountVolume(const std::string& root, const std::string& volumeName) override;
  bool unmountVolume(const std::string& root) override;
  std::string dosDeviceTarget(const std::string& drive) override;
  bool formatEx(const std::string& root, int mediaType, const std::string& fileSystem, const std::string& label,
                bool quick, unsigned long clusterSize, const platform::FormatCallback& callback) override;
  int mediaType(const std::string& root) override;
  std::uint32_t formatDialog(std::uintptr_t owner, unsigned drive, unsigned formatId, unsigned options) override;
};

class Processes : public platform::Processes {
 public:
  platform::CapturedRun runCaptured(const std::string& fullCommandLine) override;
  bool startHidden(const std::string& commandLine, unsigned waitIdleMs) override;
  bool runAndWait(const std::string& commandLine) override;
  std::vector<platform::ProcessEntry> list() override;
  bool terminate(unsigned long pid, unsigned exitCode) override;
  bool suspend(unsigned long pid, bool suspendIt) override;
};

class Power : public platform::Power {
 public:
  void enableShutdownPrivilege() override;
  void exitWindows(unsigned flags, unsigned reason) override;
};

class Shell : public platform::Shell {
 public:
  void openUrl(const std::string& address) override;
  void exitProcess(int code) override;
};

}  // namespace win32
