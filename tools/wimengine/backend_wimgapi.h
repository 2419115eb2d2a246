// The engine over WIMGAPI (wimgapi.dll), loaded at run time: where the DLL is missing
// the engine says so instead of failing to start.
#pragma once

#include <cstdint>
#include <memory>

#include "tools/wimengine/engine.h"

namespace wimengine {

// How wimgapi.dll and its entry points are found: the system's loader, or a test's.
struct WimgapiLoader {
  void* (*load)(std::uint32_t& error);  // the module, or null with the loader's error code
  void* (*entry)(void* module, const char* name);
  void (*release)(void* module);
};
WimgapiLoader systemWimgapiLoader();

class WimgapiBackend : public Backend {
 public:
  explicit WimgapiBackend(const WimgapiLoader& loader = systemWimgapiLoader());
  ~WimgapiBackend() override;
  Failure readInfo(const std::string& wimPath, WimSummary& summary) override;
  Failure apply(const Command& command, toolio::Progress& progress) override;
  Failure capture(const CaptureRequest& request, toolio::Progress& progress) override;
  // WIMGAPI cannot read an image back without applying it: the engine verifies with
  // wimlib (FallbackBackend), and this one says it cannot.
  Failure verifyImage(const std::string& wimPath) override;
  bool isDirectory(const std::string& path) override;
  bool fileExists(const std::string& path) override;
  bool isSpecialFile(const std::string& path) override;
  bool removeFile(const std::string& path) override;
  bool replaceFile(const std::string& from, const std::string& to) override;
  std::int64_t nowMs() override;
  std::string toConsoleText(const std::string& argument) override;
  std::string readFileStart(const std::string& path, std::size_t size) override;
  std::vector<std::string> matchingFiles(const std::string& pattern) override;

  struct Api;

 private:
  std::unique_ptr<Api> api_;
};

}  // namespace wimengine
