// The Windows engine's two WIM libraries: the system's own wimgapi.dll first, the
// carried wimlib where the DLL cannot be loaded, lacks a call, or refuses the image
// (an ESD on an older WinPE). Output does not say which library ran, except in an
// error line, which names the libraries that failed.
#pragma once

#include <optional>

#include "tools/wimengine/engine.h"

namespace wimengine {

enum class LibraryChoice { SystemFirst, SystemOnly, WimlibOnly };

// The variable that forces one library, for tests: "wimgapi" or "wimlib" (any letter
// case); unset, empty or "auto" keeps the system's first. Anything else is refused.
constexpr const char* kLibraryVariable = "VREL_WIM_LIBRARY";
std::optional<LibraryChoice> parseLibraryChoice(const char* value);
// The line printed when the variable holds something else (GBK).
std::string libraryChoiceError();

class FallbackBackend : public Backend {
 public:
  // File operations and console text always come from system: they need no DLL.
  FallbackBackend(Backend& system, Backend& wimlib, LibraryChoice choice);

  Failure readInfo(const std::string& wimPath, WimSummary& summary) override;
  Failure apply(const Command& command, toolio::Progress& progress) override;
  Failure capture(const CaptureRequest& request, toolio::Progress& progress) override;
  // Always wimlib's: WIMGAPI has no call that reads an image's resources back without
  // applying it, and wimlib reads what either library wrote.
  Failure verifyImage(const std::string& wimPath) override;

  bool isDirectory(const std::string& path) override { return system_.isDirectory(path); }
  bool fileExists(const std::string& path) override { return system_.fileExists(path); }
  bool isSpecialFile(const std::string& path) override { return system_.isSpecialFile(path); }
  bool removeFile(const std::string& path) override { return system_.removeFile(path); }
  bool replaceFile(const std::string& from, const std::string& to) override { return system_.replaceFile(from, to); }
  std::int64_t nowMs() override { return system_.nowMs(); }
  std::string readFileStart(const std::string& path, std::size_t size) override {
    return system_.readFileStart(path, size);
  }
  std::vector<std::string> matchingFiles(const std::string& pattern) override {
    return system_.matchingFiles(pattern);
  }
  std::string toConsoleText(const std::string& argument) override { return system_.toConsoleText(argument); }
  std::string toUtf8(const std::string& argument) override { return system_.toUtf8(argument); }

 private:
  template <typename Run>
  Failure run(Run&& attempt, bool imageMayBeRefused);

  Backend& system_;
  Backend& wimlib_;
  LibraryChoice choice_;
};

}  // namespace wimengine
