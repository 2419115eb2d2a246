#include "tools/wimengine/backend_wimlib.h"

#include <wimlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tools/common/utf.h"
#include "tools/wimengine/wim_xml.h"
#include "tools/wimengine/wimlib_host.h"

namespace wimengine {

namespace {

struct WimCloser {
  void operator()(WIMStruct* wim) const { wimlib_free(wim); }
};
using WimHandle = std::unique_ptr<WIMStruct, WimCloser>;

// wimlib codes that mean the WIM file itself is damaged or not a WIM file.
bool isCorruptWim(int code) {
  switch (code) {
    case WIMLIB_ERR_DECOMPRESSION: case WIMLIB_ERR_IMAGE_COUNT: case WIMLIB_ERR_INTEGRITY:
    case WIMLIB_ERR_INVALID_CHUNK_SIZE: case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
    case WIMLIB_ERR_INVALID_HEADER: case WIMLIB_ERR_INVALID_INTEGRITY_TABLE:
    case WIMLIB_ERR_INVALID_LOOKUP_TABLE_ENTRY: case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
    case WIMLIB_ERR_INVALID_PART_NUMBER: case WIMLIB_ERR_INVALID_PIPABLE_WIM:
    case WIMLIB_ERR_INVALID_REPARSE_DATA: case WIMLIB_ERR_INVALID_RESOURCE_HASH:
    case WIMLIB_ERR_INVALID_UTF16_STRING: case WIMLIB_ERR_METADATA_NOT_FOUND:
    case WIMLIB_ERR_NOT_A_WIM_FILE: case WIMLIB_ERR_RESOURCE_NOT_FOUND:
    case WIMLIB_ERR_UNEXPECTED_END_OF_FILE: case WIMLIB_ERR_UNKNOWN_VERSION: case WIMLIB_ERR_XML:
    case WIMLIB_ERR_WIM_IS_INCOMPLETE: case WIMLIB_ERR_INVALID_XATTR:
      return true;
    default:
      return false;
  }
}

// Maps a wimlib code to a cause; errorNumber is errno right after the failed call,
// path what was being written (for the out-of-room check).
Failure classify(int code, int errorNumber, Step step, const std::string& path = {}) {
  if (code == WIMLIB_ERR_NOMEM) return failedWith(ErrorKind::OutOfMemory, code);
  if (isCorruptWim(code)) return failedWith(ErrorKind::WimCorrupt, code);
  if (code == WIMLIB_ERR_IS_SPLIT_WIM || code == WIMLIB_ERR_SPLIT_INVALID || code == WIMLIB_ERR_WIM_IS_ENCRYPTED)
    return failedWith(ErrorKind::WimUnsupported, code);
  if ((code == WIMLIB_ERR_WRITE || code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_MKDIR || code == WIMLIB_ERR_LINK ||
       code == WIMLIB_ERR_SET_REPARSE_DATA || code == WIMLIB_ERR_SET_XATTR || code == WIMLIB_ERR_RENAME) &&
      wimlibhost::outOfSpace(errorNumber, path))
    return failedWith(ErrorKind::DiskFull, code);
  bool missing = errorNumber == ENOENT || errorNumber == ENOTDIR || code == WIMLIB_ERR_PATH_DOES_NOT_EXIST ||
                 code == WIMLIB_ERR_NOTDIR;
  switch (step) {
    case Step::OpenWim:
      if (code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_STAT || code == WIMLIB_ERR_IS_DIRECTORY ||
          code == WIMLIB_ERR_NOT_A_REGULAR_FILE)
        return failedWith(missing ? ErrorKind::WimMissing : ErrorKind::WimUnreadable, code);
      if (code == WIMLIB_ERR_READ) return failedWith(ErrorKind::WimCorrupt, code);
      break;
    case Step::ReadWim:
      if (code == WIMLIB_ERR_READ) return failedWith(ErrorKind::WimCorrupt, code);
      if (code == WIMLIB_ERR_INVALID_IMAGE) return failedWith(ErrorKind::IndexOutOfRange, code);
      break;
    case Step::WriteTarget:
      if (code == WIMLIB_ERR_READ) return failedWith(ErrorKind::WimCorrupt, code);
      return failedWith(missing ? ErrorKind::TargetMissing : ErrorKind::TargetNotWritable, code);
    case Step::ReadSource:
      if (code == WIMLIB_ERR_STAT || code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_OPENDIR ||
          code == WIMLIB_ERR_READ || code == WIMLIB_ERR_READLINK || missing)
        return failedWith(missing ? ErrorKind::SourceMissing : ErrorKind::SourceUnreadable, code);
      break;
    case Step::WriteWim:
      if (code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_WRITE || code == WIMLIB_ERR_RENAME)
        return failedWith(ErrorKind::DestinationNotWritable, code);
      // Reading the source again while writing: a file changed or vanished meanwhile.
      if (code == WIMLIB_ERR_READ || code == WIMLIB_ERR_CONCURRENT_MODIFICATION_DETECTED)
        return failedWith(ErrorKind::SourceUnreadable, code);
      break;
  }
  return failedWith(ErrorKind::Other, code);
}

struct ProgressContext {
  toolio::Progress* progress;
  wimlibhost::Text excludedPath;  // the temporary folder when it lies inside the source
};

enum wimlib_progress_status onProgress(enum wimlib_progress_msg message, union wimlib_progress_info* info,
                                       void* context) {
  auto* ctx = static_cast<ProgressContext*>(context);
  switch (message) {
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
      if (info->extract.total_bytes > 0)
        ctx->progress->report(info->extract.completed_bytes, info->extract.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
      if (info->write_streams.total_bytes > 0)
        ctx->progress->report(info->write_streams.completed_bytes, info->write_streams.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION:
      if (wimlibhost::isExcludedPath(info->test_file_exclusion.path, ctx->excludedPath))
        info->test_file_exclusion.will_exclude = true;
      break;
    default:
      break;
  }
  return WIMLIB_PROGRESS_STATUS_CONTINUE;
}

Failure openWim(const std::string& path, bool verify, WimHandle& wim, ProgressContext* context) {
  WIMStruct* raw = nullptr;
  errno = 0;
  int flags = verify ? WIMLIB_OPEN_FLAG_CHECK_INTEGRITY : 0;
  const wimlibhost::Text file = wimlibhost::libraryText(path);
  int code = context ? wimlib_open_wim_with_progress(file.c_str(), flags, &raw, onProgress, context)
                     : wimlib_open_wim(file.c_str(), flags, &raw);
  if (code != 0) return classify(code, errno, Step::OpenWim);
  wim.reset(raw);
  return Failure{};
}

// The GUID as WIMGAPI shows it: the header's bytes read as a Windows GUID, whose
// first three fields are little-endian, so that both libraries print the same text.
std::string guidText(const uint8_t* g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

const char* compressionName(int type) {
  switch (type) {
    case WIMLIB_COMPRESSION_TYPE_NONE: return "None";
    case WIMLIB_COMPRESSION_TYPE_XPRESS: return "XPRESS";
    case WIMLIB_COMPRESSION_TYPE_LZX: return "LZX";
    case WIMLIB_COMPRESSION_TYPE_LZMS: return "LZMS";
    default: return "Unknown";
  }
}

}  // namespace

WimlibBackend::WimlibBackend() { wimlib_set_print_errors(false); }

Failure WimlibBackend::readInfo(const std::string& wimPath, WimSummary& summary) {
  WimHandle wim;
  Failure outcome = openWim(wimPath, false, wim, nullptr);
  if (outcome) return outcome;
  wimlib_wim_info info{};
  int code = wimlib_get_wim_info(wim.get(), &info);
  if (code != 0) return classify(code, errno, Step::ReadWim);
  void* xml = nullptr;
  size_t xmlSize = 0;
  code = wimlib_get_xml_data(wim.get(), &xml, &xmlSize);
  if (code != 0) return classify(code, errno, Step::ReadWim);
  summary.xmlUtf8 = toolio::utf16leBytesToUtf8(xml, xmlSize);
  std::free(xml);
  summary.imageCount = info.image_count;
  summary.compression = compressionName(info.compression_type);
  summary.partNumber = info.part_number;
  summary.totalParts = info.total_parts;
  summary.bootIndex = info.boot_index;
  summary.guid = guidText(info.guid);
  return Failure{};
}

Failure WimlibBackend::apply(const Command& command, toolio::Progress& progress) {
  ProgressContext context{&progress, {}};
  WimHandle wim;
  Failure outcome = openWim(command.wimPath, command.verify, wim, &context);
  if (outcome) return outcome;
  wimlib_wim_info info{};
  wimlib_get_wim_info(wim.get(), &info);
  // One part of a split image lacks most of the data: say so rather than "damaged".
  if (info.total_parts > 1 && command.otherParts.empty()) return failedWith(ErrorKind::WimSplit, 0);
  if (command.index > info.image_count) return indexOutOfRange(info.image_count);
  if (!command.otherParts.empty()) {
    std::vector<wimlibhost::Text> parts;
    for (const std::string& part : command.otherParts) parts.push_back(wimlibhost::libraryText(part));
    std::vector<const wimlib_tchar*> names;
    for (const wimlibhost::Text& part : parts) names.push_back(part.c_str());
    errno = 0;
    int code = wimlib_reference_resource_files(wim.get(), names.data(), unsigned(names.size()), 0, 0);
    if (code != 0) return classify(code, errno, Step::OpenWim);
  }
  errno = 0;
  int code = wimlib_extract_image(wim.get(), int(command.index), wimlibhost::libraryText(command.target).c_str(), 0);
  if (code != 0) return classify(code, errno, Step::WriteTarget, command.target);
  return Failure{};
}

Failure WimlibBackend::capture(const CaptureRequest& request, toolio::Progress& progress) {
  if (!isDirectory(request.source))
    return failedWith(fileExists(request.source) ? ErrorKind::SourceUnreadable : ErrorKind::SourceMissing);
  ProgressContext context{&progress, wimlibhost::excludedTempPath(request.source, request.tempDir)};
  enum wimlib_compression_type type = request.compression == Compression::Maximum ? WIMLIB_COMPRESSION_TYPE_LZX
                                      : request.compression == Compression::Fast  ? WIMLIB_COMPRESSION_TYPE_XPRESS
                                                                                  : WIMLIB_COMPRESSION_TYPE_NONE;
  WIMStruct* raw = nullptr;
  int code = wimlib_create_new_wim(type, &raw);
  if (code != 0) return classify(code, errno, Step::WriteWim);
  WimHandle wim(raw);
  wimlib_register_progress_function(wim.get(), onProgress, &context);

  // WINCONFIG leaves out what ImageX leaves out (the page file, System Volume
  // Information ...), so that both Windows libraries capture the same files.
  int addFlags = WIMLIB_ADD_FLAG_WINCONFIG;
  if (!context.excludedPath.empty()) addFlags |= WIMLIB_ADD_FLAG_TEST_FILE_EXCLUSION;
  errno = 0;
  code = wimlib_add_image(wim.get(), wimlibhost::libraryText(request.source).c_str(),
                          wimlibhost::libraryText(request.name).c_str(), nullptr, addFlags);
  if (code != 0) return classify(code, errno, Step::ReadSource);
  code = wimlib_set_image_property(wim.get(), 1, wimlibhost::libraryText("DESCRIPTION").c_str(),
                                   wimlibhost::libraryText(request.description).c_str());
  if (code == 0 && !isBlankFlags(request.flags))
    code = wimlib_set_image_property(wim.get(), 1, wimlibhost::libraryText("FLAGS").c_str(),
                                     wimlibhost::libraryText(request.flags).c_str());
  if (code != 0) return classify(code, errno, Step::WriteWim);
  // The destination is opened here, so that a file wimlib cannot open or read while
  // writing is known to be a source file, never the destination.
  errno = 0;
  int fd = wimlibhost::openDestination(request.wimPath);
  if (fd < 0)
    return failedWith(wimlibhost::isOutOfSpaceError(errno) ? ErrorKind::DiskFull : ErrorKind::DestinationNotWritable,
                      WIMLIB_ERR_OPEN);
  errno = 0;
  code = wimlib_write_to_fd(wim.get(), fd, WIMLIB_ALL_IMAGES, 0, 0);
  int writeErrno = errno;
  if (!wimlibhost::closeDestination(fd) && code == 0)
    return failedWith(ErrorKind::DestinationNotWritable, WIMLIB_ERR_WRITE);
  if (code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_STAT || code == WIMLIB_ERR_READLINK)
    return failedWith(ErrorKind::SourceUnreadable, code);
  if (code != 0) return classify(code, writeErrno, Step::WriteWim, request.wimPath);
  return Failure{};
}

Failure WimlibBackend::verifyImage(const std::string& wimPath) {
  WimHandle written;
  if (Failure reopened = openWim(wimPath, false, written, nullptr)) return reopened;
  errno = 0;
  int code = wimlib_verify_wim(written.get(), 0);
  if (code != 0) return classify(code, errno, Step::ReadWim, wimPath);
  return Failure{};
}

bool WimlibBackend::isDirectory(const std::string& path) { return wimlibhost::isDirectory(path); }
bool WimlibBackend::fileExists(const std::string& path) { return wimlibhost::fileExists(path); }
bool WimlibBackend::isSpecialFile(const std::string& path) { return wimlibhost::isSpecialFile(path); }
bool WimlibBackend::removeFile(const std::string& path) { return wimlibhost::removeFile(path); }
bool WimlibBackend::replaceFile(const std::string& from, const std::string& to) {
  return wimlibhost::replaceFile(from, to);
}
std::int64_t WimlibBackend::nowMs() { return wimlibhost::nowMs(); }
std::string WimlibBackend::readFileStart(const std::string& path, std::size_t size) {
  return wimlibhost::readFileStart(path, size);
}
std::vector<std::string> WimlibBackend::matchingFiles(const std::string& pattern) {
  return wimlibhost::matchingFiles(pattern);
}

}  // namespace wimengine
