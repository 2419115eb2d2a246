// Writing under a scratch name: what is left under which name after each way a run ends.
#include <gtest/gtest.h>

#include <map>
#include <vector>
#include <string>

#include "tools/common/scratch_file.h"

namespace {

struct MemoryFiles : toolio::FileMoves {
  std::map<std::string, std::string> files;
  bool refuseRename = false;
  bool removeFile(const std::string& path) override { return files.erase(path) > 0; }
  bool replaceFile(const std::string& from, const std::string& to) override {
    if (refuseRename || !files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
};

TEST(ScratchFile, OnlyACommittedFileEverCarriesTheFinalName) {
  MemoryFiles disk;
  disk.files["D:\\a.wim"] = "older image";
  disk.files["D:\\a.wim.vrelpart"] = "left by a killed run";
  {
    toolio::ScratchFile scratch(disk, "D:\\a.wim");
    EXPECT_EQ(scratch.path(), "D:\\a.wim.vrelpart");
    EXPECT_FALSE(disk.files.count("D:\\a.wim.vrelpart"));  // the stale one is gone before writing
    disk.files[scratch.path()] = "new image";
    EXPECT_TRUE(scratch.commit());
  }
  EXPECT_EQ(disk.files, (std::map<std::string, std::string>{{"D:\\a.wim", "new image"}}));

  {
    toolio::ScratchFile abandoned(disk, "D:\\b.gho");
    disk.files[abandoned.path()] = "half";
  }
  EXPECT_FALSE(disk.files.count("D:\\b.gho.vrelpart"));
  EXPECT_FALSE(disk.files.count("D:\\b.gho"));

  disk.refuseRename = true;
  {
    toolio::ScratchFile refused(disk, "D:\\a.wim");
    disk.files[refused.path()] = "newer image";
    EXPECT_FALSE(refused.commit());
  }
  EXPECT_EQ(disk.files, (std::map<std::string, std::string>{{"D:\\a.wim", "new image"}}));
}

TEST(ScratchFile, AMovedScratchFileIsRemovedOnceByItsNewOwner) {
  MemoryFiles disk;
  std::vector<toolio::ScratchFile> spans;
  spans.emplace_back(disk, "x.gho");
  disk.files[spans.back().path()] = "span 1";
  spans.emplace_back(disk, "x.gho.002");  // the vector moves the first one
  disk.files[spans.back().path()] = "span 2";
  EXPECT_TRUE(spans.front().commit());
  spans.clear();
  EXPECT_EQ(disk.files, (std::map<std::string, std::string>{{"x.gho", "span 1"}}));
}

}  // namespace
