#include "tests/tools/common/disk_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

namespace testdisk {

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return output;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  EXPECT_EQ(status, 0) << command << "\n" << output;
  return output;
}

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/vrel-disk-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made ? made : "/tmp";
}

ScratchFolder::~ScratchFolder() {
  if (path_ != "/tmp") std::system(("rm -rf '" + path_ + "'").c_str());
}

std::string makeImage(const ScratchFolder& folder, const std::string& name, int megabytes, const std::string& script) {
  std::string path = folder.file(name);
  run("truncate -s " + std::to_string(megabytes) + "M '" + path + "'");
  run("printf '" + script + "' | sfdisk --no-reread --no-tell-kernel -q '" + path + "'");
  return path;
}

void putVolume(const std::string& diskImage, std::uint64_t startSector, std::uint64_t sectors, const std::string& make) {
  std::string volume = diskImage + ".volume";
  run("rm -f '" + volume + "' && truncate -s " + std::to_string(sectors * 512) + " '" + volume + "'");
  run(std::regex_replace(make, std::regex("%s"), "'" + volume + "'"));
  run("dd if='" + volume + "' of='" + diskImage + "' bs=1M oflag=seek_bytes seek=" + std::to_string(startSector * 512) +
      " conv=notrunc,sparse status=none && rm -f '" + volume + "'");
}

std::uint64_t partitionStart(const std::string& diskImage, int number) {
  std::string json = run("sfdisk -J '" + diskImage + "'");
  std::smatch m;
  std::regex entry("\"node\":\\s*\"[^\"]*?" + std::to_string(number) + "\",\\s*\"start\":\\s*(\\d+)");
  if (!std::regex_search(json, m, entry)) {
    ADD_FAILURE() << "no partition " << number << " in\n" << json;
    return 0;
  }
  return std::stoull(m[1]);
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace testdisk
