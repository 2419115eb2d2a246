// What the engine does with WIMGAPI's progress messages. The Win32 callback only
// unpacks its arguments and calls in here, so this logic is tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/wimengine/errors.h"
#include "tools/wimengine/progress.h"

namespace wimengine {

namespace wimmsg {
constexpr std::uint32_t kBase = 0x8000 + 0x1476;  // WM_APP + 0x1476
constexpr std::uint32_t kText = kBase + 1;
constexpr std::uint32_t kProgress = kBase + 2;  // wParam percent, lParam ms remaining
constexpr std::uint32_t kProcess = kBase + 3;   // wParam path, lParam BOOL*: clear to skip
constexpr std::uint32_t kScanning = kBase + 4;
constexpr std::uint32_t kSetRange = kBase + 5;
constexpr std::uint32_t kSetPos = kBase + 6;
constexpr std::uint32_t kStepIt = kBase + 7;
constexpr std::uint32_t kCompress = kBase + 8;
constexpr std::uint32_t kError = kBase + 9;  // wParam path, lParam Win32 error
constexpr std::uint32_t kAlignment = kBase + 10;
constexpr std::uint32_t kRetry = kBase + 11;
constexpr std::uint32_t kSplit = kBase + 12;
constexpr std::uint32_t kFileInfo = kBase + 13;
constexpr std::uint32_t kInfo = kBase + 14;
constexpr std::uint32_t kWarning = kBase + 15;

constexpr std::uint32_t kSuccess = 0;
constexpr std::uint32_t kDone = 0xFFFFFFF0;
constexpr std::uint32_t kSkipError = 0xFFFFFFFE;
constexpr std::uint32_t kAbortImage = 0xFFFFFFFF;

// Messages whose wParam is a path (PWSTR).
bool carriesPath(std::uint32_t message);
}  // namespace wimmsg

struct MessageReply {
  std::uint32_t status = wimmsg::kSuccess;
  bool skipFile = false;  // kProcess: the callback clears the caller's BOOL
};

class WimgapiMessageHandler {
 public:
  // errorStep says how a file error reads (apply: the target, capture: the source).
  // excluded: full paths left out of a capture (the image being written, the
  // temporary folder); files below an excluded folder are left out too.
  WimgapiMessageHandler(toolio::Progress& progress, Step errorStep, std::u16string sourceRoot = {},
                        std::vector<std::u16string> excluded = {});

  MessageReply handle(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                      std::u16string_view path);

  // The first file error reported while working, if any: it names the cause better
  // than the error code of the call that failed afterwards.
  const std::optional<Failure>& firstError() const { return firstError_; }
  bool isExcluded(std::u16string_view path) const;

 private:
  toolio::Progress& progress_;
  Step errorStep_;
  std::vector<std::u16string> excluded_;
  std::optional<Failure> firstError_;
};

// "C:" means the root of drive C, not its current directory.
std::string driveToRoot(const std::string& path);

}  // namespace wimengine
