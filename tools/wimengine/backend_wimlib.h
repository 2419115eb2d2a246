// The engine over wimlib: the Linux build's only library, the Windows build's second
// one (the carried third_party build). Targets and sources are directories.
#pragma once

#include "tools/wimengine/engine.h"

namespace wimengine {

class WimlibBackend : public Backend {
 public:
  WimlibBackend();
  Failure readInfo(const std::string& wimPath, WimSummary& summary) override;
  Failure apply(const Command& command, toolio::Progress& progress) override;
  Failure capture(const CaptureRequest& request, toolio::Progress& progress) override;
  Failure verifyImage(const std::string& wimPath) override;
  bool isDirectory(const std::string& path) override;
  bool fileExists(const std::string& path) override;
  bool isSpecialFile(const std::string& path) override;
  bool removeFile(const std::string& path) override;
  bool replaceFile(const std::string& from, const std::string& to) override;
  std::int64_t nowMs() override;
  std::string readFileStart(const std::string& path, std::size_t size) override;
  std::vector<std::string> matchingFiles(const std::string& pattern) override;
};

}  // namespace wimengine
