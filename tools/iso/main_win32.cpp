// The ISO tool's Windows build. The command line is read whole (GetCommandLineW):
// the program passes the ISO path unquoted, blanks and all, after "/I:".
#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/error_mode_win32.h"
#include "tools/common/command_line.h"
#include "tools/common/console_out.h"
#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/common/progress_window.h"
#include "tools/iso/copy_window.h"
#include "tools/iso/tool.h"
#include "tools/iso/files_win32.h"
#include "tools/iso/mount_win32.h"

namespace {

std::string tempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  std::string path = n ? toolio::utf8FromWide(std::wstring_view(buffer, n)) : std::string("C:\\");
  if (path.back() != '\\') path += '\\';
  return path;
}

// Copies of this size or more show the progress window; smaller ones end too soon to read it.
constexpr std::uint64_t kWindowThreshold = 64ull << 20;

class Win32Backend : public iso::Backend {
 public:
  bool fileExists(const std::string& path) override { return iso::win32FileExists(path); }
  std::unique_ptr<iso::ImageSource> openImage(const std::string& path) override { return iso::openWin32Image(path); }
  std::unique_ptr<iso::OutputTree> openFolder(const std::string& path) override {
    return iso::openWin32Folder(path);
  }
  void removeTree(const std::string& path) override { iso::removeWin32Tree(path); }
  void withProgress(std::uint64_t totalBytes, const std::function<void(toolio::Progress&)>& copy) override {
    if (totalBytes < kWindowThreshold) return iso::Backend::withProgress(totalBytes, copy);
    toolio::runWithProgressWindow(iso::copyWindowLayout(), copy);
  }
  bool letterInUse(char letter) override { return iso::driveLetterInUse(letter); }
  bool attachIso(char letter, const std::string& image) override { return iso::attachIsoOnLetter(letter, image); }
  bool detachIso(char letter, const std::string& image) override {
    // Without the API nothing of ours can be attached: there is nothing to keep.
    const DWORD result = iso::detachIsoFromLetter(letter, image);
    return result == ERROR_SUCCESS || result == ERROR_MOD_NOT_FOUND;
  }
  std::vector<std::string> copyFolderCandidates(const std::string& image) override {
    std::size_t slash = image.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string(".\\") : image.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? image : image.substr(slash + 1);
    std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    std::vector<std::string> candidates;
    for (const std::string& parent : {folder, tempFolder()}) {
      std::string name = parent + "VrelISO_" + base;
      for (int i = 2; iso::win32FolderExists(name) || iso::win32FileExists(name); ++i)
        name = parent + "VrelISO_" + base + "_" + std::to_string(i);
      candidates.push_back(name);
    }
    return candidates;
  }
  bool mapLetter(char letter, const std::string& folder) override { return iso::mapLetterToFolder(letter, folder); }
  void unmapLetter(char letter, const std::string& folder) override { iso::unmapLetterFromFolder(letter, folder); }
  bool canMount() override { return true; }
  std::string readMountRecords() override {
    std::unique_ptr<iso::ImageSource> file = iso::openWin32Image(recordsPath());
    if (!file || file->size() > (1u << 20)) return {};
    std::string text(std::size_t(file->size()), '\0');
    if (!text.empty() && !file->read(0, text.data(), text.size())) return {};
    return text;
  }
  bool writeMountRecords(const std::string& text) override {
    std::wstring path = iso::widePath(recordsPath());
    if (text.empty()) return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    toolio::UniqueHandle h(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return false;
    DWORD done = 0;
    bool ok = WriteFile(h.get(), text.data(), DWORD(text.size()), &done, nullptr) && done == text.size();
    return toolio::closeAndCheck(h) && ok;
  }

 private:
  static std::string recordsPath() { return tempFolder() + "VrelISO_mounts.txt"; }
};

}  // namespace

int main() {
  win32::failCriticalErrorsSilently();
  Win32Backend backend;
  toolio::ConsoleOut out;
  return iso::runIsoTool(toolio::utf8FromWide(toolio::ownCommandTail()), backend, out);
}
