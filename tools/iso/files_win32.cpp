#include "tools/iso/files_win32.h"

#include <windows.h>

#include <vector>

#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"

namespace iso {

namespace {

class Win32Image : public ImageSource {
 public:
  Win32Image(toolio::UniqueHandle h, std::uint64_t size) : handle_(std::move(h)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
      OVERLAPPED at{};
      at.Offset = DWORD(offset);
      at.OffsetHigh = DWORD(offset >> 32);
      DWORD want = length > (1u << 30) ? (1u << 30) : DWORD(length), got = 0;
      if (!ReadFile(handle_.get(), p, want, &got, &at) || got == 0) return false;
      p += got;
      offset += got;
      length -= got;
    }
    return true;
  }

 private:
  toolio::UniqueHandle handle_;
  std::uint64_t size_;
};

class Win32File : public OutputFile {
 public:
  explicit Win32File(toolio::UniqueHandle h) : handle_(std::move(h)) {}
  bool write(const void* data, std::size_t length) override {
    auto* p = static_cast<const char*>(data);
    while (length > 0) {
      DWORD want = length > (1u << 30) ? (1u << 30) : DWORD(length), done = 0;
      if (!WriteFile(handle_.get(), p, want, &done, nullptr) || done == 0) return false;
      p += done;
      length -= done;
    }
    return true;
  }
  bool skipZeros(std::uint64_t length) override {
    LARGE_INTEGER move;
    move.QuadPart = LONGLONG(length);
    return SetFilePointerEx(handle_.get(), move, nullptr, FILE_CURRENT) != 0;
  }
  bool finish(std::uint64_t size) override {
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    bool ok = SetFilePointerEx(handle_.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(handle_.get());
    return toolio::closeAndCheck(handle_) && ok;
  }

 private:
  toolio::UniqueHandle handle_;
};

class Win32Folder : public OutputTree {
 public:
  explicit Win32Folder(std::wstring base) : base_(std::move(base)) {}
  bool folderExists(const std::string& relative) override {
    DWORD a = GetFileAttributesW(full(relative).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool createFolder(const std::string& relative) override {
    return CreateDirectoryW(full(relative).c_str(), nullptr) || folderExists(relative);
  }
  std::unique_ptr<OutputFile> createFile(const std::string& relative) override {
    toolio::UniqueHandle h(CreateFileW(full(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) return nullptr;
    return std::make_unique<Win32File>(std::move(h));
  }
  bool replaceFile(const std::string& from, const std::string& to) override {
    return MoveFileExW(full(from).c_str(), full(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }
  bool removeFile(const std::string& relative) override { return DeleteFileW(full(relative).c_str()) != 0; }
  void removeFolder(const std::string& relative) override { RemoveDirectoryW(full(relative).c_str()); }
  std::uint64_t freeBytes() override {
    ULARGE_INTEGER avail;
    if (!GetDiskFreeSpaceExW(base_.c_str(), &avail, nullptr, nullptr)) return UINT64_MAX;
    return avail.QuadPart;
  }

 private:
  std::wstring full(const std::string& relative) const {
    std::wstring path = base_ + L"\\" + toolio::wideFromUtf8(relative);
    for (wchar_t& c : path)
      if (c == L'/') c = L'\\';
    return path;
  }
  std::wstring base_;
};

void removeTreeW(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  toolio::FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (find) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      bool link = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
        removeTreeW(path);
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(path.c_str());
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.get(), &found));
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::wstring widePath(const std::string& utf8Path) {
  std::wstring path = toolio::wideFromUtf8(utf8Path);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.rfind(L"\\\\", 0) == 0) return path;  // already \\?\ or a network path
  DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (need == 0) return path;
  std::vector<wchar_t> buffer(need + 1);
  DWORD got = GetFullPathNameW(path.c_str(), DWORD(buffer.size()), buffer.data(), nullptr);
  if (got == 0 || got >= buffer.size()) return path;
  std::wstring full(buffer.data(), got);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
  return full;
}

bool win32FileExists(const std::string& path) {
  DWORD a = GetFileAttributesW(widePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool win32FolderExists(const std::string& path) {
  DWORD a = GetFileAttributesW(widePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<ImageSource> openWin32Image(const std::string& path) {
  toolio::UniqueHandle h(CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!h) return nullptr;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h.get(), &size)) return nullptr;
  return std::make_unique<Win32Image>(std::move(h), std::uint64_t(size.QuadPart));
}

std::unique_ptr<OutputTree> openWin32Folder(const std::string& path) {
  std::wstring full = widePath(path);
  // Create each missing parent; the part before the first folder (\\?\C:\) exists.
  std::size_t start = full.rfind(L"\\\\?\\", 0) == 0 ? 7 : 3;
  for (std::size_t i = start; i <= full.size(); ++i) {
    if (i == full.size() || full[i] == L'\\') CreateDirectoryW(full.substr(0, i).c_str(), nullptr);
  }
  DWORD a = GetFileAttributesW(full.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
  return std::make_unique<Win32Folder>(full);
}

void removeWin32Tree(const std::string& path) { removeTreeW(widePath(path)); }

}  // namespace iso
