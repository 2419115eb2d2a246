#include "tools/wimengine/backend_wimgapi.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "tools/common/codepage_win32.h"
#include "tools/common/utf.h"
#include "tools/wimengine/files_win32.h"
#include "tools/wimengine/wim_xml.h"
#include "tools/wimengine/wimgapi_messages.h"

namespace wimengine {

namespace {

constexpr DWORD kWimOpenExisting = 3;
constexpr DWORD kWimCreateAlways = 2;
constexpr DWORD kWimFlagVerify = 0x2;
constexpr DWORD kCompressNone = 0, kCompressXpress = 1, kCompressLzx = 2, kCompressLzms = 3;
constexpr DWORD kInvalidCallback = 0xFFFFFFFF;
constexpr DWORD kWimReferenceAppend = 0x00010000;

// Layout of WIMGAPI's WIM_INFO.
struct WimInfo {
  WCHAR wimPath[MAX_PATH];
  GUID guid;
  DWORD imageCount;
  DWORD compressionType;
  USHORT partNumber;
  USHORT totalParts;
  DWORD bootIndex;
  DWORD wimAttributes;
  DWORD wimFlagsAndAttr;
};

using WIMCreateFileFn = HANDLE(WINAPI*)(PCWSTR, DWORD, DWORD, DWORD, DWORD, PDWORD);
using WIMCloseHandleFn = BOOL(WINAPI*)(HANDLE);
using WIMSetTemporaryPathFn = BOOL(WINAPI*)(HANDLE, PCWSTR);
using WIMLoadImageFn = HANDLE(WINAPI*)(HANDLE, DWORD);
using WIMApplyImageFn = BOOL(WINAPI*)(HANDLE, PCWSTR, DWORD);
using WIMCaptureImageFn = HANDLE(WINAPI*)(HANDLE, PCWSTR, DWORD);
using WIMGetImageCountFn = DWORD(WINAPI*)(HANDLE);
using WIMGetAttributesFn = BOOL(WINAPI*)(HANDLE, WimInfo*, DWORD);
using WIMGetImageInformationFn = BOOL(WINAPI*)(HANDLE, PVOID*, PDWORD);
using WIMSetImageInformationFn = BOOL(WINAPI*)(HANDLE, PVOID, DWORD);
using WIMSetReferenceFileFn = BOOL(WINAPI*)(HANDLE, PCWSTR, DWORD);
// WIMGAPI declares the callback parameter as FARPROC; it is this function type.
using WimMessageCallback = DWORD(CALLBACK*)(DWORD, WPARAM, LPARAM, PVOID);
using WIMRegisterMessageCallbackFn = DWORD(WINAPI*)(HANDLE, WimMessageCallback, PVOID);
using WIMUnregisterMessageCallbackFn = BOOL(WINAPI*)(HANDLE, WimMessageCallback);

using toolio::wideFromUtf8;

std::u16string fullPath(const std::string& utf8) {
  std::wstring path = win32files::fullPath(utf8);
  return std::u16string(path.begin(), path.end());
}

std::wstring tempFolder() {
  WCHAR buffer[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  return (n > 0 && n <= MAX_PATH) ? std::wstring(buffer, n) : std::wstring(L"X:\\");
}

DWORD CALLBACK onWimMessage(DWORD message, WPARAM wParam, LPARAM lParam, PVOID userData) {
  auto* handler = static_cast<WimgapiMessageHandler*>(userData);
  std::u16string path;
  if (wimmsg::carriesPath(message) && wParam != 0) {
    auto text = reinterpret_cast<const wchar_t*>(wParam);
    path.assign(text, text + lstrlenW(text));
  }
  MessageReply reply = handler->handle(message, std::uint64_t(wParam), std::int64_t(lParam), path);
  if (message == wimmsg::kProcess && reply.skipFile && lParam != 0) *reinterpret_cast<BOOL*>(lParam) = FALSE;
  return reply.status;
}

}  // namespace

WimgapiLoader systemWimgapiLoader() {
  return {[](std::uint32_t& error) -> void* {
            HMODULE module = LoadLibraryW(L"wimgapi.dll");
            if (!module) error = GetLastError();
            return reinterpret_cast<void*>(module);
          },
          [](void* module, const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
          },
          [](void* module) { FreeLibrary(static_cast<HMODULE>(module)); }};
}

struct WimgapiBackend::Api {
  WimgapiLoader loader;
  HMODULE module = nullptr;
  Failure loadFailure;  // why the library cannot be used; nothing once it is loaded
  WIMCreateFileFn createFile = nullptr;
  WIMCloseHandleFn closeHandle = nullptr;
  WIMSetTemporaryPathFn setTemporaryPath = nullptr;
  WIMLoadImageFn loadImage = nullptr;
  WIMApplyImageFn applyImage = nullptr;
  WIMCaptureImageFn captureImage = nullptr;
  WIMGetImageCountFn getImageCount = nullptr;
  WIMGetAttributesFn getAttributes = nullptr;
  WIMGetImageInformationFn getImageInformation = nullptr;
  WIMSetImageInformationFn setImageInformation = nullptr;
  WIMSetReferenceFileFn setReferenceFile = nullptr;
  WIMRegisterMessageCallbackFn registerCallback = nullptr;
  WIMUnregisterMessageCallbackFn unregisterCallback = nullptr;

  template <typename Fn>
  bool load(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(loader.entry(module, name));
    if (!fn && !loadFailure) loadFailure = libraryLoadFailure(0, name);
    return fn != nullptr;
  }

  // The DLL's file version as "major.minor.build.revision", and its major*100+minor;
  // 0 when the version resource cannot be read.
  int version(std::string& text) const {
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return 0;
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!GetFileVersionInfoW(path, 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
      return 0;
    text = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
           "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
    return int(HIWORD(fixed->dwFileVersionMS)) * 100 + int(LOWORD(fixed->dwFileVersionMS));
  }

  explicit Api(const WimgapiLoader& how) : loader(how) {
    std::uint32_t error = 0;
    module = static_cast<HMODULE>(loader.load(error));
    if (!module) {
      loadFailure = libraryLoadFailure(error, "");
      return;
    }
    bool ok = load(createFile, "WIMCreateFile") && load(closeHandle, "WIMCloseHandle") &&
              load(setTemporaryPath, "WIMSetTemporaryPath") && load(loadImage, "WIMLoadImage") &&
              load(applyImage, "WIMApplyImage") && load(captureImage, "WIMCaptureImage") &&
              load(getImageCount, "WIMGetImageCount") && load(getAttributes, "WIMGetAttributes") &&
              load(getImageInformation, "WIMGetImageInformation") &&
              load(setImageInformation, "WIMSetImageInformation") &&
              load(setReferenceFile, "WIMSetReferenceFile") &&
              load(registerCallback, "WIMRegisterMessageCallback") &&
              load(unregisterCallback, "WIMUnregisterMessageCallback");
    if (!ok) {
      loader.release(module);
      module = nullptr;
    }
  }
  ~Api() {
    if (module) loader.release(module);
  }
};

namespace {

// Owns a WIMGAPI handle; closing the file handle is what writes a captured WIM,
// so the capture closes it by hand and checks the result.
class WimHandle {
 public:
  WimHandle(const WimgapiBackend::Api& api, HANDLE handle) : api_(api), handle_(handle) {}
  ~WimHandle() { close(); }
  WimHandle(const WimHandle&) = delete;
  WimHandle& operator=(const WimHandle&) = delete;
  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  bool close() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h == nullptr || api_.closeHandle(h) != FALSE;
  }

 private:
  const WimgapiBackend::Api& api_;
  HANDLE handle_;
};

// Keeps the message callback registered for the lifetime of one operation.
class CallbackRegistration {
 public:
  CallbackRegistration(const WimgapiBackend::Api& api, HANDLE wim, WimgapiMessageHandler& handler)
      : api_(api), wim_(wim) {
    registered_ = api_.registerCallback(wim_, onWimMessage, &handler) != kInvalidCallback;
  }
  ~CallbackRegistration() {
    if (registered_) api_.unregisterCallback(wim_, onWimMessage);
  }
  CallbackRegistration(const CallbackRegistration&) = delete;
  CallbackRegistration& operator=(const CallbackRegistration&) = delete;

 private:
  const WimgapiBackend::Api& api_;
  HANDLE wim_;
  bool registered_ = false;
};

// The code is read by the caller as the first thing after the failed call.
Failure failureOf(DWORD code, Step step, const WimgapiMessageHandler* handler = nullptr) {
  if (handler && handler->firstError()) return *handler->firstError();
  return failedWith(kindOfWin32Error(code, step), code);
}

std::string guidText(const GUID& g) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

const char* compressionName(DWORD type) {
  switch (type) {
    case kCompressNone: return "None";
    case kCompressXpress: return "XPRESS";
    case kCompressLzx: return "LZX";
    case kCompressLzms: return "LZMS";
    default: return "Unknown";
  }
}

// WIMGAPI reads solid (LZMS) resources from Windows 8 (6.2) on; an older one would
// fail with a code that says nothing, so such a file is refused with the cause.
Failure refuseEsdOnOldWimgapi(const WimgapiBackend::Api& api, const std::string& wimPath) {
  std::optional<WimHeader> header = parseWimHeader(win32files::readFileStart(wimPath, kWimHeaderSize));
  if (!header || !header->isSolidOrLzms()) return Failure{};
  std::string text;
  const int version = api.version(text);
  if (version == 0 || version >= 602) return Failure{};
  Failure f = failedWith(ErrorKind::EsdNeedsNewerWimgapi);
  f.name = text;
  return f;
}

// The XML WIMGAPI hands out is UTF-16 in a LocalAlloc block.
bool readXml(const WimgapiBackend::Api& api, HANDLE handle, std::string& utf8) {
  PVOID buffer = nullptr;
  DWORD size = 0;
  if (!api.getImageInformation(handle, &buffer, &size)) return false;
  utf8 = toolio::utf16leBytesToUtf8(buffer, size);
  LocalFree(buffer);
  return true;
}

}  // namespace

WimgapiBackend::WimgapiBackend(const WimgapiLoader& loader) : api_(new Api(loader)) {}
WimgapiBackend::~WimgapiBackend() = default;

Failure WimgapiBackend::readInfo(const std::string& wimPath, WimSummary& summary) {
  if (!api_->module) return api_->loadFailure;
  if (Failure old = refuseEsdOnOldWimgapi(*api_, wimPath)) return old;
  DWORD creation = 0;
  const std::wstring path = wideFromUtf8(wimPath);
  WimHandle wim(*api_, api_->createFile(path.c_str(), GENERIC_READ, kWimOpenExisting, 0, 0, &creation));
  if (!wim) return failureOf(GetLastError(), Step::OpenWim);
  WimInfo info{};
  if (!api_->getAttributes(wim.get(), &info, sizeof info)) return failureOf(GetLastError(), Step::ReadWim);
  if (!readXml(*api_, wim.get(), summary.xmlUtf8)) return failureOf(GetLastError(), Step::ReadWim);
  summary.imageCount = info.imageCount;
  summary.compression = compressionName(info.compressionType);
  summary.partNumber = info.partNumber;
  summary.totalParts = info.totalParts;
  summary.bootIndex = info.bootIndex;
  summary.guid = guidText(info.guid);
  return Failure{};
}

Failure WimgapiBackend::apply(const Command& command, toolio::Progress& progress) {
  if (!api_->module) return api_->loadFailure;
  if (Failure old = refuseEsdOnOldWimgapi(*api_, command.wimPath)) return old;
  DWORD creation = 0;
  DWORD flags = command.verify ? kWimFlagVerify : 0;
  const std::wstring path = wideFromUtf8(command.wimPath);
  WimHandle wim(*api_, api_->createFile(path.c_str(), GENERIC_READ, kWimOpenExisting, flags, 0, &creation));
  if (!wim) return failureOf(GetLastError(), Step::OpenWim);
  api_->setTemporaryPath(wim.get(), tempFolder().c_str());
  WimInfo info{};
  // One part of a split image lacks most of the data: say so rather than "damaged".
  if (api_->getAttributes(wim.get(), &info, sizeof info) && info.totalParts > 1 && command.otherParts.empty())
    return failedWith(ErrorKind::WimSplit);
  // The other parts are named before the image is loaded, which reads their resources.
  for (const std::string& part : command.otherParts) {
    const std::wstring partPath = wideFromUtf8(part);
    if (!api_->setReferenceFile(wim.get(), partPath.c_str(), kWimReferenceAppend))
      return failureOf(GetLastError(), Step::OpenWim);
  }
  DWORD count = api_->getImageCount(wim.get());
  if (command.index > count) return indexOutOfRange(count);

  WimgapiMessageHandler handler(progress, Step::WriteTarget);
  CallbackRegistration registration(*api_, wim.get(), handler);
  WimHandle image(*api_, api_->loadImage(wim.get(), command.index));
  if (!image) return failureOf(GetLastError(), Step::ReadWim);
  const std::wstring root = wideFromUtf8(driveToRoot(command.target));
  if (!api_->applyImage(image.get(), root.c_str(), flags)) return failureOf(GetLastError(), Step::WriteTarget, &handler);
  return Failure{};
}

Failure WimgapiBackend::capture(const CaptureRequest& request, toolio::Progress& progress) {
  if (!api_->module) return api_->loadFailure;
  std::string source = driveToRoot(request.source);
  if (!isDirectory(source)) return failedWith(ErrorKind::SourceMissing);
  DWORD compression = request.compression == Compression::Maximum ? kCompressLzx
                      : request.compression == Compression::Fast  ? kCompressXpress
                                                                  : kCompressNone;
  DWORD creation = 0;
  // WIM_FLAG_VERIFY: the library checks what it single-instances byte by byte and
  // keeps hashes for a later whole-file check; the engine reads the image back after.
  const std::wstring path = wideFromUtf8(request.wimPath);
  WimHandle wim(*api_, api_->createFile(path.c_str(), GENERIC_WRITE, kWimCreateAlways, kWimFlagVerify, compression,
                                        &creation));
  if (!wim) return failureOf(GetLastError(), Step::WriteWim);
  std::wstring temp = request.tempDir.empty() ? tempFolder() : wideFromUtf8(request.tempDir);
  if (!api_->setTemporaryPath(wim.get(), temp.c_str())) return failedWith(ErrorKind::TempDirMissing, GetLastError());

  std::vector<std::u16string> excluded{fullPath(request.wimPath)};
  if (!request.tempDir.empty()) excluded.push_back(fullPath(request.tempDir));
  WimgapiMessageHandler handler(progress, Step::ReadSource, fullPath(source), excluded);
  {
    CallbackRegistration registration(*api_, wim.get(), handler);
    const std::wstring sourceRoot = wideFromUtf8(source);
    WimHandle image(*api_, api_->captureImage(wim.get(), sourceRoot.c_str(), 0));
    if (!image) {
      const DWORD code = GetLastError();
      // Running out of room while writing the image is the cause, whatever file was being read.
      if (kindOfWin32Error(code, Step::WriteWim) == ErrorKind::DiskFull) return failedWith(ErrorKind::DiskFull, code);
      return failureOf(code, Step::ReadSource, &handler);
    }
    std::string xml;
    if (!readXml(*api_, image.get(), xml)) return failureOf(GetLastError(), Step::WriteWim);
    std::u16string edited = u"\xFEFF" + toolio::utf8ToUtf16(withImageProperties(xml, request.name,
                                                                                  request.description, request.flags));
    if (!api_->setImageInformation(image.get(), const_cast<char16_t*>(edited.data()),
                                   DWORD(edited.size() * sizeof(char16_t))))
      return failureOf(GetLastError(), Step::WriteWim);
    if (!image.close()) return failureOf(GetLastError(), Step::WriteWim);
  }
  if (!wim.close()) return failureOf(GetLastError(), Step::WriteWim);
  return Failure{};
}

Failure WimgapiBackend::verifyImage(const std::string&) {
  return failedWith(ErrorKind::Other, ERROR_NOT_SUPPORTED);
}

bool WimgapiBackend::isDirectory(const std::string& path) { return win32files::isDirectory(path); }
bool WimgapiBackend::fileExists(const std::string& path) { return win32files::fileExists(path); }
bool WimgapiBackend::isSpecialFile(const std::string& path) { return win32files::isSpecialFile(path); }
bool WimgapiBackend::removeFile(const std::string& path) { return win32files::removeFile(path); }
bool WimgapiBackend::replaceFile(const std::string& from, const std::string& to) {
  return win32files::replaceFile(from, to);
}
std::int64_t WimgapiBackend::nowMs() { return win32files::nowMs(); }
std::string WimgapiBackend::readFileStart(const std::string& path, std::size_t size) {
  return win32files::readFileStart(path, size);
}
std::vector<std::string> WimgapiBackend::matchingFiles(const std::string& pattern) {
  return win32files::matchingFiles(pattern);
}
std::string WimgapiBackend::toConsoleText(const std::string& argument) { return toolio::ansiFromUtf8(argument); }

}  // namespace wimengine
