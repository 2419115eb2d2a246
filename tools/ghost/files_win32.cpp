#include "tools/ghost/platform_files.h"

#include <windows.h>

#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/common/windows_names.h"

namespace ghost {

using toolio::wideFromUtf8;

namespace {

// The system's error in the engine's words, for what was being done.
Problem openProblem(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_NOT_READY:
      return Problem::ImageMissing;
    default:
      return Problem::ImageUnreadable;
  }
}

Problem writeProblem(DWORD code, Problem otherwise) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? Problem::DiskFull : otherwise;
}

class Win32File : public File {
 public:
  explicit Win32File(toolio::UniqueHandle handle) : handle_(std::move(handle)) {}
  Problem read(void* buffer, std::size_t length, std::size_t& got) override {
    got = 0;
    auto* p = static_cast<char*>(buffer);
    while (got < length) {
      DWORD piece = length - got > (1u << 30) ? (1u << 30) : DWORD(length - got);
      DWORD done = 0;
      if (!ReadFile(handle_.get(), p + got, piece, &done, nullptr)) return Problem::ImageReadError;
      if (done == 0) break;
      got += done;
    }
    return Problem::None;
  }
  Problem write(const void* buffer, std::size_t length) override {
    const auto* p = static_cast<const char*>(buffer);
    while (length > 0) {
      DWORD piece = length > (1u << 30) ? (1u << 30) : DWORD(length);
      DWORD done = 0;
      if (!WriteFile(handle_.get(), p, piece, &done, nullptr)) return writeProblem(GetLastError(), Problem::ImageWriteFailed);
      if (done == 0) return Problem::DiskFull;
      p += done;
      length -= done;
    }
    return Problem::None;
  }
  std::uint64_t size() override {
    LARGE_INTEGER length{};
    return GetFileSizeEx(handle_.get(), &length) ? std::uint64_t(length.QuadPart) : 0;
  }
  Problem seek(std::uint64_t offset) override {
    LARGE_INTEGER at{};
    at.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(handle_.get(), at, nullptr, FILE_BEGIN) ? Problem::None : Problem::ImageReadError;
  }
  Problem finish() override {
    Problem result =
        FlushFileBuffers(handle_.get()) ? Problem::None : writeProblem(GetLastError(), Problem::ImageWriteFailed);
    if (!toolio::closeAndCheck(handle_) && result == Problem::None) result = Problem::ImageWriteFailed;
    return result;
  }

 private:
  toolio::UniqueHandle handle_;
};

class Win32Files : public Files {
 public:
  std::unique_ptr<File> openRead(const std::string& path, Problem& problem) override {
    if (PathKind kind = kindOf(path); kind == PathKind::Folder || kind == PathKind::Other) {
      problem = kind == PathKind::Folder ? Problem::ImageIsFolder : Problem::ImageNotAFile;
      return nullptr;
    }
    const std::wstring wide = wideFromUtf8(path);
    toolio::UniqueHandle handle(
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle) {
      problem = openProblem(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32File>(std::move(handle));
  }

  std::unique_ptr<File> create(const std::string& path, Problem& problem) override {
    const std::wstring wide = wideFromUtf8(path);
    toolio::UniqueHandle handle(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle) {
      problem = writeProblem(GetLastError(), Problem::DestinationUncreatable);
      return nullptr;
    }
    return std::make_unique<Win32File>(std::move(handle));
  }

  PathKind kindOf(const std::string& path) override {
    if (toolio::namesWindowsDevice(path)) return PathKind::Other;
    const DWORD attributes = GetFileAttributesW(wideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
    return attributes & FILE_ATTRIBUTE_DEVICE ? PathKind::Other : PathKind::RegularFile;
  }

  bool removeFile(const std::string& path) override { return DeleteFileW(wideFromUtf8(path).c_str()) != 0; }

  bool replaceFile(const std::string& from, const std::string& to) override {
    return MoveFileExW(wideFromUtf8(from).c_str(), wideFromUtf8(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  std::uint64_t maxFileSize(const std::string& path) override { return maxFileSizeOf(fileSystemOf(path)); }

 private:
  // The destination's file system, asked through a handle of its folder; where that
  // folder cannot be opened (not there yet, access denied), through its volume's
  // root. The volume label is never asked for: Wine prints a console warning where
  // it cannot read one, output the program would take for a failure.
  static std::optional<std::string> fileSystemOf(const std::string& path) {
    const std::wstring file = wideFromUtf8(path);
    const std::size_t slash = file.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : file.substr(0, slash + 1);
    wchar_t name[MAX_PATH + 1] = {};
    toolio::UniqueHandle handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle && GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
      return toolio::utf8FromWide(name);
    wchar_t root[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(file.c_str(), root, MAX_PATH + 1) &&
        GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
      return toolio::utf8FromWide(name);
    return std::nullopt;
  }
};

}  // namespace

std::unique_ptr<Files> platformFiles() { return std::make_unique<Win32Files>(); }

}  // namespace ghost
