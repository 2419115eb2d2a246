// The engine's read-back check against real files: wimlib writes the image, a few of
// its bytes are flipped before the check reads it, as a failing disk or cable would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"
#include "tools/wimengine/backend_wimlib.h"

namespace wimengine {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// The real library, but the written image is damaged where it holds `marker` before
// the engine reads it back.
struct DamagingBackend : WimlibBackend {
  std::string marker;
  bool damaged = false;
  Failure capture(const CaptureRequest& request, toolio::Progress& progress) override {
    Failure outcome = WimlibBackend::capture(request, progress);
    if (outcome || marker.empty()) return outcome;
    std::string bytes = readAll(request.wimPath);
    const std::size_t at = bytes.find(marker);
    if (at == std::string::npos) return outcome;
    bytes[at + marker.size() / 2] ^= 0x5A;
    writeAll(request.wimPath, bytes);
    damaged = true;
    return outcome;
  }
};

struct DamagedImage : ::testing::Test {
  fs::path work;
  void SetUp() override {
    work = fs::temp_directory_path() / ("wimengine-damaged-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work);
    fs::create_directories(work / "src" / "folder");
    std::string content;
    for (int i = 0; i < 2000; ++i) content += "line " + std::to_string(i) + " of a file the customer needs\n";
    writeAll(work / "src" / "folder" / "data.txt", content);
    writeAll(work / "src" / "small.txt", "a small file\n");
  }
  void TearDown() override { fs::remove_all(work); }
  int capture(DamagingBackend& backend, toolio::CapturedOut& out) {
    const std::vector<std::string> args = {"/capture", (work / "src").string(), (work / "bak.wim").string(), "name",
                                           "desc", "/compress", "none"};
    return runEngine(args, backend, out);
  }
};

TEST_F(DamagedImage, AFlippedByteInAResourceFailsTheCheckAndTheImageIsKept) {
  DamagingBackend backend;
  backend.marker = "line 1000 of a file the customer needs";
  toolio::CapturedOut out;
  EXPECT_EQ(capture(backend, out), 3);
  ASSERT_TRUE(backend.damaged) << "the resource was not found in the image";
  EXPECT_TRUE(gbk::endsWith(out.text(), "\r\n错误: 映像文件已写完,但读回检查没有通过,映像已损坏,不能用来还原！"
                                        "损坏的映像文件已保留,请重新备份。(代码 28)\r\n"))
      << gbktest::toUtf8(out.text());
  EXPECT_FALSE(gbk::contains(out.text(), "successfully", true));
  EXPECT_TRUE(fs::is_regular_file(work / "bak.wim"));
  EXPECT_GT(fs::file_size(work / "bak.wim"), fs::file_size(work / "src" / "folder" / "data.txt")) << "the whole image";
  EXPECT_FALSE(fs::exists(work / "bak.wim.vrelpart"));
}

TEST_F(DamagedImage, AnUndamagedImagePassesTheSameCheck) {
  DamagingBackend backend;
  toolio::CapturedOut out;
  EXPECT_EQ(capture(backend, out), 0) << gbktest::toUtf8(out.text());
  EXPECT_TRUE(gbk::contains(out.text(), "\r\nSuccessfully imaged " + (work / "src").string() + "\r\n"));
  EXPECT_TRUE(fs::is_regular_file(work / "bak.wim"));
}

}  // namespace
}  // namespace wimengine
