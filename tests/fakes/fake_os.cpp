#include "tests/fakes/fake_os.h"

#include <algorithm>
#include <chrono>
#include <iconv.h>

#include <cerrno>

#include "platform/gbk.h"

namespace fake {

std::string pathKey(const std::string& path) {
  std::string key = gbk::toLowerAscii(path);
  // Doubled separators name the same place on Windows.
  std::string out;
  for (std::size_t i = 0; i < key.size(); i += gbk::charLength(key, i)) {
    std::size_t n = gbk::charLength(key, i);
    if (n == 1 && key[i] == '\\' && !out.empty() && out.back() == '\\' && out.size() > 1) continue;
    out.append(key, i, n);
  }
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

std::string System::utf8ToAnsi(std::string_view utf8) {
  std::string out;
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::string in(utf8);
  char* src = in.data();
  std::size_t left = in.size();
  char buffer[256];
  while (left > 0) {
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    if (iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.append(buffer, dst);
      // Unmappable or broken: one '?' for the character, as the system converter does.
      out += '?';
      ++src;
      --left;
      while (left > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80) ++src, --left;
      continue;
    }
    out.append(buffer, dst);
  }
  iconv_close(cd);
  return out.substr(0, out.find('\0'));
}

static std::string parentKey(const std::string& key) {
  std::size_t slash = gbk::findLastByte(key, '\\');
  if (slash == std::string::npos) return {};
  std::string parent = key.substr(0, slash);
  if (parent.size() == 2 && parent[1] == ':') parent += '\\';
  return parent;
}

void Files::addFile(const std::string& path, std::string bytes) {
  files[pathKey(path)] = std::move(bytes);
  originalNames[pathKey(path)] = path;
  writeTimes[pathKey(path)] = ++clock;
}
void Files::addDir(const std::string& path) { dirs.insert(pathKey(path)); }
void Files::addSizedFile(const std::string& path, std::uint64_t size) {
  addFile(path);
  declaredSizes[pathKey(path)] = size;
}
bool Files::hasFile(const std::string& path) const { return files.count(pathKey(path)) != 0; }
std::string Files::contentOf(const std::string& path) const {
  auto it = files.find(pathKey(path));
  return it == files.end() ? std::string() : it->second;
}

bool Files::exists(const std::string& path) {
  std::string k = pathKey(path);
  return files.count(k) || dirs.count(k);
}
bool Files::isDirectory(const std::string& path) { return dirs.count(pathKey(path)) != 0; }
static void note(Journal* journal, std::string entry) {
  if (journal) journal->push_back(std::move(entry));
}

bool Files::createDirectory(const std::string& path) {
  note(journal, "mkdir:" + path);
  std::string k = pathKey(path);
  if (dirs.count(k) || files.count(k)) return false;
  dirs.insert(k);
  return true;
}
bool Files::writeFile(const std::string& path, std::string_view bytes) {
  writes.push_back(path);
  note(journal, "write:" + path);
  std::string k = pathKey(path);
  if (unwritable.count(k) || dirs.count(k)) return false;
  files[k] = std::string(bytes);
  declaredSizes.erase(k);
  originalNames[k] = path;
  writeTimes[k] = ++clock;
  return true;
}
bool Files::appendFile(const std::string& path, std::string_view bytes) {
  note(journal, "append:" + path);
  std::string k = pathKey(path);
  if (unwritable.count(k) || dirs.count(k)) return false;
  files[k] += std::string(bytes);
  originalNames.emplace(k, path);
  return true;
}
std::optional<std::string> Files::readFile(const std::string& path) {
  note(journal, "read:" + path);
  auto it = files.find(pathKey(path));
  if (it == files.end()) return std::nullopt;
  return it->second;
}
std::optional<std::uint64_t> Files::fileSize(const std::string& path) {
  auto it = files.find(pathKey(path));
  if (it == files.end()) return std::nullopt;
  auto declared = declaredSizes.find(it->first);
  return declared == declaredSizes.end() ? it->second.size() : declared->second;
}
std::optional<std::uint64_t> Files::lastWriteTime(const std::string& path) {
  if (!files.count(pathKey(path))) return std::nullopt;
  return writeTimes[pathKey(path)];
}
bool Files::deleteFile(const std::string& path) {
  declaredSizes.erase(pathKey(path));
  return files.erase(pathKey(path)) != 0;
}
bool Files::removeTree(const std::string& path) {
  std::string k = pathKey(path);
  if (!dirs.count(k)) return false;
  std::string prefix = k + "\\";
  for (auto it = files.begin(); it != files.end();)
    it = it->first.rfind(prefix, 0) == 0 ? files.erase(it) : std::next(it);
  for (auto it = dirs.begin(); it != dirs.end();)
    it = (it->rfind(prefix, 0) == 0 || *it == k) ? dirs.erase(it) : std::next(it);
  return true;
}

void Files::addRestoredWindows(char letter, const std::string& productVersion) {
  const std::string cmd = std::string(1, letter) + ":\\WINDOWS\\SYSTEM32\\CMD.EXE";
  addFile(cmd, "MZ");
  if (productVersion.empty()) return;
  VersionResource r;
  r.translations = {{0x0804, 0x04B0}};
  r.strings["\\StringFileInfo\\080404b0\\ProductVersion"] = productVersion;
  versions[pathKey(cmd)] = r;
}

std::string Files::fullPath(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') {
    if (path.size() >= 3 && path[2] == '\\') return path;
    return path.substr(0, 2) + "\\" + path.substr(2);  // the drive's own folder is its root here
  }
  if (path.rfind("\\\\", 0) == 0) return path;
  if (!path.empty() && path[0] == '\\') return currentDirectory.substr(0, 2) + path;
  return currentDirectory + "\\" + path;
}

// Wildcards * and ?, letter case ignored, as FindFirstFile matches long names.
static bool wildMatch(const char* p, const char* s) {
  if (*p == 0) return *s == 0;
  if (*p == '*') return wildMatch(p + 1, s) || (*s && wildMatch(p, s + 1));
  if (*s == 0) return false;
  if (*p == '?' || gbk::asciiLower(*p) == gbk::asciiLower(*s)) return wildMatch(p + 1, s + 1);
  return false;
}

void Files::enumerate(const std::string& pattern,
                      const std::function<void(const platform::DirEntry&)>& each) {
  std::size_t slash = gbk::findLastByte(pattern, '\\');
  std::string folder = pathKey(pattern.substr(0, slash == std::string::npos ? 0 : slash));
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  std::string mask = pattern.substr(slash == std::string::npos ? 0 : slash + 1);
  if (mask == "*.*") mask = "*";
  auto nameOf = [](const std::string& key, const std::string& original) {
    const std::string& src = original.empty() ? key : original;
    std::size_t s = gbk::findLastByte(src, '\\');
    return s == std::string::npos ? src : src.substr(s + 1);
  };
  for (const std::string& d : dirs)
    if (parentKey(d) == folder) {
      platform::DirEntry e{nameOf(d, {}), true, 0};
      if (wildMatch(mask.c_str(), e.name.c_str())) each(e);
    }
  for (const auto& [k, bytes] : files)
    if (parentKey(k) == folder) {
      auto on = originalNames.find(k);
      auto declared = declaredSizes.find(k);
      platform::DirEntry e{nameOf(k, on == originalNames.end() ? std::string() : on->second), false,
                           declared == declaredSizes.end() ? bytes.size() : declared->second};
      auto shortName = shortNames.find(k);
      if (wildMatch(mask.c_str(), e.name.c_str()) ||
          (shortName != shortNames.end() && wildMatch(mask.c_str(), shortName->second.c_str())))
        each(e);
    }
}

std::string Files::iniString(const std::string& path, const std::string& section, const std::string& key) {
  note(journal, "ini:" + section + "/" + key);
  auto f = ini.find(pathKey(path));
  if (f == ini.end() || !files.count(pathKey(path))) return {};
  auto v = f->second.find(section + "/" + key);
  return v == f->second.end() ? std::string() : v->second;
}

std::string Volumes::logicalDriveStrings() {
  std::string out;
  for (const auto& d : drives) {
    out += d.first;
    out += '\0';
  }
  return out;
}
unsigned Volumes::driveType(const std::string& root) {
  for (const auto& d : drives)
    if (gbk::equalsIgnoreCase(d.first.substr(0, 2), root.substr(0, 2))) return d.second;
  return 1;  // DRIVE_NO_ROOT_DIR
}
std::optional<unsigned long> Volumes::storageDeviceNumber(const std::string& devicePath) {
  opened.push_back(devicePath);
  auto it = deviceNumbers.find(devicePath);
  if (it == deviceNumbers.end()) return std::nullopt;
  return it->second;
}

bool Volumes::mountVolume(const std::string& root, const std::string& volumeName) {
  mounts.push_back(root + "=" + volumeName);
  if (failMount || driveType(root) != 1) return false;
  for (platform::PartitionVolume& v : volumes)
    if (v.volumeName == volumeName && v.root.empty()) {
      v.root = root;
      drives.emplace_back(root, 3);
      std::sort(drives.begin(), drives.end());
      deviceNumbers["\\\\.\\" + root.substr(0, 2)] = v.deviceNumber;
      return true;
    }
  return false;
}

bool Volumes::unmountVolume(const std::string& root) {
  unmounts.push_back(root);
  for (platform::PartitionVolume& v : volumes)
    if (!v.root.empty() && gbk::equalsIgnoreCase(v.root, root)) {
      v.root.clear();
      drives.erase(std::remove_if(drives.begin(), drives.end(),
                                  [&](const auto& d) { return gbk::equalsIgnoreCase(d.first, root); }),
                   drives.end());
      return true;
    }
  return false;
}

bool Volumes::formatEx(const std::string& root, int mediaType, const std::string& fileSystem,
                       const std::string& label, bool quick, unsigned long clusterSize,
                       const platform::FormatCallback& callback) {
  if (formatLibraryMissing) return false;
  formats.push_back({root, fileSystem, label, mediaType, quick, clusterSize});
  for (const FormatReport& r : formatReports) {
    // The library hands over a pointer to a larger record; only its first byte is read.
    const unsigned char data[4] = {r.data, 0xEE, 0xEE, 0xEE};
    const bool goOn = callback(r.command, 0, data);
    callbackAnswers.push_back(goOn);
    if (!goOn) break;
  }
  return true;
}

std::optional<std::string> Files::versionInfo(const std::string& path) {
  const std::string key = pathKey(path);
  if (!versions.count(key) || !files.count(key)) return std::nullopt;
  return key;
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> Files::versionTranslations(const std::string& block) {
  auto it = versions.find(block);
  return it == versions.end() ? std::vector<std::pair<std::uint16_t, std::uint16_t>>() : it->second.translations;
}

std::optional<std::string> Files::versionString(const std::string& block, const std::string& subBlock) {
  auto it = versions.find(block);
  if (it == versions.end()) return std::nullopt;
  // VerQueryValue compares sub-block names without regard to letter case.
  for (const auto& [name, value] : it->second.strings)
    if (gbk::equalsIgnoreCase(name, subBlock)) return value;
  return std::nullopt;
}

void Processes::answer(std::string contains, std::string output, bool started, unsigned long exitCode) {
  rules.push_back({std::move(contains), {started, std::move(output), exitCode}});
}
platform::CapturedRun Processes::runCaptured(const std::string& fullCommandLine) {
  captured.push_back(fullCommandLine);
  note(journal, "run:" + fullCommandLine);
  if (onRun) onRun(fullCommandLine);
  for (const Rule& r : rules)
    if (fullCommandLine.find(r.contains) != std::string::npos) return r.result;
  return {true, ""};
}
bool Processes::startHidden(const std::string& commandLine, unsigned waitIdleMs) {
  hidden.emplace_back(commandLine, waitIdleMs);
  note(journal, "hidden:" + commandLine);
  return false;
}
bool Processes::terminate(unsigned long pid, unsigned) {
  for (auto it = running.begin(); it != running.end(); ++it)
    if (it->pid == pid) {
      running.erase(it);
      terminated.push_back(pid);
      return true;
    }
  return false;
}
bool Processes::suspend(unsigned long pid, bool suspendIt) {
  suspended.emplace_back(pid, suspendIt);
  if (onSuspend) onSuspend(pid, suspendIt);
  return true;
}

unsigned long Console::open(const std::string& commandLine, const std::string& currentDirectory) {
  opens.emplace_back(commandLine, currentDirectory);
  if (failOpen) return 0;
  open_ = true;
  pid = nextPid++;
  if (processes) processes->running.push_back({pid, "cmd.exe", 1});
  return pid;
}
long Console::writeInput(std::string_view bytes) {
  input.append(bytes);
  return static_cast<long>(bytes.size());
}
long Console::writeOutput(std::string_view bytes) {
  output.append(bytes);
  deliver(bytes);
  return static_cast<long>(bytes.size());
}
unsigned long Console::startReader(std::function<void()> wake) {
  if (!open_ || currentReader) return 0;
  ++readersStarted;
  std::lock_guard<std::mutex> hold(lock_);
  currentReader = static_cast<unsigned long>(readersStarted);
  wake_ = std::move(wake);
  pending_.clear();
  return currentReader;
}
std::vector<std::string> Console::takeOutput(unsigned long reader) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::string> pieces;
  if (reader != 0 && reader == currentReader) pieces.swap(pending_);
  return pieces;
}
void Console::detachReader(unsigned long reader) {
  std::lock_guard<std::mutex> hold(lock_);
  if (reader == 0 || reader != currentReader) return;
  ++detaches;
  wake_ = nullptr;
  pending_.clear();
}
bool Console::close() {
  ++closes;
  if (processes) {
    auto& r = processes->running;
    r.erase(std::remove_if(r.begin(), r.end(), [this](const platform::ProcessEntry& e) { return e.pid == pid; }), r.end());
  }
  open_ = false;
  std::lock_guard<std::mutex> hold(lock_);
  currentReader = 0;
  wake_ = nullptr;
  pending_.clear();
  return true;
}
void Console::deliver(std::string_view chunk) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!wake_) return;  // no reader, or one whose window has gone: read and dropped
  std::string piece;
  platform::appendChunk(piece, chunk);
  pending_.push_back(std::move(piece));
  if (pending_.size() == 1) wake_();
}
std::thread Console::deliverOnThread(std::vector<std::string> pieces) {
  return std::thread([this, pieces = std::move(pieces)] {
    for (const std::string& piece : pieces) {
      deliver(piece);
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
}

void Power::enableShutdownPrivilege() {
  calls.push_back("privilege");
  note(journal, "privilege");
}
void Power::exitWindows(unsigned flags, unsigned reason) {
  calls.push_back("exit:" + std::to_string(flags) + ":" + std::to_string(reason));
  note(journal, calls.back());
}
void Shell::openUrl(const std::string& address) {
  opened.push_back(address);
  note(journal, "url:" + address);
}
void Shell::exitProcess(int code) {
  exits.push_back(code);
  note(journal, "exitProcess:" + std::to_string(code));
}

}  // namespace fake
